// Brenloft's own methods beside aria2's, under the "brenloft." prefix that no aria2 client
// calls: a download's checksum result, an archive's table of contents (read from the server
// before the file is whole), and a checked change of address for an expired link.

#include <QJsonArray>
#include <QJsonObject>

#include "archive/remote/preview_failure_text.h"
#include "archive/remote/zip_preview_reader.h"
#include "archive/zip_directory.h"
#include "core/download_list/checksum_note.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "engine/address_change/address_changes.h"
#include "engine/engine_context.h"
#include "rpc/aria2_dispatch.h"
#include "rpc/entry_status.h"

namespace {

QString OutcomeWord(ChecksumNote::Outcome outcome) {
    switch (outcome) {
        case ChecksumNote::Outcome::Unchecked:
            return QStringLiteral("unchecked");
        case ChecksumNote::Outcome::Matches:
            return QStringLiteral("matches");
        case ChecksumNote::Outcome::Failed:
            return QStringLiteral("failed");
        case ChecksumNote::Outcome::NoneFound:
            return QStringLiteral("none found");
        case ChecksumNote::Outcome::Unreadable:
            return QStringLiteral("unreadable");
    }
    return {};
}

QJsonArray Members(const QList<ZipEntry>& entries) {
    QJsonArray members;
    for (const ZipEntry& e : entries) {
        members.append(QJsonObject{
            {QStringLiteral("path"), e.name},
            {QStringLiteral("length"), QString::number(e.uncompressedSize)},
            {QStringLiteral("compressedLength"), QString::number(e.compressedSize)},
            {QStringLiteral("modified"), e.modified().toString(Qt::ISODate)},
        });
    }
    return members;
}

}  // namespace

QJsonValue Aria2Dispatch::checksumOf(const RpcParams& params) {
    const ChecksumNote note = ReadChecksumNote(ctx_.list.DownloadList.at(slotAt(params, 0)));
    return QJsonObject{
        {QStringLiteral("expected"),
         note.expected.valid() ? ChecksumText(note.expected) : QString()},
        {QStringLiteral("source"), note.source},
        {QStringLiteral("result"), OutcomeWord(note.outcome)},
        {QStringLiteral("actual"), note.actual},
        {QStringLiteral("sha256"), note.sha256},
    };
}

void Aria2Dispatch::zipContents(const RpcParams& params, const Answer& answer) {
    QString gid;
    const DownloadRecord& r = ctx_.list.DownloadList.at(slotAt(params, 0, &gid));
    if (StateOf(r) == ListEntryState::Finished) {
        // Whole on the disk: read there, nothing asked of the server.
        const QString path = EntryFiles(r, ctx_.settings.DownloadFolder)[0][u"path"].toString();
        const ZipDirectoryResult read = ReadZipDirectoryFile(path);
        if (!read.ok()) {
            throw RpcFailure{1, read.error};
        }
        answer(Members(read.entries));
        return;
    }
    if (r.Protocol == Protocol::Ftp || r.FileSize.bytes() <= 0) {
        throw RpcFailure{1, QStringLiteral("GID#%1: the archive's contents can be read from "
                                           "an http:// or https:// server once its size is "
                                           "known")
                                .arg(gid)};
    }
    auto* reader = new ZipPreviewReader(ctx_.sockets, ctx_.settings, &helpers_, ctx_.proxyResolver);
    QObject::connect(reader, &ZipPreviewReader::listed, reader, [reader, answer] {
        answer(Members(reader->entries()));
        reader->deleteLater();
    });
    QObject::connect(reader, &ZipPreviewReader::failed, reader,
                     [this, reader, answer](const RemoteArchiveFailure& failure) {
                         answer(RpcFailure{1, PreviewFailureText(failure, ctx_.texts)});
                         reader->deleteLater();
                     });
    reader->Start(RemoteArchive::fromRecord(r));
}

void Aria2Dispatch::changeAddress(const RpcParams& params, const Answer& answer) {
    QString gid;
    const int slot = slotAt(params, 0, &gid);
    const QString url = params.text(1);
    if (!addressChanges_) {
        addressChanges_ = std::make_unique<AddressChanges>(ctx_, queue_);
    }
    const bool started =
        addressChanges_->Start(slot, url, [this, answer](const SameFileVerdict& verdict) {
            if (verdict.same()) {
                answer(QStringLiteral("OK"));
            } else {
                answer(RpcFailure{1, QStringLiteral("The new address was refused: %1")
                                         .arg(VerdictWords(verdict, ctx_.texts))});
            }
        });
    if (!started) {
        throw RpcFailure{1, QStringLiteral("GID#%1 is not an unfinished download, or its new "
                                           "address is being checked already")
                                .arg(gid)};
    }
}
