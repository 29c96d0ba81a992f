#include "ui/main_window/checksum_texts.h"

#include "core/text/text_table.h"

QString ChecksumSourceText(const ChecksumNote& note, const TextTable& texts) {
    if (note.given()) {
        return texts.text(1369);
    }
    if (note.source == u"Repr-Digest" || note.source == u"Digest") {
        return texts.text(1370).arg(note.source);
    }
    return note.source;  // a file's name reads the same in every language
}

QString ChecksumLine(const ChecksumNote& note, const TextTable& texts) {
    const QString kind = DigestName(note.expected.kind);
    switch (note.outcome) {
        case ChecksumNote::Outcome::Unchecked:
            return {};
        case ChecksumNote::Outcome::Matches:
            return texts.text(1358).arg(kind, ChecksumSourceText(note, texts));
        case ChecksumNote::Outcome::Failed:
            return texts.text(1359).arg(kind, ChecksumSourceText(note, texts), note.expected.hex,
                                        note.actual);
        case ChecksumNote::Outcome::NoneFound:
            return texts.text(1360);
        case ChecksumNote::Outcome::Unreadable:
            return texts.text(1361).arg(note.actual);
    }
    return {};
}

QString ChecksumMark(const ChecksumNote& note, const TextTable& texts) {
    switch (note.outcome) {
        case ChecksumNote::Outcome::Matches:
            return QStringLiteral("✓ ") + DigestName(note.expected.kind);
        case ChecksumNote::Outcome::Failed:
            return texts.text(1357);
        default:
            return {};
    }
}

QString HashingText(DigestKind kind, const QString& fileName, int percent, const TextTable& texts) {
    return texts.text(1362).arg(DigestName(kind), fileName).arg(percent);
}

QColor ChecksumFailedColor() {
    return {0xd0, 0x20, 0x20};
}
