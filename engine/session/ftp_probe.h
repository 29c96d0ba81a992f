#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

class SessionActions;
class SessionCore;
class SocketClass;
struct DownloadRecord;
struct FtpReply;

// How far the FTP probe's dialogue has gone.
enum class FtpProbeStep : std::uint8_t { None, UserSent, PassSent, FileInfoAsked };

// The FTP probe: logs in, finds the file's directory and size, and learns whether the server
// restarts transfers at an offset ("REST"), then hands the download to the segments.
class FtpProbe {
public:
    FtpProbe(SessionCore& core, SessionActions& session) : core_(core), session_(session) {}

    // A new probe connection: the dialogue starts again with the greeting.
    void restart() { step_ = FtpProbeStep::None; }
    // Replies on the probe's connection.
    void takeData(SocketClass& socket);

    // The path "SIZE" and "RETR" name.
    QByteArray remotePath() const;

private:
    void reply(SocketClass& socket, const FtpReply& reply);
    // The size the server gave (213): the probe asks whether it can restart at an offset.
    void sizeReplied(SocketClass& socket, const QByteArray& line, DownloadRecord& r);
    void handOver(bool restarts);
    void fail(const QString& message, int reply);

    SessionCore& core_;
    SessionActions& session_;
    FtpProbeStep step_ = FtpProbeStep::None;
    QByteArray directory_;
};
