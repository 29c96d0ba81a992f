#pragma once

#include <QObject>
#include <functional>
#include <memory>

class ChecksumChecks;
class DesktopNotifier;
class DownloadEndNotices;
class DownloadQueue;
class DownloadWindows;
class FinishedPane;
struct EngineContext;

// The desktop program's notifications of ended downloads and its "Show in folder", on the
// session bus: made once the windows are, ended before the queue.
class DesktopNotices : public QObject {
    Q_OBJECT
public:
    struct Parts {
        EngineContext& ctx;
        DownloadQueue& queue;
        ChecksumChecks& checks;
        DownloadWindows& windows;
        FinishedPane& finished;
        std::function<QString()> trayTip;  // the tray's tooltip as it reads now
    };

    explicit DesktopNotices(const Parts& parts, QObject* parent = nullptr);
    ~DesktopNotices() override;

private:
    std::unique_ptr<DesktopNotifier> notifier_;
    std::unique_ptr<DownloadEndNotices> ends_;
};
