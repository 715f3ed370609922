// SPDX-License-Identifier: MIT
// Supervision of the first frame on the test clock: slow from 3 s, timed out and closed from 30 s.
#include "streamfixture.h"

#include <string>

using namespace streamtest;
using ::testing::_;
using ::testing::Mock;
using ::testing::StrictMock;

namespace {

// Where the open request falls after the timer started decides at which passes it is reported.
struct SupervisionRow
{
    const char *name;
    int openOffsetMs; // after the timer started; passes come every 5000 ms from its start
    int delayPasses;  // passes that report it slow
};

void PrintTo(const SupervisionRow &row, std::ostream *out)
{
    *out << row.name;
}

const SupervisionRow kSupervisionRows[] = {
    {"AtTimerStart", 0, 5},           // 5000 .. 25000 slow, 30000 exactly times out
    {"ThreeSecondsExactly", 2000, 6}, // first pass at 3000 exactly is slow already
    {"JustUnderThree", 2001, 5},      // 2999 is nothing yet, 32999 times out
    {"LateInPeriod", 4999, 5},        // 1 is nothing, 5001 .. 25001 slow, 30001 times out
};

class Supervision : public StreamFixture, public ::testing::WithParamInterface<SupervisionRow>
{};

TEST_P(Supervision, ReportsSlowThenTimesOutAndClosesUntilTheSdkReportsTheClose)
{
    const SupervisionRow &row = GetParam();
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    qrl::DTestClock::Advance(row.openOffsetMs);
    const int id = open(50);
    ASSERT_EQ(id, 50);
    const std::int64_t openedAt = qrl::DTime::GetTime();
    sdk.ClearCalls();

    const std::int64_t firstPass = kStartMs + kPeriodMs * ((openedAt - kStartMs) / kPeriodMs + 1);
    int delays = 0;
    int timeouts = 0;
    for (std::int64_t at = firstPass; timeouts < 3; at += kPeriodMs) {
        const std::int64_t elapsed = at - openedAt;
        if (elapsed >= 30000) {
            EXPECT_CALL(listener, OnOpenTimeout(id, kOwner));
        } else if (elapsed >= 3000) {
            EXPECT_CALL(listener, OnOpenDelay(id, kOwner));
        }
        qrl::DTestClock::Advance(at - qrl::DTime::GetTime());
        drain();
        ASSERT_TRUE(Mock::VerifyAndClearExpectations(&listener)) << "pass at +" << elapsed;
        const std::size_t closes = callsOf(KvSdk::SimCall::Close).size();
        if (elapsed >= 30000) {
            ++timeouts;
            EXPECT_EQ(closes, static_cast<std::size_t>(timeouts)) << "closed at every pass";
        } else {
            delays += elapsed >= 3000;
            EXPECT_EQ(closes, 0u);
        }
    }
    EXPECT_EQ(delays, row.delayPasses);
    for (const KvSdk::SimCall &close : callsOf(KvSdk::SimCall::Close))
        EXPECT_EQ(close.streamId, id);

    // Once the SDK reports the close the record is gone and the passes fall silent.
    EXPECT_CALL(listener, OnCloseVideo(0, id, kOwner));
    sdk.EmitClosed(id, 0);
    drain();
    pass();
    pass();
    EXPECT_EQ(callsOf(KvSdk::SimCall::Close).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Table, Supervision, ::testing::ValuesIn(kSupervisionRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(StreamFixture, FirstFrameWithinThreeSecondsEndsAllReports)
{
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    const int id = open(51);
    qrl::DTestClock::Advance(2999);
    EXPECT_CALL(listener, OnFirstFrame(0, id, kOwner));
    sdk.EmitFirstFrame(id);
    drain();
    for (int i = 0; i < 10; ++i)
        pass();
    EXPECT_TRUE(callsOf(KvSdk::SimCall::Close).empty());
}

TEST_F(StreamFixture, LateFirstFrameEndsTheReportsFromThenOn)
{
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    const int id = open(52);
    EXPECT_CALL(listener, OnOpenDelay(id, kOwner)).Times(2);
    pass();
    pass();
    ASSERT_TRUE(Mock::VerifyAndClearExpectations(&listener));
    EXPECT_CALL(listener, OnFirstFrame(0, id, kOwner));
    sdk.EmitFirstFrame(id);
    drain();
    for (int i = 0; i < 8; ++i)
        pass();
}

TEST_F(StreamFixture, TimedOutStreamClosedByTheHostStillReportsUntilTheSdkCloses)
{
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    const int id = open(53);
    ASSERT_EQ(component->CloseVideo(id), 0);
    // The host's close only marks the record; the SDK's close report removes it.
    EXPECT_CALL(listener, OnOpenDelay(id, kOwner)).Times(5);
    EXPECT_CALL(listener, OnOpenTimeout(id, kOwner)).Times(1);
    for (int i = 0; i < 6; ++i)
        pass();
    ASSERT_TRUE(Mock::VerifyAndClearExpectations(&listener));
    EXPECT_CALL(listener, OnCloseVideo(0, id, kOwner));
    sdk.EmitClosed(id, 0);
    drain();
    pass();
}

TEST_F(StreamFixture, ReconnectIntervalAfterInitReArmsTheTimer)
{
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    qrl::DTestClock::Advance(4000); // 1000 before the first pass at the default period
    ASSERT_EQ(component->SetReconnectInterval(3000), 0);
    const int id = open(54);
    // The old schedule is gone: nothing at +1000, the first pass comes 3000 after the change.
    qrl::DTestClock::Advance(2999);
    drain();
    EXPECT_CALL(listener, OnOpenDelay(id, kOwner));
    qrl::DTestClock::Advance(1);
    drain();
    ASSERT_TRUE(Mock::VerifyAndClearExpectations(&listener));
    EXPECT_CALL(listener, OnOpenDelay(id, kOwner));
    qrl::DTestClock::Advance(3000);
    drain();
}

} // namespace
