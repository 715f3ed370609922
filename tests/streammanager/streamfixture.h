// SPDX-License-Identifier: MIT
#pragma once

#include "listenermock.h"

#include <brevant/simsdk.h>
#include <varnex/realstream.h>

#include <qrl/qrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace streamtest {

constexpr std::int64_t kStartMs = 1000000;
constexpr int kPeriodMs = 5000;
constexpr std::intptr_t kOwner = 0x5a5a;
constexpr std::intptr_t kTarget = 0x1000;
constexpr std::intptr_t kContext = 0x2000;
// The barrier stream uses an owner and an id of its own so that ordinary listeners never hear it.
constexpr std::intptr_t kBarrierOwner = 0xba77;
constexpr int kBarrierId = 900000;

// Hears the barrier stream's first frames. As the queue handles messages in posting order, a
// first frame emitted after some work has been posted arrives only once that work is done.
class BarrierListener final : public DCM::IRealStreamListener
{
public:
    int OnOpenVideo(int, int, std::intptr_t) override { return 0; }
    int OnCloseVideo(int, int, std::intptr_t) override { return 0; }
    int OnReconnect(int, int, int, std::intptr_t) override { return 0; }
    int OnFirstFrame(int, int id, std::intptr_t) override
    {
        if (id == kBarrierId) {
            std::lock_guard<std::mutex> guard(m_lock);
            ++m_seen;
            m_changed.notify_all();
        }
        return 0;
    }
    int OnOpenDelay(int, std::intptr_t) override { return 0; }
    int OnOpenTimeout(int, std::intptr_t) override { return 0; }
    int OnOpenFailed(int, int) override { return 0; }

    int seen()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_seen;
    }
    bool waitFor(int count)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_seen >= count; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_seen = 0;
};

// A component on the simulated SDK, initialised on the test clock, with the barrier stream open.
class StreamFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qrl::DTestClock::Enable(kStartMs);
        component = factory->CreateRealStreamInstance();
        ASSERT_NE(component, nullptr);
        if (initInSetUp()) {
            ASSERT_EQ(component->Init(&sdk), 0);
            openBarrier();
        }
    }

    void TearDown() override
    {
        if (component)
            component->UnInit();
        factory.reset();
        sdk.WaitIdle();
        qrl::DTestClock::Disable();
    }

    virtual bool initInSetUp() const { return true; }

    void openBarrier()
    {
        ASSERT_EQ(component->AddListener(&barrier, kBarrierOwner), 0);
        sdk.ScriptOpenResults({kBarrierId});
        ASSERT_EQ(component->OpenVideo("1$1", 0, kTarget, 0, kBarrierOwner, -1, -1), kBarrierId);
        drain();
        sdk.ClearCalls();
    }

    // Returns once everything posted to the component's queue so far has been handled.
    void drain()
    {
        const int target = barrier.seen() + 1;
        sdk.EmitFirstFrame(kBarrierId);
        ASSERT_TRUE(barrier.waitFor(target)) << "the queue did not drain";
        // Other listeners of that same pass may come after the barrier; the pass holds the
        // listener lock throughout, so taking the lock once waits for its end.
        ASSERT_EQ(component->RemoveListener(&unregistered, 0), DCM::kRealErrGeneral);
    }

    // Opens a stream as a host would, with the SDK answering the given id.
    int open(int id, std::intptr_t owner = kOwner, const char *source = "1000$0$5")
    {
        sdk.ScriptOpenResults({id});
        return component->OpenVideo(source, 3, kTarget, kContext, owner, -1, -1);
    }

    // One period of the supervision timer on the test clock, and the passes it posted.
    void pass()
    {
        qrl::DTestClock::Advance(kPeriodMs);
        drain();
    }

    std::vector<KvSdk::SimCall> callsOf(KvSdk::SimCall::Kind kind)
    {
        std::vector<KvSdk::SimCall> out;
        for (const KvSdk::SimCall &call : sdk.Calls()) {
            if (call.kind == kind)
                out.push_back(call);
        }
        return out;
    }

    KvSdk::SimSdk sdk;
    std::unique_ptr<DCM::CRealStreamInstance> factory
        = std::make_unique<DCM::CRealStreamInstance>();
    DCM::IRealStreamComponent *component = nullptr;
    BarrierListener barrier;
    BarrierListener unregistered;
};

} // namespace streamtest
