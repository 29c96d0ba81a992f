#include "ui/main_window/failure_reason.h"

#include <QRegularExpression>
#include <array>
#include <utility>

#include "core/text/text_table.h"
#include "net/winsock_errors.h"

QString FailureReason(const QString& why, const TextTable& texts) {
    static const QRegularExpression kSocketError(QStringLiteral("^socket error (\\d+)$"));
    const QRegularExpressionMatch match = kSocketError.match(why.trimmed());
    if (!match.hasMatch()) {
        return why.trimmed();
    }
    // An unknown name is reported as an address that is not available.
    static constexpr std::array<std::pair<std::int32_t, int>, 6> kWords = {{
        {WinSock::AddressNotAvailable, 112},
        {WinSock::ConnectionRefused, 113},
        {WinSock::TimedOut, 114},
        {WinSock::HostUnreachable, 115},
        {WinSock::NetworkUnreachable, 115},
        {WinSock::HostDown, 115},
    }};
    const std::int32_t number = match.captured(1).toInt();
    for (const auto& [error, text] : kWords) {
        if (error == number) {
            return texts.text(text);
        }
    }
    return why.trimmed();
}
