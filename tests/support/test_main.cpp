#include <gtest/gtest.h>

#include <QCoreApplication>

// Every test runs with a Qt application object, so event loops, timers and socket notifiers
// behave as in the programs.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
