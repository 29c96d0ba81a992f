#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <algorithm>
#include <cstdint>

#include "core/download_list/records.h"

// The whole persistent state of the downloads: slot 0 of each table exists and is never used,
// slots 1..count are. Slots are never removed, only reused.
struct DownloadListState {
    QVector<DownloadRecord> DownloadList{DownloadRecord{}};
    std::int16_t DownloadCount = 0;
    QVector<SiteLogin> SiteLoginList{SiteLogin{}};
    std::int32_t SiteLoginCount = 0;

    DownloadRecord* record(int slot) {
        return slot >= 1 && slot <= DownloadCount && slot < DownloadList.size()
                   ? &DownloadList[slot]
                   : nullptr;
    }
};

// The slots 1..UsedSlots(list) that walking the list visits: DownloadCount, unless the table
// holds fewer (a damaged file, a list being emptied).
inline int UsedSlots(const DownloadListState& list) {
    return std::min<int>(list.DownloadCount, int(list.DownloadList.size()) - 1);
}

// What a list file read produced, besides the tables.
struct ListLoadResult {
    bool recognised = false;  // the file carried the list magic
    bool complete = false;    // every record announced was read whole
    // Empty when the file was read whole (or was absent) and every entry kept; else each
    // problem, "; " between them, for the caller to show.
    QString error;
};

constexpr std::int32_t ListFileMagic = 99970;
constexpr const char* ListFileName = "Brenloft.dat";

// Reads the list file (creating it empty when missing), fixes up removed entries and turns
// entries that were running when the program last stopped into paused ones.
ListLoadResult LoadList(DownloadListState& list, const QString& path);

// Resets the fields of removed entries (Active 0) as a fresh start expects them.
void FixUpAfterLoad(DownloadListState& list, std::int32_t tick, OleDate now);

// Writes the list to a new file beside the old one, syncs it and renames it into place, so the
// previous list survives a crash or a full disk. Mode 0600: the file holds passwords.
// Returns an empty text on success, else why it failed.
QString SaveList(const DownloadListState& list, const QString& path);

// SaveList of a list already encoded with EncodeListFile: the periodic save encodes it anyway
// to see whether it changed, and a full list takes longer to encode than to write.
QString SaveEncodedList(const QByteArray& bytes, const QString& path);
