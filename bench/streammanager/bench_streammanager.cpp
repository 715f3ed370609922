// SPDX-License-Identifier: MIT
// Figures of the stream engine on this machine, each with a bare queue doing the same hand-off
// in the same run:
//   throughput from SDK callback to listener call (1 and 2 SDK threads, 1,000 open streams),
//   latency from callback entry to listener call at 10,000 events/s and a 100,000 event burst,
//   the cost of one supervision and one reconnection pass over 10,000 records, the callback
//   latency while such passes run, and the library's own cost per OpenVideo and CloseVideo.
// Usage: bench_streammanager [--quick] [--throughput] [--latency] [--passes] [--ops]
// (without a section name every section runs; --quick runs fewer events)
#include "barequeue.h"

#include <brevant/simsdk.h>
#include <varnex/realstream.h>

#include <qrl/qrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               SteadyClock::now().time_since_epoch())
        .count();
}

constexpr std::intptr_t kTarget = 0x1000;
constexpr int kStreams = 1000;

bool g_quick = false;

// Counts first frames and, when asked, stamps each call against the time its event was sent.
class BenchListener final : public DCM::IRealStreamListener
{
public:
    int OnOpenVideo(int, int, std::intptr_t) override { return count(other); }
    int OnCloseVideo(int, int, std::intptr_t) override { return count(other); }
    int OnReconnect(int, int, int, std::intptr_t) override { return count(other); }
    int OnFirstFrame(int, int id, std::intptr_t) override
    {
        if (id == barrierId) {
            barrierAt.store(nowNs(), std::memory_order_release);
            return 0;
        }
        if (sentAt) {
            const std::size_t k = frames.load(std::memory_order_relaxed);
            if (k < latencies.size())
                latencies[k] = nowNs() - sentAt[k];
        }
        // Reading the clock only for the awaited last event keeps the listener itself cheap.
        const std::uint64_t seen = frames.load(std::memory_order_relaxed) + 1;
        if (seen == awaited.load(std::memory_order_relaxed))
            lastFrameAt.store(nowNs(), std::memory_order_relaxed);
        frames.store(seen, std::memory_order_release);
        return 0;
    }
    int OnOpenDelay(int, std::intptr_t) override { return count(delays); }
    int OnOpenTimeout(int, std::intptr_t) override { return count(timeouts); }
    int OnOpenFailed(int, int) override { return count(other); }

    void waitFrames(std::uint64_t n)
    {
        const std::int64_t deadline = nowNs() + 60'000'000'000LL;
        while (frames.load(std::memory_order_acquire) < n && nowNs() < deadline)
            std::this_thread::yield();
    }

    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::uint64_t> delays{0};
    std::atomic<std::uint64_t> timeouts{0};
    std::atomic<std::uint64_t> other{0};
    std::atomic<std::int64_t> lastFrameAt{0};
    std::atomic<std::uint64_t> awaited{0}; // the count whose arrival time is wanted
    std::atomic<std::int64_t> barrierAt{0};
    int barrierId = -1;
    const std::int64_t *sentAt = nullptr; // per event, written before the event is sent
    std::vector<std::int64_t> latencies;

private:
    static int count(std::atomic<std::uint64_t> &counter)
    {
        counter.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
};

KvSdk::RealNotifyReceiveFirstFrameMsg firstFrame(int id)
{
    KvSdk::RealNotifyReceiveFirstFrameMsg message;
    message.type = KvSdk::KVSDK_MSG_REAL_FIRST_FRAME;
    message.streamHandle = KvSdk::SimSdk::HandleOf(id);
    return message;
}

// One component on a simulated SDK with kStreams open streams and a counting listener.
struct EngineRig
{
    explicit EngineRig(int streams = kStreams)
    {
        component = factory.CreateRealStreamInstance();
        component->Init(&sdk);
        component->AddListener(&listener, 0);
        for (int i = 0; i < streams; ++i)
            ids.push_back(component->OpenVideo("1000$0$1", 0, kTarget, 0, 0, -1, -1));
        sdk.ClearCalls();
    }
    ~EngineRig() { component->UnInit(); }

    KvSdk::SimSdk sdk;
    DCM::CRealStreamInstance factory;
    DCM::IRealStreamComponent *component = nullptr;
    BenchListener listener;
    std::vector<int> ids;
};

struct BareRig
{
    BareRig()
    {
        for (int i = 0; i < kStreams; ++i)
            queue.addStream(i, 0);
        sdk.RealModule()->RegisterCallback(&bench::BareQueue::Callback, &queue);
    }
    ~BareRig() { sdk.RealModule()->UnregisterCallback(&bench::BareQueue::Callback, &queue); }

    KvSdk::SimSdk sdk;
    BenchListener listener;
    bench::BareQueue queue{&listener};
};

// Events from `threads` SDK threads, spread over the open streams; answers events per second.
template <typename Rig>
double throughput(Rig &rig, int threads, std::uint64_t events, std::uint64_t *lost)
{
    const std::uint64_t before = rig.listener.frames.load();
    const std::uint64_t perThread = events / threads;
    rig.listener.awaited = before + perThread * threads;
    std::vector<std::thread> senders;
    const std::int64_t start = nowNs();
    for (int t = 0; t < threads; ++t) {
        senders.emplace_back([&, t] {
            KvSdk::RealNotifyReceiveFirstFrameMsg message = firstFrame(0);
            for (std::uint64_t i = 0; i < perThread; ++i) {
                message.streamHandle
                    = KvSdk::SimSdk::HandleOf(static_cast<int>((i + t) % kStreams));
                rig.sdk.DeliverNow(message);
            }
        });
    }
    for (std::thread &sender : senders)
        sender.join();
    const std::uint64_t expected = before + perThread * threads;
    rig.listener.waitFrames(expected);
    const std::int64_t end = rig.listener.lastFrameAt.load();
    *lost = expected - std::min(expected, rig.listener.frames.load());
    return static_cast<double>(perThread * threads) * 1e9 / static_cast<double>(end - start);
}

struct Percentiles
{
    double p50us = 0;
    double p99us = 0;
    double maxus = 0;
    double p90us = 0;
    double over50us = 0; // share of events slower than 50 us, in percent
};

Percentiles percentiles(std::vector<std::int64_t> values)
{
    Percentiles out;
    if (values.empty())
        return out;
    std::sort(values.begin(), values.end());
    out.p50us = static_cast<double>(values[values.size() / 2]) / 1000.0;
    out.p99us = static_cast<double>(values[values.size() * 99 / 100]) / 1000.0;
    out.maxus = static_cast<double>(values.back()) / 1000.0;
    out.p90us = static_cast<double>(values[values.size() * 9 / 10]) / 1000.0;
    const auto slow = values.end() - std::upper_bound(values.begin(), values.end(), 50'000);
    out.over50us = 100.0 * static_cast<double>(slow) / static_cast<double>(values.size());
    return out;
}

// Spins until the due time. A sleeping sender would add the wake-up of its own thread to the
// figures, on this machine often more than the hand-off being measured.
void waitUntil(std::int64_t dueNs)
{
    while (nowNs() < dueNs) {
    }
}

// Paced events at `rate` per second from one SDK thread; latency per event.
template <typename Rig>
Percentiles pacedLatency(Rig &rig, int rate, int events, int streamId)
{
    std::vector<std::int64_t> sentAt(static_cast<std::size_t>(events));
    rig.listener.latencies.assign(static_cast<std::size_t>(events), 0);
    rig.listener.frames = 0;
    rig.listener.sentAt = sentAt.data();
    KvSdk::RealNotifyReceiveFirstFrameMsg message = firstFrame(streamId);
    const std::int64_t step = 1'000'000'000LL / rate;
    const std::int64_t start = nowNs() + 1'000'000;
    for (int k = 0; k < events; ++k) {
        waitUntil(start + step * k);
        sentAt[static_cast<std::size_t>(k)] = nowNs();
        rig.sdk.DeliverNow(message);
    }
    rig.listener.waitFrames(static_cast<std::uint64_t>(events));
    rig.listener.sentAt = nullptr;
    return percentiles(rig.listener.latencies);
}

// A burst sent as fast as one SDK thread can; time from the first send to the last listener call.
template <typename Rig>
double burstMs(Rig &rig, int events)
{
    rig.listener.frames = 0;
    rig.listener.awaited = static_cast<std::uint64_t>(events);
    KvSdk::RealNotifyReceiveFirstFrameMsg message = firstFrame(0);
    const std::int64_t start = nowNs();
    for (int k = 0; k < events; ++k) {
        message.streamHandle = KvSdk::SimSdk::HandleOf(k % kStreams);
        rig.sdk.DeliverNow(message);
    }
    rig.listener.waitFrames(static_cast<std::uint64_t>(events));
    return static_cast<double>(rig.listener.lastFrameAt.load() - start) / 1e6;
}

void reportThroughput()
{
    const std::uint64_t events = g_quick ? 200'000 : 2'000'000;
    for (int threads : {1, 2}) {
        double engineRate = 0;
        double bareRate = 0;
        std::uint64_t engineLost = 0;
        std::uint64_t bareLost = 0;
        // The machine is shared, so each side gets a warm-up and then its best of three runs,
        // alternating between the two.
        EngineRig engine;
        BareRig bare;
        std::uint64_t warmupLost = 0;
        throughput(engine, threads, events / 10, &warmupLost);
        engineLost += warmupLost;
        throughput(bare, threads, events / 10, &warmupLost);
        bareLost += warmupLost;
        for (int run = 0; run < 3; ++run) {
            std::uint64_t lost = 0;
            engineRate = std::max(engineRate, throughput(engine, threads, events, &lost));
            engineLost += lost;
            bareRate = std::max(bareRate, throughput(bare, threads, events, &lost));
            bareLost += lost;
        }
        std::printf("throughput, %d SDK thread%s, %d open streams, %llu events (best of 3):\n"
                    "  engine     %8.3f M events/s (lost %llu)\n"
                    "  bare queue %8.3f M events/s (lost %llu)\n",
                    threads, threads > 1 ? "s" : "", kStreams,
                    static_cast<unsigned long long>(events), engineRate / 1e6,
                    static_cast<unsigned long long>(engineLost), bareRate / 1e6,
                    static_cast<unsigned long long>(bareLost));
    }
}

void reportLatency()
{
    const int events = g_quick ? 5000 : 20000;
    Percentiles engine;
    Percentiles bare;
    double engineBurst = 0;
    double bareBurst = 0;
    {
        EngineRig rig;
        pacedLatency(rig, 10000, 1000, rig.ids[0]);
        engine = pacedLatency(rig, 10000, events, rig.ids[0]);
        engineBurst = burstMs(rig, 100000);
        for (int run = 0; run < 2; ++run)
            engineBurst = std::min(engineBurst, burstMs(rig, 100000));
    }
    {
        BareRig rig;
        pacedLatency(rig, 10000, 1000, 0);
        bare = pacedLatency(rig, 10000, events, 0);
        bareBurst = burstMs(rig, 100000);
        for (int run = 0; run < 2; ++run)
            bareBurst = std::min(bareBurst, burstMs(rig, 100000));
    }
    std::printf(
        "latency, callback entry to listener call, 10,000 events/s, %d events:\n"
        "  engine     p50 %7.2f us  p90 %7.2f us  p99 %7.2f us  max %8.2f us, %.2f%% over 50 us\n"
        "  bare queue p50 %7.2f us  p90 %7.2f us  p99 %7.2f us  max %8.2f us, %.2f%% over 50 us\n"
        "burst of 100,000 events, first send to last listener call (best of 3):\n"
        "  engine     %7.2f ms\n"
        "  bare queue %7.2f ms\n",
        events, engine.p50us, engine.p90us, engine.p99us, engine.maxus, engine.over50us, bare.p50us,
        bare.p90us, bare.p99us, bare.maxus, bare.over50us, engineBurst, bareBurst);
}

// Runs one timer period on the test clock and answers the time until the queue has handled
// the passes it posted (measured with a barrier event posted right after them).
std::int64_t timedPeriod(EngineRig &rig, int periodMs)
{
    rig.listener.barrierAt.store(0);
    const std::int64_t start = nowNs();
    qrl::DTestClock::Advance(periodMs);
    rig.sdk.DeliverNow(firstFrame(rig.listener.barrierId));
    while (rig.listener.barrierAt.load(std::memory_order_acquire) == 0)
        std::this_thread::yield();
    return rig.listener.barrierAt.load() - start;
}

// Waits until the queue has handled everything posted so far.
void settle(EngineRig &rig)
{
    rig.listener.barrierAt.store(0);
    rig.sdk.DeliverNow(firstFrame(rig.listener.barrierId));
    while (rig.listener.barrierAt.load(std::memory_order_acquire) == 0)
        std::this_thread::yield();
}

double medianUs(std::vector<std::int64_t> values)
{
    std::sort(values.begin(), values.end());
    return static_cast<double>(values[values.size() / 2]) / 1000.0;
}

struct Spread
{
    double medianUs = 0;
    double minUs = 0;
};

Spread spread(std::vector<std::int64_t> values)
{
    std::sort(values.begin(), values.end());
    return {static_cast<double>(values[values.size() / 2]) / 1000.0,
            static_cast<double>(values.front()) / 1000.0};
}

// Opens count streams whose open the SDK then reports failed, so each waits for reconnection.
void openFailedStreams(EngineRig &rig, int count)
{
    KvSdk::RealOpenVideoMsg failed;
    failed.type = KvSdk::KVSDK_MSG_REAL_OPEN_VIDEO;
    failed.result = -1;
    for (int i = 0; i < count; ++i) {
        failed.sequence = rig.component->OpenVideo("1000$0$1", 0, kTarget, 0, 0, -1, -1);
        rig.sdk.DeliverNow(failed);
    }
}
void reportPasses()
{
    constexpr int kRecords = 10000;
    constexpr int kPeriod = 1000; // virtual; short so that several passes find the streams young
    constexpr int kSamples = 7;
    qrl::DTestClock::Enable(1'000'000);
    Spread empty, quiet, slow, reconnect;
    std::size_t reopens = 0;
    {
        // Supervision over 10,000 opening streams, first too young to report, then slow.
        EngineRig rig(0);
        rig.component->SetReconnectInterval(kPeriod);
        rig.listener.barrierId = rig.component->OpenVideo("9$9", 0, kTarget, 0, 0, -1, -1);
        rig.sdk.DeliverNow(firstFrame(rig.listener.barrierId));
        std::vector<std::int64_t> samples;
        for (int i = 0; i < kSamples; ++i)
            samples.push_back(timedPeriod(rig, kPeriod));
        empty = spread(samples);

        // Opened just before a pass: young at the next two passes, slow from the third on.
        qrl::DTestClock::Advance(kPeriod - 1);
        for (int i = 0; i < kRecords; ++i)
            rig.component->OpenVideo("1000$0$1", 0, kTarget, 0, 0, -1, -1);
        settle(rig);
        samples.clear();
        samples.push_back(timedPeriod(rig, 1));
        samples.push_back(timedPeriod(rig, kPeriod));
        samples.push_back(timedPeriod(rig, kPeriod));
        quiet = spread(samples);
        samples.clear();
        for (int i = 0; i < kSamples; ++i)
            samples.push_back(timedPeriod(rig, kPeriod));
        slow = spread(samples);
        rig.component->UnInit();
    }
    {
        // Reconnection over 10,000 waiting streams, every reopen refused at once.
        EngineRig rig(0);
        rig.listener.barrierId = rig.component->OpenVideo("9$9", 0, kTarget, 0, 0, -1, -1);
        rig.sdk.DeliverNow(firstFrame(rig.listener.barrierId));
        openFailedStreams(rig, kRecords);
        settle(rig);
        const std::vector<int> refusals(kRecords, -1);
        std::vector<std::int64_t> samples;
        for (int i = 0; i < kSamples; ++i) {
            rig.sdk.ClearCalls();
            rig.sdk.ScriptOpenResults(refusals);
            samples.push_back(timedPeriod(rig, 5000));
            reopens = rig.sdk.Calls().size();
        }
        reconnect = spread(samples);
        rig.component->UnInit();
    }
    qrl::DTestClock::Disable();
    std::printf(
        "passes over %d records (test clock; each figure is one timer expiry, the passes it\n"
        "posts and a barrier event; the first row is that without records), median (min):\n"
        "  baseline, no records                  %9.1f us (%9.1f)\n"
        "  supervision, all younger than 3 s      %9.1f us (%9.1f)\n"
        "  supervision, all slow (10,000 reports) %9.1f us (%9.1f)\n"
        "  reconnection, all refused at once      %9.1f us (%9.1f), %zu reopen requests\n",
        kRecords, empty.medianUs, empty.minUs, quiet.medianUs, quiet.minUs, slow.medianUs,
        slow.minUs, reconnect.medianUs, reconnect.minUs, reopens);
}

// Callback latency at 10,000 events/s while supervision and reconnection passes over 10,000
// records each run, one timer period every 100 ms of real time.
void reportLatencyDuringPasses()
{
    constexpr int kRecords = 10000;
    qrl::DTestClock::Enable(1'000'000);
    Percentiles during;
    int periods = 0;
    {
        EngineRig rig(0);
        const int probe = rig.component->OpenVideo("9$9", 0, kTarget, 0, 0, -1, -1);
        rig.listener.barrierId = rig.component->OpenVideo("9$8", 0, kTarget, 0, 0, -1, -1);
        rig.sdk.DeliverNow(firstFrame(probe));
        openFailedStreams(rig, kRecords);
        for (int i = 0; i < kRecords; ++i)
            rig.component->OpenVideo("1000$0$2", 0, kTarget, 0, 0, -1, -1);
        const std::vector<int> refusals(kRecords, -1);
        // One period of 1 s from here: the streams are slow, not yet timed out, for 27 periods.
        rig.component->SetReconnectInterval(1000);
        for (int i = 0; i < 3; ++i) {
            rig.sdk.ScriptOpenResults(refusals);
            qrl::DTestClock::Advance(1000);
            settle(rig);
        }
        std::atomic<bool> stop{false};
        std::thread ticker([&] {
            while (!stop.load()) {
                rig.sdk.ClearCalls();
                rig.sdk.ScriptOpenResults(refusals);
                if (periods < 25)
                    qrl::DTestClock::Advance(1000);
                ++periods;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        rig.listener.frames = 0;
        during = pacedLatency(rig, 10000, g_quick ? 5000 : 20000, probe);
        stop = true;
        ticker.join();
        rig.component->UnInit();
    }
    qrl::DTestClock::Disable();
    std::printf(
        "latency at 10,000 events/s while passes over 10,000 slow and 10,000 waiting\n"
        "records run every 100 ms (%d periods; 25 at most):\n"
        "  engine     p50 %7.2f us  p90 %7.2f us  p99 %7.2f us  max %8.2f us, %.2f%% over 50 us\n",
        periods, during.p50us, during.p90us, during.p99us, during.maxus, during.over50us);
}

// The library's own cost per OpenVideo and CloseVideo: the same calls straight to the simulated
// SDK are the baseline. Rounds alternate between the two; each figure is the median round.
void reportOperations()
{
    const int rounds = g_quick ? 5 : 15;
    constexpr int kCalls = 10000;
    EngineRig rig(0);
    KvSdk::SimSdk direct;
    KvSdk::ISdkRealModule *module = direct.RealModule();
    std::vector<int> ids(kCalls);
    std::vector<std::int64_t> open, sdkOpen, close, sdkClose;
    for (int round = 0; round < rounds; ++round) {
        rig.sdk.ClearCalls();
        direct.ClearCalls();
        std::int64_t start = nowNs();
        for (int &id : ids)
            id = rig.component->OpenVideo("1000$0$5", 0, kTarget, 0, 0, -1, -1);
        open.push_back(nowNs() - start);
        start = nowNs();
        for (int i = 0; i < kCalls; ++i)
            module->OpenRealVideo(1000, 5, 0, -1, kTarget, 0);
        sdkOpen.push_back(nowNs() - start);
        start = nowNs();
        for (int id : ids)
            rig.component->CloseVideo(id);
        close.push_back(nowNs() - start);
        start = nowNs();
        for (int id : ids)
            module->CloseRealVideo(id);
        sdkClose.push_back(nowNs() - start);
        // Let the queue catch up with the records and close requests before the next round.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double openUs = medianUs(open) / kCalls;
    const double sdkOpenUs = medianUs(sdkOpen) / kCalls;
    const double closeUs = medianUs(close) / kCalls;
    const double sdkCloseUs = medianUs(sdkClose) / kCalls;
    std::printf("per call, %d rounds of %d calls, simulated SDK answering at once:\n"
                "  OpenVideo  %7.3f us, SDK alone %7.3f us, library's own %7.3f us\n"
                "  CloseVideo %7.3f us, SDK alone %7.3f us, library's own %7.3f us\n",
                rounds, kCalls, openUs, sdkOpenUs, openUs - sdkOpenUs, closeUs, sdkCloseUs,
                closeUs - sdkCloseUs);
}

} // namespace

int main(int argc, char **argv)
{
    // Sections to run; all of them unless some are named.
    bool throughputOnly = false, latencyOnly = false, passesOnly = false, opsOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            g_quick = true;
        else if (std::strcmp(argv[i], "--throughput") == 0)
            throughputOnly = true;
        else if (std::strcmp(argv[i], "--latency") == 0)
            latencyOnly = true;
        else if (std::strcmp(argv[i], "--passes") == 0)
            passesOnly = true;
        else if (std::strcmp(argv[i], "--ops") == 0)
            opsOnly = true;
    }
    const bool all = !throughputOnly && !latencyOnly && !passesOnly && !opsOnly;
    std::printf("bench_streammanager (%u hardware threads)\n", std::thread::hardware_concurrency());
    if (all || throughputOnly)
        reportThroughput();
    if (all || latencyOnly)
        reportLatency();
    if (all || passesOnly)
        reportPasses();
    if (all || latencyOnly || passesOnly)
        reportLatencyDuringPasses();
    if (all || opsOnly)
        reportOperations();
    return 0;
}
