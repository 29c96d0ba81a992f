#include "core/diagnostics/log_categories.h"

#include <cstdio>

#include "core/text/format.h"

Q_LOGGING_CATEGORY(lcNet, "brenloft.net", QtWarningMsg)
Q_LOGGING_CATEGORY(lcEngine, "brenloft.engine", QtWarningMsg)
Q_LOGGING_CATEGORY(lcQueue, "brenloft.queue", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUi, "brenloft.ui", QtWarningMsg)

void EnableVerboseLogging() {
    QLoggingCategory::setFilterRules(QStringLiteral("brenloft.*=true"));
    qSetMessagePattern(QStringLiteral("%{time hh:mm:ss.zzz} %{category}: %{message}"));
}

namespace {

void EscapedLogLine(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QString line = qFormatLogMessage(type, context, EscapeControls(message));
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}

}  // namespace

void ShowLogLinesEscaped() {
    qInstallMessageHandler(EscapedLogLine);
}
