#include "engine/session/segment_splitter.h"

#include <algorithm>
#include <vector>

#include "core/download_list/download_list.h"
#include "core/download_list/part_layout.h"
#include "core/settings/settings.h"
#include "core/types/tick.h"
#include "engine/session/segment_plan.h"
#include "engine/session/segment_split.h"
#include "engine/session/session_core.h"
#include "engine/session/session_log.h"

namespace {

// Rates are taken over this many seconds of samples, and known once a connection has been
// watched for the shorter time.
constexpr std::size_t kRateSamples = 11;
constexpr std::int32_t kRateKnownMs = 750;
constexpr std::int32_t kEndedRateKnownMs = 200;
// The rates of this many ended connections stay in the median.
constexpr std::size_t kEndedRates = 16;
// A connection under this share of the median rate is far behind the others.
constexpr double kFarBehindShare = 0.2;
// Nor does one connection go on alone for longer than this while others stand idle.
constexpr double kHoldUpSeconds = 1.0;
// Less than this left is not worth taking over, however slow its connection.
constexpr std::int64_t kRescueBytes = 128 * 1024;
// The share of its remaining range a slow segment keeps never drops below this.
constexpr double kLeastKeepShare = 0.05;

// Milliseconds from the first sample to the last.
std::int32_t Span(const std::deque<SegmentSplitter::Sample>& samples) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(samples.back().tick) -
                                     static_cast<std::uint32_t>(samples.front().tick));
}

bool Running(const SegmentRecord& s) {
    return s.State != SegmentState::Complete && s.State != SegmentState::FtpWaiting &&
           s.State != SegmentState::Paused;
}

}  // namespace

void SegmentSplitter::forget() {
    connections_ = {};
    ended_.clear();
}

void SegmentSplitter::sample(std::int32_t now) {
    for (int k = 0; k < ConnectionSlots::Probe; ++k) {
        note(k, now);
    }
}

void SegmentSplitter::note(int k, std::int32_t now) {
    Connection& c = connections_[k];
    const ConnectionSlot& slot = core_.connections[k];
    // A new connection (a slot taking up another segment makes one) starts its rate afresh;
    // the last one's rate still tells what the server gives.
    if (slot.generation() != c.generation) {
        if (const double last = rate(k); last >= 0) {
            rememberEnded(last);
        }
        c.samples.clear();
        c.generation = slot.generation();
    }
    // A connection that brings nothing counts too: a stalled one is the slowest of all.
    const SegmentRecord* s = core_.servedSegment(k);
    if (s == nullptr || !Running(*s)) {
        return;
    }
    c.samples.push_back({now, s->Done.bytes() + s->Received.bytes()});
    if (c.samples.size() > kRateSamples) {
        c.samples.pop_front();
    }
}

void SegmentSplitter::connectionEnded(int k, std::int32_t now) {
    note(k, now);
    // A range fetched whole tells its rate even when it took less than the usual second: the
    // quick connections count, not only the slow ones that lasted.
    Connection& c = connections_[k];
    if (c.samples.size() >= 2 && rate(k) < 0 && Span(c.samples) >= kEndedRateKnownMs) {
        rememberEnded(double(c.samples.back().bytes - c.samples.front().bytes) * 1000.0 /
                      Span(c.samples));
        c.samples.clear();
    }
}

void SegmentSplitter::claimPart(int j, int connectionLimit) {
    DownloadRecord* r = core_.record();
    // The owner saves the list as it hears of the plan: the new part is named there before it
    // exists, so a kill in between leaves no file behind that no list knows.
    core_.observer.segmentsPlanned(connectionLimit);
    SegmentRecord& s = *r->Segments.at(j);
    if (!SharesOneFile(*r) && !CreatePartFile(s.PartFile)) {
        // Another download took the name meanwhile: one it cannot have, saved again.
        int counter = 1;
        s.PartFile = ClaimPartFile(core_.ctx.settings.TempFolder + PartFileStem(r->FileName),
                                   counter, PartFilesOf(*r));
        core_.observer.segmentsPlanned(connectionLimit);
    }
}

void SegmentSplitter::rememberEnded(double rate) {
    ended_.push_back(rate);
    if (ended_.size() > kEndedRates) {
        ended_.pop_front();
    }
}

double SegmentSplitter::rate(int k) const {
    const std::deque<Sample>& samples = connections_[k].samples;
    if (samples.size() < 2) {
        return -1;
    }
    const std::int32_t span = Span(samples);
    if (span < kRateKnownMs) {
        return -1;
    }
    return double(samples.back().bytes - samples.front().bytes) * 1000.0 / span;
}

double SegmentSplitter::medianRate() const {
    // Connections that have ended count too: when only slow ones are left, they are still slow
    // against what the server gave the others.
    std::vector<double> rates(ended_.begin(), ended_.end());
    for (int k = 0; k < ConnectionSlots::Probe; ++k) {
        if (const double r = rate(k); r >= 0) {
            rates.push_back(r);
        }
    }
    if (rates.empty()) {
        return -1;
    }
    std::nth_element(rates.begin(), rates.begin() + rates.size() / 2, rates.end());
    return rates[rates.size() / 2];
}

int SegmentSplitter::holdingUp(double median) const {
    const DownloadRecord* r = core_.record();
    int found = 0;
    double longest = 0;  // seconds left
    for (int k = 0; k < ConnectionSlots::Probe; ++k) {
        const int j = core_.segmentOf(k);
        const double own = rate(k);
        if (j == 0 || own < 0 || !Running(*r->Segments.at(j))) {
            continue;
        }
        const std::int64_t left = RemainingBytes(*r->Segments.at(j));
        const double seconds = own > 0 ? double(left) / own : 1e18;
        const bool farBehind = median > 0 && own < median * kFarBehindShare;
        if (left >= kRescueBytes && (farBehind || seconds > kHoldUpSeconds) && seconds > longest) {
            longest = seconds;
            found = j;
        }
    }
    return found;
}

int SegmentSplitter::splitForFreeConnection(int connectionLimit) {
    DownloadRecord* r = core_.record();
    if (r == nullptr || r->RangesSupported != FlagTrue || !core_.sizeKnown() ||
        r->FileSize.bytes() <= 0) {
        return 0;
    }
    std::vector<bool> running(r->SegmentCount + 1, false);
    for (int k = 0; k < ConnectionSlots::Probe; ++k) {
        if (const int j = core_.segmentOf(k); j != 0) {
            running[j] = Running(*r->Segments.at(j));
        }
    }
    const double median = medianRate();
    int j = SegmentToSplit(*r, MinimumSplitSize(std::max(median, 0.0)), running);
    const bool rescue = j == 0;
    if (rescue) {
        j = holdingUp(median);
        if (j == 0) {
            return 0;
        }
    }
    // The running connection keeps the share it would fetch in the time the idle ones need for
    // the rest (which they split among themselves), at most half: a slow one keeps little.
    double keep = 0.5;
    const double own = rate(core_.connections.serving(j));
    if (own >= 0 && median > 0) {
        int idle = 0;
        for (int k = 0; k < connectionLimit; ++k) {
            idle += core_.segmentOf(k) == 0 ? 1 : 0;
        }
        keep = std::clamp(own / (own + median * std::max(idle, 1)), kLeastKeepShare, 0.5);
    }
    const SegmentRecord& cut = *r->Segments.at(j);
    const std::int64_t at = SplitPoint(cut, keep);
    if (at < 0) {
        return 0;
    }
    const std::int64_t end = cut.EndPos.bytes();
    const int added = SplitSegment(*r, j, at, MillisecondTick(), core_.ctx.settings.TempFolder);
    if (added == 0) {
        return 0;
    }
    core_.connections.segmentInserted(added);
    claimPart(added, connectionLimit);
    qCInfo(lcEngine).noquote().nospace()
        << SegmentTag(core_.recordIndex, j) << (rescue ? " holds up the download" : "")
        << " split: segment " << added << " takes " << at << "-" << end;
    CheckSegmentRanges(*r);
    return added;
}
