// The windows need the application object before any test runs: the configurator's
// own, so that its exception display is in force too.
#include "Application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    v38::Application application(argc, argv);
    return RUN_ALL_TESTS();
}
