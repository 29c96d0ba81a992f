#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

// The digests a file may be checked with, weakest first.
enum class DigestKind : std::uint8_t { Md5, Sha1, Sha256, Sha512 };

// An expected or computed digest: its kind and its value in lower-case hexadecimal.
struct Checksum {
    DigestKind kind = DigestKind::Sha256;
    QString hex;

    bool valid() const;
    friend bool operator==(const Checksum&, const Checksum&) = default;
};

// "md5", "sha-1", "sha-256", "sha-512": the names the user writes and the stored form uses.
QString DigestToken(DigestKind kind);
// "MD5", "SHA-1", "SHA-256", "SHA-512": for people.
QString DigestName(DigestKind kind);
// Hexadecimal digits of a value of this kind: 32, 40, 64, 128.
int DigestHexLength(DigestKind kind);
// The kind a token names, with or without its hyphen, in any case ("SHA256", "sha-1").
std::optional<DigestKind> DigestKindOf(QStringView token);

// What a user typed or pasted: "sha-256=HEX" (also "sha256:HEX" or "SHA-256 HEX"), or bare
// hexadecimal whose length says the kind (32 MD5, 40 SHA-1, 64 SHA-256, 128 SHA-512). Blanks
// around it are ignored, the digits may be of either case. Nothing for anything else, a named
// kind with the wrong number of digits included.
std::optional<Checksum> ParseChecksum(QStringView text);
// "sha-256=HEX", which ParseChecksum reads back.
QString ChecksumText(const Checksum& checksum);
