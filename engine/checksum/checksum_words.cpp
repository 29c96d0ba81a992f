#include "engine/checksum/checksum_words.h"

QString ChecksumSourceWords(const ChecksumNote& note) {
    if (note.given()) {
        return QStringLiteral("the given checksum");
    }
    if (note.source == u"Repr-Digest" || note.source == u"Digest") {
        return QStringLiteral("the %1 header").arg(note.source);
    }
    return note.source;
}

QString ChecksumWords(const ChecksumNote& note) {
    const QString kind = DigestName(note.expected.kind);
    switch (note.outcome) {
        case ChecksumNote::Outcome::Unchecked:
            return {};
        case ChecksumNote::Outcome::Matches:
            return QStringLiteral("%1 matches %2").arg(kind, ChecksumSourceWords(note));
        case ChecksumNote::Outcome::Failed:
            return QStringLiteral("checksum failed: %1 from %2 should be %3, the file's is %4")
                .arg(kind, ChecksumSourceWords(note), note.expected.hex, note.actual);
        case ChecksumNote::Outcome::NoneFound:
            return QStringLiteral("no checksum found");
        case ChecksumNote::Outcome::Unreadable:
            return QStringLiteral("the file could not be read for its checksum: %1")
                .arg(note.actual);
    }
    return {};
}
