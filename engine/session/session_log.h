#pragma once

#include <QString>

#include "core/diagnostics/log_categories.h"

// The start of each engine line: which download (its list slot) and which of its connections,
// so that the lines of parallel downloads and segments can be told apart.
inline QString ProbeTag(int download) {
    return QStringLiteral("download %1 probe:").arg(download);
}

inline QString SegmentTag(int download, int segment) {
    return QStringLiteral("download %1 segment %2:").arg(download).arg(segment);
}

inline QString DownloadTag(int download) {
    return QStringLiteral("download %1:").arg(download);
}
