#pragma once

#include <QColor>
#include <QString>

#include "core/download_list/checksum_note.h"

class TextTable;

// A download's checksum result in the interface's language, as the finished list, the preview's
// details and the status line show it.

// Where the expected checksum came from: "SHA256SUMS", "the Repr-Digest header", "the given
// checksum".
QString ChecksumSourceText(const ChecksumNote& note, const TextTable& texts);
// The details' line: "SHA-256 matches SHA256SUMS", "Checksum failed: SHA-256 from SHA256SUMS
// should be X, the file's is Y", "No checksum found", or why the file could not be read. Empty
// while unchecked.
QString ChecksumLine(const ChecksumNote& note, const TextTable& texts);
// The finished list's mark: "✓ SHA-256" for a match, "Checksum failed", else nothing.
QString ChecksumMark(const ChecksumNote& note, const TextTable& texts);
// "Checking SHA-256 of big.iso: 45 %".
QString HashingText(DigestKind kind, const QString& fileName, int percent, const TextTable& texts);
// The red a failed checksum is written in, readable on light and dark lists alike.
QColor ChecksumFailedColor();
