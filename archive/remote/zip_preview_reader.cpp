#include "archive/remote/zip_preview_reader.h"

#include <QTimer>

#include "archive/remote/zip_range_request.h"
#include "core/diagnostics/log_categories.h"

namespace {

using Reason = RemoteArchiveFailure::Reason;

// The ZIP64 records before the tail take at most two reads more (the record, then the locator
// it names); a directory that asks for more is taken as damaged.
constexpr int kMaxExtraFetches = 2;

}  // namespace

ZipPreviewReader::ZipPreviewReader(VelmoraSockets& sockets, const Settings& settings,
                                   QObject* parent, ProxyResolver* resolver)
    : QObject(parent),
      settings_(settings),
      zipReader_(std::make_unique<ZipRangeRequest>(sockets, startSettings_, nullptr, resolver)),
      zip_(std::make_unique<ZipRangeRequest>(sockets, startSettings_, nullptr, resolver)) {
    connect(zipReader_.get(), &ZipRangeRequest::finished, this, &ZipPreviewReader::tailArrived);
    connect(zip_.get(), &ZipRangeRequest::finished, this, &ZipPreviewReader::directoryArrived);
    for (ZipRangeRequest* request : {zipReader_.get(), zip_.get()}) {
        connect(request, &ZipRangeRequest::failed, this,
                [this](const RemoteArchiveFailure& failure) {
                    ReadDone = false;
                    emit failed(failure);
                });
    }
}

ZipPreviewReader::~ZipPreviewReader() {
    Abort();
}

void ZipPreviewReader::setNoAnswerWait(std::chrono::milliseconds wait) {
    zipReader_->setNoAnswerWait(wait);
    zip_->setNoAnswerWait(wait);
}

void ZipPreviewReader::Start(const RemoteArchive& archive) {
    if (started_ || aborted_) {
        return;
    }
    started_ = true;
    startSettings_ = settings_;
    archive_ = archive;
    ReadPhase = 1;
    ReadDone = false;
    emit phaseChanged(ReadPhase);
    if (aborted_) {
        return;  // the receiver aborted
    }
    // Without a size no tail can be asked for: the server did not tell it, which servers that
    // answer ranges do.
    if (archive.fileSize <= 0) {
        failLater(Reason::NoRanges, QStringLiteral("the server did not tell the file's size"));
        return;
    }
    if (const ZipTailResult tooShort = FindZipDirectory(archive.fileSize, {});
        tooShort.status == ZipTailResult::Status::Failed) {
        failLater(Reason::Damaged, tooShort.error);
        return;
    }
    const qint64 length = ZipTailLength(archive.fileSize);
    readTail(archive.fileSize - length, length);
}

void ZipPreviewReader::Abort() {
    aborted_ = true;
    zipReader_->Abort();
    zip_->Abort();
}

void ZipPreviewReader::readTail(qint64 first, qint64 length) {
    ReadDone = false;
    zipReader_->Start(archive_, first, length);
}

void ZipPreviewReader::tailArrived() {
    EndRecordBytes.prepend(zipReader_->body());
    ReadDone = true;
    const qint64 size = archive_.fileSize;
    const ZipTailResult found = FindZipDirectory(size, EndRecordBytes);
    switch (found.status) {
        case ZipTailResult::Status::Failed:
            fail(Reason::Damaged, found.error);
            return;
        case ZipTailResult::Status::NeedMore: {
            // Each read must end where the bytes held start and bring something new.
            const qint64 tailStart = size - EndRecordBytes.size();
            if (found.fetchLength <= 0 || found.fetchOffset + found.fetchLength != tailStart ||
                ++extraFetches_ > kMaxExtraFetches) {
                fail(Reason::Damaged,
                     QStringLiteral("the end records ask for more reads than an archive needs"));
                return;
            }
            readTail(found.fetchOffset, found.fetchLength);
            return;
        }
        case ZipTailResult::Status::Found:
            location_ = found.location;
            EntryCount = location_.entryCount;
            DirectorySize = location_.size;
            readDirectory();
            return;
    }
}

void ZipPreviewReader::readDirectory() {
    ReadPhase = 2;
    ReadDone = false;
    qCInfo(lcEngine).noquote() << "archive preview: directory of" << location_.size << "bytes,"
                               << location_.entryCount << "entries at" << location_.offset;
    emit phaseChanged(ReadPhase);
    if (aborted_) {
        return;
    }
    if (location_.size == 0) {
        // An empty archive: nothing to ask for.
        directoryArrived();
        return;
    }
    zip_->Start(archive_, location_.offset, location_.size);
}

void ZipPreviewReader::directoryArrived() {
    DirectoryBytes = location_.size == 0 ? QByteArray() : zip_->body();
    ReadDone = true;
    ZipDirectoryResult directory = ReadZipDirectory(DirectoryBytes, location_, archive_.fileSize);
    if (!directory.ok()) {
        fail(Reason::Damaged, directory.error);
        return;
    }
    entries_ = std::move(directory.entries);
    emit listed();
}

void ZipPreviewReader::fail(RemoteArchiveFailure::Reason reason, const QString& detail) {
    qCInfo(lcEngine).noquote() << "archive preview: failed:" << detail;
    emit failed(RemoteArchiveFailure{reason, detail});
}

void ZipPreviewReader::failLater(RemoteArchiveFailure::Reason reason, const QString& detail) {
    QTimer::singleShot(0, this, [this, reason, detail] {
        if (!aborted_) {
            fail(reason, detail);
        }
    });
}
