#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// A member's name taken apart into the folders leading to it and its own name, once it is
// known to stay inside the target folder.
struct MemberPath {
    QList<QByteArray> folders;
    QByteArray leaf;  // empty for a folder member ("a/b/")
};

// Splits a member name (UTF-8, '/' between components). Absolute names, "." and ".."
// components, empty components ("a//b") and any backslash are refused with the reason in
// `why`: each of them is a way out of the target folder on one system or another.
std::optional<MemberPath> SafeMemberPath(const QByteArray& name, QString* why);

// Whether `name` matches one of the patterns (wildcards * ? [...], '*' crossing '/').
bool MatchesAnyName(const QStringList& patterns, const QString& name, bool caseInsensitive);
// A pattern that matches this one name only, whatever wildcard characters it holds.
QString ExactNamePattern(const QString& name);
