// SPDX-License-Identifier: MIT
// The reference client's stream view against the stream component and the simulated SDK:
// listener calls come on the component's thread, the view changes only on its own, and every
// tile ends where its camera's behaviour leads it.
#include "streamsview.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <qrl/qrl.h>

#include <gtest/gtest.h>

namespace {

using namespace Olvane;

// Runs the event loop until done() holds or the time is up.
template <typename Done>
bool spinUntil(Done done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(StreamsView, EveryCameraEndsWhereItsBehaviourLeads)
{
    const QVector<Camera> cameras = demoCameras(16);
    int quickOrSlow = 0;
    int flaky = 0;
    int offline = 0;
    for (const Camera &camera : cameras) {
        quickOrSlow += camera.kind == CameraKind::Quick || camera.kind == CameraKind::Slow;
        flaky += camera.kind == CameraKind::Flaky;
        offline += camera.kind == CameraKind::Offline;
    }
    ASSERT_GT(flaky, 0);
    ASSERT_GT(offline, 0);

    StreamsView view(cameras);
    ASSERT_TRUE(view.start());
    const bool settled = spinUntil(
        [&] {
            const StreamCounts c = view.counts();
            return c.in(TileState::Live) == quickOrSlow + flaky && c.reconnected == flaky
                   && c.slow >= offline;
        },
        20000);
    const StreamCounts seen = view.counts();
    EXPECT_TRUE(settled) << "live " << seen.in(TileState::Live) << ", reopened " << seen.reconnected
                         << ", slow " << seen.slow;
    // An offline camera's open fails and no frame ever comes: it stays failed until it times out.
    EXPECT_EQ(seen.in(TileState::OpenFailed), offline);

    EXPECT_TRUE(view.stop(10000));
    const StreamCounts after = view.counts();
    EXPECT_EQ(after.in(TileState::Closed), cameras.size());
    // Every listener call was shown, on the view's own thread, and none ran on that thread.
    EXPECT_EQ(after.events, view.listener()->calls());
    EXPECT_EQ(view.eventsOffThread(), 0);
    EXPECT_EQ(view.listener()->callsOnOwnThread(), 0);
    EXPECT_FALSE(view.running());
}

TEST(StreamsView, StartsAgainAfterAStop)
{
    StreamsView view(demoCameras(4));
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(view.start());
        EXPECT_TRUE(spinUntil([&] { return view.counts().in(TileState::Live) == 4; }, 10000))
            << "round " << round;
        EXPECT_TRUE(view.stop(10000));
        EXPECT_EQ(view.counts().in(TileState::Closed), 4);
    }
}

// A stream whose first frame never comes is reported slow, then timed out at 30 s and closed by
// the component; the view shows it timed out. The component's clock is the base library's test
// clock here, moved on by hand; the cameras answer in real time.
TEST(StreamsView, AStreamWithoutFramesTimesOut)
{
    QVector<Camera> cameras = demoCameras(2);
    cameras[0].kind = CameraKind::Quick;
    cameras[1].kind = CameraKind::Offline;
    qrl::DTestClock::Enable(1000000);
    {
        StreamsView view(cameras);
        ASSERT_TRUE(view.start());
        ASSERT_TRUE(spinUntil(
            [&] {
                const StreamCounts c = view.counts();
                return c.in(TileState::Live) == 1 && c.in(TileState::OpenFailed) == 1;
            },
            10000));
        for (int second = 0; second < 31; ++second) {
            qrl::DTestClock::Advance(1000);
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        const bool timedOut
            = spinUntil([&] { return view.counts().in(TileState::TimedOut) == 1; }, 10000);
        EXPECT_TRUE(timedOut);
        EXPECT_EQ(view.counts().in(TileState::Live), 1);
        EXPECT_TRUE(view.stop(10000));
        EXPECT_EQ(view.counts().in(TileState::TimedOut), 1);
        EXPECT_EQ(view.counts().in(TileState::Closed), 1);
    }
    qrl::DTestClock::Disable();
}

} // namespace
