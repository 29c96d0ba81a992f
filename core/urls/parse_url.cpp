#include "core/urls/parse_url.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "core/download_list/records.h"
#include "core/types/vb_convert.h"

namespace {

// Only blanks: the address has been percent-encoded before, so other white space is gone.
QString TrimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ') {
        ++first;
    }
    while (last > first && text[last - 1] == u' ') {
        --last;
    }
    return text.mid(first, last - first);
}

bool IsNameBreak(QChar c) {
    return QStringView(u"/\\*|+$=?").contains(c);
}

// `text` cut after its last character that cannot stand in a file name; a text ending in such
// a character gets a stand-in.
QString AfterLastBreak(const QString& text, bool query) {
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (IsNameBreak(text[i]) || (query && text[i] == u'&')) {
            return i == text.size() - 1 ? QStringLiteral("noname") : TrimBlanks(text.mid(i + 1));
        }
    }
    return TrimBlanks(text);
}

// The last segment of the path without its query: "mid5.bin?full=1" is "mid5.bin", not "1".
// Only a path with no segment of its own ("/", "/files/") takes its query's last value, or
// without one a stand-in.
QString FileNameOf(const QString& path) {
    const qsizetype query = path.indexOf(u'?');
    const QString segments = path.left(query);
    const QString last = AfterLastBreak(segments.mid(segments.lastIndexOf(u'/') + 1), false);
    if (!last.isEmpty()) {
        return last;
    }
    const QString value = query < 0 ? QString() : AfterLastBreak(path.mid(query + 1), true);
    return value.isEmpty() ? QStringLiteral("noname") : value;
}

// Splits "host:port" in place. The port is the number that leads the text after the first ":";
// anything a socket cannot connect to makes the address invalid rather than a download that
// can never start.
// An IPv6 address stands in brackets ("[::1]:8080"), which keep its colons from the port's; the
// host is kept without them, as sockets and TLS take it.
bool SplitPort(QString& host, std::int32_t& port) {
    qsizetype colon = host.indexOf(u':');
    qsizetype hostEnd = colon;
    const bool bracketed = host.startsWith(u'[');
    if (bracketed) {
        hostEnd = host.indexOf(u']');
        in6_addr address{};
        if (hostEnd < 0 ||
            ::inet_pton(AF_INET6, host.mid(1, hostEnd - 1).toLatin1().constData(), &address) != 1) {
            return false;
        }
        colon = hostEnd + 1;
        if (colon == host.size()) {
            colon = -1;
        } else if (host[colon] != u':') {
            return false;
        }
    }
    if (colon >= 0) {
        const long double number = RoundHalfEven(LeadingNumber(QStringView(host).mid(colon + 1)));
        if (!(number >= 1 && number <= 65535)) {
            return false;
        }
        port = static_cast<std::int32_t>(number);
    }
    if (bracketed) {
        host = host.mid(1, hostEnd - 1);
    } else if (colon >= 0) {
        host.truncate(colon);
    }
    return !host.isEmpty();
}

// Where the host part ends: at the first "/", "?" or "#" (which arrives here as "%23", the
// address having been encoded), and for http(s) at a "\\" too, as browsers read it. Only then is
// a login looked for in it, so "http://h1?@h2/" names h1, as the user reads it. -1: none.
qsizetype AuthorityEnd(const QString& rest, bool backslashEnds) {
    for (qsizetype i = 0; i < rest.size(); ++i) {
        const QChar c = rest[i];
        if (c == u'/' || c == u'?' || c == u'#' || (backslashEnds && c == u'\\') ||
            QStringView(rest).mid(i, 3).compare(u"%23", Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    return -1;
}

// Takes "user:password@" off the front of the host part. The last "@" ends it, so a password
// may itself hold "@" and ":"; a user name cannot hold ":".
bool SplitCredentials(QString& host, QString& user, QString& password) {
    const qsizetype at = host.lastIndexOf(u'@');
    if (at < 0) {
        return false;
    }
    const QString credentials = host.left(at);
    host = host.mid(at + 1);
    const qsizetype colon = credentials.indexOf(u':');
    user = colon >= 0 ? credentials.left(colon) : credentials;
    password = colon >= 0 ? credentials.mid(colon + 1) : QString();
    return true;
}

}  // namespace

QString SchemeOf(std::int16_t protocol) {
    switch (protocol) {
        case Protocol::Ftp:
            return QStringLiteral("ftp://");
        case Protocol::Https:
            return QStringLiteral("https://");
        default:
            return QStringLiteral("http://");
    }
}

std::int32_t DefaultPort(std::int16_t protocol) {
    switch (protocol) {
        case Protocol::Ftp:
            return 21;
        case Protocol::Https:
            return 443;
        default:
            return 80;
    }
}

ParsedUrl ParseUrl(const QString& url) {
    const QString text = TrimBlanks(url);
    ParsedUrl parsed;
    if (text.left(7).toLower() == u"http://") {
        parsed.protocol = Protocol::Http;
    } else if (text.left(8).toLower() == u"https://") {
        parsed.protocol = Protocol::Https;
    } else if (text.left(6).toLower() == u"ftp://") {
        parsed.protocol = Protocol::Ftp;
    } else {
        return {};
    }
    parsed.port = DefaultPort(parsed.protocol);

    const QString rest = text.mid(text.indexOf(u"//") + 2);
    const qsizetype end = AuthorityEnd(rest, parsed.protocol != Protocol::Ftp);
    if (end < 0) {
        return {};
    }
    QString host = rest.left(end);
    // What a browser would ask for: "?q" and "#f" of "http://h?q" on the path "/", and a "\"
    // read as "/".
    parsed.path = rest[end] == u'/'    ? rest.mid(end)
                  : rest[end] == u'\\' ? u'/' + rest.mid(end + 1)
                                       : u'/' + rest.mid(end);
    parsed.fileName = FileNameOf(parsed.path);

    const bool hasCredentials = SplitCredentials(host, parsed.user, parsed.password);
    if (parsed.protocol == Protocol::Ftp && (!hasCredentials || parsed.user.isEmpty())) {
        // The FTP session supplies the anonymous password itself.
        parsed.user = QStringLiteral("anonymous");
        parsed.password.clear();
    }
    if (!SplitPort(host, parsed.port)) {
        return {};
    }
    parsed.host = host;
    parsed.status = UrlValid;
    return parsed;
}

QString HostInUrl(const QString& host) {
    return host.contains(u':') && !host.startsWith(u'[') ? u'[' + host + u']' : host;
}

bool HasDownloadScheme(const QString& text, Qt::CaseSensitivity cs) {
    for (const QLatin1String scheme :
         {QLatin1String("http://"), QLatin1String("https://"), QLatin1String("ftp://")}) {
        if (text.startsWith(scheme, cs)) {
            return true;
        }
    }
    return false;
}

QString UrlForDisplay(const QString& url) {
    const qsizetype scheme = url.indexOf(u"//");
    if (scheme < 0) {
        return url;
    }
    const qsizetype hostStart = scheme + 2;
    qsizetype hostEnd = url.indexOf(u'/', hostStart);
    hostEnd = hostEnd < 0 ? url.size() : hostEnd;
    const qsizetype at = url.lastIndexOf(u'@', hostEnd - 1);
    if (at < hostStart) {
        return url;
    }
    const qsizetype colon = url.indexOf(u':', hostStart);
    if (colon < 0 || colon > at) {
        return url;
    }
    return url.left(colon + 1) + QStringLiteral("***") + url.mid(at);
}
