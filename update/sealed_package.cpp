#include "update/sealed_package.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>

#include <QFile>
#include <cerrno>
#include <cstring>
#include <utility>

#include "update/package_signature.h"

namespace {

QString ErrnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Copies the whole of `from` into `to`, in the kernel; -1 when reading or writing failed,
// MaxPackageBytes + 1 when there was more than a package may have.
qint64 CopyAll(int from, int to) {
    qint64 total = 0;
    while (total <= MaxPackageBytes) {
        const ssize_t sent =
            ::sendfile(to, from, nullptr, std::size_t(MaxPackageBytes + 1 - total));
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0) {
            return -1;
        }
        if (sent == 0) {
            break;
        }
        total += sent;
    }
    return total;
}

}  // namespace

std::optional<SealedPackage> SealedPackage::Read(const QString& path, QString* why) {
    const UniqueFd file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!file.valid() || ::fstat(file.get(), &info) != 0) {
        *why = QStringLiteral("cannot read %1: %2").arg(path, ErrnoText());
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        *why = QStringLiteral("%1 is not a file").arg(path);
        return std::nullopt;
    }
    UniqueFd memory(::memfd_create("brenloft-update", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!memory.valid()) {
        *why = QStringLiteral("no memory for %1: %2").arg(path, ErrnoText());
        return std::nullopt;
    }
    const qint64 size = CopyAll(file.get(), memory.get());
    if (size < 0) {
        *why = QStringLiteral("cannot read %1: %2").arg(path, ErrnoText());
        return std::nullopt;
    }
    if (size > MaxPackageBytes) {
        *why = QStringLiteral("%1 has more bytes than an update package may have").arg(path);
        return std::nullopt;
    }
    // Sealed before it is mapped or checked: from here on not even this process can change it.
    constexpr int Seals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
    void* mapped = nullptr;
    if (::fcntl(memory.get(), F_ADD_SEALS, Seals) != 0 ||
        (size > 0 && (mapped = ::mmap(nullptr, std::size_t(size), PROT_READ, MAP_SHARED,
                                      memory.get(), 0)) == MAP_FAILED)) {
        *why = QStringLiteral("cannot keep %1 in memory: %2").arg(path, ErrnoText());
        return std::nullopt;
    }
    return SealedPackage(std::move(memory), static_cast<const uchar*>(mapped), size);
}

SealedPackage::SealedPackage(UniqueFd memory, const uchar* mapped, qint64 size)
    : memory_(std::move(memory)), mapped_(mapped), size_(size) {}

SealedPackage::SealedPackage(SealedPackage&& other) noexcept
    : memory_(std::move(other.memory_)),
      mapped_(std::exchange(other.mapped_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

SealedPackage::~SealedPackage() {
    if (mapped_ != nullptr) {
        ::munmap(const_cast<uchar*>(mapped_), std::size_t(size_));
    }
}

QByteArrayView SealedPackage::bytes() const {
    return QByteArrayView(mapped_, size_);
}

QString SealedPackage::path() const {
    return QStringLiteral("/proc/self/fd/%1").arg(memory_.get());
}
