#pragma once

#include <QString>
#include <cstdint>

struct DownloadRecord;

// The record's SiteLogins array holds no logins (those live in the list's own table): its
// elements carry what later versions keep per entry, each in the Site text of an element with
// a mark of its own, ASCII only, so that the list file's layout stays and older versions read
// and write them as they are. Marks: 2 earlier addresses, 3 the checksum note, 4 the entry's
// own options, 5 the folder of the file's kind.
namespace RecordNoteMark {
constexpr std::int32_t ChecksumNote = 3;
constexpr std::int32_t EntryOptions = 4;
constexpr std::int32_t KindFolder = 5;
}  // namespace RecordNoteMark

// The text of the element with `mark`; empty when there is none.
QString ReadRecordNote(const DownloadRecord& r, std::int32_t mark);
// Replaces the element with `mark` by one holding `text`, or takes it away when `text` is
// empty.
void KeepRecordNote(DownloadRecord& r, std::int32_t mark, const QString& text);

// Percent-encoding of a free text, so that the note stays ASCII in any locale.
QString NoteEncoded(const QString& text);
QString NoteDecoded(const QString& text);
