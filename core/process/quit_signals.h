#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

// Turns SIGTERM, SIGINT and SIGHUP (the session ending, Ctrl+C, a closed terminal) into a Qt
// signal on the event loop's thread, where the quit sequence can run safely. One per process.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

signals:
    void quitRequested(int signalNumber);

private:
    void readPending();
    std::unique_ptr<QSocketNotifier> notifier_;
};
