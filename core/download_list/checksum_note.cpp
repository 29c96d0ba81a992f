#include "core/download_list/checksum_note.h"

#include <QStringList>

#include "core/download_list/record_notes.h"
#include "core/download_list/records.h"

namespace {

// "ck1;EXPECTED;SOURCE;OUTCOME;LOOKED;ACTUAL;SHA256", the free texts encoded.
constexpr QLatin1StringView kTag{"ck1"};
constexpr QChar kSeparator = u';';

}  // namespace

ChecksumNote ReadChecksumNote(const DownloadRecord& r) {
    ChecksumNote note;
    const QStringList fields = ReadRecordNote(r, RecordNoteMark::ChecksumNote).split(kSeparator);
    if (fields.size() != 7 || fields[0] != kTag) {
        return note;
    }
    if (const std::optional<Checksum> expected = ParseChecksum(fields[1])) {
        note.expected = *expected;
    }
    note.source = NoteDecoded(fields[2]);
    const int outcome = fields[3].toInt();
    if (outcome >= 0 && outcome <= static_cast<int>(ChecksumNote::Outcome::Unreadable)) {
        note.outcome = static_cast<ChecksumNote::Outcome>(outcome);
    }
    note.looked = fields[4] == u'1';
    note.actual = NoteDecoded(fields[5]);
    note.sha256 = fields[6];
    return note;
}

void KeepChecksumNote(DownloadRecord& r, const ChecksumNote& note) {
    if (note == ChecksumNote{}) {
        KeepRecordNote(r, RecordNoteMark::ChecksumNote, {});
        return;
    }
    const QString text =
        QStringList{kTag,
                    note.expected.valid() ? ChecksumText(note.expected) : QString(),
                    NoteEncoded(note.source),
                    QString::number(static_cast<int>(note.outcome)),
                    note.looked ? QStringLiteral("1") : QStringLiteral("0"),
                    NoteEncoded(note.actual),
                    note.sha256}
            .join(kSeparator);
    KeepRecordNote(r, RecordNoteMark::ChecksumNote, text);
}
