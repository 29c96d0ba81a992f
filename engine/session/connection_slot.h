#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

#include "engine/ftp/ftp_replies.h"
#include "engine/http/chunked_decoder.h"

class SocketClass;
class SegmentFiles;
struct DownloadRecord;
struct Settings;
class VelmoraSockets;

// How a response body ends: after the bytes asked for, with the last chunk, or when the
// server closes (no length known).
enum class BodyEnd : std::uint8_t { AtLength, Chunked, AtClose };

// How far an FTP control connection's login has gone.
enum class FtpLogin : std::uint8_t { None, UserSent, PassSent };

// What one connection has said so far: the response head as it accumulates, and how its body
// is framed.
struct Incoming {
    QByteArray head;
    bool headDone = false;
    BodyEnd bodyEnd = BodyEnd::AtLength;
    ChunkedDecoder chunks;
    bool refusedRange = false;
    // Body bytes still inside the range the answer names, where it ends before the range
    // asked for; -1 when the answer covers what was asked.
    std::int64_t answerLeft = -1;
    std::int64_t sinceAlive = 0;  // bytes since the watchdog last saw the segment alive
    bool proxyLoginSent = false;  // the request carried the proxy's login
};

// Everything one connection of a download holds: its socket, the part file it writes, what
// its server has said, and for FTP the data connection beside it. A segment slot serves one
// segment at a time, any of them (a download may hold more segments than slots); the last
// slot is the probe's. The slot owns its sockets and its part-file handle, and gives both
// back when it goes.
class ConnectionSlot {
public:
    // `settings` is read as it stands at each call: "SafeDisk" may change while data flows.
    ConnectionSlot(int index, VelmoraSockets& sockets, SegmentFiles& files,
                   const Settings& settings);
    ConnectionSlot(const ConnectionSlot&) = delete;
    ConnectionSlot& operator=(const ConnectionSlot&) = delete;
    ~ConnectionSlot();

    int index() const { return index_; }

    // The control connection (the HTTP request, or the FTP commands), made on first use.
    SocketClass& socket();
    SocketClass* existingSocket() const { return socket_.get(); }
    // The probe replaces its socket on every attempt; the old one may be the one whose handler
    // runs now, so it is shut down and deleted from the event loop.
    SocketClass& replaceSocket();
    // FTP's passive data connection, made on first use.
    SocketClass& dataSocket();
    SocketClass* existingDataSocket() const { return dataSocket_.get(); }

    // Forgets what the slot's last connection said, so a new one starts clean; timers of the
    // old connection see the generation change and do nothing.
    void forgetConnection();
    std::uint32_t generation() const { return generation_; }
    // Closes both connections and the part file, and forgets the connection.
    void close();

    // The segment's part file, opened for writing on first use; 0 when it cannot be opened.
    std::int32_t partFile(const QString& path, std::int32_t now);
    // With "SafeDisk" on, puts the part file's data on the disk once a second (and when it
    // closes), so a power cut loses at most the last second of it. False when the disk refused
    // the flush (the files' lastErrno says why).
    bool flushPartFileEverySecond(std::int32_t now);
    std::int32_t openPartFile() const { return fileHandle_; }

    // FTP: answers the greeting with "USER", once per connection, and "331" with "PASS".
    // `tag` starts the log line, which never shows the password.
    void answerFtpLogin(const FtpReply& reply, const DownloadRecord& record, const QString& tag);

    Incoming incoming;
    // FTP: the control connection's replies as they gather, the login's progress, and whether
    // the transfer's end was reported ("226") and its data connection has closed, which
    // together end a file of unknown size.
    FtpReplyReader ftpReplies;
    FtpLogin ftpLogin = FtpLogin::None;
    bool ftpTransferReported = false;
    bool ftpDataClosed = false;
    // The server closed this slot's connection before its range was done, and no body byte
    // has come since: a second close in a row is left to the watchdog's pace.
    bool closedEarly = false;
    // Answers in a row refused for this slot's segment (another part, another size, compressed).
    int refusals = 0;
    // The watchdog's restarts of this slot's segment in a row with no byte between them.
    int silentRestarts = 0;
    // The segment (1-based) this connection serves, 0 while free; and the one it served last,
    // which its row in the download window goes on showing.
    int segment = 0;
    int lastSegment = 0;

private:
    void closePartFile();

    int index_;
    VelmoraSockets& sockets_;
    SegmentFiles& files_;
    const Settings& settings_;
    std::unique_ptr<SocketClass> socket_;
    std::unique_ptr<SocketClass> dataSocket_;
    std::int32_t fileHandle_ = 0;
    std::int32_t fileFlushTick_ = 0;  // when the part file was opened or last flushed
    std::uint32_t generation_ = 0;
};

// A session's slots: eight for segments and the probe's.
class ConnectionSlots {
public:
    static constexpr int Count = 9;
    static constexpr int Probe = 8;

    ConnectionSlots(VelmoraSockets& sockets, SegmentFiles& files, const Settings& settings);

    ConnectionSlot& operator[](int k);
    const ConnectionSlot& operator[](int k) const;
    ConnectionSlot& probe() { return (*this)[Probe]; }

    // The segment slot whose control connection, or whose data connection, is `socket`; -1
    // when none is.
    int slotOf(const SocketClass* socket) const;
    int dataSlotOf(const SocketClass* socket) const;

    // The segment slot serving `segment`, or -1; the first free one of the first `limit`, or -1.
    int serving(int segment) const;
    int freeSlot(int limit) const;
    // Slot k takes up `segment`, or leaves its segment (closing its connections).
    void assign(int k, int segment);
    void release(int k);
    // A segment record was inserted at `at`: the segments from there on moved up by one.
    void segmentInserted(int at);
    // The segment slot k's row shows: the one it serves, the one it served last, or before any
    // the segment of its own number.
    int shownSegment(int k) const;

private:
    int segmentHolding(const SocketClass* socket,
                       SocketClass* (ConnectionSlot::*which)() const) const;

    std::array<std::unique_ptr<ConnectionSlot>, Count> slots_;
};
