// SPDX-License-Identifier: MIT
// Host threads, SDK threads, the timer and listener changes all at once; run under the sanitizers.
#include "listenermock.h"

#include <brevant/simsdk.h>
#include <varnex/realstream.h>

#include <qrl/qrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr std::intptr_t kTarget = 0x1000;

// Counts its calls and every call that arrives while it is not registered.
class CheckedListener final : public DCM::IRealStreamListener
{
public:
    std::atomic<bool> registered{false};
    std::atomic<int> calls{0};
    std::atomic<int> strayCalls{0};

    int OnOpenVideo(int, int, std::intptr_t) override { return hit(); }
    int OnCloseVideo(int, int, std::intptr_t) override { return hit(); }
    int OnReconnect(int, int, int, std::intptr_t) override { return hit(); }
    int OnFirstFrame(int, int, std::intptr_t) override { return hit(); }
    int OnOpenDelay(int, std::intptr_t) override { return hit(); }
    int OnOpenTimeout(int, std::intptr_t) override { return hit(); }
    int OnOpenFailed(int, int) override { return hit(); }

private:
    int hit()
    {
        ++calls;
        if (!registered)
            ++strayCalls;
        return 0;
    }
};

TEST(RealStreamConcurrency, HostsSdkTimerAndListenersTogether)
{
    constexpr int kHostThreads = 3;
    constexpr int kRoundsPerHost = 400;
    constexpr int kListenerRounds = 300;

    KvSdk::SimSdk sdk;
    sdk.SetSdkThreads(2);
    auto factory = std::make_unique<DCM::CRealStreamInstance>();
    DCM::IRealStreamComponent *component = factory->CreateRealStreamInstance();
    ASSERT_EQ(component->Init(&sdk), 0);
    ASSERT_EQ(component->SetReconnectInterval(2), 0);

    // One listener stays for the whole run so that every notification pass has someone to call.
    CheckedListener steady;
    steady.registered = true;
    ASSERT_EQ(component->AddListener(&steady, 0), 0);

    std::atomic<int> strayCalls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kHostThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(1234 + t);
            const std::intptr_t owner = t % 2 ? 0 : 0x100 + t;
            for (int i = 0; i < kRoundsPerHost; ++i) {
                const int id = component->OpenVideo("1000$0$3", 0, kTarget, 0, owner, -1, -1);
                if (id < 0)
                    continue;
                switch (random() % 5) {
                case 0: // fails and gets reopened by the timer
                    sdk.EmitOpenResult(id, -1);
                    break;
                case 1:
                    sdk.EmitOpenResult(id, 0);
                    sdk.EmitFirstFrame(id);
                    sdk.EmitClosed(id, 0);
                    break;
                case 2:
                    sdk.EmitOpenFailed(id, 7);
                    component->CloseVideo(id);
                    sdk.EmitClosed(id, static_cast<int>(random() % 2));
                    break;
                case 3:
                    component->ReopenVideo(id, "1000$0$4", 0, kTarget, 0, owner);
                    break;
                default:
                    sdk.EmitOpenResult(id, -2);
                    component->SetConnectParams(static_cast<int>(random() % 2), 2);
                    component->CloseVideo(id);
                    break;
                }
                // Answers for earlier ids, some of which belong to reopen requests by now.
                const int earlier = static_cast<int>(random() % static_cast<unsigned>(id + 1));
                sdk.EmitOpenResult(earlier, random() % 3 ? 0 : -1);
                if (random() % 4 == 0)
                    sdk.EmitClosed(earlier, 0);
                if (i % 50 == 0)
                    component->SetReconnectInterval(1 + static_cast<int>(random() % 3));
                sdk.EmitUnknown(4242);
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < kListenerRounds; ++i) {
            auto listener = std::make_unique<CheckedListener>();
            listener->registered = true;
            ASSERT_EQ(component->AddListener(listener.get(), i % 3 ? 0 : 0x100), 0);
            std::this_thread::yield();
            ASSERT_EQ(component->RemoveListener(listener.get(), 0), 0);
            listener->registered = false;
            // Give a call that would wrongly still come a chance to show, then free it.
            std::this_thread::yield();
            strayCalls += listener->strayCalls;
        }
    });
    for (std::thread &thread : threads)
        thread.join();
    sdk.WaitIdle();

    EXPECT_EQ(component->UnInit(), 0);
    factory.reset();
    EXPECT_EQ(strayCalls, 0);
    EXPECT_EQ(steady.strayCalls, 0);
    EXPECT_GT(steady.calls, 0);
    EXPECT_EQ(sdk.CallbackCount(), 0);
}

} // namespace
