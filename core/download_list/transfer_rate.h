#pragma once

#include <optional>

struct DownloadRecord;

// A download's rate, as every figure of it shows (its window, its time left, the status line's
// sum, brenloft-get's line): the bytes done over the seconds spent transferring them. Nothing
// until a second of transfer is counted: the first reads come from what the socket buffered
// while the request was on its way, and a megabyte over a few milliseconds would read as
// hundreds of megabytes a second, with no time left.
std::optional<double> TransferRate(const DownloadRecord& r);

// The seconds the rest of the file takes at that rate; nothing while the rate is unknown.
std::optional<double> TransferTimeLeft(const DownloadRecord& r);
