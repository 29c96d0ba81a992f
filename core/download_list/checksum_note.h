#pragma once

#include <QString>

#include "core/checksums/checksum.h"

struct DownloadRecord;

// What a download knows of its file's checksum: the one it should have, where that came from,
// and what hashing the built file found. It travels with the entry in the list file (see
// checksum_note.cpp), so a finished download shows its result after a restart.
struct ChecksumNote {
    enum class Outcome : std::uint8_t {
        Unchecked,   // not hashed yet (or not finished)
        Matches,     // the file's digest is the expected one
        Failed,      // it is not: `expected` and `actual` differ
        NoneFound,   // nothing was given and the server offered none: not an error
        Unreadable,  // the built file could not be read (`actual` says why)
    };
    // The source of a checksum the user gave (the add dialog, --checksum, the session bus).
    static constexpr QLatin1StringView Given{"given"};

    Checksum expected;  // not valid(): none given, none found (yet)
    // Where `expected` came from: Given, "Repr-Digest", "Digest", the sibling file's name
    // ("big.iso.sha256"), or the sums file's ("SHA256SUMS").
    QString source;
    bool looked = false;  // the server was searched (headers, sibling and sums files)
    Outcome outcome = Outcome::Unchecked;
    QString actual;  // the file's digest of expected's kind once hashed; why, when Unreadable
    QString sha256;  // the file's SHA-256 once known (hashed with the check, or on request)

    bool given() const { return source == Given; }
    friend bool operator==(const ChecksumNote&, const ChecksumNote&) = default;
};

ChecksumNote ReadChecksumNote(const DownloadRecord& r);
// Stores `note` in `r`; an empty note takes nothing of the record's room.
void KeepChecksumNote(DownloadRecord& r, const ChecksumNote& note);
