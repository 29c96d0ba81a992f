#pragma once

#include <QString>

#include "core/download_list/download_list.h"
#include "core/urls/parse_url.h"

// The list's side of adding a download, shared by every front end: finding an entry for the
// same address, picking a slot and filling it. Prompts, windows and starting the session are
// the caller's.

// The largest slot number the 16-bit count can reach.
constexpr int MaxDownloadSlots = 32767;

// The first slot in the list (Active -1) whose Url equals the encoded address, compared
// upper-cased; 0 when there is none. Removed entries never count.
int FindActiveDuplicate(const DownloadListState& list, const QString& encodedUrl);

// The lowest slot whose entry was removed (Active 0), else a new empty slot at the end; 0 when
// the list is full and nothing can be reused. Growing adds one slot: callers keeping arrays
// parallel to the list grow them to DownloadCount + 1 as well.
int ChooseFreeSlot(DownloadListState& list);

// Makes the slot a new download of the parsed address. Statistics, state flags and segments
// start over; fields no one resets on a new download keep what the slot held. A non-empty
// chosenSavePath becomes the target. A slot still in the list that MarkFetchAgain marked keeps
// its mark and target; any other slot loses a mark left from earlier.
void FillNewRecord(DownloadRecord& record, const ParsedUrl& parsed, const QString& encodedUrl,
                   int updateFlag, const QString& chosenSavePath);

// Nothing received any more: the bytes, the share, the time spent and the time left start over.
void ForgetTransfer(DownloadRecord& record);

// The record's address and what it is made of (host, port, path, protocol, the login it carries)
// become those of `encodedUrl`; nothing else of the record changes.
void TakeAddress(DownloadRecord& record, const ParsedUrl& parsed, const QString& encodedUrl);

// Marks a finished entry that the user chose to download again, before FillNewRecord: its new
// file replaces the one it made before, at the same path when it had one.
void MarkFetchAgain(DownloadRecord& record);

// Entries in the list with a download window transferring them now.
int CountRunning(const DownloadListState& list);
