#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "archive/remote/remote_archive.h"
#include "archive/target_folder.h"
#include "archive/unzip_archive.h"
#include "archive/zip_directory.h"
#include "core/settings/settings.h"
#include "core/types/unique_fd.h"

class VelmoraSockets;
class UnzipPrompts;
class ProxyResolver;
class ZipRangeRequest;
class MemberCheck;
class RawInflater;

// Fetches chosen members of a remote archive alone, one after another, without the rest of the
// archive: each member's local header, then its compressed bytes, by range requests; stored
// and deflated members are inflated as they arrive and written under a temporary name in the
// target folder, which takes the member's name only when its length and CRC-32 match the
// directory's. Names are checked as extraction checks them; nothing lands outside the folder.
// Encrypted members and other methods are skipped with a message.
class ZipMemberFetch : public QObject {
    Q_OBJECT
public:
    // `resolver`: where the proxy route comes from; none: the settings' proxies.
    ZipMemberFetch(VelmoraSockets& sockets, const Settings& settings, UnzipPrompts& prompts,
                   QObject* parent = nullptr, ProxyResolver* resolver = nullptr);
    ~ZipMemberFetch() override;  // aborts, removing a half-written member

    // `recreateFolders` as in UnzipOptions; an existing file is replaced only as `prompts`
    // answer (or always, with `overwriteExisting`).
    void Start(const RemoteArchive& archive, const QList<ZipEntry>& members,
               const QString& targetFolder, bool recreateFolders, bool overwriteExisting);
    // Stops at once, removing a half-written member; no signal follows.
    void Abort();
    // How long the connection may stay silent (30 s); tests wait less. Before Start.
    void setNoAnswerWait(std::chrono::milliseconds wait);

signals:
    // Compressed bytes of all chosen members received so far, of `total`.
    void progress(qint64 done, qint64 total);
    // Every member was fetched or skipped; the result is worded like an extraction's
    // (code, messages, members written).
    void finished(const UnzipResult& result);
    // The server or the connection failed; members already written stay.
    void failed(const RemoteArchiveFailure& failure);

private:
    // Why the data of the member being fetched stopped coming in before its end.
    enum class DataStop { None, Overflow, BadData, WriteFailed };

    void nextLater();
    // Takes the members in turn until one needs the network, or none is left.
    void next();
    // Whether the member is fetched; else it was dealt with (folder, skipped).
    bool prepare(const ZipEntry& member);
    bool replaceExisting(const QString& shown, const struct stat& existing, const QString& name);
    void fetchHeader(qint64 length);
    void headerArrived();
    void fetchData(qint64 dataStart);
    bool takeData(const char* bytes, qsizetype length);
    bool writeOut(const char* bytes, size_t length);
    void dataStopped();
    void dataArrived();
    void endMember();
    void progressLater();
    void skip(const QString& name, const QString& why);
    void damaged(const QString& name, const QString& why);
    void finish();
    void fail(const RemoteArchiveFailure& failure);
    int finalCode() const;

    UnzipPrompts& prompts_;
    const Settings& settings_;
    Settings startSettings_;  // as they were at Start: every read goes the same way
    const std::unique_ptr<ZipRangeRequest> request_;
    RemoteArchive archive_;
    QList<ZipEntry> members_;
    QString targetFolder_;
    bool recreateFolders_ = true;
    bool overwriteExisting_ = false;
    std::optional<TargetFolder> target_;
    qsizetype index_ = 0;
    bool running_ = false;
    std::uint64_t generation_ = 0;  // continuations of an aborted fetch do nothing
    UnzipResult result_;
    ReplaceQuestions replaceQuestions_{prompts_};
    int warnings_ = 0;
    int errors_ = 0;
    int unsupported_ = 0;
    qint64 done_ = 0;
    qint64 total_ = 0;
    bool progressDue_ = false;

    // The member being fetched. The folder goes after the file written in it.
    QByteArray leaf_;
    qint64 headerLength_ = 0;
    UniqueFd folder_;
    std::optional<PendingFile> out_;
    std::unique_ptr<MemberCheck> check_;
    std::unique_ptr<RawInflater> inflater_;
    DataStop dataStop_ = DataStop::None;
    int writeError_ = 0;
};
