#pragma once

// The fault server of tests/faults/fault_http_server.py as the tests start it, the bodies it
// serves, and a view of a folder tree to show files written where they must not be.

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QSet>
#include <QString>
#include <QStringList>

#include "tests/support/peer_process.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace faults {

// The bytes the server sends for /SCENARIO/SIZE/NAME, made the same way it makes them.
inline QByteArray Body(const QString& scenario, qsizetype size) {
    const QByteArray key = QStringLiteral("%1/%2").arg(scenario).arg(size).toUtf8();
    QByteArray out;
    out.reserve(size + 32);
    for (qsizetype i = 0; out.size() < size; ++i) {
        out +=
            QCryptographicHash::hash(key + ':' + QByteArray::number(i), QCryptographicHash::Sha256);
    }
    out.truncate(size);
    return out;
}

class FaultServer {
public:
    bool start(const QString& log) {
        if (!process_.start(
                QStringLiteral("/usr/bin/python3"),
                {SourcePath(QStringLiteral("tests/faults/fault_http_server.py")), log})) {
            return false;
        }
        port_ = process_.firstLine().toInt();
        return port_ > 0;
    }
    QString url(const QString& scenario, qsizetype size,
                const QString& name = QStringLiteral("file.bin")) const {
        return QStringLiteral("http://127.0.0.1:%1/%2/%3/%4")
            .arg(port_)
            .arg(scenario)
            .arg(size)
            .arg(name);
    }
    QString error() { return process_.error() + QString::fromUtf8(process_.errorOutput()); }

private:
    PeerProcess process_;
    int port_ = 0;
};

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
