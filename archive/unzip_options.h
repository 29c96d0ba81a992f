#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The option record the extraction reads, in the order the unzip library's record keeps its
// fields; each a 16-bit value, nonzero meaning on. The caller keeps one for the whole run and
// sets the fields its use needs before each call (the update sets ask 0, overwrite 1,
// comment 0, extract, re-create folders 1, no include and no exclude names).
struct UnzipOptions {
    quint16 extractOnlyNewer = 0;  // 1: existing files only replaced by newer members
    quint16 spacesToUnderscores = 0;
    quint16 askBeforeOverwriting = 0;
    quint16 messageLevel = 0;           // nothing is printed: kept for the record's sake
    quint16 writeToStandardOutput = 0;  // not supported: the call ends with 10
    quint16 testOnly = 0;               // members read and checked, nothing written
    quint16 listContents = 0;           // 0 = extract, 1 = list the members' names
    quint16 freshenOnly = 0;            // 1: only members whose file exists and is older
    quint16 showComment = 0;            // nothing is shown: kept for the record's sake
    quint16 recreateFolders = 1;        // 0: every member lands in the target folder itself
    quint16 overwriteExisting = 0;      // 1: replace without asking
    quint16 convertLineEnds = 0;        // not supported: the call ends with 10
    quint16 verboseListing = 0;
    quint16 caseInsensitiveMatching = 0;
    quint16 restorePrivileges = 0;  // no access lists on Linux; set-user-id is dropped anyway
    QString archivePath;
    QString targetFolder;

    // Member names, with the wildcards * ? and [...] ('*' also crosses '/'); no include names
    // means every member, no exclude names means none excluded. At most kMaxNames each.
    QStringList includeNames;
    QStringList excludeNames;
    static constexpr int kMaxNames = 100;

    // What an update package is unpacked with: every member, stored folders re-created,
    // existing files replaced without asking.
    static UnzipOptions ForUpdate(const QString& archive, const QString& target) {
        UnzipOptions options;
        options.askBeforeOverwriting = 0;
        options.overwriteExisting = 1;
        options.showComment = 0;
        options.listContents = 0;
        options.recreateFolders = 1;
        options.archivePath = archive;
        options.targetFolder = target;
        return options;
    }
};
