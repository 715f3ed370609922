// SPDX-License-Identifier: MIT
// Opening and closing streams, the listener table and the SDK's event messages.
#include "streamfixture.h"

#include <climits>
#include <string>
#include <thread>
#include <vector>

using namespace streamtest;
using ::testing::_;
using ::testing::AnyNumber;
using ::testing::InSequence;
using ::testing::StrictMock;

namespace {

// What the SDK's open receives for a source id, channel mode and channel.
struct SourceRow
{
    const char *name;
    const char *sourceId;
    int channelMode;
    int channel;
    std::int64_t sdkUniqueId;
    int sdkChannel;
};

void PrintTo(const SourceRow &row, std::ostream *out)
{
    *out << row.name;
}

const SourceRow kSourceRows[] = {
    {"DeviceNodeChannel", "1000$0$5", -1, 9, 1000, 5},
    {"DeviceChannel", "1000$7", -1, 9, 1000, 7},
    {"NoSeparator", "1000", -1, 9, -1, -1},
    {"NoSeparatorWithChannelMode", "1000", 2, 9, -1, 9},
    {"ChannelModeWins", "1000$0$5", 2, 7, 1000, 7},
    {"ChannelModeZero", "1000$0$5", 0, 3, 1000, 3},
    {"LeadingBlanks", "  \t12$ 4", -1, 0, 12, 4},
    {"PlusSigns", "+12$+4", -1, 0, 12, 4},
    {"MinusSigns", "-12$-4", -1, 0, -12, -4},
    {"DigitsUpToNonDigit", "12ab$4x$9z", -1, 0, 12, 9},
    {"EmptyParts", "$", -1, 0, 0, 0},
    {"EmptyDevice", "$6", -1, 0, 0, 6},
    {"EmptyChannel", "55$", -1, 0, 55, 0},
    {"SignWithoutDigits", "-$+", -1, 0, 0, 0},
    {"DeviceBeyond32Bits", "99999999999$3", -1, 0, 99999999999LL, 3},
    {"DeviceSaturates", "99999999999999999999$3", -1, 0, INT64_MAX, 3},
    {"ChannelSaturates", "1$2147483648", -1, 0, 1, INT_MAX},
    {"NegativeChannelSaturates", "1$-2147483649", -1, 0, 1, INT_MIN},
};

class SourceIds : public StreamFixture, public ::testing::WithParamInterface<SourceRow>
{};

TEST_P(SourceIds, ReachTheSdkAsParsed)
{
    const SourceRow &row = GetParam();
    sdk.ScriptOpenResults({11});
    ASSERT_EQ(component->OpenVideo(row.sourceId, 4, kTarget, kContext, kOwner, row.channelMode,
                                   row.channel),
              11);
    const std::vector<KvSdk::SimCall> opens = callsOf(KvSdk::SimCall::Open);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].uniqueId, row.sdkUniqueId);
    EXPECT_EQ(opens[0].channel, row.sdkChannel);
    EXPECT_EQ(opens[0].mode, 4);
    EXPECT_EQ(opens[0].channelMode, row.channelMode);
    EXPECT_EQ(opens[0].target, kTarget);
    EXPECT_EQ(opens[0].context, kContext);
}

INSTANTIATE_TEST_SUITE_P(Table, SourceIds, ::testing::ValuesIn(kSourceRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(StreamFixture, OpenVideoPassesSdkErrorsAndKeepsNoRecord)
{
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    sdk.ScriptOpenResults({-77});
    EXPECT_EQ(component->OpenVideo("1000$1", 0, kTarget, 0, kOwner, -1, -1), -77);
    // Nothing is known of that stream, so its events are dropped.
    sdk.EmitFirstFrame(-77);
    sdk.EmitOpenResult(-77, -1);
    drain();
    pass();
}

TEST_F(StreamFixture, CloseVideoAnswersTheSdkResult)
{
    sdk.ScriptCloseResults({-42, 0});
    EXPECT_EQ(component->CloseVideo(8), -42);
    EXPECT_EQ(component->CloseVideo(8), 0);
    const std::vector<KvSdk::SimCall> closes = callsOf(KvSdk::SimCall::Close);
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(closes[0].streamId, 8);
}

TEST_F(StreamFixture, ReopenVideoClosesThenOpensFromTheSourceId)
{
    sdk.ScriptOpenResults({21});
    EXPECT_EQ(component->ReopenVideo(4, "1000$2$6", 7, kTarget, kContext, kOwner), 21);
    const std::vector<KvSdk::SimCall> calls = sdk.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, KvSdk::SimCall::Close);
    EXPECT_EQ(calls[0].streamId, 4);
    EXPECT_EQ(calls[1].kind, KvSdk::SimCall::Open);
    EXPECT_EQ(calls[1].uniqueId, 1000);
    EXPECT_EQ(calls[1].channel, 6);
    EXPECT_EQ(calls[1].mode, 7);
    EXPECT_EQ(calls[1].channelMode, -1);

    sdk.ClearCalls();
    sdk.ScriptCloseResults({-9});
    EXPECT_EQ(component->ReopenVideo(4, "1000$2$6", 7, kTarget, kContext, kOwner), -9);
    EXPECT_TRUE(callsOf(KvSdk::SimCall::Open).empty());
}

// Who hears about a stream: listeners of owner zero hear every stream, the others only the
// streams opened with their own owner.
struct OwnerRow
{
    const char *name;
    std::intptr_t listenerOwner;
    std::intptr_t streamOwner;
    bool hears;
};

void PrintTo(const OwnerRow &row, std::ostream *out)
{
    *out << row.name;
}

const OwnerRow kOwnerRows[] = {
    {"ZeroHearsZero", 0, 0, true},
    {"ZeroHearsOwned", 0, kOwner, true},
    {"OwnerHearsOwn", kOwner, kOwner, true},
    {"OwnerMissesZero", kOwner, 0, false},
    {"OwnerMissesOther", kOwner, kOwner + 1, false},
};

class Owners : public StreamFixture, public ::testing::WithParamInterface<OwnerRow>
{};

TEST_P(Owners, DecideWhoHearsEachEvent)
{
    const OwnerRow &row = GetParam();
    StrictMock<MockListener> listener;
    EXPECT_CALL(listener, OnFirstFrame(_, kBarrierId, _)).Times(AnyNumber());
    ASSERT_EQ(component->AddListener(&listener, row.listenerOwner), 0);
    const int id = open(30, row.streamOwner);
    ASSERT_EQ(id, 30);
    const int times = row.hears ? 1 : 0;
    {
        InSequence order;
        EXPECT_CALL(listener, OnOpenVideo(0, id, row.streamOwner)).Times(times);
        EXPECT_CALL(listener, OnOpenFailed(-3, id)).Times(times);
        EXPECT_CALL(listener, OnFirstFrame(0, id, row.streamOwner)).Times(times);
        // The close report names the owner the listener was registered with.
        EXPECT_CALL(listener, OnCloseVideo(0, id, row.listenerOwner)).Times(times);
    }
    sdk.EmitOpenResult(id, 0);
    sdk.EmitOpenFailed(id, -3);
    sdk.EmitFirstFrame(id);
    sdk.EmitClosed(id, 0);
    drain();
    ASSERT_EQ(component->RemoveListener(&listener, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, Owners, ::testing::ValuesIn(kOwnerRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(StreamFixture, ListenersAreCalledInAddressOrderOnce)
{
    StrictMock<MockListener> pair[2];
    MockListener &low = pair[0];
    MockListener &high = pair[1];
    ASSERT_EQ(component->AddListener(&high, kOwner), 0);
    ASSERT_EQ(component->AddListener(&low, kOwner), 0);
    const int id = open(31);
    InSequence order;
    EXPECT_CALL(low, OnFirstFrame(0, id, kOwner));
    EXPECT_CALL(high, OnFirstFrame(0, id, kOwner));
    sdk.EmitFirstFrame(id);
    drain();
}

TEST_F(StreamFixture, ListenersAreCalledOnTheQueueThreadOnly)
{
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    std::vector<std::thread::id> threads;
    auto note = [&](auto...) {
        threads.push_back(std::this_thread::get_id());
        return 0;
    };
    EXPECT_CALL(listener, OnOpenVideo(0, 34, kOwner)).WillOnce(note);
    EXPECT_CALL(listener, OnOpenDelay(34, kOwner)).WillOnce(note);
    ASSERT_EQ(open(34), 34);
    sdk.EmitOpenResult(34, 0);
    drain();
    pass();
    ASSERT_EQ(threads.size(), 2u);
    EXPECT_NE(threads[0], std::this_thread::get_id());
    EXPECT_EQ(threads[0], threads[1]) << "SDK events and timer passes share one thread";
}

TEST_F(StreamFixture, SecondAddKeepsTheFirstOwnerAndRemoveIgnoresTheOwner)
{
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    EXPECT_EQ(component->AddListener(&listener, 0), DCM::kRealErrGeneral);
    EXPECT_EQ(component->AddListener(&listener, kOwner), DCM::kRealErrGeneral);

    // Still registered with kOwner only: a stream of owner zero is not reported to it.
    const int unowned = open(32, 0);
    const int owned = open(33, kOwner);
    EXPECT_CALL(listener, OnFirstFrame(0, owned, kOwner));
    sdk.EmitFirstFrame(unowned);
    sdk.EmitFirstFrame(owned);
    drain();

    EXPECT_EQ(component->RemoveListener(&listener, 12345), 0);
    EXPECT_EQ(component->RemoveListener(&listener, kOwner), DCM::kRealErrGeneral);
    sdk.EmitFirstFrame(owned);
    drain();
}

// A close report removes the record whatever its result, and only a result of 0 is reported.
struct CloseRow
{
    const char *name;
    int result;
    bool reported;
};

void PrintTo(const CloseRow &row, std::ostream *out)
{
    *out << row.name;
}

const CloseRow kCloseRows[] = {
    {"Success", 0, true},
    {"Failure", 5, false},
    {"NegativeFailure", -1, false},
};

class CloseReports : public StreamFixture, public ::testing::WithParamInterface<CloseRow>
{};

TEST_P(CloseReports, RemoveTheRecord)
{
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    const int id = open(40);
    EXPECT_CALL(listener, OnCloseVideo(GetParam().result, id, kOwner))
        .Times(GetParam().reported ? 1 : 0);
    sdk.EmitClosed(id, GetParam().result);
    // Gone: later events of the stream are dropped and it is no longer supervised.
    sdk.EmitFirstFrame(id);
    sdk.EmitOpenResult(id, -1);
    sdk.EmitClosed(id, 0);
    drain();
    for (int i = 0; i < 7; ++i)
        pass();
    EXPECT_TRUE(callsOf(KvSdk::SimCall::Open).size() == 1u) << "only the host's open";
}

INSTANTIATE_TEST_SUITE_P(Table, CloseReports, ::testing::ValuesIn(kCloseRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(StreamFixture, OpenFailedIsOnlyReported)
{
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    const int id = open(41);
    InSequence order;
    EXPECT_CALL(listener, OnOpenFailed(1234, id));
    // The record stays as it was, so the first frame still finds it.
    EXPECT_CALL(listener, OnFirstFrame(0, id, kOwner));
    sdk.EmitOpenFailed(id, 1234);
    sdk.EmitFirstFrame(id);
    drain();
    pass();
    EXPECT_TRUE(callsOf(KvSdk::SimCall::Open).size() == 1u)
        << "an open-failed message reopens nothing";
}

TEST_F(StreamFixture, EventsOfUnknownStreamsAndTypesAreDropped)
{
    StrictMock<MockListener> listener;
    EXPECT_CALL(listener, OnFirstFrame(_, kBarrierId, _)).Times(AnyNumber());
    ASSERT_EQ(component->AddListener(&listener, 0), 0);
    for (int type : {0, -1, 1, 5001, 5003, 5006, 5009, 12001, 12004, 12007, 99999})
        sdk.EmitUnknown(type);
    sdk.EmitFirstFrame(77);
    sdk.EmitOpenFailed(77, 1);
    sdk.EmitOpenResult(77, -1);
    sdk.EmitClosed(77, 0);
    drain();
    pass();

    // The engine still works after all that.
    const int id = open(42, 0);
    EXPECT_CALL(listener, OnOpenVideo(0, id, 0));
    sdk.EmitOpenResult(id, 0);
    drain();
}

// Records are found by stream id, so a later open answered with the same id takes its place.
TEST_F(StreamFixture, SecondOpenUnderTheSameIdReplacesTheRecord)
{
    StrictMock<MockListener> first;
    StrictMock<MockListener> second;
    ASSERT_EQ(component->AddListener(&first, kOwner), 0);
    ASSERT_EQ(component->AddListener(&second, kOwner + 1), 0);
    ASSERT_EQ(open(43, kOwner), 43);
    ASSERT_EQ(open(43, kOwner + 1), 43);
    EXPECT_CALL(second, OnFirstFrame(0, 43, kOwner + 1));
    sdk.EmitFirstFrame(43);
    drain();
}

TEST_F(StreamFixture, UnInitForgetsStreamsAndListeners)
{
    StrictMock<MockListener> listener;
    ASSERT_EQ(component->AddListener(&listener, kOwner), 0);
    const int id = open(44);
    drain();
    ASSERT_EQ(component->UnInit(), 0);
    EXPECT_EQ(sdk.CallbackCount(), 0);
    sdk.EmitFirstFrame(id);
    sdk.WaitIdle();
    qrl::DTestClock::Advance(40000);
    // The listener table was emptied, so the listener is not registered any more.
    EXPECT_EQ(component->RemoveListener(&listener, kOwner), DCM::kRealErrGeneral);
}

} // namespace
