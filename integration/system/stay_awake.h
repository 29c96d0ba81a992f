#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class DownloadQueue;
class QDBusPendingCallWatcher;

// Keeps the computer from suspending while downloads run: logind's "sleep" inhibitor, taken
// when the first download starts and let go when the last one ends or is paused, or when the
// option goes off. logind hands out a file descriptor and keeps the lock until it is closed, so
// holding the lock is holding the descriptor. One lock at a time, never two; without logind
// (or a system bus) nothing is shown: the reason is logged once.
class StayAwake : public QObject {
    Q_OBJECT
public:
    // `enabled` is read each time the running downloads change and at apply(); `why` is what
    // the desktop shows as the reason (its list of inhibitors, a logout dialog).
    StayAwake(DownloadQueue& queue, std::function<bool()> enabled, QString why,
              QObject* parent = nullptr);
    ~StayAwake() override;

    // Takes or lets go of the lock as the option and the running downloads now say (the
    // options were applied).
    void apply();
    bool holding() const { return held_.isValid(); }
    bool asking() const { return asking_ != nullptr; }

private:
    void ask();
    void answered(QDBusPendingCallWatcher* call);

    DownloadQueue& queue_;
    std::function<bool()> enabled_;
    QString why_;
    QTimer soon_;  // the queue's reports of one event loop turn come together
    QDBusUnixFileDescriptor held_;
    QDBusPendingCallWatcher* asking_ = nullptr;
    bool wanted_ = false;
    // Refused or unanswered while wanted: not asked again until downloads start anew.
    bool refused_ = false;
    bool logged_ = false;
};
