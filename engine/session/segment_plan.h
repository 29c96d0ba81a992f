#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

struct DownloadRecord;
struct SegmentRecord;

// How many segments a download of `fileSize` bytes gets: 1 below 50,000 bytes, 2 below
// 300,000, else 8, never more than `maxSegments` (taken as 1..8), and 1 without range support
// or with the speed limiter on.
int PlannedSegmentCount(std::int64_t fileSize, int maxSegments, bool rangesSupported,
                        bool limiterOn);

// Plans `count` segments over the record's FileSize (the first takes the remainder), all
// writing into one part file "<tempFolder><name><nnn>.tmp", a number no existing file uses.
void PlanSegments(DownloadRecord& record, int count, std::int32_t tick, const QString& tempFolder);

// Creates, empty and private, the first part file "<stem><nnn>.tmp" from number `counter` up
// that neither exists nor is named in `inUse`, and returns its path; `counter` ends past it.
QString ClaimPartFile(const QString& stem, int& counter, const QStringList& inUse = {});
// The same name, not created: for a part the list must name before it exists.
QString FreePartFileName(const QString& stem, int& counter, const QStringList& inUse);
// Creates the part file empty and private; false when it exists already (another took it).
bool CreatePartFile(const QString& path);

// The part-file name stem for a download's file name: a plain name short enough that the
// number and ".tmp" still fit a file name.
QString PartFileStem(const QString& fileName);

// Debug builds check what the transfer relies on: the plan covers the file from byte 0 with
// neither gap nor overlap, and each segment with a range keeps its position and what it
// received within that range.
void CheckSegmentRanges(const DownloadRecord& record);
void CheckSegmentRange(const SegmentRecord& segment);
