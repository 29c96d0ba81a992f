#include "cli/get_options.h"

#include <QFileInfo>
#include <algorithm>

namespace {

std::optional<long long> WholeNumber(const QString& text, long long low, long long high) {
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (!ok || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::int32_t> ParseRate(const QString& text) {
    QString number = text.trimmed();
    double unit = 1;
    if (number.endsWith(u'k', Qt::CaseInsensitive)) {
        unit = 1024;
    } else if (number.endsWith(u'm', Qt::CaseInsensitive)) {
        unit = 1024 * 1024;
    }
    if (unit != 1) {
        number.chop(1);
    }
    bool ok = false;
    // Plain digits with at most one decimal point: no signs, exponents or blanks.
    const bool plain =
        !number.isEmpty() && number.count(u'.') <= 1 &&
        std::all_of(number.begin(), number.end(), [](QChar c) { return c.isDigit() || c == u'.'; });
    const double value = plain ? number.toDouble(&ok) * unit : 0;
    if (!ok || value < 1 || value > 2147483647.0) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::optional<GetOptions> ParseGetOptions(const QStringList& arguments, QString& error) {
    GetOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 needs a value").arg(arg);
                return std::nullopt;
            }
            return arguments[++i];
        };
        if (arg == u"-h" || arg == u"--help" || arg == u"--version") {
            GetOptions shown;
            shown.show = arg == u"--version" ? GetOptions::Show::Version : GetOptions::Show::Help;
            return shown;
        } else if (arg == u"-q" || arg == u"--quiet") {
            options.quiet = true;
        } else if (arg == u"-v" || arg == u"--verbose") {
            options.verbose = true;
        } else if (arg == u"--no-check-certificate") {
            options.checkCertificates = false;
        } else if (arg == u"--ca-certificate") {
            const auto v = value();
            if (!v || v->isEmpty()) {
                error = v ? QStringLiteral("--ca-certificate needs a file") : error;
                return std::nullopt;
            }
            if (!QFileInfo(*v).isReadable() || !QFileInfo(*v).isFile()) {
                error = QStringLiteral("--ca-certificate: cannot read \"%1\"").arg(*v);
                return std::nullopt;
            }
            options.caCertificate = *v;
        } else if (arg == u"-d") {
            const auto v = value();
            if (!v || v->isEmpty()) {
                error = v ? QStringLiteral("-d needs a folder") : error;
                return std::nullopt;
            }
            options.folder = *v;
        } else if (arg == u"-n") {
            const auto v = value();
            const auto n = v ? WholeNumber(*v, 1, 8) : std::nullopt;
            if (!n) {
                error = v ? QStringLiteral("-n takes 1 to 8 segments, not \"%1\"").arg(*v) : error;
                return std::nullopt;
            }
            options.segments = static_cast<int>(*n);
        } else if (arg == u"-j") {
            const auto v = value();
            const auto n = v ? WholeNumber(*v, 1, 20) : std::nullopt;
            if (!n) {
                error = v ? QStringLiteral("-j takes 1 to 20 downloads at once, not \"%1\"").arg(*v)
                          : error;
                return std::nullopt;
            }
            options.simultaneous = static_cast<int>(*n);
        } else if (arg == u"--limit") {
            const auto v = value();
            const auto n = v ? ParseRate(*v) : std::nullopt;
            if (!n) {
                error = v ? QStringLiteral("--limit takes bytes per second (500k, 2M), not \"%1\"")
                                .arg(*v)
                          : error;
                return std::nullopt;
            }
            options.limit = *n;
        } else if (arg == u"--proxy") {
            const auto v = value();
            const qsizetype colon = v ? v->lastIndexOf(u':') : -1;
            const auto port = colon > 0 ? WholeNumber(v->mid(colon + 1), 1, 65535) : std::nullopt;
            if (!port) {
                error = v ? QStringLiteral("--proxy takes HOST:PORT, not \"%1\"").arg(*v) : error;
                return std::nullopt;
            }
            options.proxyHost = v->left(colon);
            options.proxyPort = static_cast<int>(*port);
        } else if (arg == u"--user") {
            const auto v = value();
            if (!v) {
                return std::nullopt;
            }
            options.user = *v;
        } else if (arg == u"--password") {
            const auto v = value();
            if (!v) {
                return std::nullopt;
            }
            options.password = *v;
        } else if (arg == u"--password-file") {
            const auto v = value();
            if (!v || v->isEmpty()) {
                error = v ? QStringLiteral("--password-file needs a file") : error;
                return std::nullopt;
            }
            options.passwordFile = *v;
        } else if (arg == u"--ask-password") {
            options.askPassword = true;
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            error = QStringLiteral("unknown option %1").arg(arg);
            return std::nullopt;
        } else {
            options.urls << arg;
        }
    }
    if (options.urls.isEmpty()) {
        error = QStringLiteral("no URL given");
        return std::nullopt;
    }
    const int passwords = (options.password.isEmpty() ? 0 : 1) +
                          (options.passwordFile.isEmpty() ? 0 : 1) + (options.askPassword ? 1 : 0);
    if (passwords > 1) {
        error = QStringLiteral("give one of --password, --password-file and --ask-password");
        return std::nullopt;
    }
    if (options.user.isEmpty() != (passwords == 0)) {
        error = QStringLiteral("--user and --password go together");
        return std::nullopt;
    }
    return options;
}
