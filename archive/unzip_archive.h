#pragma once

#include <QString>
#include <QStringList>

#include "archive/unzip_options.h"
#include "archive/unzip_prompts.h"

// Results, as the unzip library numbers them; a nonzero one is shown to the user as the bare
// number, with the messages beside it.
namespace UnzipCode {
inline constexpr int kOk = 0;
inline constexpr int kWarning = 1;        // some members skipped (unsafe, link, no password)
inline constexpr int kError = 2;          // a damaged member; the others were extracted
inline constexpr int kNotAZip = 9;        // the archive cannot be opened or read
inline constexpr int kBadParameter = 10;  // an option this program does not support
inline constexpr int kNotFound = 11;      // an include name matched no member
inline constexpr int kDiskFull = 50;      // the members need more room than the folder has
inline constexpr int kUnsupported = 81;   // a compression or encryption method unknown here
inline constexpr int kBadPassword = 82;   // nothing extracted, for want of a right password
}  // namespace UnzipCode

struct UnzipResult {
    int code = UnzipCode::kOk;
    QStringList messages;  // plain texts for the user, one per skipped member or stop
    QStringList members;   // names extracted (or listed, or tested), in archive order
};

// Extracts (or lists, or tests) options.archivePath into options.targetFolder. Nothing is
// written outside that folder: unsafe names, links and devices are skipped; each file is
// written under a temporary name and takes its own only when its length and CRC-32 match.
UnzipResult UnzipArchive(const UnzipOptions& options, UnzipPrompts& prompts);
