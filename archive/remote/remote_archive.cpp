#include "archive/remote/remote_archive.h"

#include "core/download_list/records.h"

RemoteArchive RemoteArchive::fromRecord(const DownloadRecord& record) {
    RemoteArchive archive;
    archive.protocol = record.Protocol;
    archive.host = record.HostName;
    archive.port = record.Port;
    archive.urlPath = record.UrlPath;
    archive.url = record.Url;
    archive.fileSize = record.FileSize.bytes();
    return archive;
}
