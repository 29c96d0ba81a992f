#include "engine/files/part_files.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include "core/download_list/download_list.h"
#include "core/download_list/records.h"

void DeletePartFiles(const DownloadRecord& record) {
    for (int i = 1; i <= record.SegmentCount; ++i) {
        const SegmentRecord* segment = record.Segments.at(i);
        if (segment != nullptr && segment->PartFile.endsWith(QLatin1String(".tmp"))) {
            QFile::remove(segment->PartFile);
        }
    }
}

int DeleteUnnamedPartFiles(const DownloadListState& list, const QString& tempFolder) {
    QSet<QString> named;
    for (const DownloadRecord& r : list.DownloadList) {
        for (const SegmentRecord& s : r.Segments.items) {
            if (!s.PartFile.isEmpty()) {
                named.insert(QDir::cleanPath(s.PartFile));
            }
        }
    }
    // The counter is at least three digits (segment_plan.cpp).
    static const QRegularExpression kPartName(QStringLiteral("^.+[0-9]{3,}\\.tmp$"));
    const QDir folder(tempFolder);
    int removed = 0;
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        const QString path = QDir::cleanPath(folder.absoluteFilePath(name));
        if (kPartName.match(name).hasMatch() && !named.contains(path) && QFile::remove(path)) {
            ++removed;
        }
    }
    return removed;
}
