// SPDX-License-Identifier: MIT
#include <qrl/qrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 10s;
constexpr std::int64_t kStart = 1000000;
constexpr unsigned kInvalid = static_cast<unsigned>(-1);

struct Expiry
{
    unsigned id;
    std::int64_t time;
    std::thread::id thread;
};

class Recorder : public qrl::DTimerHandler
{
public:
    void OnTimer(unsigned timerId) override
    {
        if (hook)
            hook(timerId);
        std::lock_guard<std::mutex> lock(mutex);
        expiries.push_back({timerId, qrl::DTime::GetTime(), std::this_thread::get_id()});
        cv.notify_all();
    }

    std::vector<Expiry> taken()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return expiries;
    }
    std::size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return expiries.size();
    }
    bool waitCount(std::size_t n)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, kPatience, [&] { return expiries.size() >= n; });
    }

    std::function<void(unsigned)> hook; // runs first in OnTimer; set before the timer starts

private:
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Expiry> expiries;
};

class TestClockTest : public ::testing::Test
{
protected:
    void SetUp() override { qrl::DTestClock::Enable(kStart); }
    void TearDown() override { qrl::DTestClock::Disable(); }

    std::vector<std::int64_t> timesOf(unsigned id)
    {
        std::vector<std::int64_t> times;
        for (const Expiry &expiry : handler.taken()) {
            if (expiry.id == id)
                times.push_back(expiry.time - kStart);
        }
        return times;
    }

    // Declared before the manager: the manager goes first and ends its timers.
    Recorder handler;
    qrl::DTimerMgr timers;
};

TEST_F(TestClockTest, PeriodHoldsExactly)
{
    const unsigned id = timers.CreateTimer(&handler);
    ASSERT_NE(id, kInvalid);
    ASSERT_EQ(timers.StartTimer(id, 5000), 0);

    qrl::DTestClock::Advance(4999);
    EXPECT_EQ(handler.count(), 0u);
    EXPECT_EQ(qrl::DTime::GetTime(), kStart + 4999);
    qrl::DTestClock::Advance(1);
    EXPECT_EQ(timesOf(id), (std::vector<std::int64_t>{5000}));
    // Each expiry sees the clock at its own time, and arrives on the timer thread.
    qrl::DTestClock::Advance(30000);
    EXPECT_EQ(timesOf(id),
              (std::vector<std::int64_t>{5000, 10000, 15000, 20000, 25000, 30000, 35000}));
    EXPECT_EQ(qrl::DTime::GetTime(), kStart + 35000);
    for (const Expiry &expiry : handler.taken())
        EXPECT_NE(expiry.thread, std::this_thread::get_id());
}

struct PeriodCase
{
    const char *name;
    int periodMs;
    std::vector<std::int64_t> steps; // advances, one after the other
    std::size_t expiries;
};

// Test names show the row name, not the bytes of the row.
void PrintTo(const PeriodCase &row, std::ostream *out)
{
    *out << row.name;
}

class TimerPeriodTest : public TestClockTest, public ::testing::WithParamInterface<PeriodCase>
{};

TEST_P(TimerPeriodTest, CountsExpiries)
{
    const PeriodCase &row = GetParam();
    const unsigned id = timers.CreateTimer(&handler);
    ASSERT_EQ(timers.StartTimer(id, row.periodMs), 0);
    for (std::int64_t step : row.steps)
        qrl::DTestClock::Advance(step);
    EXPECT_EQ(handler.count(), row.expiries);
}

INSTANTIATE_TEST_SUITE_P(
    Periods, TimerPeriodTest,
    ::testing::Values(PeriodCase{"DefaultPeriodOverThirtySeconds", 5000, {30000}, 6},
                      PeriodCase{"InSmallSteps", 5000, {1000, 1000, 1000, 1000, 999, 1, 4999}, 1},
                      PeriodCase{"ShortPeriodOneLeap", 2000, {30001}, 15},
                      PeriodCase{"OneMillisecond", 1, {250}, 250},
                      PeriodCase{"JustShort", 3000, {2999}, 0},
                      PeriodCase{"ZeroAdvance", 10, {0, 0}, 0}),
    [](const ::testing::TestParamInfo<PeriodCase> &info) { return info.param.name; });

TEST_F(TestClockTest, SeveralTimersArriveInTimeOrder)
{
    Recorder other;
    const unsigned three = timers.CreateTimer(&handler);
    const unsigned five = timers.CreateTimer(&handler);
    qrl::DTimerMgr otherTimers;
    const unsigned seven = otherTimers.CreateTimer(&other);
    ASSERT_EQ(timers.StartTimer(three, 3000), 0);
    ASSERT_EQ(timers.StartTimer(five, 5000), 0);
    ASSERT_EQ(otherTimers.StartTimer(seven, 7000), 0);
    qrl::DTestClock::Advance(15000);

    std::vector<std::pair<unsigned, std::int64_t>> order;
    for (const Expiry &expiry : handler.taken())
        order.emplace_back(expiry.id, expiry.time - kStart);
    // Equal times keep the order in which the timers were started.
    const std::vector<std::pair<unsigned, std::int64_t>> expected{
        {three, 3000}, {five, 5000},   {three, 6000},  {three, 9000},
        {five, 10000}, {three, 12000}, {three, 15000}, {five, 15000}};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(other.count(), 2u);
}

TEST_F(TestClockTest, DestroyEndsExpiriesAndStartArmsAgain)
{
    const unsigned id = timers.CreateTimer(&handler);
    ASSERT_EQ(timers.StartTimer(id, 1000), 0);
    qrl::DTestClock::Advance(2500);
    ASSERT_EQ(handler.count(), 2u);

    EXPECT_EQ(timers.DestroyTimer(id), 0);
    qrl::DTestClock::Advance(10000);
    EXPECT_EQ(handler.count(), 2u);

    // The destroyed id is armed again, with the new period, counted from now.
    ASSERT_EQ(timers.StartTimer(id, 4000), 0);
    qrl::DTestClock::Advance(12000);
    EXPECT_EQ(timesOf(id), (std::vector<std::int64_t>{1000, 2000, 16500, 20500, 24500}));

    // Starting a running timer again re-arms it with the new period.
    ASSERT_EQ(timers.StartTimer(id, 500), 0);
    qrl::DTestClock::Advance(1000);
    EXPECT_EQ(handler.count(), 7u);
    EXPECT_EQ(timers.DestroyTimer(id), 0);
    EXPECT_EQ(timers.DestroyTimer(id), 0);
}

TEST_F(TestClockTest, RefusesBadIdsAndPeriods)
{
    qrl::DTimerMgr otherTimers;
    EXPECT_EQ(timers.CreateTimer(nullptr), kInvalid);
    EXPECT_EQ(timers.DestroyTimer(kInvalid), -1);
    EXPECT_EQ(timers.StartTimer(kInvalid, 1000), -1);
    EXPECT_EQ(timers.DestroyTimer(12345678), -1);

    const unsigned id = timers.CreateTimer(&handler);
    EXPECT_EQ(timers.StartTimer(id, 0), -1);
    EXPECT_EQ(timers.StartTimer(id, -5), -1);
    // A manager answers only for its own timers.
    EXPECT_EQ(otherTimers.StartTimer(id, 1000), -1);
    EXPECT_EQ(otherTimers.DestroyTimer(id), -1);
    qrl::DTestClock::Advance(5000);
    EXPECT_EQ(handler.count(), 0u); // never started
}

TEST_F(TestClockTest, DestroyWaitsForAnExpiryInFlight)
{
    std::mutex gateMutex;
    std::condition_variable gateCv;
    bool entered = false;
    bool release = false;
    handler.hook = [&](unsigned) {
        std::unique_lock<std::mutex> lock(gateMutex);
        entered = true;
        gateCv.notify_all();
        gateCv.wait_for(lock, kPatience, [&] { return release; });
    };
    const unsigned id = timers.CreateTimer(&handler);
    ASSERT_EQ(timers.StartTimer(id, 1000), 0);

    std::thread advancer([] { qrl::DTestClock::Advance(3000); });
    {
        std::unique_lock<std::mutex> lock(gateMutex);
        ASSERT_TRUE(gateCv.wait_for(lock, kPatience, [&] { return entered; }));
    }
    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        EXPECT_EQ(timers.DestroyTimer(id), 0);
        destroyed = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(destroyed.load());
    {
        std::lock_guard<std::mutex> lock(gateMutex);
        release = true;
    }
    gateCv.notify_all();
    destroyer.join();
    advancer.join();
    // The expiry in flight finished before DestroyTimer returned; the later ones never came.
    EXPECT_EQ(handler.count(), 1u);
}

TEST_F(TestClockTest, DestroyFromInsideItsOwnExpiry)
{
    unsigned id = kInvalid;
    handler.hook = [&](unsigned timerId) {
        if (timerId == id) {
            EXPECT_EQ(timers.DestroyTimer(timerId), 0);
        }
    };
    id = timers.CreateTimer(&handler);
    ASSERT_EQ(timers.StartTimer(id, 1000), 0);
    qrl::DTestClock::Advance(5000);
    EXPECT_EQ(handler.count(), 1u);
}

TEST_F(TestClockTest, ExpiryCanStartAnotherTimerWithinTheSameAdvance)
{
    unsigned first = kInvalid;
    unsigned second = kInvalid;
    handler.hook = [&](unsigned timerId) {
        if (timerId == first) {
            timers.DestroyTimer(first);
            timers.StartTimer(second, 500);
        }
    };
    first = timers.CreateTimer(&handler);
    second = timers.CreateTimer(&handler);
    ASSERT_EQ(timers.StartTimer(first, 1000), 0);
    qrl::DTestClock::Advance(2000);
    EXPECT_EQ(timesOf(first), (std::vector<std::int64_t>{1000}));
    EXPECT_EQ(timesOf(second), (std::vector<std::int64_t>{1500, 2000}));
}

TEST_F(TestClockTest, DestroyingTheManagerEndsItsTimers)
{
    {
        qrl::DTimerMgr local;
        const unsigned id = local.CreateTimer(&handler);
        ASSERT_EQ(local.StartTimer(id, 100), 0);
        qrl::DTestClock::Advance(250);
    }
    qrl::DTestClock::Advance(1000);
    EXPECT_EQ(handler.count(), 2u);
}

TEST_F(TestClockTest, SwitchingClocksKeepsTheRemainingTime)
{
    const unsigned id = timers.CreateTimer(&handler);
    ASSERT_EQ(timers.StartTimer(id, 3000), 0);
    qrl::DTestClock::Advance(1000);
    qrl::DTestClock::Enable(kStart + 500000); // jump: the timer is still 2000 ms away
    qrl::DTestClock::Advance(1999);
    EXPECT_EQ(handler.count(), 0u);
    qrl::DTestClock::Advance(1);
    ASSERT_EQ(handler.count(), 1u);
    EXPECT_EQ(handler.taken().front().time, kStart + 502000);

    qrl::DTestClock::Disable();
    const std::int64_t before = qrl::DTime::GetTime();
    EXPECT_FALSE(qrl::DTestClock::IsEnabled());
    EXPECT_GE(qrl::DTime::GetTime(), before); // steady again
    EXPECT_EQ(timers.DestroyTimer(id), 0);
    qrl::DTestClock::Enable(kStart); // for TearDown
}

TEST(RealClockTest, ShortPeriodExpiresOnTheSteadyClock)
{
    ASSERT_FALSE(qrl::DTestClock::IsEnabled());
    Recorder handler;
    qrl::DTimerMgr timers;
    const unsigned id = timers.CreateTimer(&handler);
    const std::int64_t started = qrl::DTime::GetTime();
    ASSERT_EQ(timers.StartTimer(id, 20), 0);
    ASSERT_TRUE(handler.waitCount(3));
    EXPECT_EQ(timers.DestroyTimer(id), 0);
    const std::size_t atDestroy = handler.count();

    const std::vector<Expiry> expiries = handler.taken();
    for (std::size_t k = 0; k < expiries.size(); ++k) {
        // Never early: the k-th expiry comes no sooner than k+1 periods after the start.
        EXPECT_GE(expiries[k].time - started, std::int64_t(20 * (k + 1)));
        EXPECT_EQ(expiries[k].id, id);
    }
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(handler.count(), atDestroy);
}

TEST(RealClockTest, TimeIsSteadyMilliseconds)
{
    const std::int64_t first = qrl::DTime::GetTime();
    const auto steady = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    EXPECT_LE(std::abs(steady - first), 1000);
    std::this_thread::sleep_for(5ms);
    EXPECT_GE(qrl::DTime::GetTime(), first + 5);
}

TEST(TestClockAloneTest, AdvanceWithoutTimersOnlyMovesTime)
{
    qrl::DTestClock::Enable(42);
    EXPECT_TRUE(qrl::DTestClock::IsEnabled());
    EXPECT_EQ(qrl::DTime::GetTime(), 42);
    qrl::DTestClock::Advance(1000);
    EXPECT_EQ(qrl::DTime::GetTime(), 1042);
    qrl::DTestClock::Advance(-5); // time does not go back
    EXPECT_EQ(qrl::DTime::GetTime(), 1042);
    qrl::DTestClock::Disable();
    EXPECT_FALSE(qrl::DTestClock::IsEnabled());
}

} // namespace
