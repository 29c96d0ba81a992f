#pragma once

#include <QString>

struct DownloadRecord;

// Why the saved segment plan of `record` cannot be resumed, or an empty text when it can. The
// engine walks segments 1..SegmentCount through the table and writes each part at its own
// offsets, so a count the table does not hold, a negative count, or ranges that are not laid
// end to end from byte 0 would index past the table or write outside a segment.
QString PlanDamage(const DownloadRecord& record);
