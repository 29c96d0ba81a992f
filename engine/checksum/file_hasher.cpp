#include "engine/checksum/file_hasher.h"

#include <openssl/evp.h>

#include <QFile>

#include "core/types/tick.h"

namespace {

const EVP_MD* Algorithm(DigestKind kind) {
    switch (kind) {
        case DigestKind::Md5:
            return EVP_md5();
        case DigestKind::Sha1:
            return EVP_sha1();
        case DigestKind::Sha256:
            return EVP_sha256();
        case DigestKind::Sha512:
            return EVP_sha512();
    }
    return EVP_sha256();
}

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

// Progress is told at most this often, and at the end.
constexpr std::int32_t ProgressEveryMs = 250;

}  // namespace

struct FileHasher::Run {
    QFile file;
    std::vector<std::pair<DigestKind, Context>> digests;
    std::int64_t total = 0;
    std::int64_t done = 0;
    std::int32_t lastTold = 0;
    QByteArray buffer;
};

FileHasher::FileHasher(QObject* parent) : QObject(parent) {
    next_.setSingleShot(true);
    next_.setInterval(0);
    connect(&next_, &QTimer::timeout, this, &FileHasher::step);
}

FileHasher::~FileHasher() = default;

bool FileHasher::running() const {
    return run_ != nullptr;
}

void FileHasher::Abort() {
    next_.stop();
    run_.reset();
}

void FileHasher::Start(const QString& path, std::vector<DigestKind> kinds) {
    Abort();
    run_ = std::make_unique<Run>();
    run_->file.setFileName(path);
    for (const DigestKind kind : kinds) {
        Context context(EVP_MD_CTX_new());
        if (context && EVP_DigestInit_ex(context.get(), Algorithm(kind), nullptr) == 1) {
            run_->digests.emplace_back(kind, std::move(context));
        }
    }
    next_.start();
}

void FileHasher::step() {
    if (!run_) {
        return;
    }
    Run& run = *run_;
    FileDigests result;
    if (!run.file.isOpen()) {
        if (!run.file.open(QIODevice::ReadOnly)) {
            result.error = run.file.errorString();
        } else {
            run.total = run.file.size();
            run.buffer.resize(PieceBytes);
            run.lastTold = MillisecondTick();
        }
    }
    if (result.error.isEmpty()) {
        const qint64 got = run.file.read(run.buffer.data(), run.buffer.size());
        if (got < 0) {
            result.error = run.file.errorString();
        } else if (got > 0) {
            for (auto& [kind, context] : run.digests) {
                EVP_DigestUpdate(context.get(), run.buffer.constData(), std::size_t(got));
            }
            run.done += got;
            if (MillisecondTick() - run.lastTold >= ProgressEveryMs) {
                run.lastTold = MillisecondTick();
                emit progress(run.done, std::max(run.total, run.done));
            }
            next_.start();
            return;
        }
    }
    if (result.error.isEmpty()) {
        for (auto& [kind, context] : run.digests) {
            unsigned char value[EVP_MAX_MD_SIZE];
            unsigned int length = 0;
            EVP_DigestFinal_ex(context.get(), value, &length);
            result.hex[kind] = QString::fromLatin1(
                QByteArray(reinterpret_cast<const char*>(value), int(length)).toHex());
        }
        emit progress(run.done, run.done);
    }
    result.bytes = run.done;
    run_.reset();
    emit finished(result);
}
