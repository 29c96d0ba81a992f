#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

// A member's name taken apart into the folders leading to it and its own name, once it is
// known to stay inside the target folder.
struct MemberPath {
    QList<QByteArray> folders;
    QByteArray leaf;  // empty for a folder member ("a/b/")
};

// Splits a member name (UTF-8, '/' between components). Absolute names, "." and ".."
// components, empty components ("a//b"), any backslash and any control character are refused
// with the reason in `why`: each of them is a way out of the target folder on one system or
// another. A NUL ends the name where the system reads it ("..\0" is ".." there); a newline
// or an escape in a name misleads whoever reads a listing or a terminal.
std::optional<MemberPath> SafeMemberPath(const QByteArray& name, QString* why);

// Whether the name holds a byte or character 0x00-0x1F or 0x7F.
bool HasControlCharacter(QByteArrayView name);
bool HasControlCharacter(QStringView name);
// The reason given for such a name, by extraction and by the preview alike.
QString ControlCharacterReason();
// The name with each control character shown as U+FFFD, fit for a list or a message.
QString VisibleMemberName(const QString& name);

// Whether `name` matches one of the patterns (wildcards * ? [...], '*' crossing '/').
bool MatchesAnyName(const QStringList& patterns, const QString& name, bool caseInsensitive);
// A pattern that matches this one name only, whatever wildcard characters it holds.
QString ExactNamePattern(const QString& name);
