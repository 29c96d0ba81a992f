#include "engine/assembly/existing_target.h"

#include <QFileInfo>

#include "core/download_list/records.h"
#include "engine/assembly/target_path.h"

bool AdoptExistingTarget(DownloadRecord& record, const QString& downloadFolder,
                         const QDateTime& olderThan) {
    const QString target = TargetPath(record, downloadFolder);
    if (target.isEmpty() || !olderThan.isValid()) {
        return false;
    }
    const QFileInfo existing(target);
    if (!existing.isFile() || existing.size() != record.FileSize.bytes() ||
        existing.lastModified() >= olderThan) {
        return false;
    }
    record.SavePath = target;
    record.FileName = FileNamePart(target);
    record.BytesDone = record.FileSize;
    record.Percent = 100;
    record.Completed = FlagTrue;
    record.Running = FlagFalse;
    record.Transferring = FlagFalse;
    return true;
}
