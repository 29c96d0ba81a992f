#include "engine/assembly/existing_target.h"

#include <QFileInfo>
#include <algorithm>

#include "core/download_list/entry_state.h"
#include "core/download_list/part_layout.h"
#include "core/download_list/records.h"
#include "engine/assembly/file_origin.h"
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
    bool allComplete = true;
    bool partsGone = true;
    for (int j = 1; j <= record.SegmentCount; ++j) {
        const SegmentRecord* s = record.Segments.at(j);
        if (s == nullptr) {
            return false;
        }
        allComplete = allComplete && s->State == SegmentState::Complete;
        partsGone = partsGone && !(s->Length.bytes() > 0 && QFileInfo::exists(s->PartFile));
    }
    const QString target = TargetPath(record, downloadFolder);
    const QFileInfo built(target);
    if (!partsGone || target.isEmpty() || !built.isFile() ||
        built.size() != record.FileSize.bytes()) {
        return false;
    }
    // A file moved into place from the one file its segments shared, whose list said so only
    // after the kill, is known by the origin it was marked with just before.
    if (!allComplete && !(InOneFile(record) && HasOrigin(target, record.Url))) {
        return false;
    }
    BecomeFinished(record, target);
    return true;
}
