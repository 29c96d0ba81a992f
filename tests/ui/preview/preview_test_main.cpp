#include <gtest/gtest.h>

#include <QApplication>

#include "ui/preview/media_backend.h"

// LeakSanitizer asks the program for its defaults before it reads LSAN_OPTIONS, so this binary
// alone skips the allocations GStreamer keeps for the life of the process.
extern "C" const char* __lsan_default_options() {
    return "fast_unwind_on_malloc=0:suppressions=" PREVIEW_LEAK_SUPPRESSIONS;
}

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
