#pragma once

#include <QByteArray>
#include <QString>

#include "core/download_list/download_list.h"

// The byte image of the list file, and nothing else: magic, counts and records, little-endian,
// packed. Every read is bounded by the bytes that remain, so a damaged or hostile file loads
// the whole records it holds and nothing more.
QByteArray EncodeListFile(const DownloadListState& list);

// Fills `list` from `bytes`. Records that are cut off or malformed are dropped together with
// everything after them; the counts then say how many slots were read whole. An entry read
// whole whose segment plan cannot be resumed is dropped alone, its slot left free; the result's
// error says which and why.
ListLoadResult DecodeListFile(const QByteArray& bytes, DownloadListState& list);
