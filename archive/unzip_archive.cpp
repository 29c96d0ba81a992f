#include "archive/unzip_archive.h"

#include <sys/stat.h>
#include <zip.h>

#include <QFile>
#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include "archive/member_check.h"
#include "archive/member_path.h"
#include "archive/target_folder.h"
#include "archive/zip_directory.h"

namespace {

struct ZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipCloser>;
using ZipFile = std::unique_ptr<zip_file_t, ZipCloser>;

constexpr int kPasswordTries = 3;

// One member as the central directory describes it.
struct Member {
    zip_uint64_t index = 0;
    zip_stat_t stat{};
    QString name;
    mode_t mode = 0;  // Unix type and permission bits; 0 when the archive has none
    bool folder = false;
    QString nameRefused;  // as the directory reader found it
};

// A member stopped the whole extraction, or only itself; BadData is a read that failed its
// checks, which the caller reports (or, for an encrypted member, takes as a wrong password).
enum class Outcome { Done, Skipped, BadData, Stop };

class Extraction {
public:
    Extraction(const UnzipOptions& options, UnzipPrompts& prompts)
        : options_(options), prompts_(prompts) {}

    UnzipResult run();

private:
    bool writes() const { return !options_.listContents && !options_.testOnly; }
    std::optional<Member> describe(zip_uint64_t index);
    bool selected(const QString& name);
    Outcome extract(const Member& member);
    Outcome extractFile(const Member& member, const MemberPath& path);
    bool replaceExisting(const Member& member, const struct stat& existing);
    Outcome decrypt(const Member& member, int folder, std::optional<PendingFile>& out);
    Outcome copy(const Member& member, zip_file_t* file, int folder,
                 std::optional<PendingFile>& out, QString* why);
    int finalCode() const;

    void skip(const QString& name, const QString& why) {
        result_.messages << QStringLiteral("%1: %2").arg(name, why);
        ++warnings_;
    }
    void damaged(const QString& name, const QString& why) {
        result_.messages << QStringLiteral("%1: %2").arg(name, why);
        ++errors_;
    }
    UnzipResult stop(int code, const QString& why) {
        result_.code = code;
        result_.messages << why;
        return result_;
    }

    const UnzipOptions& options_;
    UnzipPrompts& prompts_;
    UnzipResult result_;
    ZipArchive archive_;
    QList<ZipEntry> directory_;  // the same members, as the preview reads them
    std::optional<TargetFolder> target_;
    QByteArray password_;  // the last one that opened a member, tried first on the next
    QStringList unmatchedIncludes_;
    bool passwordCancelled_ = false;
    ReplaceQuestions replaceQuestions_{prompts_};
    int warnings_ = 0;
    int errors_ = 0;
    int unsupported_ = 0;
    int badPasswords_ = 0;
};

UnzipResult Extraction::run() {
    using namespace UnzipCode;
    if (options_.writeToStandardOutput || options_.convertLineEnds) {
        return stop(kBadParameter, QStringLiteral("writing to standard output and converting "
                                                  "line ends are not supported"));
    }
    if (options_.includeNames.size() > UnzipOptions::kMaxNames ||
        options_.excludeNames.size() > UnzipOptions::kMaxNames) {
        return stop(
            kBadParameter,
            QStringLiteral("at most %1 include and %1 exclude names").arg(UnzipOptions::kMaxNames));
    }
    int error = 0;
    archive_.reset(zip_open(QFile::encodeName(options_.archivePath).constData(),
                            ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive_) {
        zip_error_t why;
        zip_error_init_with_code(&why, error);
        const QString text = QString::fromUtf8(zip_error_strerror(&why));
        zip_error_fini(&why);
        return stop(kNotAZip, QStringLiteral("cannot read %1: %2").arg(options_.archivePath, text));
    }

    // libzip hands names over as C strings, with any NUL made a space; the archive's own
    // bytes, read as the preview reads them, tell which names hold what and are refused.
    ZipDirectoryResult directory = ReadZipDirectoryFile(options_.archivePath);
    const zip_int64_t count = zip_get_num_entries(archive_.get(), 0);
    if (!directory.ok() || directory.entries.size() != count) {
        return stop(kNotAZip, QStringLiteral("the archive's directory is damaged (%1)")
                                  .arg(directory.ok() ? QStringLiteral("entries miscounted")
                                                      : directory.error));
    }
    directory_ = std::move(directory.entries);

    std::vector<Member> members;
    quint64 total = 0;
    unmatchedIncludes_ = options_.includeNames;
    for (zip_int64_t index = 0; index < count; ++index) {
        std::optional<Member> member = describe(zip_uint64_t(index));
        if (!member) {
            return stop(kNotAZip, QStringLiteral("the archive's directory is damaged"));
        }
        if (selected(member->name)) {
            // Saturating: a hostile directory may declare sizes that overflow a sum.
            total = qMin(total + qMin<quint64>(member->stat.size, Q_UINT64_C(1) << 62),
                         Q_UINT64_C(1) << 63);
            members.push_back(*member);
        }
    }

    if (writes()) {
        QString why;
        target_ = TargetFolder::open(options_.targetFolder, &why);
        if (!target_) {
            return stop(kError, why);
        }
        // Checked before a byte is written, so that an archive declaring more than the
        // folder can hold (a zip bomb among them) leaves the disk as it was.
        const quint64 free = target_->freeBytes();
        if (total > free) {
            return stop(kDiskFull,
                        QStringLiteral("the archive needs %1 bytes, the folder has %2 free")
                            .arg(total)
                            .arg(free));
        }
    }
    for (const Member& member : members) {
        if (extract(member) == Outcome::Stop) {
            return result_;
        }
    }
    for (const QString& name : unmatchedIncludes_) {
        result_.messages << QStringLiteral("%1: no such member").arg(name);
    }
    result_.code = finalCode();
    return result_;
}

int Extraction::finalCode() const {
    using namespace UnzipCode;
    if (errors_ > 0) {
        return kError;
    }
    if (unsupported_ > 0) {
        return kUnsupported;
    }
    if (badPasswords_ > 0 && result_.members.isEmpty()) {
        return kBadPassword;
    }
    if (!unmatchedIncludes_.isEmpty()) {
        return kNotFound;
    }
    return warnings_ > 0 || badPasswords_ > 0 ? kWarning : kOk;
}

std::optional<Member> Extraction::describe(zip_uint64_t index) {
    Member member;
    member.index = index;
    if (zip_stat_index(archive_.get(), index, ZIP_FL_ENC_GUESS, &member.stat) != 0 ||
        member.stat.name == nullptr) {
        return std::nullopt;
    }
    const zip_uint64_t needed = ZIP_STAT_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
    if ((member.stat.valid & needed) != needed) {
        return std::nullopt;
    }
    member.name = QString::fromUtf8(member.stat.name);
    if (const ZipEntry& read = directory_[qsizetype(index)]; !read.nameRefused.isEmpty()) {
        member.name = read.name;
        member.nameRefused = read.nameRefused;
    }
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive_.get(), index, 0, &system, &attributes) == 0) {
        if (system == ZIP_OPSYS_UNIX) {
            member.mode = mode_t(attributes >> 16);
        }
        member.folder = (system == ZIP_OPSYS_DOS && (attributes & 0x10) != 0);
    }
    member.folder = member.folder || member.name.endsWith(QLatin1Char('/')) || S_ISDIR(member.mode);
    return member;
}

bool Extraction::selected(const QString& name) {
    const bool fold = options_.caseInsensitiveMatching != 0;
    if (!options_.includeNames.isEmpty()) {
        bool any = false;
        for (const QString& pattern : options_.includeNames) {
            if (MatchesAnyName({pattern}, name, fold)) {
                unmatchedIncludes_.removeAll(pattern);
                any = true;
            }
        }
        if (!any) {
            return false;
        }
    }
    return !MatchesAnyName(options_.excludeNames, name, fold);
}

Outcome Extraction::extract(const Member& member) {
    if (options_.listContents) {
        result_.members << member.name;
        return Outcome::Done;
    }
    const mode_t type = member.mode & S_IFMT;
    if (type == S_IFLNK) {
        skip(member.name, QStringLiteral("symbolic link skipped"));
        return Outcome::Skipped;
    }
    if (type != 0 && type != S_IFREG && type != S_IFDIR) {
        skip(member.name, QStringLiteral("device or special file skipped"));
        return Outcome::Skipped;
    }
    QString why = member.nameRefused;
    std::optional<MemberPath> path;
    if (why.isEmpty()) {
        path = SafeMemberPath(member.stat.name, &why);
    }
    if (!path) {
        skip(member.name, QStringLiteral("unsafe name skipped (%1)").arg(why));
        return Outcome::Skipped;
    }
    if (member.folder) {
        if (!path->leaf.isEmpty()) {
            path->folders << path->leaf;  // a folder stored without its trailing '/'
        }
        if (writes() && options_.recreateFolders &&
            !target_->openFolder(path->folders, &why).valid()) {
            skip(member.name, why);
            return Outcome::Skipped;
        }
        result_.members << member.name;
        return Outcome::Done;
    }
    if (!options_.recreateFolders) {
        path->folders.clear();
    }
    if (options_.spacesToUnderscores) {
        for (QByteArray& folder : path->folders) {
            folder.replace(' ', '_');
        }
        path->leaf.replace(' ', '_');
    }
    return extractFile(member, *path);
}

Outcome Extraction::extractFile(const Member& member, const MemberPath& path) {
    UniqueFd folder;
    QString why;
    if (writes()) {
        folder = target_->openFolder(path.folders, &why);
        if (!folder.valid()) {
            skip(member.name, why);
            return Outcome::Skipped;
        }
        const std::optional<struct stat> existing = EntryIn(folder.get(), path.leaf);
        if (existing ? !replaceExisting(member, *existing) : bool(options_.freshenOnly)) {
            return Outcome::Skipped;
        }
    }
    if (!zip_compression_method_supported(member.stat.comp_method, 0)) {
        result_.messages << QStringLiteral("%1: compression method %2 not supported")
                                .arg(member.name)
                                .arg(member.stat.comp_method);
        ++unsupported_;
        return Outcome::Skipped;
    }
    std::optional<PendingFile> out;
    Outcome copied = Outcome::Skipped;
    if ((member.stat.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
        member.stat.encryption_method != ZIP_EM_NONE) {
        copied = decrypt(member, folder.get(), out);
    } else {
        ZipFile file(zip_fopen_index(archive_.get(), member.index, 0));
        if (!file) {
            damaged(member.name, QString::fromUtf8(zip_strerror(archive_.get())));
            return Outcome::Skipped;
        }
        copied = copy(member, file.get(), folder.get(), out, &why);
        if (copied == Outcome::BadData) {
            damaged(member.name, why + QStringLiteral(", not written"));
            return Outcome::Skipped;
        }
    }
    if (copied != Outcome::Done) {
        return copied;
    }
    if (out) {
        if (!out->commit(path.leaf, member.stat.mtime, &why)) {
            skip(member.name, QStringLiteral("cannot be written: %1").arg(why));
            return Outcome::Skipped;
        }
    }
    result_.members << member.name;
    return Outcome::Done;
}

// Whether the existing entry gives way to the member, by the options or the user's answer.
bool Extraction::replaceExisting(const Member& member, const struct stat& existing) {
    if (S_ISDIR(existing.st_mode)) {
        skip(member.name, QStringLiteral("a folder of that name is in the way"));
        return false;
    }
    if ((options_.extractOnlyNewer || options_.freshenOnly) &&
        member.stat.mtime <= existing.st_mtime) {
        return false;
    }
    if (options_.overwriteExisting) {
        return true;
    }
    return options_.askBeforeOverwriting &&
           replaceQuestions_.replace(options_.targetFolder + QLatin1Char('/') + member.name);
}

// The password that opened the last member first, then the user's, a few times over. A
// wrong password passes the one check byte now and then and reads as garbage, so a member
// counts as opened only once its data has checked out.
Outcome Extraction::decrypt(const Member& member, int folder, std::optional<PendingFile>& out) {
    QByteArray password = password_;
    for (int tries = 0; tries <= kPasswordTries; ++tries) {
        if (!password.isEmpty()) {
            ZipFile file(
                zip_fopen_index_encrypted(archive_.get(), member.index, 0, password.constData()));
            const int error = zip_error_code_zip(zip_get_error(archive_.get()));
            if (file) {
                QString why;
                const Outcome copied = copy(member, file.get(), folder, out, &why);
                if (copied == Outcome::Done) {
                    password_ = password;
                }
                if (copied != Outcome::BadData) {
                    return copied;
                }
            } else if (error == ZIP_ER_ENCRNOTSUPP) {
                result_.messages
                    << QStringLiteral("%1: encryption method not supported").arg(member.name);
                ++unsupported_;
                return Outcome::Skipped;
            } else if (error != ZIP_ER_WRONGPASSWD) {
                damaged(member.name, QString::fromUtf8(zip_strerror(archive_.get())));
                return Outcome::Skipped;
            }
        }
        if (tries == kPasswordTries) {
            break;
        }
        if (passwordCancelled_) {
            skip(member.name, QStringLiteral("skipped, no password given"));
            return Outcome::Skipped;
        }
        password = prompts_.password(member.name).toUtf8();
        if (password.isEmpty()) {
            passwordCancelled_ = true;
            skip(member.name, QStringLiteral("skipped, no password given"));
            return Outcome::Skipped;
        }
    }
    result_.messages
        << QStringLiteral("%1: incorrect password (or damaged data), skipped").arg(member.name);
    ++badPasswords_;
    return Outcome::Skipped;
}

// Reads the member into a new pending file (or nowhere, when only testing).
Outcome Extraction::copy(const Member& member, zip_file_t* file, int folder,
                         std::optional<PendingFile>& out, QString* why) {
    using namespace UnzipCode;
    out.reset();
    if (writes()) {
        out.emplace(folder, CreationMode(member.mode), why);
        if (!out->valid()) {
            stop(kDiskFull, QStringLiteral("%1: %2").arg(member.name, *why));
            return Outcome::Stop;
        }
    }
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    MemberCheck check(member.stat.size, member.stat.crc);
    for (;;) {
        const zip_int64_t got = zip_fread(file, buffer.data(), zip_uint64_t(buffer.size()));
        if (got < 0) {
            *why = QStringLiteral("damaged (%1)").arg(QString::fromUtf8(zip_file_strerror(file)));
            return Outcome::BadData;
        }
        if (got == 0) {
            break;
        }
        // Nothing after a member that overflows its size is trusted either.
        if (!check.take(buffer.constData(), size_t(got))) {
            stop(kError, MemberOverflowMessage(member.name));
            return Outcome::Stop;
        }
        if (out && !out->write(buffer.constData(), size_t(got))) {
            const bool full = errno == ENOSPC || errno == EDQUOT;
            stop(full ? kDiskFull : kError,
                 QStringLiteral("%1: cannot be written; extraction stopped").arg(member.name));
            return Outcome::Stop;
        }
    }
    if (!check.complete()) {
        *why = MemberMismatchText();
        return Outcome::BadData;
    }
    return Outcome::Done;
}

}  // namespace

UnzipResult UnzipArchive(const UnzipOptions& options, UnzipPrompts& prompts) {
    return Extraction(options, prompts).run();
}
