#include "core/download_list/plan_damage.h"

#include "core/download_list/records.h"

namespace {

// Larger than any file this program fetches (256 TiB), small enough that sums of a few
// positions in the list's fixed-point form (bytes times 10000) never overflow.
constexpr std::int64_t kMostBytes = std::int64_t(1) << 48;

bool InRange(Currency value, std::int64_t least) {
    return value.bytes() >= least && value.bytes() <= kMostBytes;
}

// The first fault of segment j, whose range must begin at byte `next`.
QString SegmentDamage(const SegmentRecord& s, int j, std::int64_t next) {
    // A segment of a file whose size is unknown has no range: it ends at -1, length 0.
    if (!InRange(s.StartPos, 0) || !InRange(s.EndPos, -1) || !InRange(s.Length, 0) ||
        !InRange(s.Received, 0) || !InRange(s.Done, 0)) {
        return QStringLiteral("segment %1 has a position out of range").arg(j);
    }
    if (s.EndPos.bytes() - s.Length.bytes() + 1 != next) {
        return QStringLiteral("segment %1 does not begin where segment %2 ends").arg(j).arg(j - 1);
    }
    if (s.Length.bytes() > 0 && (s.StartPos.bytes() < next ||
                                 s.StartPos.bytes() + s.Received.bytes() > s.EndPos.bytes() + 1 ||
                                 s.Done.bytes() > s.Length.bytes())) {
        return QStringLiteral("segment %1 has a position outside its range").arg(j);
    }
    return {};
}

}  // namespace

QString PlanDamage(const DownloadRecord& record) {
    const int count = record.SegmentCount;
    if (count < 0) {
        return QStringLiteral("negative segment count %1").arg(count);
    }
    if (count == 0) {
        return {};
    }
    if (record.Segments.at(1) == nullptr || record.Segments.at(count) == nullptr) {
        return QStringLiteral("%1 segments announced, %2 in its table")
            .arg(count)
            .arg(record.Segments.items.size());
    }
    std::int64_t next = 0;
    for (int j = 1; j <= count; ++j) {
        const SegmentRecord& s = *record.Segments.at(j);
        if (QString why = SegmentDamage(s, j, next); !why.isEmpty()) {
            return why;
        }
        next = s.EndPos.bytes() + 1;
    }
    return {};
}
