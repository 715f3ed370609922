// SPDX-License-Identifier: MIT
// The in-process tests run inside the launcher's own application object, so that every event
// they send goes through its dispatch.
#include "cqelapplication.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Test discovery runs the binary without the test environment; it needs no display either.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    CQelApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
