#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

struct DownloadListState;
struct Settings;

// The scheduler tick's look at the clipboard: a text is examined once, when it first appears,
// and each of its lines offered when it is the address of a file that is not in the list and whose
// extension is not ignored, or a magnet link not offered before in this run. What is done with
// an offer is the caller's: with "SaveAs" on, the save dialog of adding (for a magnet link, the
// torrent program's own) is the confirmation; otherwise the user is asked first.
class ClipboardWatch {
public:
    // The encoded addresses to offer, one for each line of the text that qualifies, in order
    // and each once; none while "CheckClipboard" is off or the clipboard holds no text. A text
    // equal to the last one examined is not looked at again, so addresses the user declined
    // stay declined until the clipboard changes.
    QStringList considerAll(const QString& clipboardText, const DownloadListState& list,
                            const Settings& settings);

private:
    QString lastSeen_;
    QSet<QString> offeredLinks_;  // magnet links, offered once for the program's run
};
