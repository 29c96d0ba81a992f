#include "engine/session/segment_plan.h"

#include <fcntl.h>

#include <QFile>
#include <algorithm>
#include <cerrno>

#include "core/download_list/records.h"
#include "core/paths/no_follow_open.h"
#include "engine/assembly/plain_file_name.h"

int PlannedSegmentCount(std::int64_t fileSize, int maxSegments, bool rangesSupported,
                        bool limiterOn) {
    int count = fileSize < 50000 ? 1 : fileSize < 300000 ? 2 : 8;
    // A stored maximum of 0 or less would divide by zero; more than eight has no slot.
    count = std::min(count, std::clamp(maxSegments, 1, 8));
    if (!rangesSupported || limiterOn) {
        count = 1;
    }
    return count;
}

QString PartFileStem(const QString& fileName) {
    QString stem = PlainFileName(fileName);
    // Room for up to six digits of the counter and ".tmp" within 255 bytes.
    while (stem.toUtf8().size() > 240) {
        stem.chop(1);
    }
    return stem;
}

namespace {

// A part file is created, empty, when it is planned: a download planned at the same time for
// the same name then takes other numbers, where a name only found free would be shared and
// the two downloads would write into each other's parts. When the file cannot be created at
// all, the name is kept and the first write reports why.
QString NumberedPartName(const QString& stem, int& counter) {
    return stem + QString::number(counter++).rightJustified(3, u'0') + QStringLiteral(".tmp");
}

}  // namespace

bool CreatePartFile(const QString& path) {
    int error = 0;
    // O_EXCL takes the name only when nothing is there, a symbolic link (even one pointing
    // nowhere) included: a planted link is another's name, never a part file of ours.
    const UniqueFd fd = OpenNoFollow(path, O_WRONLY | O_CREAT | O_EXCL, 0600, error);
    return fd.valid() || error != EEXIST;
}

QString ClaimPartFile(const QString& stem, int& counter, const QStringList& inUse) {
    QString path;
    do {
        path = NumberedPartName(stem, counter);
    } while (inUse.contains(path) || !CreatePartFile(path));
    return path;
}

QString FreePartFileName(const QString& stem, int& counter, const QStringList& inUse) {
    QString path;
    do {
        path = NumberedPartName(stem, counter);
    } while (inUse.contains(path) || QFile::exists(path));
    return path;
}

void PlanSegments(DownloadRecord& record, int count, std::int32_t tick, const QString& tempFolder) {
    record.Segments.redim(count);
    record.SegmentCount = static_cast<std::int16_t>(count);
    const std::int64_t size = record.FileSize.bytes();
    const std::int64_t per = size / count;
    const std::int64_t first = size - (count - 1) * per;
    int counter = 1;
    // Every segment writes at its own offset into this one file.
    const QString file = ClaimPartFile(tempFolder + PartFileStem(record.FileName), counter);
    for (int j = 1; j <= count; ++j) {
        SegmentRecord& s = *record.Segments.at(j);
        s = SegmentRecord{};
        const std::int64_t start = j == 1 ? 0 : first + (j - 2) * per;
        const std::int64_t end = j == 1 ? first - 1 : first + (j - 1) * per - 1;
        s.StartPos = Currency::fromBytes(start);
        s.EndPos = Currency::fromBytes(end);
        s.Length = Currency::fromBytes(end - start + 1);
        s.InPlan = FlagTrue;
        s.Watched = FlagTrue;
        s.State = SegmentState::Idle;
        s.SegTick = tick;
        s.PartFile = file;
    }
}

void CheckSegmentRange(const SegmentRecord& s) {
    // A segment of a file whose size is still unknown has no range yet (its length is 0).
    if (s.Length.bytes() > 0) {
        Q_ASSERT(s.StartPos.bytes() <= s.EndPos.bytes() + 1);
        Q_ASSERT(s.Received.bytes() >= 0 &&
                 s.StartPos.bytes() + s.Received.bytes() <= s.EndPos.bytes() + 1);
    }
    Q_UNUSED(s);
}

void CheckSegmentRanges(const DownloadRecord& record) {
#ifndef QT_NO_DEBUG
    std::int64_t next = 0;  // where the next segment's range must begin
    for (int j = 1; j <= record.SegmentCount; ++j) {
        const SegmentRecord& s = *record.Segments.at(j);
        Q_ASSERT(s.EndPos.bytes() - s.Length.bytes() + 1 == next);
        CheckSegmentRange(s);
        next = s.EndPos.bytes() + 1;
    }
#else
    Q_UNUSED(record);
#endif
}
