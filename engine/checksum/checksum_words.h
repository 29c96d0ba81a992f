#pragma once

#include <QString>

#include "core/download_list/checksum_note.h"

// The note's result in the engine's English, for brenloft-get and the log:
// "SHA-256 matches SHA256SUMS", "SHA-256 matches the given checksum",
// "checksum failed: SHA-256 from SHA256SUMS should be EXPECTED, the file's is ACTUAL",
// "no checksum found", "the file could not be read for its checksum: WHY". Empty while
// unchecked.
QString ChecksumWords(const ChecksumNote& note);
// Where it came from, for people: "SHA256SUMS", "the Repr-Digest header", "the given checksum".
QString ChecksumSourceWords(const ChecksumNote& note);
