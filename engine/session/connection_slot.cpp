#include "engine/session/connection_slot.h"

#include <QtGlobal>
#include <algorithm>

#include "core/diagnostics/log_categories.h"
#include "core/download_list/records.h"
#include "core/settings/settings.h"
#include "engine/files/segment_files.h"
#include "engine/ftp/ftp_reply_codes.h"
#include "engine/ftp/ftp_values.h"
#include "net/socket_class.h"

namespace {

// Milliseconds from `since` to `now` on the wrapping 32-bit tick.
std::int32_t TicksSince(std::int32_t now, std::int32_t since) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                     static_cast<std::uint32_t>(since));
}

}  // namespace

ConnectionSlot::ConnectionSlot(int index, VelmoraSockets& sockets, SegmentFiles& files,
                               const Settings& settings)
    : index_(index), sockets_(sockets), files_(files), settings_(settings) {}

ConnectionSlot::~ConnectionSlot() {
    close();
    for (SocketClass* socket : {socket_.get(), dataSocket_.get()}) {
        if (socket != nullptr) {
            socket->ShutDown();
        }
    }
}

SocketClass& ConnectionSlot::socket() {
    if (!socket_) {
        socket_ = std::make_unique<SocketClass>(sockets_);
    }
    return *socket_;
}

SocketClass& ConnectionSlot::replaceSocket() {
    if (socket_) {
        SocketClass* old = socket_.release();
        old->disconnect();
        old->ShutDown();
        old->deleteLater();
    }
    return socket();
}

SocketClass& ConnectionSlot::dataSocket() {
    if (!dataSocket_) {
        dataSocket_ = std::make_unique<SocketClass>(sockets_);
    }
    return *dataSocket_;
}

void ConnectionSlot::forgetConnection() {
    incoming = Incoming{};
    ftpReplies.reset();
    ftpLogin = FtpLogin::None;
    ftpTransferReported = false;
    ftpDataClosed = false;
    ++generation_;
}

void ConnectionSlot::close() {
    for (SocketClass* socket : {socket_.get(), dataSocket_.get()}) {
        if (socket != nullptr) {
            socket->CloseSocket();
        }
    }
    forgetConnection();
    closePartFile();
}

std::int32_t ConnectionSlot::partFile(const QString& path, std::int32_t now) {
    if (fileHandle_ <= 0) {
        fileHandle_ = std::max(files_.VelmoraOpenFile(path, SegmentFiles::ModeWrite), 0);
        fileFlushTick_ = now;
    }
    return fileHandle_;
}

bool ConnectionSlot::flushPartFileEverySecond(std::int32_t now) {
    if (settings_.SafeDisk != FlagTrue || fileHandle_ <= 0 ||
        TicksSince(now, fileFlushTick_) <= 1000) {
        return true;
    }
    fileFlushTick_ = now;
    return files_.VelmoraFlushFile(fileHandle_);
}

void ConnectionSlot::answerFtpLogin(const FtpReply& reply, const DownloadRecord& record,
                                    const QString& tag) {
    if (reply.code == FtpCode::ServiceReady) {
        if (ftpLogin != FtpLogin::None) {
            return;
        }
        ftpLogin = FtpLogin::UserSent;
        qCInfo(lcEngine).noquote() << tag << "sent USER" << record.UserName;
        socket().SendData(FtpCommand("USER", FtpPathBytes(record.UserName)));
    } else if (reply.code == FtpCode::NeedPassword) {
        ftpLogin = FtpLogin::PassSent;
        qCInfo(lcEngine).noquote() << tag << "sent PASS ***";
        socket().SendData(FtpCommand("PASS", record.UserName == u"anonymous"
                                                 ? QByteArray(kAnonymousPassword)
                                                 : FtpPathBytes(record.Password)));
    }
}

void ConnectionSlot::closePartFile() {
    if (fileHandle_ > 0) {
        // The list saved next counts these bytes as received: they must be on the disk first.
        if (settings_.SafeDisk == FlagTrue) {
            files_.VelmoraFlushFile(fileHandle_);
        }
        files_.VelmoraCloseFile(fileHandle_);
    }
    fileHandle_ = 0;
    fileFlushTick_ = 0;
}

ConnectionSlots::ConnectionSlots(VelmoraSockets& sockets, SegmentFiles& files,
                                 const Settings& settings) {
    for (int k = 0; k < Count; ++k) {
        slots_[k] = std::make_unique<ConnectionSlot>(k, sockets, files, settings);
    }
}

ConnectionSlot& ConnectionSlots::operator[](int k) {
    Q_ASSERT(k >= 0 && k < Count);
    Q_ASSERT(slots_[k]->index() == k);
    return *slots_[k];
}

const ConnectionSlot& ConnectionSlots::operator[](int k) const {
    Q_ASSERT(k >= 0 && k < Count);
    return *slots_[k];
}

int ConnectionSlots::segmentHolding(const SocketClass* socket,
                                    SocketClass* (ConnectionSlot::*which)() const) const {
    int found = -1;
    for (int k = 0; k < Probe; ++k) {
        if (socket != nullptr && ((*slots_[k]).*which)() == socket) {
            // Each connection belongs to one slot: events of a socket reach one segment.
            Q_ASSERT(found < 0);
            found = k;
        }
    }
    return found;
}

int ConnectionSlots::slotOf(const SocketClass* socket) const {
    return segmentHolding(socket, &ConnectionSlot::existingSocket);
}

int ConnectionSlots::dataSlotOf(const SocketClass* socket) const {
    return segmentHolding(socket, &ConnectionSlot::existingDataSocket);
}

int ConnectionSlots::serving(int segment) const {
    for (int k = 0; k < Probe; ++k) {
        if (segment > 0 && slots_[k]->segment == segment) {
            return k;
        }
    }
    return -1;
}

int ConnectionSlots::freeSlot(int limit) const {
    for (int k = 0; k < std::min(limit, int(Probe)); ++k) {
        if (slots_[k]->segment == 0) {
            return k;
        }
    }
    return -1;
}

void ConnectionSlots::assign(int k, int segment) {
    Q_ASSERT(k >= 0 && k < Probe && serving(segment) < 0);
    // Nothing of the last segment's connection or part file may reach the new one.
    slots_[k]->close();
    slots_[k]->segment = segment;
    slots_[k]->lastSegment = segment;
    slots_[k]->refusals = 0;
    slots_[k]->silentRestarts = 0;
}

void ConnectionSlots::release(int k) {
    ConnectionSlot& slot = (*this)[k];
    slot.close();
    slot.segment = 0;
}

void ConnectionSlots::segmentInserted(int at) {
    for (int k = 0; k < Probe; ++k) {
        for (int* number : {&slots_[k]->segment, &slots_[k]->lastSegment}) {
            if (*number >= at) {
                ++*number;
            }
        }
    }
}

int ConnectionSlots::shownSegment(int k) const {
    const ConnectionSlot& slot = (*this)[k];
    return slot.segment != 0 ? slot.segment : slot.lastSegment != 0 ? slot.lastSegment : k + 1;
}
