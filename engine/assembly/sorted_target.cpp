#include "engine/assembly/sorted_target.h"

#include <QDir>

#include "core/download_list/record_notes.h"
#include "core/download_list/records.h"
#include "core/file_kinds/file_kinds.h"
#include "core/settings/options_form.h"
#include "core/settings/settings.h"
#include "core/text/url_codec.h"
#include "engine/assembly/plain_file_name.h"

QString SortedFolder(const DownloadRecord& record) {
    return NoteDecoded(ReadRecordNote(record, RecordNoteMark::KindFolder));
}

QString SortByKind(DownloadRecord& record, const Settings& settings) {
    if (record.HasSavePath == FlagTrue || settings.SortByKind != FlagTrue ||
        !SortedFolder(record).isEmpty()) {
        return {};
    }
    const FileKind kind = KindOfFile(PlainFileName(DecodeUrl(record.FileName)), settings);
    const QString folder =
        KindFolder(kind, ReadUserDirs(UserDirsFile(), QDir::homePath()), settings.DownloadFolder);
    if (folder.isEmpty()) {
        return {};
    }
    if (!QDir().mkpath(folder) || !FolderTakesFiles(folder)) {
        return folder;
    }
    KeepRecordNote(record, RecordNoteMark::KindFolder, NoteEncoded(folder));
    return {};
}
