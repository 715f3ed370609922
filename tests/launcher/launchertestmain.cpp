// SPDX-License-Identifier: MIT
// The in-process tests run inside the launcher's own application object, so that every event
// they send goes through its dispatch.
#include "cqelapplication.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// The offscreen platform that the tests run on leaks its screen at exit; full stacks let the
// suppression name that plug-in alone.
extern "C" Q_DECL_EXPORT const char *__lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n";
}
extern "C" Q_DECL_EXPORT const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
#endif

int main(int argc, char **argv)
{
    // Test discovery runs the binary without the test environment; it needs no display either.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    CQelApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
