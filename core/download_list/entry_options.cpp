#include "core/download_list/entry_options.h"

#include <QStringList>

#include "core/download_list/record_notes.h"

namespace {

// "eo1;SEGMENTS;USER-AGENT", the free text encoded.
constexpr QLatin1StringView kTag{"eo1"};
constexpr QChar kSeparator = u';';

}  // namespace

EntryOptions ReadEntryOptions(const DownloadRecord& r) {
    EntryOptions options;
    const QStringList fields = ReadRecordNote(r, RecordNoteMark::EntryOptions).split(kSeparator);
    if (fields.size() != 3 || fields[0] != kTag) {
        return options;
    }
    const int segments = fields[1].toInt();
    options.segments = segments >= 1 && segments <= 8 ? segments : 0;
    // A header line must not be split by what a client typed.
    options.userAgent = NoteDecoded(fields[2]).remove(u'\r').remove(u'\n');
    return options;
}

void KeepEntryOptions(DownloadRecord& r, const EntryOptions& options) {
    KeepRecordNote(r, RecordNoteMark::EntryOptions,
                   options == EntryOptions{} ? QString()
                                             : QStringList{kTag, QString::number(options.segments),
                                                           NoteEncoded(options.userAgent)}
                                                   .join(kSeparator));
}
