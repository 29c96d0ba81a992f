#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/assembly/existing_target.h"

struct DownloadListState;
struct Settings;
class TextTable;
class VelmoraSockets;
class SegmentFiles;
class SessionPrompts;
class CompletionActions;
class HostLimits;
class ProxyResolver;

// Everything a download needs of the program around it, handed to each session by whoever
// runs downloads (the desktop program, brenloft-get, a test). Nothing here is global.
struct EngineContext {
    DownloadListState& list;
    QString listPath;  // where SaveList writes, for remembered logins
    Settings& settings;
    const TextTable& texts;
    VelmoraSockets& sockets;
    SegmentFiles& files;
    SessionPrompts& prompts;
    CompletionActions& actions;
    // Opens a URL or file with the user's default program (a declined HTML page, a finished
    // file); empty where there is no desktop.
    std::function<void(const QString&)> openUrl;
    // Ends the program after the end-of-list actions asked the system to power off.
    std::function<void()> endProgram;
    // Every byte any session receives, for the status line's total and speed.
    std::int64_t receivedBytes = 0;
    // brenloft-get's rule: a download without saved segments whose target already exists with
    // exactly the size the server gives counts as done, and nothing is fetched, when an earlier
    // run finished that file for that address (`finishedFiles`) or the file's time is the
    // server's Last-Modified (see AdoptExistingTarget). Off (the desktop program): never; the
    // file is fetched again into a numbered name.
    bool adoptWholeFiles = false;
    // What a download does when the file on its server changed under it: asks the user (the
    // desktop program), starts again from the first byte (brenloft-get) or stops with the reason
    // (brenloft-get --no-restart). An entry handed over with --no-restart always stops.
    enum class ChangedFile : std::uint8_t { Ask, StartAgain, Stop };
    ChangedFile changedFile = ChangedFile::Ask;
    std::vector<FinishedFile> finishedFiles{};
    // Accepts from now on, for this host only, a certificate the user chose to trust although
    // it does not verify, and remembers it; returns why it could not be remembered, or empty.
    // Empty where nobody can be asked: the certificate is then refused.
    std::function<QString(const QString& host, const QByteArray& fingerprint)> trustCertificate{};
    // Installs the program update that the download in `slot` completed at `path` (its
    // IsUpdate is 1), in place of the end-of-list actions, which it runs itself when it fails.
    // Called from the event loop after the join has reported. Empty (brenloft-get, most
    // tests): an update package is a file like any other.
    std::function<void(int slot, const QString& path)> installUpdate{};
    // Saves the list now, as its owner saves it (a join that finished calls it before its parts
    // go); returns why it failed, or empty. Where none is set, SaveList to listPath.
    std::function<QString()> saveList{};
    // Saves the list a moment later, once for whatever else happens meanwhile: a finished file
    // moved into place needs no save of its own before the next download starts. Where none
    // is set, the list is saved at once.
    std::function<void()> saveListSoon{};
    // How long a segment may bring too little before the watchdog starts it again; tests
    // stretch it to see what the engine does without the watchdog.
    std::int32_t segmentSilenceMs = 15000;
    // A server that answers "busy" is asked again after this long, then twice as long each
    // time, at most this many times in a row; tests shorten the wait and the count.
    std::int64_t busyFirstWaitMs = 2000;
    int busyTries = 10;
    // How many connections each server took, remembered between downloads; none: every
    // download starts with the connections the settings give.
    HostLimits* hostLimits = nullptr;
    // Where each connection's proxy comes from when not from the options (the desktop's proxy
    // settings, brenloft-get's environment); none: ProxyRouteFor(settings).
    ProxyResolver* proxyResolver = nullptr;
    // Hands a link that belongs to another program (a magnet link, a local .torrent file) to
    // the program the desktop has for it, and tells the user; adding calls it instead of
    // refusing the address. Empty where there is no desktop: such links are refused.
    std::function<void(const QString& link)> handOverLink{};
};
