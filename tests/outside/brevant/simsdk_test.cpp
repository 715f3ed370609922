// SPDX-License-Identifier: MIT
#include <brevant/simsdk.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace KvSdk;
using namespace std::chrono_literals;

constexpr auto kPatience = 10s;

// What a callback saw, copied during the call (the message lives only that long).
struct Received
{
    int arg = 0;
    int type = 0;
    int sequence = 0;
    int result = 0;
    std::int64_t handle = 0;
    int value = 0;
    std::string kind;
    void *user = nullptr;
    std::thread::id thread;
};

class Sink
{
public:
    static int callback(int arg, KVSDKCBMessage *message, void *user)
    {
        auto *sink = static_cast<Sink *>(user);
        if (sink->hook)
            sink->hook(message);
        Received got;
        got.arg = arg;
        got.type = message->type;
        got.sequence = message->sequence;
        got.result = message->result;
        got.user = user;
        got.thread = std::this_thread::get_id();
        got.kind = "base";
        if (auto *open = dynamic_cast<RealOpenVideoMsg *>(message)) {
            got.kind = "open";
            got.handle = open->streamHandle;
        } else if (auto *closed = dynamic_cast<RealCloseVideoMsg *>(message)) {
            got.kind = "close";
            got.handle = closed->streamHandle;
        } else if (auto *first = dynamic_cast<RealNotifyReceiveFirstFrameMsg *>(message)) {
            got.kind = "first";
            got.handle = first->streamHandle;
        } else if (auto *failed = dynamic_cast<RealOpenFailedMsg *>(message)) {
            got.kind = "failed";
            got.handle = failed->streamHandle;
            got.value = failed->value;
        }
        std::lock_guard<std::mutex> lock(sink->mutex);
        sink->received.push_back(got);
        sink->cv.notify_all();
        return 0;
    }

    std::vector<Received> taken()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }
    std::size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received.size();
    }

    std::function<void(KVSDKCBMessage *)> hook; // set before registering
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Received> received;
};

TEST(SimSdkTest, ControlOffersTheLiveVideoModuleOnly)
{
    SimSdk sdk;
    ISdkControl *control = &sdk;
    ISdkModule *module = control->GetModule(102);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->GetModuleNumber(), 102);
    EXPECT_EQ(static_cast<ISdkRealModule *>(module), sdk.RealModule());
    EXPECT_EQ(control->GetModule(101), nullptr);
    EXPECT_EQ(control->GetModule(0), nullptr);
    EXPECT_EQ(control->GetModuleCount(), 1);

    SimSdkOptions options;
    options.withRealModule = false;
    SimSdk bare(options);
    EXPECT_EQ(static_cast<ISdkControl &>(bare).GetModule(102), nullptr);
    EXPECT_EQ(bare.GetModuleCount(), 0);
}

TEST(SimSdkTest, ScriptedResultsAndRecordedCalls)
{
    SimSdk sdk;
    ISdkRealModule *module = sdk.RealModule();
    sdk.ScriptOpenResults({-17, 40});
    sdk.ScriptCloseResults({-3});

    EXPECT_EQ(module->OpenRealVideo(1000, 5, 1, -1, 0x1234, 0x99), -17);
    EXPECT_EQ(module->OpenRealVideo(1001, 6, 0, 2, 0x1235, 0), 40);
    // Script used up: stream ids count up from 0.
    EXPECT_EQ(module->OpenRealVideo(-1, -1, 0, -1, 1, 0), 0);
    EXPECT_EQ(module->OpenRealVideo(-1, -1, 0, -1, 1, 0), 1);
    EXPECT_EQ(module->GetOpenStreamCount(), 3);
    EXPECT_EQ(module->CloseRealVideo(40), -3);
    EXPECT_EQ(module->CloseRealVideo(-1), 0);
    EXPECT_EQ(module->CloseRealVideo(0), 0);
    EXPECT_EQ(module->GetOpenStreamCount(), 2);

    const std::vector<SimCall> calls = sdk.Calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[0].kind, SimCall::Open);
    EXPECT_EQ(calls[0].uniqueId, 1000);
    EXPECT_EQ(calls[0].channel, 5);
    EXPECT_EQ(calls[0].mode, 1);
    EXPECT_EQ(calls[0].channelMode, -1);
    EXPECT_EQ(calls[0].target, 0x1234);
    EXPECT_EQ(calls[0].context, 0x99);
    EXPECT_EQ(calls[0].result, -17);
    EXPECT_EQ(calls[0].thread, std::this_thread::get_id());
    EXPECT_EQ(calls[1].channelMode, 2);
    EXPECT_EQ(calls[1].result, 40);
    EXPECT_EQ(calls[4].kind, SimCall::Close);
    EXPECT_EQ(calls[4].streamId, 40);
    EXPECT_EQ(calls[4].result, -3);
    EXPECT_EQ(calls[5].streamId, -1);
    EXPECT_EQ(calls[5].result, 0);

    sdk.ClearCalls();
    EXPECT_TRUE(sdk.Calls().empty());
    sdk.ScriptOpenResults({5});
    sdk.ScriptOpenResults({6}); // a new script replaces what is left of the old
    EXPECT_EQ(module->OpenRealVideo(0, 0, 0, 0, 1, 0), 6);
}

TEST(SimSdkTest, RegistrationsAreRecordedAndUnique)
{
    SimSdk sdk;
    ISdkRealModule *module = sdk.RealModule();
    Sink sink;
    EXPECT_EQ(module->UnregisterCallback(&Sink::callback, &sink), -1); // nothing to remove
    EXPECT_EQ(module->RegisterCallback(&Sink::callback, &sink), 0);
    EXPECT_EQ(module->RegisterCallback(&Sink::callback, &sink), 0); // same pair once
    EXPECT_EQ(module->RegisterCallback(nullptr, &sink), -1);
    EXPECT_EQ(sdk.CallbackCount(), 1);

    EXPECT_EQ(sdk.DeliverNow(KVSDKCBMessage(9, 0, 0, 0)), 1);
    EXPECT_EQ(sink.count(), 1u);

    const std::vector<SimCall> calls = sdk.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].kind, SimCall::Unregister);
    EXPECT_EQ(calls[0].result, -1);
    EXPECT_EQ(calls[1].kind, SimCall::Register);
    EXPECT_EQ(calls[1].callback, &Sink::callback);
    EXPECT_EQ(calls[1].user, &sink);
    EXPECT_EQ(calls[3].result, -1);

    EXPECT_EQ(module->UnregisterCallback(&Sink::callback, &sink), 0);
    EXPECT_EQ(sdk.CallbackCount(), 0);
    EXPECT_EQ(sdk.DeliverNow(KVSDKCBMessage(9, 0, 0, 0)), 0);
}

struct EventCase
{
    const char *name;
    std::function<void(SimSdk &)> emit;
    int type;
    const char *kind;
    int sequence; // -1: any
    int result;
    int handleOf; // stream id in the handle, -1: no handle
    int value;
};

// Test names show the row name, not the bytes of the row.
void PrintTo(const EventCase &row, std::ostream *out)
{
    *out << row.name;
}

class SimSdkEventTest : public ::testing::TestWithParam<EventCase>
{};

TEST_P(SimSdkEventTest, ArrivesOnAnSdkThreadAsItsClass)
{
    const EventCase &row = GetParam();
    SimSdk sdk;
    Sink sink;
    ASSERT_EQ(sdk.RealModule()->RegisterCallback(&Sink::callback, &sink), 0);
    row.emit(sdk);
    sdk.WaitIdle();

    const std::vector<Received> got = sink.taken();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].arg, SimSdk::kCallbackArg);
    EXPECT_EQ(got[0].type, row.type);
    EXPECT_EQ(got[0].kind, row.kind);
    if (row.sequence >= 0) {
        EXPECT_EQ(got[0].sequence, row.sequence);
    }
    EXPECT_EQ(got[0].result, row.result);
    if (row.handleOf >= 0) {
        EXPECT_EQ(got[0].handle, SimSdk::HandleOf(row.handleOf));
        EXPECT_EQ(std::int32_t(got[0].handle & 0xffffffff), row.handleOf);
        EXPECT_NE(got[0].handle >> 32, 0); // readers must take the low half
    }
    EXPECT_EQ(got[0].value, row.value);
    EXPECT_EQ(got[0].user, &sink);
    EXPECT_NE(got[0].thread, std::this_thread::get_id());
}

INSTANTIATE_TEST_SUITE_P(
    Events, SimSdkEventTest,
    ::testing::Values(
        EventCase{"OpenResult", [](SimSdk &s) { s.EmitOpenResult(4, -2); }, 12002, "open", 4, -2, 4,
                  0},
        EventCase{"OpenResultOfStreamZero", [](SimSdk &s) { s.EmitOpenResult(0, 0); }, 12002,
                  "open", 0, 0, 0, 0},
        EventCase{"FirstFrame", [](SimSdk &s) { s.EmitFirstFrame(7); }, 12006, "first", -1, 0, 7,
                  0},
        EventCase{"OpenFailed", [](SimSdk &s) { s.EmitOpenFailed(3, 88); }, 12008, "failed", -1, -1,
                  3, 88},
        EventCase{"Closed", [](SimSdk &s) { s.EmitClosed(12, 0); }, 12003, "close", -1, 0, 12, 0},
        EventCase{"ClosedWithError", [](SimSdk &s) { s.EmitClosed(12, 5); }, 12003, "close", -1, 5,
                  12, 0},
        EventCase{"Unknown", [](SimSdk &s) { s.EmitUnknown(12100); }, 12100, "base", -1, 0, -1, 0}),
    [](const ::testing::TestParamInfo<EventCase> &info) { return info.param.name; });

TEST(SimSdkTest, OneThreadKeepsTheOrderOfEvents)
{
    SimSdk sdk;
    Sink first;
    Sink second;
    sdk.RealModule()->RegisterCallback(&Sink::callback, &first);
    sdk.RealModule()->RegisterCallback(&Sink::callback, &second);
    for (int i = 0; i < 200; ++i)
        sdk.EmitOpenResult(i, 0);
    sdk.WaitIdle();
    for (Sink *sink : {&first, &second}) {
        const std::vector<Received> got = sink->taken();
        ASSERT_EQ(got.size(), 200u);
        for (int i = 0; i < 200; ++i)
            EXPECT_EQ(got[i].sequence, i);
        EXPECT_EQ(got.front().user, sink);
    }
    sdk.RealModule()->UnregisterCallback(&Sink::callback, &first);
    sdk.RealModule()->UnregisterCallback(&Sink::callback, &second);
}

TEST(SimSdkTest, SeveralThreadsDeliverAtOnce)
{
    SimSdk sdk;
    sdk.SetSdkThreads(3);
    Sink sink;
    std::mutex mutex;
    std::condition_variable cv;
    int inside = 0;
    bool met = false;
    // Each delivery waits until another one runs beside it: only several threads get past.
    sink.hook = [&](KVSDKCBMessage *) {
        std::unique_lock<std::mutex> lock(mutex);
        ++inside;
        if (inside >= 2)
            met = true;
        cv.notify_all();
        cv.wait_for(lock, kPatience, [&] { return met; });
    };
    sdk.RealModule()->RegisterCallback(&Sink::callback, &sink);
    sdk.EmitFirstFrame(1);
    sdk.EmitFirstFrame(2);
    sdk.WaitIdle();
    EXPECT_TRUE(met);
    std::set<std::thread::id> threads;
    for (const Received &got : sink.taken())
        threads.insert(got.thread);
    EXPECT_EQ(threads.size(), 2u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
    sdk.RealModule()->UnregisterCallback(&Sink::callback, &sink);
}

TEST(SimSdkTest, NothingArrivesAfterUnregistration)
{
    SimSdk sdk;
    sdk.SetSdkThreads(2);
    Sink sink;
    std::atomic<bool> unregistered{false};
    std::atomic<int> late{0};
    sink.hook = [&](KVSDKCBMessage *) {
        if (unregistered.load())
            ++late;
    };
    ISdkRealModule *module = sdk.RealModule();
    ASSERT_EQ(module->RegisterCallback(&Sink::callback, &sink), 0);

    // Events keep coming from the SDK threads and from two threads delivering directly.
    std::atomic<bool> done{false};
    std::vector<std::thread> sources;
    for (int t = 0; t < 2; ++t) {
        sources.emplace_back([&] {
            const RealNotifyReceiveFirstFrameMsg message;
            for (int i = 0; i < 200000 && !done.load(); ++i)
                sdk.DeliverNow(message);
        });
    }
    sources.emplace_back([&] {
        for (int i = 0; i < 20000 && !done.load(); ++i)
            sdk.EmitFirstFrame(i);
    });
    {
        std::unique_lock<std::mutex> lock(sink.mutex);
        ASSERT_TRUE(sink.cv.wait_for(lock, kPatience, [&] { return sink.received.size() > 100; }));
    }
    ASSERT_EQ(module->UnregisterCallback(&Sink::callback, &sink), 0);
    unregistered = true;
    done = true;
    for (std::thread &source : sources)
        source.join();
    sdk.WaitIdle();
    EXPECT_EQ(late.load(), 0);
}

TEST(SimSdkTest, UnregistrationWaitsForADeliveryInFlight)
{
    SimSdk sdk;
    Sink sink;
    std::mutex mutex;
    std::condition_variable cv;
    bool entered = false;
    bool release = false;
    sink.hook = [&](KVSDKCBMessage *) {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        cv.notify_all();
        cv.wait_for(lock, kPatience, [&] { return release; });
    };
    ISdkRealModule *module = sdk.RealModule();
    module->RegisterCallback(&Sink::callback, &sink);
    sdk.EmitClosed(1, 0);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, kPatience, [&] { return entered; }));
    }
    std::atomic<bool> returned{false};
    std::thread host([&] {
        module->UnregisterCallback(&Sink::callback, &sink);
        returned = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(returned.load());
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    cv.notify_all();
    host.join();
    EXPECT_EQ(sink.count(), 1u); // the delivery in flight completed
}

TEST(SimSdkTest, CallbackMayUnregisterItself)
{
    SimSdk sdk;
    Sink sink;
    ISdkRealModule *module = sdk.RealModule();
    sink.hook = [&](KVSDKCBMessage *) {
        module->UnregisterCallback(&Sink::callback, &sink);
    };
    module->RegisterCallback(&Sink::callback, &sink);
    sdk.EmitFirstFrame(1);
    sdk.EmitFirstFrame(2);
    sdk.WaitIdle();
    EXPECT_EQ(sink.count(), 1u);
    EXPECT_EQ(sdk.CallbackCount(), 0);
}

TEST(SimSdkTest, CallbackUnregistersWhileTheHostWaitsForIt)
{
    SimSdk sdk;
    ISdkRealModule *module = sdk.RealModule();
    Sink a;
    Sink b;
    std::mutex mutex;
    std::condition_variable cv;
    bool entered = false;
    bool hostWaiting = false;
    a.hook = [&](KVSDKCBMessage *) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            entered = true;
            cv.notify_all();
            cv.wait_for(lock, kPatience, [&] { return hostWaiting; });
        }
        std::this_thread::sleep_for(20ms); // let the host reach its wait
        EXPECT_EQ(module->UnregisterCallback(&Sink::callback, &b), 0);
    };
    module->RegisterCallback(&Sink::callback, &a);
    module->RegisterCallback(&Sink::callback, &b);
    sdk.EmitFirstFrame(1);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, kPatience, [&] { return entered; }));
        hostWaiting = true;
        cv.notify_all();
    }
    // Waits for the delivery to a, which unregisters b meanwhile: neither may block the other.
    EXPECT_EQ(module->UnregisterCallback(&Sink::callback, &a), 0);
    sdk.WaitIdle();
    EXPECT_EQ(sdk.CallbackCount(), 0);
    EXPECT_EQ(a.count(), 1u);
}

TEST(SimSdkTest, DeliverNowRunsOnTheCallingThread)
{
    SimSdk sdk;
    Sink a;
    Sink b;
    sdk.RealModule()->RegisterCallback(&Sink::callback, &a);
    sdk.RealModule()->RegisterCallback(&Sink::callback, &b);
    RealOpenFailedMsg message;
    message.value = 31;
    message.streamHandle = SimSdk::HandleOf(8);
    EXPECT_EQ(sdk.DeliverNow(message), 2);
    const std::vector<Received> got = a.taken();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].thread, std::this_thread::get_id());
    EXPECT_EQ(got[0].kind, "failed");
    EXPECT_EQ(got[0].value, 31);
    EXPECT_EQ(b.count(), 1u);
}

TEST(SimSdkTest, HostThreadsOpenAndCloseAtOnce)
{
    SimSdk sdk;
    ISdkRealModule *module = sdk.RealModule();
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::vector<std::vector<int>> ids(kThreads);
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) {
        hosts.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const int id = module->OpenRealVideo(t, i, 0, -1, 1, 0);
                ids[t].push_back(id);
                if (i % 2)
                    module->CloseRealVideo(id);
            }
        });
    }
    for (std::thread &host : hosts)
        host.join();
    std::set<int> all;
    for (const std::vector<int> &some : ids)
        all.insert(some.begin(), some.end());
    EXPECT_EQ(all.size(), std::size_t(kThreads * kEach));
    EXPECT_EQ(*all.begin(), 0);
    EXPECT_EQ(*all.rbegin(), kThreads * kEach - 1);
    EXPECT_EQ(sdk.Calls().size(), std::size_t(kThreads * kEach * 3 / 2));
    EXPECT_EQ(module->GetOpenStreamCount(), kThreads * kEach / 2);
}

TEST(SimSdkTest, DestructionDeliversWhatIsPending)
{
    Sink sink;
    {
        SimSdk sdk;
        sdk.RealModule()->RegisterCallback(&Sink::callback, &sink);
        for (int i = 0; i < 50; ++i)
            sdk.EmitOpenResult(i, 0);
    }
    EXPECT_EQ(sink.count(), 50u);
}

} // namespace
