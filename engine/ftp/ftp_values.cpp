#include "engine/ftp/ftp_values.h"

#include <QList>
#include <cmath>

#include "core/types/vb_convert.h"

namespace {

// Sizes are kept as currency values: anything above this cannot be stored.
constexpr std::int64_t kMaxSize = INT64_MAX / 10000;

std::int64_t SizeFrom(const QByteArray& text) {
    const long double value = std::floor(LeadingNumber(QString::fromLatin1(text)));
    if (!(value > 0)) {
        return 0;
    }
    return value >= static_cast<long double>(kMaxSize) ? kMaxSize
                                                       : static_cast<std::int64_t>(value);
}

// The number of one comma-separated field, rounded down; nothing when it holds none.
std::optional<long double> FieldNumber(const QByteArray& field) {
    const QByteArray trimmed = field.trimmed();
    if (trimmed.isEmpty() ||
        !(trimmed[0] == '-' || trimmed[0] == '+' || (trimmed[0] >= '0' && trimmed[0] <= '9'))) {
        return std::nullopt;
    }
    const long double value = LeadingNumber(QString::fromLatin1(trimmed));
    if (!std::isfinite(value) || std::fabs(value) > 1e15L) {
        return std::nullopt;
    }
    return std::floor(value);
}

int Mod256(long double value) {
    const auto whole = static_cast<std::int64_t>(value);
    return static_cast<int>(((whole % 256) + 256) % 256);
}

}  // namespace

std::optional<PassiveAddress> ParsePassiveReply(const QByteArray& line) {
    QByteArray inner;
    const qsizetype open = line.indexOf('(');
    if (open >= 0) {
        const qsizetype close = line.indexOf(')', open + 1);
        inner = line.mid(open + 1, close < 0 ? -1 : close - open - 1);
    } else {
        qsizetype i = 3;
        while (i < line.size() && (line[i] < '0' || line[i] > '9')) {
            ++i;
        }
        inner = line.mid(i);
    }
    const QList<QByteArray> fields = inner.split(',');
    if (fields.size() < 6) {
        return std::nullopt;
    }
    long double numbers[6];
    for (int i = 0; i < 6; ++i) {
        const auto number = FieldNumber(fields[i]);
        if (!number) {
            return std::nullopt;
        }
        numbers[i] = *number;
    }
    PassiveAddress address;
    for (int i = 0; i < 4; ++i) {
        address.host += (i > 0 ? QStringLiteral(".") : QString()) +
                        QString::number(static_cast<std::int64_t>(numbers[i]));
    }
    address.port = Mod256(numbers[4]) * 256 + Mod256(numbers[5]);
    if (address.port == 0) {
        return std::nullopt;
    }
    return address;
}

const char* PassiveCommand(const QString& peerAddress) {
    return peerAddress.contains(u':') ? "EPSV" : "PASV";
}

std::optional<PassiveAddress> ParseExtendedPassiveReply(const QByteArray& line) {
    const qsizetype open = line.indexOf('(');
    const qsizetype close = line.indexOf(')', open + 1);
    if (open < 0 || close < 0) {
        return std::nullopt;
    }
    const QByteArray inner = line.mid(open + 1, close - open - 1);
    // Three delimiters, the port, a fourth: no protocol or address between the first three.
    if (inner.size() < 5 || inner[1] != inner[0] || inner[2] != inner[0] ||
        !inner.endsWith(inner[0])) {
        return std::nullopt;
    }
    const QByteArray digits = inner.mid(3, inner.size() - 4);
    bool number = false;
    const int port = digits.toInt(&number);
    if (!number || digits.startsWith('+') || digits.startsWith('-') || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return PassiveAddress{QString(), port};
}

QByteArray PwdDirectory(const QByteArray& line) {
    const qsizetype first = line.indexOf('"');
    const qsizetype last = line.lastIndexOf('"');
    if (first < 0 || last <= first) {
        return QByteArray();
    }
    QByteArray directory = line.mid(first + 1, last - first - 1);
    if (directory.endsWith('/')) {
        directory.chop(1);
    }
    return directory;
}

std::int64_t SizeReplyValue(const QByteArray& line) {
    const qsizetype blank = line.indexOf(' ');
    return blank < 0 ? 0 : SizeFrom(line.mid(blank + 1));
}

std::int64_t OpeningReplySize(const QByteArray& line) {
    const qsizetype open = line.lastIndexOf('(');
    return open < 0 ? 0 : SizeFrom(line.mid(open + 1));
}

QByteArray FtpPathBytes(const QString& urlPath) {
    return QByteArray::fromPercentEncoding(urlPath.toUtf8());
}

QByteArray FtpCommand(const char* verb, const QByteArray& argument) {
    QByteArray line(verb);
    if (!argument.isEmpty()) {
        QByteArray clean = argument;
        clean.removeIf([](char c) { return c == '\r' || c == '\n' || c == '\0'; });
        line += ' ';
        line += clean;
    }
    line += "\r\n";
    return line;
}
