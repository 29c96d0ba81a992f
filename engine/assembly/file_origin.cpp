#include "engine/assembly/file_origin.h"

#include <sys/xattr.h>

#include <QFile>
#include <QUrl>

namespace {

constexpr char kOrigin[] = "user.xdg.origin.url";

QByteArray OriginOf(const QString& url) {
    return QUrl(url).toString(QUrl::RemoveUserInfo).toUtf8();
}

}  // namespace

bool MarkOrigin(const QString& path, const QString& url) {
    const QByteArray origin = OriginOf(url);
    // Never through a link: the file is our own part file.
    return !origin.isEmpty() && ::lsetxattr(QFile::encodeName(path).constData(), kOrigin,
                                            origin.constData(), std::size_t(origin.size()), 0) == 0;
}

bool HasOrigin(const QString& path, const QString& url) {
    const QByteArray origin = OriginOf(url);
    QByteArray kept(origin.size() + 1, '\0');
    const ssize_t n = ::lgetxattr(QFile::encodeName(path).constData(), kOrigin, kept.data(),
                                  std::size_t(kept.size()));
    return !origin.isEmpty() && n == origin.size() && kept.left(n) == origin;
}
