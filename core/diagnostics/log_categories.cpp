#include "core/diagnostics/log_categories.h"

Q_LOGGING_CATEGORY(lcNet, "brenloft.net", QtWarningMsg)
Q_LOGGING_CATEGORY(lcEngine, "brenloft.engine", QtWarningMsg)
Q_LOGGING_CATEGORY(lcQueue, "brenloft.queue", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUi, "brenloft.ui", QtWarningMsg)

void EnableVerboseLogging() {
    QLoggingCategory::setFilterRules(QStringLiteral("brenloft.*=true"));
    qSetMessagePattern(QStringLiteral("%{time hh:mm:ss.zzz} %{category}: %{message}"));
}
