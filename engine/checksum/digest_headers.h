#pragma once

#include <QString>
#include <optional>

#include "core/checksums/checksum.h"
#include "engine/http/response_head.h"

struct DownloadRecord;

// A checksum a server sent with the file itself, and the header it came in.
struct HeaderChecksum {
    Checksum checksum;
    QString source;  // "Repr-Digest" or "Digest"
};

// Reads an answer's head for the whole file's digest: the Repr-Digest field (RFC 9530: a
// dictionary of byte sequences, "sha-256=:BASE64:"; SHA-256 and SHA-512 only) before the older
// Digest (RFC 3230: "SHA-256=BASE64"; MD5, SHA, SHA-256, SHA-512). Of several digests in one
// field the strongest is taken. Content-Digest is not read: it covers only the part sent.
std::optional<HeaderChecksum> ChecksumFromHead(const ResponseHead& head);

// The probe's part: keeps the head's checksum in the entry's note, unless it has one already
// (given, or found before), and marks the server searched once it has one.
void NoteHeaderChecksum(DownloadRecord& r, const ResponseHead& head);
