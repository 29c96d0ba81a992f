#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>

#include "core/types/unique_fd.h"

// An update package read once, through one descriptor, into memory of its own that is then
// sealed against every change. The signature is checked on these bytes and the unpacker reads
// these same bytes: whatever happens to the downloaded file meanwhile (replaced, rewritten in
// place) cannot reach what is installed.
class SealedPackage {
public:
    // Empty, with `why`, when the file cannot be read or is larger than MaxPackageBytes.
    static std::optional<SealedPackage> Read(const QString& path, QString* why);

    SealedPackage(SealedPackage&& other) noexcept;
    SealedPackage& operator=(SealedPackage&&) = delete;
    SealedPackage(const SealedPackage&) = delete;
    SealedPackage& operator=(const SealedPackage&) = delete;
    ~SealedPackage();

    QByteArrayView bytes() const;
    // The name the unpacker opens the sealed copy by ("/proc/self/fd/N"): it reads archives by
    // name, and this one names memory no one can write.
    QString path() const;

private:
    SealedPackage(UniqueFd memory, const uchar* mapped, qint64 size);

    UniqueFd memory_;
    const uchar* mapped_ = nullptr;  // read-only, `size_` bytes; none when the file is empty
    qint64 size_ = 0;
};
