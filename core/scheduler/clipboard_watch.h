#pragma once

#include <QString>
#include <optional>

struct DownloadListState;
struct Settings;

// The scheduler tick's look at the clipboard: a text is examined once, when it first appears,
// and offered when it is the address of a file that is not in the list and whose extension
// is not ignored. What is done with an offer is the caller's: with "SaveAs" on, the save
// dialog of adding is the confirmation; otherwise the user is asked first.
class ClipboardWatch {
public:
    // The encoded address to offer, or nothing. Does nothing while "CheckClipboard" is off or
    // the clipboard holds no text. A text equal to the last one examined is not looked at
    // again, so an address the user declined stays declined until the clipboard changes.
    std::optional<QString> consider(const QString& clipboardText, const DownloadListState& list,
                                    const Settings& settings);

private:
    QString lastSeen_;
};
