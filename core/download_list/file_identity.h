#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>

struct DownloadRecord;

// What tells one version of a download's file on its server from another: the strong ETag, the
// Last-Modified date and the size the probe found. A resume asks only for bytes of the same
// version, so that no file is ever built of two.
//
// It lives in the record's Reserved2 text, which older lists hold as "0" (or empty): any text
// that is not ours reads as no identity, and such an entry resumes without one.
struct FileIdentity {
    QString etag;            // a strong ETag as the server sent it, quotes included; or empty
    QDateTime lastModified;  // UTC, whole seconds; invalid without one
    std::int64_t size = -1;  // -1 while not known
    // Started with --no-restart: a changed file stops the download instead of starting again.
    bool noRestart = false;
    // The first answer was itself a web page (text/html, whatever its charset) and was taken as
    // the file: later pages are that file, not a refusal.
    bool page = false;

    bool known() const { return !etag.isEmpty() || lastModified.isValid() || size >= 0; }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

FileIdentity ReadIdentity(const DownloadRecord& r);
// Stores `identity` in `r`; one that holds nothing at all gives back the plain "0".
void KeepIdentity(DownloadRecord& r, const FileIdentity& identity);
