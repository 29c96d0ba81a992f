#include "engine/assembly/assemble_download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "core/diagnostics/log_categories.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/part_layout.h"
#include "core/paths/no_follow_open.h"
#include "core/settings/settings.h"
#include "engine/assembly/antivirus_command.h"
#include "engine/assembly/completion.h"
#include "engine/assembly/file_origin.h"
#include "engine/assembly/target_claim.h"
#include "engine/assembly/target_path.h"
#include "engine/engine_context.h"
#include "engine/files/segment_files.h"

namespace {

constexpr std::int32_t PieceBytes = 1048576;
// Time one turn may spend copying before it lets the event loop run again.
constexpr qint64 TurnBudgetMs = 10;

QString ErrorText(int error) {
    return OpenErrorText(error);
}

// Cuts the part file to `length` bytes; 0 or the errno. Through a descriptor opened without
// following a link, so a link put in a part's place never cuts the file it points at.
int TruncatePart(const QString& path, std::int64_t length) {
    int error = 0;
    const UniqueFd fd = OpenNoFollow(path, O_WRONLY, 0, error);
    if (!fd.valid()) {
        return error;
    }
    return ::ftruncate(fd.get(), static_cast<off_t>(length)) == 0 ? 0 : errno;
}

bool DiskFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

// Size of the file at `path`, or -1 with `error` set.
std::int64_t FileSize(const QString& path, int& error) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        error = errno;
        return -1;
    }
    return st.st_size;
}

struct PartFile {
    QString path;
    std::int64_t length = 0;
};

// One join in progress. It holds a copy of the plan, not a pointer into the list: the list may
// grow (and move) while the event loop runs between pieces. It is kept alive by the pending
// continuation alone and goes away after `done`.
class AssemblyJob : public std::enable_shared_from_this<AssemblyJob> {
public:
    AssemblyJob(EngineContext& ctx, int slot, bool deleteParts,
                std::function<void(const AssemblyResult&)> done, std::int64_t upTo)
        : ctx_(ctx), slot_(slot), deleteParts_(deleteParts), upTo_(upTo), done_(std::move(done)) {}

    ~AssemblyJob() { closeFiles(); }

    void schedule() {
        QTimer::singleShot(0, [self = shared_from_this()] { self->turn(); });
    }

private:
    void turn() {
        if (!started_) {
            started_ = true;
            if (!prepare()) {
                return;
            }
        } else if (!recordStillOurs()) {
            fail(QStringLiteral("download %1 left the list while its file was being built")
                     .arg(slot_));
            return;
        }
        QElapsedTimer clock;
        clock.start();
        do {
            if (part_ == parts_.size()) {
                finish();
                return;
            }
            if (!copyPiece()) {
                return;
            }
        } while (clock.elapsed() < TurnBudgetMs);
        schedule();
    }

    // Works out the target and checks every part file before anything is written, so a
    // missing part never costs the user a file at the target.
    bool prepare() {
        DownloadRecord* record = ctx_.list.record(slot_);
        if (record == nullptr) {
            fail(QStringLiteral("download %1 is not in the list").arg(slot_));
            return false;
        }
        url_ = record->Url;
        const QString base = TargetPath(*record, ctx_.settings.DownloadFolder);
        result_.targetPath = base;
        if (base.isEmpty()) {
            fail(QStringLiteral("no download folder is set for %1").arg(record->FileName));
            return false;
        }
        if (record->HasSavePath != FlagTrue) {
            record->SavePath = base;
        }
        mayReplace_ = record->HasSavePath == FlagTrue || record->Reserved3 == ReplacesEarlierFile;

        for (int i = 1; i <= record->SegmentCount; ++i) {
            const SegmentRecord* segment = record->Segments.at(i);
            if (segment == nullptr || segment->Length.bytes() < 0) {
                fail(QStringLiteral("segment %1 of %2 has no valid plan")
                         .arg(i)
                         .arg(record->FileName));
                return false;
            }
            parts_.push_back(PartFile{segment->PartFile, segment->Length.bytes()});
            plannedLength_ += segment->Length.bytes();
        }
        oneFile_ = InOneFile(*record);
        if (SharesOneFile(*record)) {
            // The segments wrote into one file at their offsets: it is the file already.
            parts_ = {PartFile{parts_[0].path, plannedLength_}};
        }
        for (const PartFile& part : parts_) {
            partPaths_.push_back(part.path);
        }
        if (upTo_ >= 0) {
            keepFirstBytes(upTo_);
        }
        for (const PartFile& part : parts_) {
            // A segment of no bytes has nothing to read, whether or not its file was made.
            if (part.length == 0) {
                continue;
            }
            int error = 0;
            const std::int64_t size = FileSize(part.path, error);
            if (size < 0) {
                fail(QStringLiteral("cannot read part file %1: %2")
                         .arg(part.path, ErrorText(error)));
                return false;
            }
            if (size < part.length) {
                fail(QStringLiteral("part file %1 holds %2 of its %3 bytes")
                         .arg(part.path)
                         .arg(size)
                         .arg(part.length));
                return false;
            }
        }

        if (buildsInFirstPart(base)) {
            return openFirstPartForAppending();
        }
        ClaimedTarget target = ClaimTarget(base, mayReplace_);
        result_.targetPath = target.path;
        if (!target.claimed) {
            fail(claimFailure(target, base));
            return false;
        }
        createdTarget_ = target.created;
        // The descriptor the claim opened, not the name opened again: nothing put under the
        // name since (a link to another file) can receive the bytes.
        output_ = ctx_.files.VelmoraAdoptFile(std::move(target.file));
        return true;
    }

    // Only the first `bytes` are joined: the parts are cut to them, and those behind dropped.
    void keepFirstBytes(std::int64_t bytes) {
        plannedLength_ = 0;
        for (PartFile& part : parts_) {
            part.length = std::min(part.length, bytes - plannedLength_);
            plannedLength_ += part.length;
        }
        while (!parts_.empty() && parts_.back().length == 0) {
            parts_.pop_back();
        }
    }

    // `failure` has the path and the reason as %1 and %2.
    bool openOutput(const QString& path, const QString& failure) {
        output_ = ctx_.files.VelmoraOpenFile(path, SegmentFiles::ModeWrite);
        if (output_ <= 0) {
            output_ = 0;
            fail(failure.arg(path, ErrorText(ctx_.files.lastOpenErrno())));
            return false;
        }
        return true;
    }

    static QString claimFailure(const ClaimedTarget& target, const QString& base) {
        return target.error == EEXIST
                   ? QStringLiteral("cannot create %1: it and its %2 numbered names exist")
                         .arg(base)
                         .arg(MaxNumberedNames)
                   : QStringLiteral("cannot create %1: %2")
                         .arg(target.path, ErrorText(target.error));
    }

    // The other parts are appended to the first, which is renamed to the target once whole:
    // its bytes are never copied, and a join cut short (the program killed, the disk full)
    // leaves every part in place and no file at the target name, so it can simply run again.
    // Only when the parts go away afterwards and the first lies on the target's file system.
    bool buildsInFirstPart(const QString& base) const {
        if (!deleteParts_ || parts_.empty() || parts_[0].length == 0) {
            return false;
        }
        struct stat part {};
        struct stat folder {};
        const QString folderPath = base.left(base.lastIndexOf(u'/') + 1);
        return ::stat(QFile::encodeName(parts_[0].path).constData(), &part) == 0 &&
               ::stat(QFile::encodeName(folderPath.isEmpty() ? QStringLiteral(".") : folderPath)
                          .constData(),
                      &folder) == 0 &&
               part.st_dev == folder.st_dev;
    }

    bool openFirstPartForAppending() {
        const PartFile& first = parts_[0];
        // Bytes past its segment are from a join that was cut short.
        if (const int error = TruncatePart(first.path, first.length); error != 0) {
            fail(QStringLiteral("cannot write part file %1: %2").arg(first.path, ErrorText(error)));
            return false;
        }
        if (!openOutput(first.path, QStringLiteral("cannot write part file %1: %2"))) {
            return false;
        }
        ctx_.files.VelmoraSeekFile(output_, Currency::fromBytes(first.length));
        inFirstPart_ = true;
        part_ = 1;
        return true;
    }

    // Gives the first part file back exactly its own bytes after a failed join.
    void restoreFirstPart() {
        if (inFirstPart_) {
            TruncatePart(parts_[0].path, parts_[0].length);
        }
    }

    bool recordStillOurs() {
        const DownloadRecord* record = ctx_.list.record(slot_);
        return record != nullptr && record->Url == url_;
    }

    // Copies the next piece of the current part, opening and closing part files as it goes.
    bool copyPiece() {
        const PartFile& part = parts_[part_];
        if (copied_ == part.length) {
            closeInput();
            ++part_;
            copied_ = 0;
            return true;
        }
        if (input_ == 0) {
            input_ = ctx_.files.VelmoraOpenFile(part.path, SegmentFiles::ModeRead);
            if (input_ <= 0) {
                input_ = 0;
                fail(QStringLiteral("cannot read part file %1: %2")
                         .arg(part.path, ErrorText(ctx_.files.lastOpenErrno())));
                return false;
            }
        }
        const auto want =
            static_cast<std::int32_t>(std::min<std::int64_t>(PieceBytes, part.length - copied_));
        const std::int64_t got = ctx_.files.VelmoraReadWrite(input_, output_, want);
        if (got != want) {
            const int error = ctx_.files.lastErrno(output_);
            if (DiskFull(error)) {
                fail(QStringLiteral("cannot write %1: disk full").arg(result_.targetPath));
            } else if (error != 0) {
                fail(QStringLiteral("cannot copy part file %1 into %2: %3")
                         .arg(part.path, result_.targetPath, ErrorText(error)));
            } else {
                fail(QStringLiteral("part file %1 ended after %2 of its %3 bytes")
                         .arg(part.path)
                         .arg(copied_ + std::max<std::int64_t>(got, 0))
                         .arg(part.length));
            }
            return false;
        }
        copied_ += got;
        return true;
    }

    void finish() {
        // The list is about to call the file finished and the parts go: its bytes must be on
        // the disk first.
        if (ctx_.settings.SafeDisk == FlagTrue) {
            ctx_.files.VelmoraFlushFile(output_);
        }
        closeFiles();
        const QString built = inFirstPart_ ? parts_[0].path : result_.targetPath;
        int error = 0;
        const std::int64_t size = FileSize(built, error);
        if (size != plannedLength_) {
            fail(size < 0 ? QStringLiteral("cannot check %1: %2").arg(built, ErrorText(error))
                          : QStringLiteral("%1 has %2 bytes instead of %3")
                                .arg(built)
                                .arg(size)
                                .arg(plannedLength_));
            return;
        }
        DownloadRecord* record = ctx_.list.record(slot_);
        if (record == nullptr) {
            fail(QStringLiteral("download %1 left the list while its file was being built")
                     .arg(slot_));
            return;
        }
        if (inFirstPart_) {
            // Marked as ours before it takes the target's name, so that a run killed before the
            // list is saved knows it; where the file system cannot mark it, the list says first
            // that every byte is in.
            if (oneFile_ && !MarkOrigin(built, url_)) {
                saveListNow();
            }
            // Before the rename, so the file never shows under its name with the parts' mode.
            GiveNewFileMode(built);
            const QString base = result_.targetPath;
            const ClaimedTarget placed = MoveIntoPlace(built, base, mayReplace_);
            result_.targetPath = placed.path;
            if (!placed.claimed) {
                fail(claimFailure(placed, base));
                return;
            }
            inFirstPart_ = false;
            movedFirstPart_ = true;
        }
        record->SavePath = result_.targetPath;
        record->FileName = FileNamePart(result_.targetPath);
        MarkFinished(*record);
        // A forced build of part of the download shows how much of it the file holds.
        const std::int64_t whole = record->FileSize.bytes();
        record->Percent = upTo_ < 0 || whole <= 0 || plannedLength_ >= whole
                              ? 100.0f
                              : static_cast<float>(double(plannedLength_) * 100 / whole);
        result_.complete = true;
        result_.built = plannedLength_;
        // The list says so soon, saved once with whatever else happens meanwhile; a program
        // ended before finds the file by its origin. Parts joined by copying are gone only once
        // the list says so, or its next run would fetch the file again.
        if (ctx_.saveListSoon && oneFile_ && movedFirstPart_) {
            ctx_.saveListSoon();
        } else {
            saveListNow();
        }
        if (deleteParts_) {
            // Not the first part's name once it was moved: another download may have it now.
            for (std::size_t i = movedFirstPart_ ? 1 : 0; i < partPaths_.size(); ++i) {
                QFile::remove(partPaths_[i]);  // a part that stays behind harms nothing
            }
        }

        RunAntivirus(ctx_.settings, ctx_.actions, result_.targetPath);
        if (record->IsUpdate == 1 && ctx_.installUpdate) {
            // After the report, from the event loop: the install may end the program.
            QTimer::singleShot(0, [install = ctx_.installUpdate, slot = slot_,
                                   path = result_.targetPath] { install(slot, path); });
        } else {
            RunCompletionActions(ctx_);
        }
        report();
    }

    void saveListNow() {
        if (ctx_.saveList || !ctx_.listPath.isEmpty()) {
            const QString unsaved =
                ctx_.saveList ? ctx_.saveList() : SaveList(ctx_.list, ctx_.listPath);
            if (!unsaved.isEmpty()) {
                qCInfo(lcEngine).noquote() << "list not saved after the join:" << unsaved;
            }
        }
    }

    void fail(const QString& message) {
        closeFiles();
        restoreFirstPart();
        if (createdTarget_) {
            // Nobody else had this name: a short file there would only pass for the download.
            QFile::remove(result_.targetPath);
            createdTarget_ = false;
        }
        result_.complete = false;
        result_.message = message;
        report();
    }

    void report() {
        if (done_) {
            const auto done = std::move(done_);
            done_ = nullptr;
            done(result_);
        }
    }

    void closeInput() {
        if (input_ != 0) {
            ctx_.files.VelmoraCloseFile(input_);
            input_ = 0;
        }
    }

    void closeFiles() {
        closeInput();
        if (output_ != 0) {
            ctx_.files.VelmoraCloseFile(output_);
            output_ = 0;
        }
    }

    EngineContext& ctx_;
    const int slot_;
    const bool deleteParts_;
    const std::int64_t upTo_;  // -1: every planned byte
    std::function<void(const AssemblyResult&)> done_;
    AssemblyResult result_;
    QString url_;
    std::vector<PartFile> parts_;     // what is joined
    std::vector<QString> partPaths_;  // every part file of the download
    std::int64_t plannedLength_ = 0;
    bool started_ = false;
    bool mayReplace_ = false;
    bool createdTarget_ = false;
    bool inFirstPart_ = false;
    bool movedFirstPart_ = false;
    bool oneFile_ = false;  // the download's bytes are in one file, at their offsets
    std::int32_t output_ = 0;
    std::int32_t input_ = 0;
    std::size_t part_ = 0;
    std::int64_t copied_ = 0;
};

}  // namespace

ReceivedBytes ReceivedInOrder(const DownloadRecord& record) {
    const bool oneFile = InOneFile(record);
    ReceivedBytes received;
    bool gap = false;
    for (int i = 1; i <= record.SegmentCount; ++i) {
        const SegmentRecord* segment = record.Segments.at(i);
        const std::int64_t length = segment != nullptr ? segment->Length.bytes() : 0;
        received.planned += std::max<std::int64_t>(length, 0);
        if (gap || length <= 0) {
            continue;
        }
        // One file is given its whole size up front: the record says what arrived, the file's
        // size how much of that survived. A part file of its own holds just what arrived.
        int error = 0;
        const std::int64_t inFile =
            FileSize(segment->PartFile, error) - RangeOffsetInFile(record, *segment);
        const std::int64_t held = std::clamp<std::int64_t>(
            oneFile ? std::min(inFile, StoredBytes(*segment)) : inFile, 0, length);
        received.inOrder += held;
        gap = held < length;
    }
    return received;
}

void AssembleDownload(EngineContext& ctx, int slot, bool deleteParts,
                      std::function<void(const AssemblyResult&)> done, std::int64_t upTo) {
    std::make_shared<AssemblyJob>(ctx, slot, deleteParts, std::move(done), upTo)->schedule();
}
