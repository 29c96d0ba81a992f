#include "engine/checksum/digest_headers.h"

#include <QByteArray>
#include <QStringList>

#include "core/download_list/checksum_note.h"

namespace {

// A value in base64 (what both fields send) or, as some servers write it, in hexadecimal;
// nothing unless its length fits the kind.
std::optional<Checksum> Value(DigestKind kind, QString text) {
    text = text.trimmed();
    if (text.size() == DigestHexLength(kind)) {
        if (const std::optional<Checksum> hex = ParseChecksum(text); hex && hex->kind == kind) {
            return hex;
        }
    }
    const QByteArray::FromBase64Result bytes = QByteArray::fromBase64Encoding(
        text.toLatin1(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!bytes || bytes.decoded.size() * 2 != DigestHexLength(kind)) {
        return std::nullopt;
    }
    return Checksum{kind, QString::fromLatin1(bytes.decoded.toHex())};
}

// The strongest digest of a list of "name=value" members, each read by `read`.
template <typename Read>
std::optional<Checksum> Strongest(const QString& field, Read read) {
    std::optional<Checksum> best;
    for (const QString& member : field.split(u',', Qt::SkipEmptyParts)) {
        const qsizetype equals = member.indexOf(u'=');
        if (equals <= 0) {
            continue;
        }
        // Parameters (";q=...") follow a structured field's value.
        const QString value = member.mid(equals + 1).section(u';', 0, 0);
        const std::optional<Checksum> found = read(member.left(equals).trimmed().toLower(), value);
        if (found && (!best || found->kind > best->kind)) {
            best = found;
        }
    }
    return best;
}

// Repr-Digest: "sha-256=:BASE64:"; the registry marks every other algorithm insecure.
std::optional<Checksum> ReprMember(const QString& name, const QString& value) {
    const QString bytes = value.trimmed();
    if (bytes.size() < 2 || !bytes.startsWith(u':') || !bytes.endsWith(u':')) {
        return std::nullopt;
    }
    if (name != u"sha-256" && name != u"sha-512") {
        return std::nullopt;
    }
    return Value(*DigestKindOf(name), bytes.mid(1, bytes.size() - 2));
}

// Digest: "SHA-256=BASE64"; "SHA" is SHA-1.
std::optional<Checksum> DigestMember(const QString& name, const QString& value) {
    const std::optional<DigestKind> kind =
        name == u"sha" ? std::optional(DigestKind::Sha1) : DigestKindOf(name);
    return kind ? Value(*kind, value) : std::nullopt;
}

}  // namespace

std::optional<HeaderChecksum> ChecksumFromHead(const ResponseHead& head) {
    if (const std::optional<Checksum> repr = Strongest(head.reprDigest, ReprMember)) {
        return HeaderChecksum{*repr, QStringLiteral("Repr-Digest")};
    }
    if (const std::optional<Checksum> digest = Strongest(head.digest, DigestMember)) {
        return HeaderChecksum{*digest, QStringLiteral("Digest")};
    }
    return std::nullopt;
}

void NoteHeaderChecksum(DownloadRecord& r, const ResponseHead& head) {
    ChecksumNote note = ReadChecksumNote(r);
    if (note.expected.valid()) {
        return;
    }
    if (const std::optional<HeaderChecksum> found = ChecksumFromHead(head)) {
        note.expected = found->checksum;
        note.source = found->source;
        note.looked = true;  // the headers come first: the files need not be asked for
        KeepChecksumNote(r, note);
    }
}
