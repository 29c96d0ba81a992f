#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>

#include "engine/engine_context.h"
#include "engine/http/http_requests.h"
#include "engine/session/connection_slot.h"
#include "engine/session/ftp_probe.h"
#include "engine/session/ftp_segments.h"
#include "engine/session/http_probe.h"
#include "engine/session/http_segments.h"
#include "engine/session/segment_connections.h"
#include "engine/session/segment_splitter.h"
#include "engine/session/segment_writer.h"
#include "engine/session/session_observer.h"
#include "engine/session/session_watchdog.h"
#include "net/tls_connection.h"

class SocketClass;
struct DownloadRecord;

// One running download: the probe connection, the segment plan, up to eight connections each
// serving one segment and writing its part file, the watchdog, pause and resume, and assembly
// at the end. Progress lives in the download's record, so the lists and the list file see it.
// Connection slots 0..7 serve whichever segments need them; slot 8 is the probe's.
//
// The session coordinates; each part keeps its own state: the probes (HttpProbe, FtpProbe),
// the segments' connections (SegmentConnections), their transfer (HttpSegments, FtpSegments),
// the part-file writes (SegmentWriter) and the watchdog (SessionWatchdog). Every socket event
// reaches the handlers below first, as the probe's socket is every connection's event target.
class DownloadSession : public QObject {
    Q_OBJECT
public:
    static constexpr int Slots = ConnectionSlots::Count;
    static constexpr int ProbeSlot = ConnectionSlots::Probe;
    static constexpr int MaxRedirects = HttpProbe::MaxRedirects;

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
    // The preview opened after the probe chose "Download classic": the segments start, unless
    // the download was paused meanwhile.
    void ContinueAfterPreview();
    bool waitingForPreview() const { return waitingForPreview_; }

    std::int16_t RecordIndex = 0;
    std::int16_t Finished = 0;
    // FTP: how far the probe's dialogue has gone; the file's directory on the server as the
    // probe worked it out; whether a slot's connection sent its "USER".
    FtpProbeStep ftpProbeStep() const { return ftpProbe_.step(); }
    const QByteArray& ftpDirectory() const { return ftpProbe_.directory(); }
    bool loginSent(int slot) const { return slots_[slot].ftpLogin != FtpLogin::None; }
    // The download window's rows, one per connection: how many, and the segment (1-based) that
    // row `row` (1-based) shows.
    int connectionRows() const { return segments_.connectionLimit(); }
    int segmentShownOnRow(int row) const { return slots_.shownSegment(row - 1); }

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
    friend class HttpProbe;
    friend class FtpProbe;
    friend class SegmentConnections;
    friend class HttpSegments;
    friend class FtpSegments;
    friend class SegmentWriter;
    friend class SessionWatchdog;
    friend class SegmentSplitter;

    // Where the probe is: waiting for its answer, or failed and waiting for the decision to
    // try again (which runs from the event loop).
    enum class ProbeState : std::uint8_t { Idle, AwaitingAnswer, RetryPending };

    DownloadRecord* record();
    QString text(int number) const;
    // The segment slot k serves (its record, its number), or nullptr and 0 while it is free.
    SegmentRecord* servedSegment(int k);
    int segmentOf(int k) const { return slots_[k].segment; }
    SocketClass* sockGlobal() const { return slots_[ProbeSlot].existingSocket(); }
    bool isFtp();
    void connectTo(SocketClass& socket);
    HttpRequestTarget requestTarget(const DownloadRecord& r) const;
    // Ends the session: `why` is empty for a plain close; `logged` stands for it in the log
    // where it quotes an address as a server gave it.
    void closeWith(const QString& why, const QString& logged = QString());
    // A fault that asking again would only repeat (a damaged body, a part file that cannot be
    // written): the download waits, paused, with what it stored, and the user is told.
    void stopPaused(const QString& why, const QString& message);
    // A server that answers wrongly whenever asked: the download fails, keeping what it
    // stored, and the user is told why.
    void failWith(const QString& why);

    // The probe's life: its connection is ours to act on only while it awaits its answer.
    bool probeAwaitsAnswer() const { return probeState_ == ProbeState::AwaitingAnswer; }
    void endProbe();
    // The file is in place and the record completed: the window shows it, the session ends.
    void reportFinished();
    // The file's size is known (from the probe, or a resumed plan): every segment has a range.
    bool sizeKnown();
    void failProbeAttempt(const QString& why);
    // A TLS connection to the server (or a tunnel to it) failed: the probe ends, or, for a
    // certificate that does not verify, the user may choose to trust it and the probe goes on.
    void tlsFailed(const QString& problem, const TlsFailure& cause = {},
                   const QByteArray& fingerprint = {});
    void askToTrust(const QString& host, const QByteArray& fingerprint, const QString& why);
    // Ends the probe for good, unless it was paused or cancelled meanwhile.
    void endTlsFailed(const QString& why, bool tellUser);
    void probeAttemptFailed();

    EngineContext& ctx_;
    SessionObserver& observer_;
    ConnectionSlots slots_;
    QTimer TimeOut;  // the probe's answer
    HttpProbe httpProbe_{*this};
    FtpProbe ftpProbe_{*this};
    SegmentConnections segments_{*this};
    HttpSegments httpSegments_{*this};
    FtpSegments ftpSegments_{*this};
    SegmentWriter writer_{*this};
    SegmentSplitter splitter_{*this};
    SessionWatchdog watchdog_{*this};
    ProbeState probeState_ = ProbeState::Idle;
    bool sizeKnown_ = false;    // the probe gave a length (0 is then an empty file)
    QDateTime serverModified_;  // the probe's Last-Modified; invalid when none was given
    bool assembling_ = false;
    bool waitingForPreview_ = false;
    QString lastProblem_;
    std::int32_t lastProbeError_ = 0;
};
