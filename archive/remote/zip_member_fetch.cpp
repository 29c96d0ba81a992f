#include "archive/remote/zip_member_fetch.h"

#include <sys/stat.h>

#include <QPointer>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "archive/member_check.h"
#include "archive/member_path.h"
#include "archive/raw_inflater.h"
#include "archive/remote/zip_range_request.h"
#include "archive/zip_bytes.h"
#include "core/diagnostics/log_categories.h"

namespace {

using Reason = RemoteArchiveFailure::Reason;
using ZipBytes::kLocalHeaderLength;
using ZipBytes::ReadLe;

constexpr quint32 kLocalSignature = 0x04034b50;
// The local header's name and extra field usually match the directory's; room for a longer
// extra field (timestamps, ZIP64 sizes) saves a second read.
constexpr qint64 kLocalHeaderSlack = 256;
constexpr quint16 kStored = 0;
constexpr quint16 kDeflated = 8;

bool IsFolder(const ZipEntry& entry) {
    const bool dosFolder = (entry.madeBy >> 8) == 0 && (entry.externalAttributes & 0x10) != 0;
    return entry.isFolder() || S_ISDIR(entry.unixMode()) || dosFolder;
}

bool Fetched(const ZipEntry& entry) {
    const quint32 type = entry.unixMode() & S_IFMT;
    return entry.nameRefused.isEmpty() && !IsFolder(entry) && !entry.encrypted() &&
           (type == 0 || type == S_IFREG) && (entry.method == kStored || entry.method == kDeflated);
}

}  // namespace

ZipMemberFetch::ZipMemberFetch(VelmoraSockets& sockets, const Settings& settings,
                               UnzipPrompts& prompts, QObject* parent, ProxyResolver* resolver)
    : QObject(parent),
      prompts_(prompts),
      settings_(settings),
      request_(std::make_unique<ZipRangeRequest>(sockets, startSettings_, nullptr, resolver)) {
    connect(request_.get(), &ZipRangeRequest::failed, this, &ZipMemberFetch::fail);
}

ZipMemberFetch::~ZipMemberFetch() {
    Abort();
}

void ZipMemberFetch::setNoAnswerWait(std::chrono::milliseconds wait) {
    request_->setNoAnswerWait(wait);
}

void ZipMemberFetch::Start(const RemoteArchive& archive, const QList<ZipEntry>& members,
                           const QString& targetFolder, bool recreateFolders,
                           bool overwriteExisting) {
    Abort();
    startSettings_ = settings_;
    archive_ = archive;
    members_ = members;
    targetFolder_ = targetFolder;
    recreateFolders_ = recreateFolders;
    overwriteExisting_ = overwriteExisting;
    target_.reset();
    index_ = 0;
    result_ = UnzipResult{};
    replaceQuestions_.reset();
    warnings_ = errors_ = unsupported_ = 0;
    done_ = total_ = 0;
    for (const ZipEntry& member : members_) {
        if (Fetched(member)) {
            // Saturating, as a hostile directory's sizes may overflow a sum.
            total_ =
                qMin(total_ + qint64(qMin<quint64>(member.compressedSize, Q_UINT64_C(1) << 48)),
                     qint64(1) << 62);
        }
    }
    running_ = true;
    const std::uint64_t generation = generation_;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation != generation_) {
            return;
        }
        QString why;
        target_ = TargetFolder::open(targetFolder_, &why);
        if (!target_) {
            fail({Reason::Disk, why});
            return;
        }
        // Checked before a byte is written, as extraction does, so that members declaring
        // more than the folder can hold leave the disk as it was.
        quint64 needed = 0;
        for (const ZipEntry& member : members_) {
            if (Fetched(member)) {
                needed = qMin(needed + qMin<quint64>(member.uncompressedSize, Q_UINT64_C(1) << 62),
                              Q_UINT64_C(1) << 63);
            }
        }
        const quint64 free = target_->freeBytes();
        if (needed > free) {
            fail({Reason::Disk, QStringLiteral("the members need %1 bytes, the folder has %2 free")
                                    .arg(needed)
                                    .arg(free)});
            return;
        }
        next();
    });
}

void ZipMemberFetch::Abort() {
    ++generation_;
    running_ = false;
    request_->Abort();
    endMember();
}

void ZipMemberFetch::endMember() {
    // The file first: it lives in the folder.
    out_.reset();
    folder_.reset();
    check_.reset();
    inflater_.reset();
    dataStop_ = DataStop::None;
}

void ZipMemberFetch::nextLater() {
    const std::uint64_t generation = generation_;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == generation_) {
            next();
        }
    });
}

void ZipMemberFetch::next() {
    while (running_ && index_ < members_.size()) {
        endMember();
        if (prepare(members_[index_])) {
            return;  // its reads are under way
        }
        ++index_;
    }
    if (running_) {
        finish();
    }
}

bool ZipMemberFetch::prepare(const ZipEntry& member) {
    const QString& name = member.name;
    const quint32 type = member.unixMode() & S_IFMT;
    if (type == S_IFLNK) {
        skip(name, QStringLiteral("symbolic link skipped"));
        return false;
    }
    if (type != 0 && type != S_IFREG && type != S_IFDIR) {
        skip(name, QStringLiteral("device or special file skipped"));
        return false;
    }
    QString why = member.nameRefused;
    std::optional<MemberPath> path;
    if (why.isEmpty()) {
        path = SafeMemberPath(name.toUtf8(), &why);
    }
    if (!path) {
        skip(name, QStringLiteral("unsafe name skipped (%1)").arg(why));
        return false;
    }
    if (IsFolder(member)) {
        if (!path->leaf.isEmpty()) {
            path->folders << path->leaf;  // a folder stored without its trailing '/'
        }
        if (recreateFolders_ && !target_->openFolder(path->folders, &why).valid()) {
            skip(name, why);
            return false;
        }
        result_.members << name;
        return false;
    }
    if (member.encrypted()) {
        // A password would have to be checked against data read from the server first; the
        // whole archive, downloaded, is extracted with one.
        skip(name, QStringLiteral("encrypted, skipped: download the whole archive to open it"));
        return false;
    }
    if (member.method != kStored && member.method != kDeflated) {
        result_.messages << QStringLiteral("%1: compression method %2 not supported")
                                .arg(name)
                                .arg(member.method);
        ++unsupported_;
        return false;
    }
    if (member.method == kStored && member.compressedSize != member.uncompressedSize) {
        damaged(name, QStringLiteral("stored, but its two sizes differ"));
        return false;
    }
    if (!recreateFolders_) {
        path->folders.clear();
    }
    folder_ = target_->openFolder(path->folders, &why);
    if (!folder_.valid()) {
        skip(name, why);
        return false;
    }
    if (const std::optional<struct stat> existing = EntryIn(folder_.get(), path->leaf)) {
        const QString shown =
            targetFolder_ + u'/' + (recreateFolders_ ? name : QString::fromUtf8(path->leaf));
        // The question may run the event loop, and the fetch be aborted or deleted meanwhile.
        const QPointer<ZipMemberFetch> self(this);
        const std::uint64_t generation = generation_;
        const bool replace = replaceExisting(shown, *existing, name);
        if (!self || generation != generation_) {
            return true;  // nothing more of this fetch runs
        }
        if (!replace) {
            return false;
        }
    }
    if (member.localHeaderOffset < 0 ||
        member.localHeaderOffset > archive_.fileSize - kLocalHeaderLength) {
        damaged(name, QStringLiteral("its local header would lie outside the file"));
        return false;
    }
    leaf_ = path->leaf;
    const qint64 window = kLocalHeaderLength + name.toUtf8().size() + kLocalHeaderSlack;
    fetchHeader(qMin(window, archive_.fileSize - member.localHeaderOffset));
    return true;
}

// Whether the existing entry gives way to the member, by the option or the user's answer.
bool ZipMemberFetch::replaceExisting(const QString& shown, const struct stat& existing,
                                     const QString& name) {
    if (S_ISDIR(existing.st_mode)) {
        skip(name, QStringLiteral("a folder of that name is in the way"));
        return false;
    }
    if (overwriteExisting_) {
        return true;
    }
    return replaceQuestions_.replace(shown);
}

void ZipMemberFetch::fetchHeader(qint64 length) {
    const ZipEntry& member = members_[index_];
    headerLength_ = length;
    disconnect(request_.get(), &ZipRangeRequest::finished, this, nullptr);
    connect(request_.get(), &ZipRangeRequest::finished, this, &ZipMemberFetch::headerArrived);
    request_->Start(archive_, member.localHeaderOffset, length);
}

void ZipMemberFetch::headerArrived() {
    const ZipEntry& member = members_[index_];
    const QByteArray& header = request_->body();
    if (header.size() < kLocalHeaderLength || ReadLe(header, 0, 4) != kLocalSignature) {
        damaged(member.name, QStringLiteral("no local header where the directory points"));
        ++index_;
        nextLater();
        return;
    }
    const qint64 full =
        kLocalHeaderLength + qint64(ReadLe(header, 26, 2)) + qint64(ReadLe(header, 28, 2));
    if (full > header.size()) {
        if (full > headerLength_ && headerLength_ < archive_.fileSize - member.localHeaderOffset &&
            full <= archive_.fileSize - member.localHeaderOffset) {
            fetchHeader(full);  // a longer extra field than the directory's
            return;
        }
        damaged(member.name, QStringLiteral("its local header runs past the file's end"));
        ++index_;
        nextLater();
        return;
    }
    const qint64 dataStart = member.localHeaderOffset + full;
    if (member.compressedSize > quint64(archive_.fileSize - dataStart)) {
        damaged(member.name, QStringLiteral("its data would run past the file's end"));
        ++index_;
        nextLater();
        return;
    }
    fetchData(dataStart);
}

void ZipMemberFetch::fetchData(qint64 dataStart) {
    const ZipEntry& member = members_[index_];
    QString why;
    out_.emplace(folder_.get(), CreationMode(member.unixMode()), &why);
    if (!out_->valid()) {
        fail({Reason::Disk, QStringLiteral("%1: %2").arg(member.name, why)});
        return;
    }
    check_ = std::make_unique<MemberCheck>(member.uncompressedSize, member.crc32);
    if (member.method == kDeflated) {
        inflater_ = std::make_unique<RawInflater>();
    }
    qCInfo(lcEngine).noquote() << "archive member:" << member.name << member.compressedSize
                               << "bytes at" << dataStart;
    disconnect(request_.get(), &ZipRangeRequest::finished, this, nullptr);
    connect(request_.get(), &ZipRangeRequest::finished, this, &ZipMemberFetch::dataArrived);
    const auto length = qint64(member.compressedSize);
    if (length == 0) {
        dataArrived();  // nothing to ask for
        return;
    }
    request_->Start(archive_, dataStart, length,
                    [this](const char* bytes, qsizetype got) { return takeData(bytes, got); });
}

// Inside a socket handler: nothing here signals or starts a request.
bool ZipMemberFetch::takeData(const char* bytes, qsizetype length) {
    done_ += length;
    progressLater();
    if (!inflater_) {
        writeOut(bytes, size_t(length));
    } else if (inflater_->feed(bytes, size_t(length), [this](const char* out, size_t produced) {
                   return writeOut(out, produced);
               }) == RawInflater::Status::Error) {
        dataStop_ = DataStop::BadData;
    }
    if (dataStop_ == DataStop::None) {
        return true;
    }
    const std::uint64_t generation = generation_;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == generation_) {
            dataStopped();
        }
    });
    return false;
}

bool ZipMemberFetch::writeOut(const char* bytes, size_t length) {
    if (!check_->take(bytes, length)) {
        dataStop_ = DataStop::Overflow;
        return false;
    }
    if (!out_->write(bytes, length)) {
        writeError_ = errno;
        dataStop_ = DataStop::WriteFailed;
        return false;
    }
    return true;
}

void ZipMemberFetch::dataStopped() {
    const ZipEntry& member = members_[index_];
    switch (dataStop_) {
        case DataStop::Overflow:
            // Nothing after a member that overflows its size is trusted either.
            endMember();
            result_.messages << MemberOverflowMessage(member.name);
            ++errors_;
            finish();
            return;
        case DataStop::BadData:
            damaged(member.name, inflater_->error() + QStringLiteral(", not written"));
            break;
        case DataStop::WriteFailed:
            fail({Reason::Disk,
                  QStringLiteral("%1: cannot be written: %2")
                      .arg(member.name, QString::fromLocal8Bit(std::strerror(writeError_)))});
            return;
        case DataStop::None:
            break;
    }
    ++index_;
    next();
}

void ZipMemberFetch::dataArrived() {
    const ZipEntry& member = members_[index_];
    if ((inflater_ && !inflater_->ended()) || !check_->complete()) {
        damaged(member.name, MemberMismatchText() + QStringLiteral(", not written"));
    } else {
        const QDateTime modified = member.modified();
        const time_t when =
            modified.isValid() ? time_t(modified.toSecsSinceEpoch()) : time(nullptr);
        QString why;
        if (out_->commit(leaf_, when, &why)) {
            result_.members << member.name;
        } else {
            skip(member.name, QStringLiteral("cannot be written: %1").arg(why));
        }
    }
    ++index_;
    next();
}

void ZipMemberFetch::progressLater() {
    if (progressDue_) {
        return;
    }
    progressDue_ = true;
    const std::uint64_t generation = generation_;
    QTimer::singleShot(0, this, [this, generation] {
        progressDue_ = false;
        if (generation == generation_ && running_) {
            emit progress(done_, total_);
        }
    });
}

void ZipMemberFetch::skip(const QString& name, const QString& why) {
    result_.messages << QStringLiteral("%1: %2").arg(name, why);
    ++warnings_;
}

void ZipMemberFetch::damaged(const QString& name, const QString& why) {
    result_.messages << QStringLiteral("%1: %2").arg(name, why);
    ++errors_;
}

int ZipMemberFetch::finalCode() const {
    using namespace UnzipCode;
    if (errors_ > 0) {
        return kError;
    }
    if (unsupported_ > 0) {
        return kUnsupported;
    }
    return warnings_ > 0 ? kWarning : kOk;
}

void ZipMemberFetch::finish() {
    running_ = false;
    ++generation_;
    endMember();
    result_.code = finalCode();
    emit finished(result_);
}

void ZipMemberFetch::fail(const RemoteArchiveFailure& failure) {
    qCInfo(lcEngine).noquote() << "archive member fetch: failed:" << failure.detail;
    running_ = false;
    ++generation_;
    request_->Abort();
    endMember();
    emit failed(failure);
}
