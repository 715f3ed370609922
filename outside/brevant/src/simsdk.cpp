// SPDX-License-Identifier: MIT
#include <brevant/simsdk.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>

namespace KvSdk {

namespace {

// Deliveries running on this thread, per epoch parity, so that a callback may unregister
// without waiting for itself.
thread_local int ownDeliveries[2] = {0, 0};
// Set on the SDK's event threads.
thread_local const void *sdkThreadOf = nullptr;

struct Registration
{
    KVSDKCallback callback;
    void *user;

    bool operator==(const Registration &other) const
    {
        return callback == other.callback && user == other.user;
    }
};
using RegistrationList = std::vector<Registration>;

} // namespace

namespace detail {

class SimRealModule;

// The simulated SDK's state and behaviour; SimSdk and its module both forward here.
struct SimCore
{
    explicit SimCore(const SimSdkOptions &options);

    int registerCallback(KVSDKCallback callback, void *user);
    int unregisterCallback(KVSDKCallback callback, void *user);
    int open(std::int64_t uniqueId, int channel, int mode, int channelMode, std::intptr_t target,
             std::intptr_t context);
    int close(std::int64_t streamId);
    int openStreamCount() const;

    int deliver(KVSDKCBMessage *message);
    void notifyGrace();
    void emit(std::unique_ptr<KVSDKCBMessage> message);
    void startWorkers(int n);
    void stopWorkers();
    void runWorker(std::uint64_t generation);
    void waitIdle();
    void record(SimCall call);
    void recordRegistration(SimCall::Kind kind, KVSDKCallback callback, void *user, int result);

    SimSdkOptions options;
    std::unique_ptr<SimRealModule> module;

    // Scripts, the call record and the open streams.
    mutable std::mutex callMutex;
    std::deque<int> openScript;
    std::deque<int> closeScript;
    int nextStreamId = 0;
    std::vector<SimCall> calls;
    std::set<std::int64_t> openStreams;

    // Registrations are published as immutable lists, so a delivery reads them without a lock;
    // replaced lists are kept until the SDK goes, for deliveries still reading them.
    std::mutex registrationMutex;
    std::atomic<const RegistrationList *> registrations{nullptr};
    std::vector<std::unique_ptr<RegistrationList>> registrationHistory;
    // Deliveries in flight are counted under the parity of the epoch they began in. An
    // unregistration moves the epoch on and waits only for the old parity to drain, so steady
    // traffic cannot keep it waiting.
    std::atomic<unsigned> epoch{0};
    std::atomic<int> inFlight[2] = {{0}, {0}};
    std::atomic<int> graceWaiters{0};
    std::mutex flightMutex;
    std::condition_variable flightDone;

    // Emitted events waiting for an SDK thread.
    std::mutex workerControl; // serialises changes of the thread set
    std::mutex eventMutex;
    std::condition_variable eventReady;
    std::condition_variable eventsIdle;
    std::deque<std::unique_ptr<KVSDKCBMessage>> events;
    int pendingEvents = 0;
    std::uint64_t workerGeneration = 0;
    std::vector<std::thread> workers;
    std::atomic<int> sequence{0};
};

class SimRealModule final : public ISdkRealModule
{
public:
    explicit SimRealModule(SimCore *sdk)
        : m_sdk(sdk)
    {}
    ~SimRealModule() = default;

    int GetModuleNumber() const override { return kModuleNumber; }
    int RegisterCallback(KVSDKCallback callback, void *user) override
    {
        return m_sdk->registerCallback(callback, user);
    }
    int UnregisterCallback(KVSDKCallback callback, void *user) override
    {
        return m_sdk->unregisterCallback(callback, user);
    }
    int GetOpenStreamCount() const override { return m_sdk->openStreamCount(); }
    int OpenRealVideo(std::int64_t uniqueId, int channel, int mode, int channelMode,
                      std::intptr_t target, std::intptr_t context) override
    {
        return m_sdk->open(uniqueId, channel, mode, channelMode, target, context);
    }
    int CloseRealVideo(std::int64_t streamId) override { return m_sdk->close(streamId); }

private:
    SimCore *m_sdk;
};

SimCore::SimCore(const SimSdkOptions &options)
    : options(options)
    , module(new SimRealModule(this))
{
    registrationHistory.emplace_back(new RegistrationList);
    registrations.store(registrationHistory.back().get());
}

void SimCore::record(SimCall call)
{
    call.thread = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(callMutex);
    calls.push_back(call);
}

void SimCore::recordRegistration(SimCall::Kind kind, KVSDKCallback callback, void *user, int result)
{
    SimCall call;
    call.kind = kind;
    call.callback = callback;
    call.user = user;
    call.result = result;
    record(call);
}

int SimCore::registerCallback(KVSDKCallback callback, void *user)
{
    int result = -1;
    if (callback) {
        std::lock_guard<std::mutex> lock(registrationMutex);
        const RegistrationList &current = *registrations.load();
        const Registration entry{callback, user};
        result = 0;
        if (std::find(current.begin(), current.end(), entry) == current.end()) {
            auto next = std::make_unique<RegistrationList>(current);
            next->push_back(entry);
            registrations.store(next.get());
            registrationHistory.push_back(std::move(next));
        }
    }
    recordRegistration(SimCall::Register, callback, user, result);
    return result;
}

int SimCore::unregisterCallback(KVSDKCallback callback, void *user)
{
    int result = -1;
    {
        std::lock_guard<std::mutex> lock(registrationMutex);
        const RegistrationList &current = *registrations.load();
        const Registration entry{callback, user};
        auto it = std::find(current.begin(), current.end(), entry);
        if (it != current.end()) {
            auto next = std::make_unique<RegistrationList>(current);
            next->erase(next->begin() + (it - current.begin()));
            registrations.store(next.get());
            registrationHistory.push_back(std::move(next));
            result = 0;
        }
    }
    if (result == 0) {
        // A delivery that may still hold the old list has to end first; one in progress on
        // this very thread (the callback unregistering itself) is not waited for. No lock is
        // held across the wait: a callback we wait for may itself unregister.
        const unsigned old = epoch.fetch_add(1) & 1u;
        graceWaiters.fetch_add(1);
        {
            std::unique_lock<std::mutex> lock(flightMutex);
            flightDone.wait(lock, [&] { return inFlight[old].load() <= ownDeliveries[old]; });
        }
        graceWaiters.fetch_sub(1);
    }
    recordRegistration(SimCall::Unregister, callback, user, result);
    return result;
}

int SimCore::open(std::int64_t uniqueId, int channel, int mode, int channelMode,
                  std::intptr_t target, std::intptr_t context)
{
    SimCall call;
    call.kind = SimCall::Open;
    call.uniqueId = uniqueId;
    call.channel = channel;
    call.mode = mode;
    call.channelMode = channelMode;
    call.target = target;
    call.context = context;
    call.thread = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(callMutex);
    if (openScript.empty()) {
        call.result = nextStreamId++;
    } else {
        call.result = openScript.front();
        openScript.pop_front();
    }
    if (call.result >= 0)
        openStreams.insert(call.result);
    calls.push_back(call);
    return call.result;
}

int SimCore::close(std::int64_t streamId)
{
    SimCall call;
    call.kind = SimCall::Close;
    call.streamId = streamId;
    call.thread = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(callMutex);
    if (!closeScript.empty()) {
        call.result = closeScript.front();
        closeScript.pop_front();
    }
    if (call.result == 0)
        openStreams.erase(streamId);
    calls.push_back(call);
    return call.result;
}

int SimCore::openStreamCount() const
{
    std::lock_guard<std::mutex> lock(callMutex);
    return int(openStreams.size());
}

void SimCore::notifyGrace()
{
    if (graceWaiters.load() > 0) {
        std::lock_guard<std::mutex> lock(flightMutex);
        flightDone.notify_all();
    }
}

int SimCore::deliver(KVSDKCBMessage *message)
{
    // Counted before the list is read: once the epoch moved on after a new list was published,
    // a delivery counted under the old parity may hold the old list, and a later one reads the
    // new list.
    unsigned parity = 0;
    for (;;) {
        const unsigned seen = epoch.load();
        parity = seen & 1u;
        inFlight[parity].fetch_add(1);
        if (epoch.load() == seen)
            break;
        inFlight[parity].fetch_sub(1);
        notifyGrace();
    }
    ++ownDeliveries[parity];
    const RegistrationList &list = *registrations.load();
    int called = 0;
    for (const Registration &entry : list) {
        entry.callback(SimSdk::kCallbackArg, message, entry.user);
        ++called;
    }
    --ownDeliveries[parity];
    inFlight[parity].fetch_sub(1);
    notifyGrace();
    return called;
}

void SimCore::emit(std::unique_ptr<KVSDKCBMessage> message)
{
    {
        std::lock_guard<std::mutex> lock(eventMutex);
        events.push_back(std::move(message));
        ++pendingEvents;
    }
    eventReady.notify_one();
}

void SimCore::startWorkers(int n)
{
    std::lock_guard<std::mutex> lock(eventMutex);
    const std::uint64_t generation = ++workerGeneration;
    for (int i = 0; i < n; ++i)
        workers.emplace_back(&SimCore::runWorker, this, generation);
}

void SimCore::stopWorkers()
{
    std::vector<std::thread> old;
    {
        std::lock_guard<std::mutex> lock(eventMutex);
        ++workerGeneration;
        old.swap(workers);
    }
    eventReady.notify_all();
    for (std::thread &thread : old)
        thread.join();
}

void SimCore::runWorker(std::uint64_t generation)
{
    sdkThreadOf = this;
    std::unique_lock<std::mutex> lock(eventMutex);
    for (;;) {
        eventReady.wait(lock, [&] { return !events.empty() || generation != workerGeneration; });
        // A retired thread leaves the events it did not take to its successors.
        if (generation != workerGeneration)
            break;
        std::unique_ptr<KVSDKCBMessage> message = std::move(events.front());
        events.pop_front();
        lock.unlock();
        deliver(message.get());
        message.reset();
        lock.lock();
        if (--pendingEvents == 0)
            eventsIdle.notify_all();
    }
}

void SimCore::waitIdle()
{
    std::unique_lock<std::mutex> lock(eventMutex);
    eventsIdle.wait(lock, [this] { return pendingEvents == 0; });
}

} // namespace detail

struct SimSdk::Private : detail::SimCore
{
    using SimCore::SimCore;
};

SimSdk::SimSdk()
    : SimSdk(SimSdkOptions())
{}

SimSdk::SimSdk(const SimSdkOptions &options)
    : d(new Private(options))
{
    d->startWorkers(std::max(1, options.sdkThreads));
}

SimSdk::~SimSdk()
{
    std::lock_guard<std::mutex> control(d->workerControl);
    d->waitIdle();
    d->stopWorkers();
}

int SimSdk::GetVersion() const
{
    return 0x010000;
}

int SimSdk::GetModuleCount() const
{
    return d->options.withRealModule ? 1 : 0;
}

ISdkModule *SimSdk::GetModule(int number)
{
    return number == ISdkRealModule::kModuleNumber ? RealModule() : nullptr;
}

ISdkRealModule *SimSdk::RealModule()
{
    return d->options.withRealModule ? d->module.get() : nullptr;
}

void SimSdk::ScriptOpenResults(std::vector<int> results)
{
    std::lock_guard<std::mutex> lock(d->callMutex);
    d->openScript.assign(results.begin(), results.end());
}

void SimSdk::ScriptCloseResults(std::vector<int> results)
{
    std::lock_guard<std::mutex> lock(d->callMutex);
    d->closeScript.assign(results.begin(), results.end());
}

std::vector<SimCall> SimSdk::Calls() const
{
    std::lock_guard<std::mutex> lock(d->callMutex);
    return d->calls;
}

void SimSdk::ClearCalls()
{
    std::lock_guard<std::mutex> lock(d->callMutex);
    d->calls.clear();
}

int SimSdk::CallbackCount() const
{
    std::lock_guard<std::mutex> lock(d->registrationMutex);
    return int(d->registrations.load()->size());
}

std::int64_t SimSdk::HandleOf(int streamId)
{
    return std::int64_t(std::uint64_t(0x5eed) << 32 | std::uint32_t(streamId));
}

void SimSdk::EmitOpenResult(int streamId, int result)
{
    auto message = std::make_unique<RealOpenVideoMsg>();
    message->sequence = streamId;
    message->result = result;
    message->streamHandle = HandleOf(streamId);
    d->emit(std::move(message));
}

void SimSdk::EmitFirstFrame(int streamId)
{
    auto message = std::make_unique<RealNotifyReceiveFirstFrameMsg>();
    message->sequence = ++d->sequence;
    message->streamHandle = HandleOf(streamId);
    d->emit(std::move(message));
}

void SimSdk::EmitOpenFailed(int streamId, int value)
{
    auto message = std::make_unique<RealOpenFailedMsg>();
    message->sequence = ++d->sequence;
    message->result = -1;
    message->value = value;
    message->streamHandle = HandleOf(streamId);
    d->emit(std::move(message));
}

void SimSdk::EmitClosed(int streamId, int result)
{
    auto message = std::make_unique<RealCloseVideoMsg>();
    message->sequence = ++d->sequence;
    message->result = result;
    message->streamHandle = HandleOf(streamId);
    d->emit(std::move(message));
}

void SimSdk::EmitUnknown(int type)
{
    d->emit(std::make_unique<KVSDKCBMessage>(type, 0, ++d->sequence, 0));
}

void SimSdk::WaitIdle()
{
    d->waitIdle();
}

void SimSdk::SetSdkThreads(int n)
{
    // An SDK thread cannot retire itself and wait for that.
    if (sdkThreadOf == static_cast<detail::SimCore *>(d.get()))
        return;
    std::lock_guard<std::mutex> control(d->workerControl);
    d->stopWorkers();
    d->startWorkers(std::max(1, n));
}

int SimSdk::DeliverNow(const KVSDKCBMessage &message)
{
    // Callbacks take a mutable pointer by the SDK's signature; they only read the message.
    return d->deliver(const_cast<KVSDKCBMessage *>(&message));
}

} // namespace KvSdk
