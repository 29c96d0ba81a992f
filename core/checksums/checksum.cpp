#include "core/checksums/checksum.h"

#include <QRegularExpression>
#include <array>

namespace {

struct KindName {
    DigestKind kind;
    QLatin1StringView token;
    QLatin1StringView name;
    int hexLength;
};

constexpr std::array<KindName, 4> kKinds{{
    {DigestKind::Md5, QLatin1StringView("md5"), QLatin1StringView("MD5"), 32},
    {DigestKind::Sha1, QLatin1StringView("sha-1"), QLatin1StringView("SHA-1"), 40},
    {DigestKind::Sha256, QLatin1StringView("sha-256"), QLatin1StringView("SHA-256"), 64},
    {DigestKind::Sha512, QLatin1StringView("sha-512"), QLatin1StringView("SHA-512"), 128},
}};

const KindName& Of(DigestKind kind) {
    return kKinds[static_cast<std::size_t>(kind)];
}

bool AllHex(QStringView text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F'))) {
            return false;
        }
    }
    return !text.isEmpty();
}

std::optional<Checksum> Make(DigestKind kind, QStringView hex) {
    if (hex.size() != DigestHexLength(kind) || !AllHex(hex)) {
        return std::nullopt;
    }
    return Checksum{kind, hex.toString().toLower()};
}

}  // namespace

bool Checksum::valid() const {
    return hex.size() == DigestHexLength(kind) && AllHex(hex);
}

QString DigestToken(DigestKind kind) {
    return Of(kind).token;
}

QString DigestName(DigestKind kind) {
    return Of(kind).name;
}

int DigestHexLength(DigestKind kind) {
    return Of(kind).hexLength;
}

std::optional<DigestKind> DigestKindOf(QStringView token) {
    QString bare = token.trimmed().toString().toLower();
    bare.remove(u'-');
    bare.remove(u'_');
    for (const KindName& k : kKinds) {
        if (QString(k.token).remove(u'-') == bare) {
            return k.kind;
        }
    }
    return std::nullopt;
}

std::optional<Checksum> ParseChecksum(QStringView text) {
    const QStringView trimmed = text.trimmed();
    const qsizetype split = trimmed.indexOf(QRegularExpression(QStringLiteral("[=: \t]")));
    if (split < 0) {
        for (const KindName& k : kKinds) {
            if (trimmed.size() == k.hexLength) {
                return Make(k.kind, trimmed);
            }
        }
        return std::nullopt;
    }
    const std::optional<DigestKind> kind = DigestKindOf(trimmed.first(split));
    if (!kind) {
        return std::nullopt;
    }
    return Make(*kind, trimmed.sliced(split + 1).trimmed());
}

QString ChecksumText(const Checksum& checksum) {
    return DigestToken(checksum.kind) + u'=' + checksum.hex;
}
