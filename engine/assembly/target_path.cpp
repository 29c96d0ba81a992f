#include "engine/assembly/target_path.h"

#include "core/download_list/records.h"
#include "core/text/url_codec.h"
#include "engine/assembly/plain_file_name.h"
#include "engine/assembly/sorted_target.h"

QString TargetPath(const DownloadRecord& record, const QString& downloadFolder) {
    if (record.HasSavePath == FlagTrue) {
        return record.SavePath;
    }
    QString folder = SortedFolder(record);
    if (folder.isEmpty()) {
        folder = downloadFolder;
    }
    if (folder.isEmpty()) {
        // A bare "/" in front of the name would put the file at the root of the file system.
        return {};
    }
    if (!folder.endsWith(u'/')) {
        folder += u'/';
    }
    return folder + PlainFileName(DecodeUrl(record.FileName));
}

QString NumberedName(const QString& path, int n) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot < 0 ? name : name.left(dot);
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    QString numbers;
    for (int k = 1; k <= n; ++k) {
        numbers += u'[' + QString::number(k) + u']';
    }
    return folder + FitFileName(stem, numbers + extension);
}

QString FileNamePart(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}
