// SPDX-License-Identifier: MIT
// Read by the thread checker when a program is built with it; unused otherwise.
//
// Qt 5 from the distribution is not instrumented: QThread::wait hands over through Qt's own
// futex-based mutex, which the checker cannot see, so destroying a QThread whose run ended
// before wait was called looks like a race with the thread's last wake-up inside Qt.
// The checker's runtime looks the function up by name, so it must be visible outside the program.
extern "C" __attribute__((visibility("default"))) const char *__tsan_default_suppressions();

extern "C" const char *__tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n";
}
