#include "archive/member_path.h"

#include <fnmatch.h>

namespace {

bool IsControl(char16_t c) {
    return c < 0x20 || c == 0x7F;
}

// Compared with their sizes: a component is "." or ".." only when it is nothing more.
bool IsDotComponent(QByteArrayView part) {
    return part == QByteArrayView(".", 1) || part == QByteArrayView("..", 2);
}

}  // namespace

bool HasControlCharacter(QByteArrayView name) {
    for (const char c : name) {
        if (IsControl(static_cast<unsigned char>(c))) {
            return true;
        }
    }
    return false;
}

bool HasControlCharacter(QStringView name) {
    for (const QChar c : name) {
        if (IsControl(c.unicode())) {
            return true;
        }
    }
    return false;
}

QString ControlCharacterReason() {
    return QStringLiteral("control character in the name");
}

QString VisibleMemberName(const QString& name) {
    QString shown = name;
    for (QChar& c : shown) {
        if (IsControl(c.unicode())) {
            c = QChar::ReplacementCharacter;
        }
    }
    return shown;
}

std::optional<MemberPath> SafeMemberPath(const QByteArray& name, QString* why) {
    auto refuse = [why](const char* reason) -> std::optional<MemberPath> {
        *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    if (name.isEmpty()) {
        return refuse("empty name");
    }
    if (HasControlCharacter(QByteArrayView(name))) {
        *why = ControlCharacterReason();
        return std::nullopt;
    }
    if (name.startsWith('/')) {
        return refuse("absolute name");
    }
    // Archives made on Windows may use '\' as a separator, and a name with one means
    // something else there than here: neither reading is safe to guess.
    if (name.contains('\\')) {
        return refuse("backslash in the name");
    }
    MemberPath path;
    const bool folder = name.endsWith('/');
    const QList<QByteArray> parts = (folder ? name.chopped(1) : name).split('/');
    for (const QByteArray& part : parts) {
        if (part.isEmpty()) {
            return refuse("empty component");
        }
        if (IsDotComponent(part)) {
            return refuse("\".\" or \"..\" component");
        }
    }
    path.folders = parts;
    if (!folder) {
        path.leaf = path.folders.takeLast();
    }
    return path;
}

bool MatchesAnyName(const QStringList& patterns, const QString& name, bool caseInsensitive) {
    const QByteArray subject = name.toUtf8();
    const int flags = caseInsensitive ? FNM_CASEFOLD : 0;
    for (const QString& pattern : patterns) {
        if (::fnmatch(pattern.toUtf8().constData(), subject.constData(), flags) == 0) {
            return true;
        }
    }
    return false;
}

QString ExactNamePattern(const QString& name) {
    QString pattern;
    pattern.reserve(name.size());
    for (const QChar c : name) {
        if (c == u'*' || c == u'?' || c == u'[' || c == u'\\') {
            pattern += u'\\';
        }
        pattern += c;
    }
    return pattern;
}
