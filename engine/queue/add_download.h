#pragma once

#include <QString>
#include <optional>

#include "core/checksums/checksum.h"

class DownloadQueue;
struct EngineContext;

// What adding a download may need to ask: the desktop program shows dialogs, tests answer
// from a script. These waits are the user's own action, never inside a socket handler.
class AddPrompts {
public:
    virtual ~AddPrompts() = default;
    // Interface text 400 and the like, with an error icon.
    virtual void showError(const QString& text) = 0;
    // The save-as dialog; nothing when cancelled.
    virtual std::optional<QString> askSavePath(const QString& title, const QString& proposedName,
                                               const QString& filter) = 0;
    // Interface text 403: download a finished URL again?
    virtual bool askYesNo(const QString& text) = 0;
};

struct AddRequest {
    QString url;         // on return: the encoded form stored in the record
    int deferFlag = 0;   // in: 0 start now if allowed, -1 leave it; out: -1 when queued
    int updateFlag = 0;  // its absolute value becomes IsUpdate
    QString user;        // an HTTP login typed with the URL (the new-download prompt)
    QString password;
    // What a browser handed over with the address (MenuURL): the page the link was on and the
    // browser's cookies for the link, sent with the download's requests.
    QString referer;
    QString cookie;
    // Handed over with --no-restart: should the file change on its server, the download stops
    // with the reason instead of asking to start again.
    bool noRestart = false;
    // The checksum the user gave for the file (not valid(): none); it is trusted before any the
    // server offers.
    Checksum checksum{};
    // Where the file goes, chosen by the caller without a dialog (the remote control's folder
    // and name); empty: the download folder under the server's name. AddOrContinue only.
    QString savePath;
};

// The one way a URL enters the list: validate and encode, the save-as dialog, the duplicate
// rules, the slot, the record, the queue limit, the start. Returns the slot used, or 0 when
// nothing was added (invalid, cancelled, duplicate handled, list full).
int AddDownload(EngineContext& ctx, DownloadQueue& queue, AddPrompts& prompts, AddRequest& request);

// brenloft-get's add, which asks nothing: an entry for the same address still in the list (left
// by an interrupted run) goes on from where it stopped; otherwise the address gets a new entry,
// on the slot of a finished entry for it if there is one.
// Either starts when the limit allows and is queued otherwise (request.deferFlag -1), as
// DownloadQueue::Restart does; given deferFlag -1, it is left waiting for the user instead. Returns
// the slot -- the one already serving the address when it runs -- or 0 with `why` saying what kept
// the address out.
int AddOrContinue(EngineContext& ctx, DownloadQueue& queue, AddRequest& request, QString& why);
