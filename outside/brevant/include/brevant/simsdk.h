// SPDX-License-Identifier: MIT
#pragma once

#include <brevant/brevant.h>

#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace KvSdk {

// One call the simulated SDK received, with its arguments and the result it gave.
struct SimCall
{
    enum Kind { Open, Close, Register, Unregister };

    Kind kind = Open;
    // Open
    std::int64_t uniqueId = 0;
    int channel = 0;
    int mode = 0;
    int channelMode = 0;
    std::intptr_t target = 0;
    std::intptr_t context = 0;
    // Close
    std::int64_t streamId = 0;
    // Register, Unregister
    KVSDKCallback callback = nullptr;
    void *user = nullptr;

    int result = 0;
    std::thread::id thread;
};

struct SimSdkOptions
{
    bool withRealModule = true; // false: GetModule(102) answers null
    int sdkThreads = 1;         // threads that deliver emitted events
};

// A simulated SDK control with a live-video module that tests drive: open and close results
// are scripted, every call is recorded, and events reach the registered callbacks from the
// SDK's own threads. Every call is thread-safe.
class BREVANT_EXPORT SimSdk : public ISdkControl
{
public:
    // The first argument the callbacks receive: the live-video module's number.
    static constexpr int kCallbackArg = ISdkRealModule::kModuleNumber;

    SimSdk();
    explicit SimSdk(const SimSdkOptions &options);
    SimSdk(const SimSdk &) = delete;
    SimSdk &operator=(const SimSdk &) = delete;
    // Delivers what is still pending, then ends the SDK threads.
    virtual ~SimSdk();

    int GetVersion() const override;
    int GetModuleCount() const override;
    ISdkModule *GetModule(int number) override;
    ISdkRealModule *RealModule();

    // Results of the next OpenRealVideo calls, in order. With the script used up an open
    // answers the next stream id: 0, 1, 2, ...
    void ScriptOpenResults(std::vector<int> results);
    // Results of the next CloseRealVideo calls, in order; 0 once used up.
    void ScriptCloseResults(std::vector<int> results);

    std::vector<SimCall> Calls() const;
    void ClearCalls();
    // Number of callbacks registered now.
    int CallbackCount() const;

    // The 64-bit handle the events of a stream carry: the stream id in the low 32 bits and a
    // tag in the high ones, so that readers have to take the low half.
    static std::int64_t HandleOf(int streamId);

    // Events, queued to an SDK thread and delivered to every registered callback.
    void EmitOpenResult(int streamId, int result); // 12002, sequence = stream id
    void EmitFirstFrame(int streamId);             // 12006
    void EmitOpenFailed(int streamId, int value);  // 12008
    void EmitClosed(int streamId, int result);     // 12003
    void EmitUnknown(int type);                    // a plain message of that type
    // Returns once every event emitted so far was delivered (each callback returned). Not to
    // be called from inside a callback.
    void WaitIdle();
    // Spreads later events over n SDK threads (at least 1); with several, order is not kept.
    void SetSdkThreads(int n);

    // Calls the registered callbacks on the calling thread; answers how many were called.
    int DeliverNow(const KVSDKCBMessage &message);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace KvSdk
