#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

#include "core/checksums/checksum.h"

// The files a server may keep beside a download that name its checksum, asked for in order:
// "<file>.sha256", "<file>.sha512", then "SHA256SUMS", "SHA512SUMS", "CHECKSUMS" in its folder.
struct SumsSource {
    QString name;  // as shown: "big.iso.sha256", "SHA256SUMS"
    QString url;   // the address asked (the download's, its query kept after the new name)
    bool sibling = false;
};
// Empty for an address that is not http:// or https://.
QList<SumsSource> SumsSourcesFor(const QString& encodedUrl);

// The largest sums file read; a longer one is left unread. A sibling file names one file.
constexpr qsizetype MaxSumsFileBytes = 1024 * 1024;
constexpr qsizetype MaxSiblingBytes = 16 * 1024;

// The checksum of `fileName` in a sums file: lines "HEX  name", "HEX *name" (GNU) or
// "SHA256 (name) = HEX" (BSD), a leading "./" of the name ignored; other lines (a signature's
// armour, comments) are skipped. Of several lines naming the file the strongest is taken. A
// sibling file ("<file>.sha256") may also hold the bare value, its kind then from its length.
// Nothing when no line names the file, or when the body is no text (a web page).
std::optional<Checksum> ChecksumInSums(const QByteArray& body, const QString& fileName,
                                       bool sibling);
