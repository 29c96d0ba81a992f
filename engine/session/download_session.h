#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>

#include "engine/ftp/ftp_replies.h"
#include "engine/http/http_requests.h"
#include "engine/session/connection_slot.h"
#include "engine/session/engine_context.h"
#include "engine/session/session_observer.h"

class SocketClass;
struct DownloadRecord;
struct SegmentRecord;
struct ResponseHead;

// One running download: the probe connection, the segment plan, one connection and part file
// per segment, the watchdog, pause and resume, and assembly at the end. Progress lives in the
// download's record, so the lists and the list file see it. Connection slot k (0..7) serves
// segment k + 1; slot 8 is the probe's.
class DownloadSession : public QObject {
    Q_OBJECT
public:
    static constexpr int Slots = ConnectionSlots::Count;
    static constexpr int ProbeSlot = ConnectionSlots::Probe;
    static constexpr int MaxRedirects = 20;
    static constexpr qsizetype MaxHeadBytes = 64 * 1024;

    DownloadSession(EngineContext& context, SessionObserver& observer, QObject* parent = nullptr);
    ~DownloadSession() override;

    void AttachRecord(int index) { RecordIndex = static_cast<std::int16_t>(index); }
    void InitConnection();
    void ConnectSegmented();
    void PauseDownload();
    void ResumeDownload();
    // The window's cancel button: pause, stop the timers, close.
    void CancelDownload();
    void BuildOutputFile();

    std::int16_t RecordIndex = 0;
    std::int16_t Finished = 0;
    bool KeepPassword = false;
    // FTP: the file's directory on the server, ending with "/", as the probe worked it out
    // (bytes as the server names them); how far the probe's dialogue has gone (0 none, 1 USER
    // sent, 2 PASS sent, 3 file info asked).
    QByteArray FtpDirectory;
    std::int32_t FtpProbeStep = 0;
    // Whether the slot's connection sent its "USER".
    bool loginSent(int slot) const { return slots_[slot].ftpLogin != FtpLogin::None; }

    // What ended the session's last failed attempt, for front ends that report it.
    QString lastProblem() const { return lastProblem_; }
    std::int32_t lastProbeError() const { return lastProbeError_; }

    // Handlers, named after the connection and timer they serve.
    void sockGlobal_Connect(SocketClass* socket);
    void sockGlobal_DataReceived(SocketClass* socket, std::int32_t numbytes);
    void sockGlobal_Error(SocketClass* socket, std::int32_t errornumber);
    void sockGlobal_Closed(SocketClass* socket);
    void TimeOut_Timer();
    void SegTimeOut_Timer();
    void SegmentData_Connect(SocketClass* socket);
    void SegmentData_DataReceived(SocketClass* socket, std::int32_t numbytes);
    // FTP: replies on the control connection of slot k, and data on its data connection.
    void FTPSystem(int k);
    void SegmentData_DataReceivedFTP(int k, std::int32_t numbytes);

private:
    DownloadRecord* record();
    QString text(int number) const;
    SocketClass* sockGlobal() const { return slots_[ProbeSlot].existingSocket(); }
    bool isFtp();
    void connectTo(SocketClass& socket);
    HttpRequestTarget requestTarget(const DownloadRecord& r) const;
    void closeWith(const QString& why);
    void endProbe();

    // Probe
    void probeHeadComplete(const QByteArray& head);
    void followRedirect(const ResponseHead& head);
    void askCredentials();
    void probeSucceeded(const ResponseHead& head);
    void failProbeAttempt(const QString& why);

    // FTP probe and transfer
    void ftpProbeData();
    void ftpProbeReply(const FtpReply& reply);
    void ftpEndProbe(const QString& message, bool removed);
    void ftpSendLogin(SocketClass& socket, const FtpReply& reply, int slot);
    void ftpSegmentReply(int k, const FtpReply& reply);
    void ftpLoggedIn(int k);
    void ftpOpenDataConnection(int k, const FtpReply& reply);
    void ftpRequestFile(int k);
    void ftpOpeningReply(int k, const FtpReply& reply);
    void ftpDataEnded(int k);
    void ftpStartWaitingSegment();
    void ftpWatchWaitingSegments(std::int32_t now);
    QByteArray ftpRemotePath() const;

    // Segments
    // A part file holding less than its segment has stored (removed, or the first part of a
    // finished join) would leave a hole in the file: such a segment is fetched again whole.
    void startOverSegmentsWithoutTheirBytes();
    void connectNextSegment(int segment);
    bool acceptSegmentHead(int k, const QByteArray& head);
    void storeSegmentData(int k, const char* data, qsizetype length);
    void segmentBodyEnded(int k);
    void segmentComplete(int k);
    bool allSegmentsComplete();
    // Builds the file once every segment is stored.
    void buildWhenAllComplete();
    void fallBackToOneSegment();
    void restartSegment(int segment);
    // Before a segment gets a new connection: what the old one stored counts as done, or, where
    // the server knows no ranges, everything is fetched again from the first byte. Otherwise
    // the new answer would be written behind what the old one already wrote.
    void forgetConnectionProgress(SegmentRecord& s);

    EngineContext& ctx_;
    SessionObserver& observer_;
    ConnectionSlots slots_;
    QTimer TimeOut;
    QTimer SegTimeOut;
    QTimer connectPacer_;  // the pause between one segment's connect and the next
    std::int32_t LastRefreshTick = 0;

    int redirects_ = 0;
    bool probeLive_ = false;     // the probe connection is ours to act on
    bool retryPending_ = false;  // a failed probe attempt waits for its retry decision
    bool sizeKnown_ = false;     // the probe gave a length (0 is then an empty file)
    bool head416_ = false;
    bool assembling_ = false;
    QString lastProblem_;
    std::int32_t lastProbeError_ = 0;
};
