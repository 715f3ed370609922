// SPDX-License-Identifier: MIT
// Runs the Qt event loop until done() holds or ms milliseconds have passed.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace BenchSupport {

template <typename F>
bool waitFor(F done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

} // namespace BenchSupport
