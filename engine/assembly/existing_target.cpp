#include "engine/assembly/existing_target.h"

#include <QFileInfo>
#include <algorithm>

#include "core/download_list/entry_state.h"
#include "core/download_list/records.h"
#include "engine/assembly/target_path.h"

namespace {

void BecomeFinished(DownloadRecord& record, const QString& target) {
    record.SavePath = target;
    record.FileName = FileNamePart(target);
    record.BytesDone = record.FileSize;
    record.Percent = 100;
    MarkFinished(record);
}

}  // namespace

bool AdoptExistingTarget(DownloadRecord& record, const QString& downloadFolder,
                         const std::vector<FinishedFile>& finished,
                         const QDateTime& serverModified) {
    const QString target = TargetPath(record, downloadFolder);
    const std::int64_t size = record.FileSize.bytes();
    const QFileInfo existing(target);
    if (target.isEmpty() || !existing.isFile() || existing.size() != size) {
        return false;
    }
    const bool ours = std::any_of(finished.begin(), finished.end(), [&](const FinishedFile& f) {
        return f.path == target && f.size == size && f.url == record.Url;
    });
    const bool serversTime =
        serverModified.isValid() &&
        existing.lastModified().toSecsSinceEpoch() == serverModified.toSecsSinceEpoch();
    if (!ours && !serversTime) {
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
