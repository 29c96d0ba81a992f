#include <gtest/gtest.h>

#include <QApplication>

namespace {

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform reports every window call it cannot honour (raise, size hints for
// a window manager); none of them matter without a screen, and they bury the test output.
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("This plugin does not support"))) {
        return;
    }
    // A tray icon waits for an X11 tray through a signal that the offscreen platform lacks.
    if (type == QtWarningMsg && message.contains(QLatin1String("systemTrayWindowChanged"))) {
        return;
    }
    defaultHandler(type, context, message);
}

}  // namespace

// Window tests need a widget application. Without a display they draw offscreen, so they run
// the same in a terminal, under ctest and on a build machine.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    defaultHandler = qInstallMessageHandler(QuietOffscreen);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
