#include "tests/support/xvfb_display.h"

bool XvfbDisplay::start() {
    // -displayfd picks a free display and prints its number once the server accepts clients.
    if (!server_.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                                QStringLiteral("-screen"), QStringLiteral("0"),
                                                QStringLiteral("1024x768x24")})) {
        error_ = server_.error();
        return false;
    }
    const QString number = server_.firstLine(30000).trimmed();
    if (number.isEmpty()) {
        error_ =
            QStringLiteral("Xvfb gave no display: ") + QString::fromUtf8(server_.errorOutput());
        return false;
    }
    name_ = u':' + number;
    return true;
}
