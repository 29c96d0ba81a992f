#include <gtest/gtest.h>

#include <QApplication>

#include "ui/preview/media_backend.h"

// As the desktop program starts: the media backend is chosen before the application exists.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    UseGStreamerMedia();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
