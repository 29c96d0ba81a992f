#include "cli/get_options.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <algorithm>
#include <functional>
#include <vector>

#include "cli/proxy_address.h"
#include "core/text/format.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"

namespace {

std::optional<long long> WholeNumber(const QString& text, long long low, long long high) {
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (!ok || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// What an option does with its value (empty for a flag); false refuses the value.
using Apply = std::function<bool(GetOptions& options, const QString& value)>;

Apply Flag(bool GetOptions::*field, bool to) {
    return [=](GetOptions& o, const QString&) { return (o.*field = to), true; };
}

Apply Shows(GetOptions::Show show) {
    return [=](GetOptions& o, const QString&) { return (o.show = show), true; };
}

// Kept as given; an empty value is refused unless `mayBeEmpty`.
Apply Text(QString GetOptions::*field, bool mayBeEmpty = false) {
    return
        [=](GetOptions& o, const QString& v) { return (o.*field = v), mayBeEmpty || !v.isEmpty(); };
}

// A whole number from 1 to `high`.
Apply Count(int GetOptions::*field, int high) {
    return [=](GetOptions& o, const QString& v) {
        return (o.*field = static_cast<int>(WholeNumber(v, 1, high).value_or(0))) != 0;
    };
}

bool Limit(GetOptions& o, const QString& v) {
    return (o.limit = ParseRate(v).value_or(0)) != 0;
}

constexpr const char* ProxyRefusal =
    "--proxy takes http://, socks4://, socks5:// or socks5h://[USER:PASSWORD@]HOST[:PORT], or "
    "HOST:PORT, not \"%1\"";

bool Proxy(GetOptions& o, const QString& v) {
    o.proxy = ParseProxyAddress(v);
    return o.proxy.has_value();
}

bool GivenChecksum(GetOptions& o, const QString& v) {
    const std::optional<Checksum> checksum = ParseChecksum(v);
    if (checksum) {
        o.checksums << *checksum;
    }
    return checksum.has_value();
}

bool Readable(const QString& file) {
    return QFileInfo(file).isFile() && QFileInfo(file).isReadable();
}

bool CaCertificate(GetOptions& o, const QString& v) {
    o.caCertificate = v;
    return Readable(v);
}

// aria2's flags also take "=true" or "=false"; a bare one arrives here as "true".
Apply Switch(bool GetOptions::*field) {
    return [=](GetOptions& o, const QString& v) {
        o.*field = v == QLatin1String("true");
        return o.*field || v == QLatin1String("false");
    };
}

// The remote control's options, which mean nothing without --enable-rpc.
Apply ForRpc(Apply apply) {
    return [=](GetOptions& o, const QString& v) { return (o.rpcOptionGiven = true), apply(o, v); };
}

Apply RpcSwitch(bool RpcTransportOptions::*field) {
    return ForRpc([=](GetOptions& o, const QString& v) {
        o.rpc.*field = v == QLatin1String("true");
        return o.rpc.*field || v == QLatin1String("false");
    });
}

Apply RpcFile(QString RpcTransportOptions::*field) {
    return ForRpc([=](GetOptions& o, const QString& v) { return (o.rpc.*field = v), Readable(v); });
}

bool RpcPort(GetOptions& o, const QString& v) {
    const auto port = WholeNumber(v, 0, 65535);  // 0: any free port, told at start
    o.rpc.port = static_cast<quint16>(port.value_or(0));
    return port.has_value();
}

bool RpcMaxRequestSize(GetOptions& o, const QString& v) {
    const auto size = ParseRate(v);  // the same digits and K or M as a rate
    o.rpc.maxRequestSize = size.value_or(0);
    return size.has_value();
}

// One option: its names without dashes (a letter is given as -x VALUE, a word as --word VALUE
// or --word=VALUE), its value's name (none for a flag), what it does with the value, and what
// is said when it refuses one (%1 stands for the value). An aria2 flag is given bare or as
// --word=true or --word=false.
struct Option {
    QStringList names;
    QString valueName;
    Apply apply;
    const char* refusal = "";
    bool aria2Flag = false;
};

const std::vector<Option>& Options() {
    using Show = GetOptions::Show;
    using O = GetOptions;
    static const std::vector<Option> options = {
        {{"h", "help"}, {}, Shows(Show::Help)},
        {{"version"}, {}, Shows(Show::Version)},
        {{"q", "quiet"}, {}, Flag(&O::quiet, true)},
        {{"v", "verbose"}, {}, Flag(&O::verbose, true)},
        {{"no-check-certificate"}, {}, Flag(&O::checkCertificates, false)},
        {{"no-safe-disk"}, {}, Flag(&O::safeDisk, false)},
        {{"no-restart"}, {}, Flag(&O::restartChanged, false)},
        {{"ask-password"}, {}, Flag(&O::askPassword, true)},
        {{"no-checksum-lookup"}, {}, Flag(&O::checksumLookups, false)},
        {{"d"}, "DIR", Text(&O::folder), "-d needs a folder"},
        {{"n"}, "SEGMENTS", Count(&O::segments, 8), "-n takes 1 to 8 segments, not \"%1\""},
        {{"j"},
         "DOWNLOADS",
         Count(&O::simultaneous, 20),
         "-j takes 1 to 20 downloads at once, not \"%1\""},
        {{"max-tries"},
         "N",
         Count(&O::maxTries, 999),
         "--max-tries takes 1 to 999 reconnects, not \"%1\""},
        {{"limit"}, "BYTES_PER_S", Limit, "--limit takes bytes per second (500k, 2M), not \"%1\""},
        {{"no-proxy"}, {}, Flag(&O::noProxy, true)},
        {{"proxy"}, "URL", Proxy, ProxyRefusal},
        {{"proxy-password-file"},
         "FILE",
         Text(&O::proxyPasswordFile),
         "--proxy-password-file needs a file"},
        {{"user"}, "U", Text(&O::user, true)},
        {{"password"}, "P", Text(&O::password, true)},
        {{"password-file"}, "FILE", Text(&O::passwordFile), "--password-file needs a file"},
        {{"ca-certificate"}, "FILE", CaCertificate, "--ca-certificate: cannot read \"%1\""},
        {{"checksum"},
         "KIND=HEX",
         GivenChecksum,
         "--checksum takes KIND=HEX (md5, sha-1, sha-256, sha-512) or a bare hexadecimal "
         "value of 32, 40, 64 or 128 digits, not \"%1\""},
        {{"enable-rpc"},
         "BOOL",
         Switch(&O::enableRpc),
         "--enable-rpc takes true or false, not \"%1\"",
         true},
        {{"rpc-listen-all"},
         "BOOL",
         RpcSwitch(&RpcTransportOptions::listenAll),
         "--rpc-listen-all takes true or false, not \"%1\"",
         true},
        {{"rpc-allow-origin-all"},
         "BOOL",
         RpcSwitch(&RpcTransportOptions::allowOriginAll),
         "--rpc-allow-origin-all takes true or false, not \"%1\"",
         true},
        {{"rpc-secure"},
         "BOOL",
         ForRpc(Switch(&O::rpcSecure)),
         "--rpc-secure takes true or false, not \"%1\"",
         true},
        {{"rpc-listen-port"},
         "PORT",
         ForRpc(RpcPort),
         "--rpc-listen-port takes a port, 0 to 65535, not \"%1\""},
        {{"rpc-secret"}, "TOKEN", ForRpc(Text(&O::rpcSecret)), "--rpc-secret needs a secret"},
        {{"rpc-certificate"},
         "FILE",
         RpcFile(&RpcTransportOptions::certificateFile),
         "--rpc-certificate: cannot read \"%1\""},
        {{"rpc-private-key"},
         "FILE",
         RpcFile(&RpcTransportOptions::privateKeyFile),
         "--rpc-private-key: cannot read \"%1\""},
        {{"rpc-max-request-size"},
         "SIZE",
         ForRpc(RpcMaxRequestSize),
         "--rpc-max-request-size takes bytes, or with K or M (2M), not \"%1\""},
    };
    return options;
}

// Each bare aria2 flag as its "=true" form, so that it takes no URL after it for its value.
QStringList Aria2FlagsWithValues(QStringList arguments) {
    for (QString& argument : arguments) {
        if (argument == QLatin1String("--")) {
            break;
        }
        const QString name = argument.mid(argument.startsWith(u"--") ? 2 : 1);
        const bool flag = argument.startsWith(u'-') &&
                          std::any_of(Options().begin(), Options().end(), [&](const Option& o) {
                              return o.aria2Flag && o.names.contains(name);
                          });
        if (flag) {
            argument += QStringLiteral("=true");
        }
    }
    return arguments;
}

// Where the argument naming the unknown option `name` stands.
qsizetype UnknownAt(const QStringList& arguments, const QString& name) {
    const auto at = std::find_if(arguments.begin(), arguments.end(), [&](const QString& arg) {
        const qsizetype dashes = arg.startsWith(u"--") ? 2 : 1;
        return arg.startsWith(u'-') && arg.mid(dashes).section(u'=', 0, 0) == name;
    });
    return at - arguments.begin();
}

// The options in the order given, so that the first fault is the one reported and --help or
// --version ends the reading before anything after it can fail.
std::optional<GetOptions> ReadOptions(const QStringList& arguments, QString& error) {
    const std::vector<Option>& table = Options();
    QCommandLineParser parser;
    // -limit is one unknown option named whole, not -l -i -m -i -t; -qv and -n8 stay unknown.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const Option& option : table) {
        parser.addOption(QCommandLineOption(option.names, QString(), option.valueName));
    }
    const bool parsed = parser.parse(QStringList{QString()} + arguments);
    if (!parser.unknownOptionNames().isEmpty()) {
        // What stands before the first unknown option is read first: its faults come first,
        // and --help there is still answered.
        const QString name = parser.unknownOptionNames().constFirst();
        const qsizetype at = UnknownAt(arguments, name);  // found, but never read the same list
        auto before =
            at < arguments.size() ? ReadOptions(arguments.first(at), error) : GetOptions{};
        if (before && before->show == GetOptions::Show::Nothing) {
            error = QStringLiteral("unknown option %1").arg(arguments.value(at, name));
            return std::nullopt;
        }
        return before;
    }
    GetOptions options;
    std::vector<qsizetype> used(table.size());
    for (const QString& name : parser.optionNames()) {
        const auto option = std::find_if(table.begin(), table.end(),
                                         [&](const Option& o) { return o.names.contains(name); });
        QString value;
        if (!option->valueName.isEmpty()) {
            const QStringList values = parser.values(name);
            qsizetype& taken = used[option - table.begin()];
            if (taken >= values.size()) {  // only the last argument can lack its value
                error = QStringLiteral("%1 needs a value").arg(arguments.constLast());
                return std::nullopt;
            }
            value = values[taken++];
        }
        if (!option->apply(options, value)) {
            error = QString::fromLatin1(option->refusal).replace(QStringLiteral("%1"), value);
            return std::nullopt;
        }
        if (options.show != GetOptions::Show::Nothing) {
            GetOptions shown;
            shown.show = options.show;
            return shown;
        }
    }
    if (!parsed) {  // a flag given a value: --quiet=1
        error = parser.errorText();
        return std::nullopt;
    }
    options.urls = parser.positionalArguments();
    return options;
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

namespace {

// Why the remote control's options do not go together, or empty.
QString RpcMismatch(const GetOptions& options) {
    if (!options.enableRpc) {
        return options.rpcOptionGiven ? QStringLiteral("the --rpc-* options need --enable-rpc")
                                      : QString();
    }
    if (!options.urls.isEmpty()) {
        return QStringLiteral("--enable-rpc takes no URL: its clients add them (aria2.addUri)");
    }
    const bool files =
        !options.rpc.certificateFile.isEmpty() && !options.rpc.privateKeyFile.isEmpty();
    const bool anyFile =
        !options.rpc.certificateFile.isEmpty() || !options.rpc.privateKeyFile.isEmpty();
    if (options.rpcSecure ? !files : anyFile) {
        return QStringLiteral(
            "--rpc-secure needs --rpc-certificate and --rpc-private-key, and they "
            "need it");
    }
    return {};
}

}  // namespace

std::optional<GetOptions> ParseGetOptions(const QStringList& arguments, QString& error) {
    auto read = ReadOptions(Aria2FlagsWithValues(arguments), error);
    if (!read || read->show != GetOptions::Show::Nothing) {
        return read;
    }
    const GetOptions& options = *read;
    error = RpcMismatch(options);
    if (error.isEmpty() && options.urls.isEmpty() && !options.enableRpc) {
        error = QStringLiteral("no URL given");
    }
    if (!error.isEmpty()) {
        return std::nullopt;
    }
    if (options.checksums.size() > options.urls.size()) {
        // Each goes with the address in its place: one left over was meant for a file not named.
        error = QStringLiteral("--checksum %1 has no URL to go with (one per URL, in order)")
                    .arg(ChecksumText(options.checksums[options.urls.size()]));
        return std::nullopt;
    }
    const int passwords = (options.password.isEmpty() ? 0 : 1) +
                          (options.passwordFile.isEmpty() ? 0 : 1) + (options.askPassword ? 1 : 0);
    if (passwords > 1) {
        error = QStringLiteral("give one of --password, --password-file and --ask-password");
        return std::nullopt;
    }
    if (options.proxy && options.noProxy) {
        error = QStringLiteral("give --proxy or --no-proxy, not both");
        return std::nullopt;
    }
    if (!options.proxyPasswordFile.isEmpty() && (!options.proxy || options.proxy->user.isEmpty())) {
        error = QStringLiteral("--proxy-password-file needs a --proxy with a user (USER@HOST)");
        return std::nullopt;
    }
    if (options.user.isEmpty() != (passwords == 0)) {
        error = QStringLiteral("--user and --password go together");
        return std::nullopt;
    }
    return read;
}

QString NoAddressToFetch(const QStringList& urls) {
    // Not one address that could be fetched is a mistake in the command, like a bad flag; one
    // among good ones fails on its own while the others are fetched.
    const bool none = std::none_of(urls.begin(), urls.end(), [](const QString& url) {
        return ParseUrl(EncodeUrl(url.trimmed())).status == UrlValid;
    });
    return none && !urls.isEmpty()
               ? QStringLiteral("%1: not an http://, https:// or ftp:// address")
                     .arg(EscapeControls(UrlForDisplay(urls.constFirst())))
               : QString();
}
