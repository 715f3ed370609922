// SPDX-License-Identifier: MIT
#pragma once

#include <brevant/brevant.h>
#include <varnex/realstream.h>

#include <qrl/qrl.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>

namespace DCM {

// Types of the engine's own messages; SDK messages keep the SDK's type values.
enum EngineMessageType : int {
    MSG_CONNECT = 5001,
    MSG_DISCONNECT = 5003,
    MSG_RECONNECT_CHECK = 5006,
    MSG_OPEN_CHECK = 5009,
};

constexpr int kDefaultTimerPeriodMs = 5000;
constexpr std::int64_t kOpenDelayMs = 3000;
constexpr std::int64_t kOpenTimeoutMs = 30000;

// One stream as the engine knows it; also the message that carries it to the queue.
class ConnectInfo : public qrl::DMessage
{
public:
    explicit ConnectInfo(int type)
        : qrl::DMessage(type)
    {}

    int id = 0;
    int mode = 0;
    int channel = -1;
    int channelMode = -1;
    int connectParam1 = 1;
    int connectParam2 = 3;
    std::intptr_t owner = 0;
    std::string sourceId;
    std::intptr_t target = 0;
    std::int64_t openTime = 0;
    std::intptr_t context = 0;
    int closed = 0;
};

// A stream whose open failed and that is being reopened; keyed by the id the host knows.
class ReConnectInfo : public ConnectInfo
{
public:
    ReConnectInfo()
        : ConnectInfo(MSG_RECONNECT_CHECK)
    {}

    int originalId = 0;
    int reconnecting = 0;
};

// An SDK event copied out of the callback, to be handled on the queue thread.
class CallbackInfo : public qrl::DMessage
{
    // Declared first so that it outlives sdkMessage, which destroys what lives in it.
    using Storage
        = std::aligned_union_t<0, KvSdk::KVSDKCBMessage, KvSdk::RealOpenVideoMsg,
                               KvSdk::RealCloseVideoMsg, KvSdk::RealNotifyReceiveFirstFrameMsg,
                               KvSdk::RealOpenFailedMsg>;
    Storage storage;

public:
    explicit CallbackInfo(int type)
        : qrl::DMessage(type)
    {}

    // The copy of the SDK's message lives inside the CallbackInfo, so that an event costs one
    // allocation; sdkMessage owns it all the same and destroys it through its virtual destructor.
    struct DestroyInPlace
    {
        void operator()(KvSdk::KVSDKCBMessage *message) const { message->~KVSDKCBMessage(); }
    };
    using MessagePtr = std::unique_ptr<KvSdk::KVSDKCBMessage, DestroyInPlace>;

    template <typename Message>
    void copyMessage(const Message &message)
    {
        static_assert(sizeof(Message) <= sizeof(storage) && alignof(Message) <= alignof(Storage));
        sdkMessage.reset(); // the storage holds one message at a time
        sdkMessage.reset(new (&storage) Message(message));
    }

    int sdkArg = 0;
    MessagePtr sdkMessage;
    void *user = nullptr;
};

class CRealStream : public qrl::DMessageQueueTpl<CRealStream>, public qrl::DTimerHandler
{
public:
    CRealStream();

    int Init(KvSdk::ISdkControl *control);
    int SetReconnectInterval(int intervalMs);
    int SetConnectParams(int p1, int p2);
    int OpenVideo(const char *sourceId, int mode, std::intptr_t target, std::intptr_t context,
                  std::intptr_t owner, int channelMode, int channel);
    int CloseVideo(int id);
    int AddListener(IRealStreamListener *listener, std::intptr_t owner);
    int RemoveListener(IRealStreamListener *listener, std::intptr_t owner);
    int IsReady();
    int ReopenVideo(int id, const char *sourceId, int mode, std::intptr_t target,
                    std::intptr_t context, std::intptr_t owner);
    int UnInit();

    static int SdkMessageCallback(int sdkArg, KvSdk::KVSDKCBMessage *message, void *user);
    static int ParseSourceId(const char *text, std::int64_t *uniqueId, int *channel);

protected:
    ~CRealStream() override;
    void OnTimer(unsigned timerId) override;

private:
    using ConnectionRef = qrl::DRefPtr<ConnectInfo>;
    using ReConnectionRef = qrl::DRefPtr<ReConnectInfo>;
    // Keyed by the id the host first knew; the SDK hands a failed stream's id out again, so
    // several streams may share a key, oldest first.
    using Reconnections = std::multimap<int, ReConnectionRef>;

    void OnConnect(qrl::DMessage *message);
    void OnDisconnect(qrl::DMessage *message);
    void OnReconnectCheck(qrl::DMessage *message);
    void OnOpenCheck(qrl::DMessage *message);
    void OnSdkOpenVideo(qrl::DMessage *message);
    void OnSdkCloseVideo(qrl::DMessage *message);
    void OnSdkFirstFrame(qrl::DMessage *message);
    void OnSdkOpenFailed(qrl::DMessage *message);

    // Calls f on every listener that hears about streams of owner; the caller holds listenerLock.
    template <typename F>
    void forEachMatchingListener(std::intptr_t owner, F &&f);
    template <typename F>
    void notifyListeners(std::intptr_t owner, F &&f);

    Reconnections::iterator reconnectionOf(int id);
    int openOnModule(const char *sourceId, int mode, int channelMode, int channel,
                     std::intptr_t target, std::intptr_t context);
    void teardown();

    int timerPeriod = kDefaultTimerPeriodMs;
    unsigned timerId = qrl::DTimerMgr::kInvalidTimer;
    qrl::DTimerMgr timerMgr;
    std::atomic<int> connectParam1{1};
    std::atomic<int> connectParam2{3};
    KvSdk::ISdkRealModule *module = nullptr;
    qrl::DMutex listenerLock;
    std::map<IRealStreamListener *, std::intptr_t> listeners;
    std::map<int, ConnectionRef> connections;
    Reconnections reconnections;
    bool initDone = false;
    // Host threads may change the interval at any time; this keeps the timer fields consistent.
    std::mutex timerLock;
};

} // namespace DCM
