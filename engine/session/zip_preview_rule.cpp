#include "engine/session/zip_preview_rule.h"

#include "core/download_list/download_list.h"
#include "core/settings/settings.h"

bool CanPreviewZip(const DownloadRecord& record) {
    return (record.Protocol == Protocol::Http || record.Protocol == Protocol::Https) &&
           record.FileName.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive) &&
           record.RangesSupported == FlagTrue && record.FileSize.bytes() > 0;
}

bool OffersZipPreview(const DownloadRecord& record, const Settings& settings, bool sizeKnown) {
    return sizeKnown && settings.AutoPreviewZIP == FlagTrue && record.BytesDone.bytes() == 0 &&
           CanPreviewZip(record);
}
