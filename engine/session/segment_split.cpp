#include "engine/session/segment_split.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

#include "core/download_list/part_layout.h"
#include "core/download_list/records.h"
#include "engine/session/segment_plan.h"

namespace {

constexpr std::int64_t kMiB = 1048576;

std::int64_t NextUnfetched(const SegmentRecord& s) {
    return s.StartPos.bytes() + s.Received.bytes();
}

}  // namespace

std::int64_t MinimumSplitSize(double bytesPerSecondPerConnection) {
    const double half = bytesPerSecondPerConnection / 2;
    if (!std::isfinite(half) || half < kMiB) {
        return kMiB;
    }
    // Capped so that doubling it later cannot overflow.
    return std::int64_t(std::min(half, 1e15));
}

std::int64_t RemainingBytes(const SegmentRecord& s) {
    if (s.State == SegmentState::Complete || s.InPlan == FlagFalse || s.Length.bytes() <= 0) {
        return 0;
    }
    return std::max<std::int64_t>(0, s.EndPos.bytes() - NextUnfetched(s) + 1);
}

int SegmentToSplit(const DownloadRecord& r, std::int64_t minimum,
                   const std::vector<bool>& running) {
    if (r.SegmentCount >= kMaxSegmentRecords) {
        return 0;
    }
    minimum = std::max<std::int64_t>(minimum, 0);
    int best = 0;
    std::int64_t bestRemaining = 0;
    const int last = std::min<int>(r.SegmentCount, int(running.size()) - 1);
    for (int j = 1; j <= last; ++j) {
        const SegmentRecord* s = r.Segments.at(j);
        if (!running[j] || s == nullptr) {
            continue;
        }
        const std::int64_t remaining = RemainingBytes(*s);
        // Written as a difference so that a large minimum cannot overflow.
        if (remaining >= 2 && remaining - minimum > minimum && remaining > bestRemaining) {
            best = j;
            bestRemaining = remaining;
        }
    }
    return best;
}

std::int64_t SplitPoint(const SegmentRecord& s, double keepShare) {
    const std::int64_t remaining = RemainingBytes(s);
    if (remaining < 2) {
        return -1;
    }
    const double share = std::isnan(keepShare) ? 0.5 : std::clamp(keepShare, 0.0, 1.0);
    const auto keep = std::int64_t(std::floor(static_cast<long double>(remaining) * share));
    return NextUnfetched(s) + std::clamp<std::int64_t>(keep, 1, remaining - 1);
}

QStringList PartFilesOf(const DownloadRecord& r) {
    QStringList names;
    for (const SegmentRecord& s : r.Segments.items) {
        names.append(s.PartFile);
    }
    return names;
}

int SplitSegment(DownloadRecord& r, int j, std::int64_t cut, std::int32_t tick,
                 const QString& tempFolder) {
    SegmentRecord* s = j >= 1 && j <= r.SegmentCount ? r.Segments.at(j) : nullptr;
    if (s == nullptr || r.SegmentCount >= kMaxSegmentRecords || RemainingBytes(*s) < 2 ||
        cut <= NextUnfetched(*s) || cut > s->EndPos.bytes()) {
        return 0;
    }
    const std::int64_t end = s->EndPos.bytes();
    const Currency taken = Currency::fromBytes(end - cut + 1);
    s->EndPos = Currency::fromBytes(cut - 1);
    s->Length -= taken;

    SegmentRecord added;
    added.StartPos = Currency::fromBytes(cut);
    added.EndPos = Currency::fromBytes(end);
    added.Length = taken;
    added.InPlan = FlagTrue;
    added.Watched = FlagTrue;
    added.State = SegmentState::Idle;
    added.SegTick = tick;
    // A lone segment's file holds its range from byte 0, so the new one can write into it at
    // its own offset too; only parts of a list from before each keep a file of their own.
    int counter = 1;
    added.PartFile = InOneFile(r) ? s->PartFile
                                  : FreePartFileName(tempFolder + PartFileStem(r.FileName), counter,
                                                     PartFilesOf(r));

    // Inserted right after j: the file is joined in record order.
    r.Segments.items.insert(j + 1 - r.Segments.lowerBound, added);
    ++r.SegmentCount;
    return j + 1;
}
