#pragma once

#include <QString>
#include <cstdint>

class TextTable;

// The engine's words for a folder that cannot take a download; `FormatSize` words the sizes.
inline constexpr char kNotEnoughSpace[] = "not enough space in %1: %2 needed, %3 free";

// Gives the part file at `path` room on the disk for `size` bytes before the
// first byte arrives, so that a disk that lacks it says so now rather than at 90 %, and a disk
// filled by another program meanwhile cannot stop the download. Empty when the room is there,
// or when the file system cannot set it aside (the writes then find out); else the reason.
QString ReserveRoom(const QString& path, std::int64_t size, const TextTable& texts);
