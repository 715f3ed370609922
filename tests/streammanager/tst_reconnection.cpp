// SPDX-License-Identifier: MIT
// Reopening streams whose open failed, once per timer period, until one comes up.
#include "streamfixture.h"

#include <string>

using namespace streamtest;
using ::testing::_;
using ::testing::InSequence;
using ::testing::IsSupersetOf;
using ::testing::Mock;
using ::testing::StrictMock;
using ::testing::UnorderedElementsAre;

namespace {

class Reconnection : public StreamFixture
{
protected:
    void SetUp() override
    {
        StreamFixture::SetUp();
        ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    }

    // Opens a stream that the SDK accepts with id and then answers with result.
    int openAndFail(int id, int result = -5, int channelMode = -1, int channel = -1)
    {
        sdk.ScriptOpenResults({id});
        const int opened
            = component->OpenVideo("1000$0$5", 3, kTarget, kContext, kOwner, channelMode, channel);
        EXPECT_CALL(listener, OnOpenVideo(result, id, kOwner));
        sdk.EmitOpenResult(id, result);
        drain();
        EXPECT_TRUE(Mock::VerifyAndClearExpectations(&listener));
        sdk.ClearCalls();
        return opened;
    }

    // Opens a stream that fails as id and comes up again as reopenedId at the next pass.
    void openFailAndReopen(int id, int reopenedId)
    {
        ASSERT_EQ(openAndFail(id), id);
        sdk.ScriptOpenResults({reopenedId});
        pass();
        EXPECT_CALL(listener, OnReconnect(0, id, reopenedId, kOwner));
        sdk.EmitOpenResult(reopenedId, 0);
        drain();
        ASSERT_TRUE(Mock::VerifyAndClearExpectations(&listener));
    }

    std::vector<std::int64_t> closedIds()
    {
        std::vector<std::int64_t> ids;
        for (const KvSdk::SimCall &call : callsOf(KvSdk::SimCall::Close))
            ids.push_back(call.streamId);
        return ids;
    }

    StrictMock<MockListener> listener;
};

TEST_F(Reconnection, FailedOpenIsReopenedAtTheNextPassAsItWasFirstOpened)
{
    ASSERT_EQ(openAndFail(60, -5, 2, 7), 60);
    sdk.ScriptOpenResults({61});
    pass();
    const std::vector<KvSdk::SimCall> opens = callsOf(KvSdk::SimCall::Open);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].uniqueId, 1000);
    EXPECT_EQ(opens[0].channel, 7) << "the record keeps the channel of the request";
    EXPECT_EQ(opens[0].channelMode, 2);
    EXPECT_EQ(opens[0].mode, 3);
    EXPECT_EQ(opens[0].target, kTarget);
    EXPECT_EQ(opens[0].context, kContext);

    EXPECT_CALL(listener, OnReconnect(0, 60, 61, kOwner));
    sdk.EmitOpenResult(61, 0);
    drain();
    ASSERT_TRUE(Mock::VerifyAndClearExpectations(&listener));

    // Up again: no more reopens, and events now come under the new id.
    sdk.ClearCalls();
    EXPECT_CALL(listener, OnFirstFrame(0, 61, kOwner));
    sdk.EmitFirstFrame(61);
    drain();
    pass();
    pass();
    EXPECT_TRUE(callsOf(KvSdk::SimCall::Open).empty());
}

TEST_F(Reconnection, ParsedChannelIsUsedWithoutChannelMode)
{
    ASSERT_EQ(openAndFail(62), 62);
    pass();
    const std::vector<KvSdk::SimCall> opens = callsOf(KvSdk::SimCall::Open);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].channel, 5);
    EXPECT_EQ(opens[0].channelMode, -1);
}

TEST_F(Reconnection, RefusedReopensAreTriedAgainAtEveryPass)
{
    ASSERT_EQ(openAndFail(63), 63);
    for (int i = 1; i <= 4; ++i) {
        sdk.ScriptOpenResults({-20 - i});
        pass();
        EXPECT_EQ(callsOf(KvSdk::SimCall::Open).size(), static_cast<std::size_t>(i));
    }
    sdk.ScriptOpenResults({64});
    pass();
    EXPECT_CALL(listener, OnReconnect(0, 63, 64, kOwner));
    sdk.EmitOpenResult(64, 0);
    drain();
}

TEST_F(Reconnection, ReopenAnsweredWithFailureIsAskedAgainAtTheFollowingPass)
{
    ASSERT_EQ(openAndFail(65), 65);
    sdk.ScriptOpenResults({66});
    pass();
    // Accepted but not answered yet: the record waits, the next pass leaves it alone.
    pass();
    EXPECT_EQ(callsOf(KvSdk::SimCall::Open).size(), 1u);
    // A failure answer is not reported; the record is asked again.
    sdk.EmitOpenResult(66, -8);
    drain();
    sdk.ScriptOpenResults({67});
    pass();
    EXPECT_EQ(callsOf(KvSdk::SimCall::Open).size(), 2u);
    EXPECT_CALL(listener, OnReconnect(0, 65, 67, kOwner));
    sdk.EmitOpenResult(67, 0);
    drain();
}

TEST_F(Reconnection, ReopenedStreamIsSupervisedFromItsReopenTime)
{
    ASSERT_EQ(openAndFail(68), 68);
    // Let the original request grow old: it no longer counts once the stream is reopened.
    sdk.ScriptOpenResults({-1, -1, -1, -1, -1});
    for (int i = 0; i < 5; ++i)
        pass();
    sdk.ScriptOpenResults({69});
    pass(); // reopen request at this pass
    EXPECT_CALL(listener, OnReconnect(0, 68, 69, kOwner));
    sdk.EmitOpenResult(69, 0);
    drain();
    ASSERT_TRUE(Mock::VerifyAndClearExpectations(&listener));

    {
        InSequence order;
        EXPECT_CALL(listener, OnOpenDelay(69, kOwner)).Times(5);
        EXPECT_CALL(listener, OnOpenTimeout(69, kOwner));
    }
    for (int i = 0; i < 6; ++i)
        pass();
    ASSERT_TRUE(Mock::VerifyAndClearExpectations(&listener));
    const std::vector<KvSdk::SimCall> closes = callsOf(KvSdk::SimCall::Close);
    ASSERT_FALSE(closes.empty());
    EXPECT_EQ(closes[0].streamId, 69);
}

TEST_F(Reconnection, ClosingByTheOriginalIdClosesTheCurrentSdkStream)
{
    ASSERT_EQ(openAndFail(70), 70);
    sdk.ScriptOpenResults({71});
    pass();
    sdk.ClearCalls();
    EXPECT_EQ(component->CloseVideo(70), 0);
    drain();
    // The host's request as given, and the stream the SDK has open now (from the queue thread,
    // so in either order).
    EXPECT_THAT(closedIds(), UnorderedElementsAre(70, 71));
    // The record is gone: a late answer to the reopen is dropped and nothing is reopened.
    sdk.EmitOpenResult(71, 0);
    drain();
    pass();
    EXPECT_TRUE(callsOf(KvSdk::SimCall::Open).empty());
}

TEST_F(Reconnection, ClosingByTheCurrentIdEndsTheReopening)
{
    ASSERT_EQ(openAndFail(72), 72);
    sdk.ScriptOpenResults({73});
    pass();
    sdk.ClearCalls();
    EXPECT_EQ(component->CloseVideo(73), 0);
    sdk.EmitOpenResult(73, -1);
    drain();
    pass();
    EXPECT_TRUE(callsOf(KvSdk::SimCall::Open).empty());
    EXPECT_THAT(closedIds(), UnorderedElementsAre(73)) << "closed once, by the host's request";
}

TEST_F(Reconnection, FailedOpenOfAClosedStreamIsReportedButNotReopened)
{
    sdk.ScriptOpenResults({74});
    ASSERT_EQ(component->OpenVideo("1000$1", 0, kTarget, 0, kOwner, -1, -1), 74);
    ASSERT_EQ(component->CloseVideo(74), 0);
    EXPECT_CALL(listener, OnOpenVideo(-2, 74, kOwner));
    sdk.EmitOpenResult(74, -2);
    // The record waits for the SDK's close report, which removes it.
    sdk.EmitClosed(74, 1);
    drain();
    sdk.ClearCalls();
    pass();
    pass();
    EXPECT_TRUE(callsOf(KvSdk::SimCall::Open).empty());
}

TEST_F(Reconnection, SdkCloseOfAWaitingStreamIsReportedWithItsOriginalId)
{
    ASSERT_EQ(openAndFail(75), 75);
    EXPECT_CALL(listener, OnCloseVideo(0, 75, kOwner));
    sdk.EmitClosed(75, 0);
    drain();
    pass();
    EXPECT_TRUE(callsOf(KvSdk::SimCall::Open).empty());
}

// The stream ends without the host asking; its reopen request must not stay open in the SDK.
TEST_F(Reconnection, SdkCloseOfAStreamBeingReopenedClosesTheReopenRequest)
{
    ASSERT_EQ(openAndFail(78), 78);
    sdk.ScriptOpenResults({79});
    pass();
    sdk.ClearCalls();
    EXPECT_CALL(listener, OnCloseVideo(0, 78, kOwner));
    sdk.EmitClosed(78, 0);
    drain();
    EXPECT_THAT(closedIds(), UnorderedElementsAre(79));
}

// The SDK may hand out an id again once its stream is closed; the reopened stream's left-behind
// record must not take the new stream's open answer for a reopen answer.
TEST_F(Reconnection, SdkCloseOfAReopenedStreamEndsItsReconnection)
{
    openFailAndReopen(76, 77);
    EXPECT_CALL(listener, OnCloseVideo(0, 77, kOwner));
    sdk.EmitClosed(77, 0);
    drain();
    ASSERT_TRUE(Mock::VerifyAndClearExpectations(&listener));

    sdk.ClearCalls();
    ASSERT_EQ(open(77, kOwner, "2000$0$9"), 77);
    EXPECT_CALL(listener, OnOpenVideo(0, 77, kOwner));
    sdk.EmitOpenResult(77, 0);
    drain();
    // Closing by the first id finds nothing to close any more.
    EXPECT_EQ(component->CloseVideo(76), 0);
    drain();
    EXPECT_THAT(closedIds(), UnorderedElementsAre(76));
}

// A stream whose first id is 0 keeps 0 as the id the host knows, through failed reopens.
TEST_F(Reconnection, FirstIdZeroStaysTheOriginalId)
{
    ASSERT_EQ(openAndFail(0), 0);
    sdk.ScriptOpenResults({80});
    pass();
    sdk.EmitOpenResult(80, -1);
    drain();
    sdk.ScriptOpenResults({81});
    pass();
    EXPECT_CALL(listener, OnReconnect(0, 0, 81, kOwner));
    sdk.EmitOpenResult(81, 0);
    drain();
    ASSERT_TRUE(Mock::VerifyAndClearExpectations(&listener));

    sdk.ClearCalls();
    EXPECT_EQ(component->CloseVideo(0), 0);
    drain();
    EXPECT_THAT(closedIds(), UnorderedElementsAre(0, 81));
}

TEST_F(Reconnection, FirstIdZeroIsReportedClosedAsZero)
{
    ASSERT_EQ(openAndFail(0), 0);
    sdk.ScriptOpenResults({82});
    pass();
    sdk.EmitOpenResult(82, -1);
    drain();
    sdk.ScriptOpenResults({-1});
    pass();
    EXPECT_CALL(listener, OnCloseVideo(0, 0, kOwner));
    sdk.EmitClosed(0, 0);
    drain();
}

// The SDK hands a failed stream's id out again. Stream A opens as 7, fails and is reopened as 12;
// stream B then opens as 7 too and either plays or fails and is being reopened as 15. The host
// knows A as 7 or 12 and B as 7; whichever ids it closes them by, both SDK streams end and
// nothing is reopened.
struct ReusedIdRow
{
    const char *name;
    std::vector<int> closes;
    bool secondPlays = false;
};

void PrintTo(const ReusedIdRow &row, std::ostream *os)
{
    *os << row.name;
}

class ReusedId : public Reconnection, public ::testing::WithParamInterface<ReusedIdRow>
{};

TEST_P(ReusedId, EveryStreamStaysClosable)
{
    const ReusedIdRow &row = GetParam();
    openFailAndReopen(7, 12);
    EXPECT_CALL(listener, OnFirstFrame(0, 12, kOwner));
    sdk.EmitFirstFrame(12);
    drain();
    int secondStream = 7;
    if (row.secondPlays) {
        ASSERT_EQ(open(7), 7);
        EXPECT_CALL(listener, OnOpenVideo(0, 7, kOwner));
        sdk.EmitOpenResult(7, 0);
        EXPECT_CALL(listener, OnFirstFrame(0, 7, kOwner));
        sdk.EmitFirstFrame(7);
        drain();
    } else {
        ASSERT_EQ(openAndFail(7), 7);
        sdk.ScriptOpenResults({15});
        pass();
        ASSERT_EQ(callsOf(KvSdk::SimCall::Open).size(), 1u) << "B is reopened, A is up";
        secondStream = 15;
    }

    sdk.ClearCalls();
    for (const int id : row.closes)
        EXPECT_EQ(component->CloseVideo(id), 0);
    drain();
    EXPECT_THAT(closedIds(), IsSupersetOf({12, secondStream})) << "a stream stays open in the SDK";
    sdk.EmitOpenResult(15, 0);
    drain();
    pass();
    EXPECT_TRUE(callsOf(KvSdk::SimCall::Open).empty());
}

const ReusedIdRow kReusedIdRows[] = {
    {"OpenIdsOnly", {7, 7}},
    {"NewIdFirst", {12, 7}},
    {"SharedIdFirst", {7, 12}},
    {"SecondPlaysOpenIdsOnly", {7, 7}, true},
    {"SecondPlaysSharedIdFirst", {7, 12}, true},
};

INSTANTIATE_TEST_SUITE_P(Table, ReusedId, ::testing::ValuesIn(kReusedIdRows),
                         [](const auto &info) { return std::string(info.param.name); });

class ReconnectionBeforeInit : public StreamFixture
{
protected:
    bool initInSetUp() const override { return false; }
};

TEST_F(ReconnectionBeforeInit, IntervalSetBeforeInitIsTheFirstPeriod)
{
    ASSERT_EQ(component->SetReconnectInterval(2000), 0);
    ASSERT_EQ(component->Init(&sdk), 0);
    openBarrier();
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    sdk.ScriptOpenResults({90});
    ASSERT_EQ(component->OpenVideo("5$5", 0, kTarget, 0, kOwner, -1, -1), 90);
    EXPECT_CALL(listener, OnOpenVideo(-1, 90, kOwner));
    sdk.EmitOpenResult(90, -1);
    drain();
    sdk.ClearCalls();

    sdk.ScriptOpenResults({-1, -1});
    qrl::DTestClock::Advance(1999);
    drain();
    EXPECT_TRUE(callsOf(KvSdk::SimCall::Open).empty());
    qrl::DTestClock::Advance(1);
    drain();
    EXPECT_EQ(callsOf(KvSdk::SimCall::Open).size(), 1u);
    qrl::DTestClock::Advance(2000);
    drain();
    EXPECT_EQ(callsOf(KvSdk::SimCall::Open).size(), 2u);
}

} // namespace
