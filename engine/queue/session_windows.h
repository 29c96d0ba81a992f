#pragma once

class DownloadSession;
class SessionObserver;

// The windows of running downloads: the desktop program opens a download window per
// session, a headless host opens none. The queue owns the sessions; the implementation owns
// its views until it is told to close them.
class SessionWindows {
public:
    virtual ~SessionWindows() = default;
    // A view of the session serving `slot`; it stays valid until closeView(slot).
    virtual SessionObserver* openView(int slot, DownloadSession& session) = 0;
    virtual void showView(int slot) = 0;
    virtual void closeView(int slot) = 0;
};

// No windows at all: sessions run unseen.
class NoSessionWindows : public SessionWindows {
public:
    SessionObserver* openView(int, DownloadSession&) override { return nullptr; }
    void showView(int) override {}
    void closeView(int) override {}
};
