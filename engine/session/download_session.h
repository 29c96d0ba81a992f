#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <optional>

#include "engine/engine_context.h"
#include "engine/session/busy_wait.h"
#include "engine/session/connection_slot.h"
#include "engine/session/ftp_probe.h"
#include "engine/session/ftp_segments.h"
#include "engine/session/http_probe.h"
#include "engine/session/http_segments.h"
#include "engine/session/segment_connections.h"
#include "engine/session/segment_splitter.h"
#include "engine/session/segment_writer.h"
#include "engine/session/session_actions.h"
#include "engine/session/session_core.h"
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
// the part-file writes (SegmentWriter), the splitting of ranges (SegmentSplitter) and the
// watchdog (SessionWatchdog). What they share is the session's core (SessionCore); what they
// ask of the session goes through SessionActions. Every socket event reaches the handlers below
// first, as the probe's socket is every connection's event target.
class DownloadSession : public QObject, private SessionActions {
    Q_OBJECT
    // First: every part holds it, and the deferred calls die with it.
    SessionCore core_;

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

    std::int16_t& RecordIndex = core_.recordIndex;  // the download's slot in the list
    std::int16_t Finished = 0;
    // The segment (1-based) that the download window's row `row` (1-based) shows.
    int segmentShownOnRow(int row) const { return core_.connections.shownSegment(row - 1); }

    // While the server sends nothing and the watchdog reconnects: "Reconnecting (attempt 3):
    // the server does not answer" in the user's language; while a busy server has put the
    // download off, "Server busy: retrying in 1 min 40 s"; empty otherwise.
    QString reconnecting() const;
    // Every wait a busy server imposed so far (the probe's and the segments'), and how long the
    // last one was, for front ends that tell each wait once.
    struct BusyNotice {
        int begun = 0;
        std::int64_t waitMs = 0;
    };
    BusyNotice busyNotice() const;
    // The speed to show, in bytes per second (TransferRate); nothing while reconnecting.
    std::optional<double> shownSpeed() const;

    // What ended the session's last failed attempt, for front ends that report it.
    QString lastProblem() const { return lastProblem_; }
    std::int32_t lastProbeError() const { return lastProbeError_; }
    // The probe ended because the server's certificate did not verify (not another TLS fault).
    bool certificateRefused() const { return certificateRefused_; }

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
    // Where the probe is: waiting for its answer, or failed and waiting for the decision to
    // try again (which runs from the event loop).
    enum class ProbeState : std::uint8_t { Idle, AwaitingAnswer, RetryPending };

    DownloadRecord* record() { return core_.record(); }
    QString text(int number) const { return core_.text(number); }

    // What the parts ask of the session.
    void closeWith(const QString& why, const QString& logged = QString()) override;
    void stopPaused(const QString& why, const QString& message) override;
    void failWith(const QString& why) override;
    void fileChanged(const QString& how) override;
    // The old parts go and the download starts over with a new probe.
    void startAgain();
    bool probeAwaitsAnswer() const override { return probeState_ == ProbeState::AwaitingAnswer; }
    void restartProbeTimer() override { TimeOut.start(); }
    void stopProbeTimer() override { TimeOut.stop(); }
    void endProbe() override;
    void failProbeAttempt(const QString& why) override;
    void probeBusy(std::optional<std::int64_t> retryAfterMs, std::int16_t code) override;
    void probeAgain() override { InitConnection(); }
    void startSegments() override { ConnectSegmented(); }
    void waitForPreview() override { waitingForPreview_ = true; }
    void buildOutputFile() override { BuildOutputFile(); }
    void reportFinished() override;

    // A TLS connection to the server (or a tunnel to it) failed: the probe ends, or, for a
    // certificate that does not verify, the user may choose to trust it and the probe goes on.
    void tlsFailed(const QString& problem, const TlsFailure& cause = {},
                   const QByteArray& fingerprint = {});
    void askToTrust(const QString& host, const QByteArray& fingerprint, const QString& why);
    // Ends the probe for good, unless it was paused or cancelled meanwhile.
    void endTlsFailed(const QString& why, bool tellUser);
    void probeAttemptFailed();
    // Connects the probe's `socket` along the route just decided.
    void connectProbe(SocketClass& socket);
    // Segment slot k's connection was reset or refused before any byte of its answer, while
    // other connections work: the download goes on with fewer. False otherwise.
    bool extraConnectionRefused(int k, std::int32_t errornumber);

    QTimer TimeOut;  // the probe's answer
    HttpProbe httpProbe_{core_, *this};
    FtpProbe ftpProbe_{core_, *this};
    SegmentSplitter splitter_{core_};
    SegmentWriter writer_{core_, *this};
    SegmentConnections segments_{core_, *this, splitter_, ftpSegments_};
    FtpSegments ftpSegments_{core_, segments_, writer_, ftpProbe_};
    HttpSegments httpSegments_{core_, *this, segments_, writer_};
    SessionWatchdog watchdog_{core_, *this, splitter_, segments_, ftpSegments_};
    BusyWait probeBusy_{[this] { core_.shownStateChanged(); }};
    ProbeState probeState_ = ProbeState::Idle;
    bool waitingForPreview_ = false;
    bool routePending_ = false;  // a resumed download's segments wait for their route
    QString lastProblem_;
    std::int32_t lastProbeError_ = 0;
    bool certificateRefused_ = false;
    // Times this session started its file again on its own: a server whose file seems to change
    // on every answer (a broken one, mirrors that disagree) must not keep it fetching for ever.
    int startedAgain_ = 0;
};
