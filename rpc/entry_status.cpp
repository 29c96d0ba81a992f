#include "rpc/entry_status.h"

#include <QFileInfo>
#include <cmath>

#include "core/download_list/records.h"
#include "core/download_list/transfer_rate.h"
#include "engine/assembly/target_path.h"
#include "engine/session/failure_words.h"

namespace {

// aria2 reports pieces of a megabyte for a plain download; clients draw their bars from them.
constexpr std::int64_t PieceLength = 1024 * 1024;

QString Number(std::int64_t n) {
    return QString::number(n);
}

bool Asked(ListEntryState state) {
    return state == ListEntryState::Running || state == ListEntryState::Failed ||
           state == ListEntryState::Finished;
}

std::int64_t CompletedBytes(const DownloadRecord& r) {
    return StateOf(r) == ListEntryState::Finished ? r.FileSize.bytes() : r.BytesDone.bytes();
}

int Connections(const DownloadRecord& r) {
    if (StateOf(r) != ListEntryState::Running) {
        return 0;
    }
    int n = 0;
    for (const SegmentRecord& segment : r.Segments.items) {
        n += segment.State == SegmentState::Receiving ? 1 : 0;
    }
    return n;
}

QString FilePath(const DownloadRecord& r, const QString& downloadFolder) {
    return r.HasSavePath == FlagTrue || !r.SavePath.isEmpty() ? r.SavePath
                                                              : TargetPath(r, downloadFolder);
}

}  // namespace

QString Aria2Status(ListEntryState state) {
    switch (state) {
        case ListEntryState::Free:
            return {};
        case ListEntryState::Removed:
            return QStringLiteral("removed");
        case ListEntryState::Queued:
        case ListEntryState::Scheduled:
            return QStringLiteral("waiting");
        case ListEntryState::Running:
            return QStringLiteral("active");
        case ListEntryState::Waiting:
        case ListEntryState::Paused:
            return QStringLiteral("paused");
        case ListEntryState::Failed:
            return QStringLiteral("error");
        case ListEntryState::Finished:
            return QStringLiteral("complete");
    }
    return {};
}

int Aria2ErrorCode(std::int16_t code) {
    switch (code) {
        case 404:
        case 410:
        case FailureCode::FtpReplyBase + 550:
            return 3;
        case FailureCode::ConnectionRefused:
        case FailureCode::HostUnreachable:
        case FailureCode::NoConnection:
        case FailureCode::ClosedWithoutAnswer:
            return 6;
        case FailureCode::NoAnswer:
        case FailureCode::StoppedAnswering:
            return 2;
        case FailureCode::HostNotFound:
            return 19;
        case 401:
        case 407:
        case FailureCode::NeedsLogin:
        case FailureCode::FtpReplyBase + 530:
            return 24;
        default:
            return 1;
    }
}

QJsonArray EntryUris(const DownloadRecord& r) {
    const QString status = Asked(StateOf(r)) ? QStringLiteral("used") : QStringLiteral("waiting");
    return {QJsonObject{{QStringLiteral("uri"), r.Url}, {QStringLiteral("status"), status}}};
}

QJsonArray EntryFiles(const DownloadRecord& r, const QString& downloadFolder) {
    return {QJsonObject{
        {QStringLiteral("index"), QStringLiteral("1")},
        {QStringLiteral("path"), FilePath(r, downloadFolder)},
        {QStringLiteral("length"), Number(r.FileSize.bytes())},
        {QStringLiteral("completedLength"), Number(CompletedBytes(r))},
        {QStringLiteral("selected"), QStringLiteral("true")},
        {QStringLiteral("uris"), EntryUris(r)},
    }};
}

QJsonObject EntryStatus(const DownloadRecord& r, const QString& gid,
                        const QString& downloadFolder) {
    const ListEntryState state = StateOf(r);
    const std::int64_t total = r.FileSize.bytes();
    const double rate = state == ListEntryState::Running ? TransferRate(r).value_or(0) : 0;
    const QString path = FilePath(r, downloadFolder);
    QJsonObject status{
        {QStringLiteral("gid"), gid},
        {QStringLiteral("status"), Aria2Status(state)},
        {QStringLiteral("totalLength"), Number(total)},
        {QStringLiteral("completedLength"), Number(CompletedBytes(r))},
        {QStringLiteral("uploadLength"), QStringLiteral("0")},
        {QStringLiteral("downloadSpeed"), Number(std::llround(rate))},
        {QStringLiteral("uploadSpeed"), QStringLiteral("0")},
        {QStringLiteral("connections"), Number(Connections(r))},
        {QStringLiteral("pieceLength"), Number(PieceLength)},
        {QStringLiteral("numPieces"), Number((total + PieceLength - 1) / PieceLength)},
        {QStringLiteral("dir"), path.isEmpty() ? downloadFolder : QFileInfo(path).path()},
        {QStringLiteral("files"), EntryFiles(r, downloadFolder)},
    };
    // A stopped download tells how it ended, 0 and no words when it did not fail.
    if (state == ListEntryState::Failed || state == ListEntryState::Finished) {
        const std::int16_t code = state == ListEntryState::Failed ? FailureCodeOf(r) : 0;
        status.insert(QStringLiteral("errorCode"),
                      Number(state == ListEntryState::Failed ? Aria2ErrorCode(code) : 0));
        status.insert(QStringLiteral("errorMessage"), FailureWords(code));
    }
    return status;
}

QJsonObject KeepKeys(const QJsonObject& status, const QStringList& keys) {
    if (keys.isEmpty()) {
        return status;
    }
    QJsonObject kept;
    for (const QString& key : keys) {
        if (status.contains(key)) {
            kept.insert(key, status.value(key));
        }
    }
    return kept;
}
