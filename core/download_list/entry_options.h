#pragma once

#include <QString>

struct DownloadRecord;

// What was asked of one download beyond the settings (a remote client's split and
// user-agent), kept with its entry in the list file.
struct EntryOptions {
    int segments = 0;   // connections at most, 1 to 8; 0: the settings'
    QString userAgent;  // sent instead of the program's own; empty: the program's
    friend bool operator==(const EntryOptions&, const EntryOptions&) = default;
};

EntryOptions ReadEntryOptions(const DownloadRecord& r);
void KeepEntryOptions(DownloadRecord& r, const EntryOptions& options);
