#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>

#include "engine/http/chunked_decoder.h"
#include "engine/http/http_requests.h"
#include "engine/session/engine_context.h"
#include "engine/session/session_observer.h"

class SocketClass;
struct DownloadRecord;
struct ResponseHead;

// One running download: the probe connection, the segment plan, one connection and part file
// per segment, the watchdog, pause and resume, and assembly at the end. Progress lives in the
// download's record, so the lists and the list file see it. Slot k (0..7) of the per-connection
// arrays serves segment k + 1; slot 8 is the probe.
class DownloadSession : public QObject {
    Q_OBJECT
public:
    static constexpr int Slots = 9;
    static constexpr int ProbeSlot = 8;
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
    QString FtpDirectory;

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

private:
    DownloadRecord* record();
    QString text(int number) const;
    int slotOf(SocketClass* socket) const;
    void connectTo(SocketClass& socket);
    HttpRequestTarget requestTarget(const DownloadRecord& r) const;
    void closeWith(const QString& why);
    void endProbe();

    // Probe
    void probeHeadComplete(const QByteArray& head);
    void followRedirect(const ResponseHead& head);
    void askCredentials();
    void probeSucceeded(const ResponseHead& head);

    // Segments
    void connectNextSegment(int segment);
    bool acceptSegmentHead(int k, const QByteArray& head);
    void storeSegmentData(int k, const char* data, qsizetype length);
    void segmentBodyEnded(int k);
    void segmentComplete(int k);
    void closeSlot(int k);
    void fallBackToOneSegment();
    void restartSegment(int segment);

    EngineContext& ctx_;
    SessionObserver& observer_;
    std::unique_ptr<SocketClass> sockGlobal;
    std::array<std::unique_ptr<SocketClass>, Slots> SegmentSocket;
    std::array<std::int32_t, Slots> FileHandle{};
    std::array<std::int32_t, Slots> FileOpenTick{};
    QTimer TimeOut;
    QTimer SegTimeOut;
    QTimer connectPacer_;  // the pause between one segment's connect and the next
    std::int32_t LastRefreshTick = 0;

    // Per connection: the response head as it accumulates, and how its body is framed.
    struct Incoming {
        QByteArray head;
        bool headDone = false;
        bool chunked = false;
        bool untilClose = false;  // no length known: the body ends when the server closes
        ChunkedDecoder chunks;
        bool refusedRange = false;
        std::int64_t sinceAlive = 0;  // bytes since the watchdog last saw the segment alive
    };
    std::array<Incoming, Slots> incoming_;
    int redirects_ = 0;
    bool probeLive_ = false;     // the probe connection is ours to act on
    bool retryPending_ = false;  // a failed probe attempt waits for its retry decision
    bool sizeKnown_ = false;     // the probe gave a length (0 is then an empty file)
    bool head416_ = false;
    bool assembling_ = false;
    QString lastProblem_;
    std::int32_t lastProbeError_ = 0;
    QString originalHost_;  // remembered logins go to this host only
};
