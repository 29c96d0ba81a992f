#pragma once

// The scenarios of the HTTP fault server (tests/support) that the fault tests run, and a view of
// a folder tree to show files written where they must not be.

#include <QDir>
#include <QDirIterator>
#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

#include "tests/support/http_fault_server.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace faults {

enum class Allowed { Complete, Fail, Either };

// A generated body of the fault server: its mode, its size, and how a download of it may end.
struct Scenario {
    QString name;
    qsizetype size;
    Allowed allowed;
    QString why;  // a part the failure's reason must contain, when it fails
};

// Every scenario the server knows.
inline std::vector<Scenario> EveryScenario() {
    return {
        // Heads read a byte at a time, on the probe and on all eight segments.
        {"byte-head", 1000003, Allowed::Complete, {}},
        // Beyond any head a client should hold.
        {"huge-head", 100000, Allowed::Fail, {}},
        {"many-lines", 100000, Allowed::Either, {}},
        // Chunks that disagree with Content-Length: the chunks decide.
        {"cl-chunked", 300001, Allowed::Either, {}},
        {"chunk-negative", 200000, Allowed::Fail, {}},
        {"chunk-huge", 200000, Allowed::Fail, {}},
        {"chunk-nonhex", 200000, Allowed::Fail, {}},
        {"loop-a", 1000, Allowed::Fail, QStringLiteral("too many redirects")},
        {"to-file", 1000, Allowed::Fail, {}},
        {"to-data", 1000, Allowed::Fail, {}},
        {"cd-parent", 120000, Allowed::Complete, {}},
        {"cd-absolute", 120000, Allowed::Complete, {}},
        {"cd-backslash", 120000, Allowed::Complete, {}},
        {"cd-dot", 120000, Allowed::Complete, {}},
        {"cd-dotdot", 120000, Allowed::Complete, {}},
        {"cd-long", 120000, Allowed::Complete, {}},
        {"cd-control", 120000, Allowed::Complete, {}},
        {"cd-encoded", 120000, Allowed::Complete, {}},
        {"cd-unquoted", 120000, Allowed::Complete, {}},
        // Wrong answers to later ranges: a fallback to one segment, or the range asked again.
        {"whole-later", 1000003, Allowed::Complete, {}},
        {"wrong-start", 1000003, Allowed::Complete, {}},
        {"wrong-end", 1000003, Allowed::Complete, {}},
        {"wrong-total", 1000003, Allowed::Complete, {}},
        // Every range capped at 1,000 bytes, the probe's too: asked on to the file's size.
        {"capped", 5000, Allowed::Complete, {}},
        // Wrong every time: refused three times, then failed with the reason.
        {"wrong-start-always", 1000003, Allowed::Fail, QStringLiteral("another part of the file")},
        {"over-end-always", 1000003, Allowed::Fail, QStringLiteral("another part of the file")},
        {"gzip", 120000, Allowed::Fail, QStringLiteral("compressed (gzip) though not asked")},
        // Header spellings: no blank after the colon is read, a blank before it refused.
        {"tight-length", 120000, Allowed::Complete, {}},
        {"tight-chunked", 120000, Allowed::Complete, {}},
        {"spaced-colon", 120000, Allowed::Fail, QStringLiteral("blank before its colon")},
        // Ranges answered in chunks: each segment ends at its range, whatever the chunks say,
        // and no chunked end stands for the file's size.
        {"range-chunked", 1000003, Allowed::Complete, {}},
        {"range-chunked-over", 1000003, Allowed::Complete, {}},
        // Another version after the probe (another ETag, size or date; another total in every
        // later range): fetched again whole, never mixed; one that changes on every answer stops.
        {"changed", 1000003, Allowed::Complete, {}},
        {"changed-size", 1000003, Allowed::Complete, {}},
        {"changed-date", 1000003, Allowed::Complete, {}},
        {"wrong-total-always", 1000003, Allowed::Fail, QStringLiteral("changed since")},
        {"html-later", 1000003, Allowed::Fail, QStringLiteral("now gives a web page")},
        // A page from the first answer on (its name no .html) is the file, at every segment.
        {"page", 1000003, Allowed::Complete, {}},
        // Closed before its Content-Length; under 50,000 bytes, so one segment.
        {"short-close", 40000, Allowed::Either, {}},
    };
}

// Every file and folder under `root`, hidden ones included, relative to it.
inline QSet<QString> Tree(const QString& root) {
    QSet<QString> paths;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        paths.insert(base.relativeFilePath(it.next()));
    }
    return paths;
}

// Paths that appeared in `after` and lie in none of the `allowed` folders (relative, ending '/').
inline QStringList Strays(const QSet<QString>& before, const QSet<QString>& after,
                          const QStringList& allowed) {
    QStringList strays;
    for (const QString& path : after) {
        if (before.contains(path)) {
            continue;
        }
        bool inside = false;
        for (const QString& folder : allowed) {
            inside = inside || path.startsWith(folder) || path + u'/' == folder;
        }
        if (!inside) {
            strays << path;
        }
    }
    strays.sort();
    return strays;
}

// Places a name that climbed out of the folders would land, outside the sandbox.
inline QStringList OutsideTargets(const Sandbox& box) {
    return {QDir::cleanPath(box.path() + QStringLiteral("/../.bashrc")),
            QDir::cleanPath(box.path() + QStringLiteral("/../../.bashrc")),
            QStringLiteral("/tmp/brenloft-escape.bin")};
}

// A name that can be given to a file in a folder without climbing out or hiding characters.
inline bool SafeFileName(const QString& name) {
    if (name.isEmpty() || name == u"." || name == u".." || name.contains(u'/') ||
        name.toUtf8().size() > 255) {
        return false;
    }
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control) {
            return false;
        }
    }
    return true;
}

}  // namespace faults
