#include "engine/files/part_files.h"

#include <QFile>

#include "core/download_list/records.h"

void DeletePartFiles(const DownloadRecord& record) {
    for (int i = 1; i <= record.SegmentCount; ++i) {
        const SegmentRecord* segment = record.Segments.at(i);
        if (segment != nullptr && segment->PartFile.endsWith(QLatin1String(".tmp"))) {
            QFile::remove(segment->PartFile);
        }
    }
}
