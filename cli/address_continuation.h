#pragma once

#include <QObject>
#include <QString>

#include "engine/address_change/continuation_search.h"

struct DownloadListState;
struct Settings;
class VelmoraSockets;

// brenloft-get's side of a new address for a file it has unfinished in its folder (a signed
// link that expired and was fetched anew): before such an address is added, the unfinished
// entries it may be another address of are asked whether it serves their very file. The first
// that does takes the address, keeping its bytes; otherwise the address is added as any other.
class AddressContinuation : public QObject {
    Q_OBJECT
public:
    AddressContinuation(DownloadListState& list, VelmoraSockets& sockets, const Settings& settings,
                        QObject* parent = nullptr);

    // Starts the checks for `url` (encoded) and returns true; `decided` follows from the event
    // loop. False, with nothing to follow, when no unfinished entry may be continued from it.
    bool Start(const QString& url);
    void Abort() { search_.Abort(); }
    // Tests wait less for an answer.
    void setWait(std::chrono::milliseconds wait) { search_.setWait(wait); }

signals:
    // The entry now at `url` (0: none, the address is added as a new download) and the line
    // telling the user so. `expected`: the address bears the name of an unfinished file, so the
    // user most likely meant it to go on; otherwise it only looked like one (its host) and the
    // refusal is worth telling only to who asked for the whole story.
    void decided(int slot, const QString& line, bool expected);

private:
    void onFound(int slot, const SameFileVerdict& verdict);
    void onNone(const QStringList& refusals);

    DownloadListState& list_;
    ContinuationSearch search_;
    QString url_;
    QString name_;  // the file name the address gives
    bool sameName_ = false;
};
