#pragma once

// What sessions showed and which windows the queue opened for them, recorded.

#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <vector>

#include "engine/queue/session_windows.h"
#include "engine/session/session_observer.h"

// What one session's window was told.
class RecordingObserver : public SessionObserver {
public:
    QStringList fileLabels;
    QStringList states;  // each state line, in order
    int progress = 0;
    std::vector<int> planned;  // every segment count laid out, in order
    int entryChanges = 0;
    bool finished = false;
    int closes = 0;
    QStringList whys;  // each close's reason, in order

    void fileLabelChanged(const QString& text) override { fileLabels << text; }
    void stateLabelChanged(const QString& text) override { states << text; }
    void progressChanged() override { ++progress; }
    void segmentsPlanned(int count) override { planned.push_back(count); }
    void entryChanged(int) override { ++entryChanges; }
    void downloadFinished(const QString&, const QString&) override { finished = true; }
    void sessionClosed(const QString& why) override {
        ++closes;
        whys << why;
    }
};

// The desktop program's windows, reduced to what the queue did with them. `events` holds
// "open N", "show N", "close N" and whatever the test adds, in order; a view shown or closed
// that was never opened, or opened twice, fails the test.
class RecordingWindows : public SessionWindows {
public:
    QStringList events;
    std::map<int, std::unique_ptr<RecordingObserver>> open;
    std::vector<std::unique_ptr<RecordingObserver>> closed;

    SessionObserver* openView(int slot, DownloadSession& session) override;
    void showView(int slot) override;
    void closeView(int slot) override;

    RecordingObserver* view(int slot) const;
    // Events of one kind ("open", "show", "close"), as slot numbers.
    std::vector<int> slotsOf(const QString& kind) const;
};
