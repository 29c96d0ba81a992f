#include "cli/get_options.h"

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
        if (arg == u"-q" || arg == u"--quiet") {
            options.quiet = true;
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
        } else if (arg == u"--limit") {
            const auto v = value();
            const auto n = v ? WholeNumber(*v, 1, 2147483647) : std::nullopt;
            if (!n) {
                error = v ? QStringLiteral("--limit takes bytes per second, not \"%1\"").arg(*v)
                          : error;
                return std::nullopt;
            }
            options.limit = static_cast<std::int32_t>(*n);
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
    if (options.user.isEmpty() != options.password.isEmpty()) {
        error = QStringLiteral("--user and --password go together");
        return std::nullopt;
    }
    return options;
}
