// SPDX-License-Identifier: MIT
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// The offscreen platform plug-in never frees its screen objects; that is not ours to find.
extern "C" __attribute__((visibility("default"))) const char *__lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n";
}

int main(int argc, char **argv)
{
    // Test discovery runs without the test environment, and font metrics need a GUI app.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every server here is on loopback; a proxy from the environment must not get in between.
    for (const char *name :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
        unsetenv(name);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
