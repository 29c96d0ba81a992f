#include "engine/assembly/existing_target.h"

#include <QFileInfo>

#include "core/download_list/records.h"
#include "engine/assembly/target_path.h"

namespace {

void BecomeFinished(DownloadRecord& record, const QString& target) {
    record.SavePath = target;
    record.FileName = FileNamePart(target);
    record.BytesDone = record.FileSize;
    record.Percent = 100;
    record.Completed = FlagTrue;
    record.Running = FlagFalse;
    record.Transferring = FlagFalse;
}

}  // namespace

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
    BecomeFinished(record, target);
    return true;
}

bool AdoptJoinedTarget(DownloadRecord& record, const QString& downloadFolder) {
    if (record.SegmentCount < 1 || record.FileSize.bytes() <= 0) {
        return false;
    }
    for (int j = 1; j <= record.SegmentCount; ++j) {
        const SegmentRecord* s = record.Segments.at(j);
        if (s == nullptr || s->State != SegmentState::Complete ||
            (s->Length.bytes() > 0 && QFileInfo::exists(s->PartFile))) {
            return false;
        }
    }
    const QString target = TargetPath(record, downloadFolder);
    const QFileInfo built(target);
    if (target.isEmpty() || !built.isFile() || built.size() != record.FileSize.bytes()) {
        return false;
    }
    BecomeFinished(record, target);
    return true;
}
