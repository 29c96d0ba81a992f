#pragma once

#include <QString>
#include <QtGlobal>
#include <utility>

// Spare room on the work folder's disk for the list: a file of reserved bytes beside it, given
// up by a save that finds the disk full. The list written when a download stops at a full disk
// then still says what each segment received, and the same command continues from there
// instead of fetching the file from its first byte again.
class ListReserve {
public:
    explicit ListReserve(QString path) : path_(std::move(path)) {}

    // Makes the spare file hold at least `bytes`; with no room for it, there is none.
    void keep(qint64 bytes);
    // Gives the room back; false when none was kept.
    bool release();

private:
    QString path_;
    qint64 kept_ = 0;
};
