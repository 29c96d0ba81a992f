// How the segments' connections adapt to a server that takes fewer connections than asked.
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/settings/host_limits.h"
#include "engine/session/connection_slot.h"
#include "engine/session/segment_connections.h"
#include "engine/session/session_core.h"
#include "engine/session/session_log.h"

int SegmentConnections::serverLimit(int wanted) const {
    const DownloadRecord* r = core_.record();
    if (core_.ctx.hostLimits == nullptr || r == nullptr) {
        return wanted;
    }
    return core_.ctx.hostLimits->limitFor(HostLimits::ServerOf(r->Url), wanted);
}

int SegmentConnections::busySlots() const {
    int busy = 0;
    for (int k = 0; k < ConnectionSlots::Probe; ++k) {
        busy += core_.segmentOf(k) != 0 ? 1 : 0;
    }
    return busy;
}

int SegmentConnections::workingSlots(int except) const {
    int working = 0;
    for (int k = 0; k < ConnectionSlots::Probe; ++k) {
        if (k != except && core_.segmentOf(k) != 0 && core_.connections[k].incoming.headDone) {
            ++working;
        }
    }
    return working;
}

void SegmentConnections::giveBack(int k) {
    SegmentRecord& s = *core_.servedSegment(k);
    const int j = core_.segmentOf(k);
    core_.connections.release(k);
    forgetConnectionProgress(s);
    s.State = SegmentState::Idle;
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, j)
                               << "waits for a connection that the server takes";
}

bool SegmentConnections::stepDownAfterRefusal(int k, const QString& how) {
    DownloadRecord* r = core_.record();
    if (r == nullptr || r->Protocol == Protocol::Ftp || HeldByPause(*r) || FileComplete(*r) ||
        core_.servedSegment(k) == nullptr) {
        return false;
    }
    const int working = workingSlots(k);
    if (working == 0) {
        return false;  // the server refuses everyone, not only the extra connection
    }
    const int limit = ConnectionsAfterRefusal(connectionLimit_, working);
    qCInfo(lcEngine).noquote() << SegmentTag(core_.recordIndex, core_.segmentOf(k)) << how
                               << "on connection" << k + 1 << "while" << working
                               << "others work: goes on with" << limit << "connections";
    connectionLimit_ = limit;
    if (core_.ctx.hostLimits != nullptr) {
        const QString failed = core_.ctx.hostLimits->stepDown(HostLimits::ServerOf(r->Url), limit);
        if (!failed.isEmpty()) {
            qCWarning(lcEngine).noquote() << "the servers' limits were not saved:" << failed;
        }
    }
    giveBack(k);
    // Connections on their way that the server has not answered yet would be refused as well.
    for (int other = 0; other < ConnectionSlots::Probe && busySlots() > limit; ++other) {
        if (core_.segmentOf(other) != 0 && !core_.connections[other].incoming.headDone) {
            giveBack(other);
        }
    }
    core_.observer.segmentRowsChanged(0);
    connectNext();
    return true;
}
