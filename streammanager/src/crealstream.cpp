// SPDX-License-Identifier: MIT
#include "crealstream.h"

#include <climits>
#include <cstring>
#include <iterator>

namespace DCM {

namespace {

constexpr unsigned kNoTimer = qrl::DTimerMgr::kInvalidTimer;

// Reads a decimal number the way atoi does (leading blanks, optional sign, digits up to the first
// non-digit, 0 when there are none), saturating instead of overflowing.
std::int64_t readNumber(const char *text, std::int64_t low, std::int64_t high)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    std::int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const int digit = *text - '0';
        if (negative) {
            if (value < (low + digit) / 10)
                return low;
            value = value * 10 - digit;
        } else {
            if (value > (high - digit) / 10)
                return high;
            value = value * 10 + digit;
        }
    }
    return value < low ? low : value > high ? high : value;
}

void copySdkMessage(CallbackInfo &info, const KvSdk::KVSDKCBMessage &message)
{
    using namespace KvSdk;
    switch (message.type) {
    case KVSDK_MSG_REAL_OPEN_VIDEO:
        info.copyMessage(static_cast<const RealOpenVideoMsg &>(message));
        break;
    case KVSDK_MSG_REAL_CLOSE_VIDEO:
        info.copyMessage(static_cast<const RealCloseVideoMsg &>(message));
        break;
    case KVSDK_MSG_REAL_FIRST_FRAME:
        info.copyMessage(static_cast<const RealNotifyReceiveFirstFrameMsg &>(message));
        break;
    case KVSDK_MSG_REAL_OPEN_FAILED:
        info.copyMessage(static_cast<const RealOpenFailedMsg &>(message));
        break;
    default: {
        KVSDKCBMessage copy(0, 1, 0, 0);
        copy = message;
        info.copyMessage(copy);
        break;
    }
    }
}

int streamIdOfHandle(std::int64_t handle)
{
    return static_cast<int>(static_cast<std::uint32_t>(handle & 0xffffffff));
}

} // namespace

CRealStream::CRealStream()
    : qrl::DMessageQueueTpl<CRealStream>(1, 1024)
{
    RegisterMsgHandler(MSG_CONNECT, &CRealStream::OnConnect);
    RegisterMsgHandler(MSG_RECONNECT_CHECK, &CRealStream::OnReconnectCheck);
    RegisterMsgHandler(MSG_OPEN_CHECK, &CRealStream::OnOpenCheck);
    RegisterMsgHandler(KvSdk::KVSDK_MSG_REAL_OPEN_VIDEO, &CRealStream::OnSdkOpenVideo);
    RegisterMsgHandler(KvSdk::KVSDK_MSG_REAL_CLOSE_VIDEO, &CRealStream::OnSdkCloseVideo);
    RegisterMsgHandler(KvSdk::KVSDK_MSG_REAL_FIRST_FRAME, &CRealStream::OnSdkFirstFrame);
    RegisterMsgHandler(MSG_DISCONNECT, &CRealStream::OnDisconnect);
    RegisterMsgHandler(KvSdk::KVSDK_MSG_REAL_OPEN_FAILED, &CRealStream::OnSdkOpenFailed);
}

CRealStream::~CRealStream()
{
    teardown();
}

// A host that destroys the component without UnInit must not leave a timer, an SDK callback or
// the queue thread pointing into this object. The timer goes first so that it posts no more, the
// callback next (the SDK lets an in-flight delivery finish), and the queue thread last.
void CRealStream::teardown()
{
    {
        std::lock_guard<std::mutex> guard(timerLock);
        timerMgr.DestroyTimer(timerId);
        timerId = kNoTimer;
    }
    if (module)
        module->UnregisterCallback(&CRealStream::SdkMessageCallback, this);
    Stop();
    // Handlers read the module; only now that the queue thread is gone may it be cleared.
    module = nullptr;
}

int CRealStream::Init(KvSdk::ISdkControl *control)
{
    if (initDone)
        return 0;
    initDone = true;
    if (!control)
        return kRealErrGeneral;
    auto *realModule = static_cast<KvSdk::ISdkRealModule *>(
        control->GetModule(KvSdk::ISdkRealModule::kModuleNumber));
    if (!realModule)
        return kRealErrNoModule;
    module = realModule;
    module->UnregisterCallback(&CRealStream::SdkMessageCallback, this);
    module->RegisterCallback(&CRealStream::SdkMessageCallback, this);
    if (IsRunning())
        Stop();
    Start();

    std::lock_guard<std::mutex> guard(timerLock);
    timerId = timerMgr.CreateTimer(this);
    if (timerId == kNoTimer)
        return kRealErrParam;
    if (timerMgr.StartTimer(timerId, timerPeriod) != 0)
        return kRealErrParam;
    return 0;
}

int CRealStream::UnInit()
{
    Stop();
    {
        std::lock_guard<std::mutex> guard(timerLock);
        timerMgr.DestroyTimer(timerId);
        timerId = kNoTimer;
    }
    if (module)
        module->UnregisterCallback(&CRealStream::SdkMessageCallback, this);
    connections.clear();
    reconnections.clear();
    {
        qrl::DMutexGuard guard(&listenerLock);
        listeners.clear();
    }
    module = nullptr;
    return 0;
}

int CRealStream::SetReconnectInterval(int intervalMs)
{
    if (intervalMs <= 0)
        return kRealErrParam;
    std::lock_guard<std::mutex> guard(timerLock);
    timerPeriod = intervalMs;
    if (timerId == kNoTimer)
        return 0;
    if (timerMgr.DestroyTimer(timerId) == -1)
        timerId = timerMgr.CreateTimer(this);
    timerMgr.StartTimer(timerId, timerPeriod);
    return 0;
}

int CRealStream::SetConnectParams(int p1, int p2)
{
    if (p1 < 0 || p1 > 1 || p2 < 1 || p2 > 3)
        return kRealErrParam;
    connectParam1 = p1;
    connectParam2 = p2;
    return 0;
}

// The one way a stream is opened on the SDK, by the host's request and by the reconnection pass.
int CRealStream::openOnModule(const char *sourceId, int mode, int channelMode, int channel,
                              std::intptr_t target, std::intptr_t context)
{
    std::int64_t uniqueId = -1;
    int parsedChannel = -1;
    ParseSourceId(sourceId, &uniqueId, &parsedChannel);
    const int sdkChannel = channelMode != -1 ? channel : parsedChannel;
    return module->OpenRealVideo(uniqueId, sdkChannel, mode, channelMode, target, context);
}

int CRealStream::OpenVideo(const char *sourceId, int mode, std::intptr_t target,
                           std::intptr_t context, std::intptr_t owner, int channelMode, int channel)
{
    if (!module)
        return kRealErrGeneral;
    if (!sourceId || !*sourceId || target == 0)
        return kRealErrGeneral;
    const int result = openOnModule(sourceId, mode, channelMode, channel, target, context);
    if (result < 0)
        return result;

    qrl::DRefPtr<ConnectInfo> record(new ConnectInfo(MSG_CONNECT));
    record->id = result;
    record->mode = mode;
    record->channel = channel;
    record->channelMode = channelMode;
    record->connectParam1 = connectParam1;
    record->connectParam2 = connectParam2;
    record->owner = owner;
    record->sourceId = sourceId;
    record->target = target;
    record->context = context;
    record->openTime = qrl::DTime::GetTime();
    PushMsg(record.get());
    return result;
}

int CRealStream::CloseVideo(int id)
{
    if (!module)
        return kRealErrGeneral;
    if (id < 0)
        return kRealErrParam;
    qrl::DRefPtr<ConnectInfo> request(new ConnectInfo(MSG_DISCONNECT));
    request->id = id;
    PushMsg(request.get());
    return module->CloseRealVideo(static_cast<std::int64_t>(id));
}

int CRealStream::ReopenVideo(int id, const char *sourceId, int mode, std::intptr_t target,
                             std::intptr_t context, std::intptr_t owner)
{
    const int closed = CloseVideo(id);
    if (closed < 0)
        return closed;
    return OpenVideo(sourceId, mode, target, context, owner, -1, -1);
}

int CRealStream::AddListener(IRealStreamListener *listener, std::intptr_t owner)
{
    if (!listener)
        return kRealErrGeneral;
    qrl::DMutexGuard guard(&listenerLock);
    return listeners.emplace(listener, owner).second ? 0 : kRealErrGeneral;
}

int CRealStream::RemoveListener(IRealStreamListener *listener, std::intptr_t)
{
    if (!listener)
        return kRealErrGeneral;
    qrl::DMutexGuard guard(&listenerLock);
    return listeners.erase(listener) ? 0 : kRealErrGeneral;
}

int CRealStream::IsReady()
{
    return module && IsRunning() ? 0 : kRealErrParam;
}

int CRealStream::ParseSourceId(const char *text, std::int64_t *uniqueId, int *channel)
{
    if (!text || !uniqueId || !channel)
        return -1;
    const char *first = std::strchr(text, '$');
    if (first) {
        *uniqueId = readNumber(text, INT64_MIN, INT64_MAX);
        *channel = static_cast<int>(readNumber(std::strrchr(text, '$') + 1, INT_MIN, INT_MAX));
    }
    return *uniqueId < 0 || *channel < 0 ? -1 : 0;
}

int CRealStream::SdkMessageCallback(int sdkArg, KvSdk::KVSDKCBMessage *message, void *user)
{
    // The message belongs to the SDK and lives only for this call, so it is copied here.
    if (!message || !user)
        return 0;
    // The queue dispatches by type alone, so an SDK message whose type collides with one of the
    // engine's own messages would reach a handler that takes it for a record. Such types are
    // no SDK event the engine handles; they are dropped here.
    switch (message->type) {
    case MSG_CONNECT:
    case MSG_DISCONNECT:
    case MSG_RECONNECT_CHECK:
    case MSG_OPEN_CHECK:
        return 0;
    default:
        break;
    }
    // The queue takes the one reference the event needs. Holding one of our own as well would
    // cost this hot path two more atomic updates, the second racing the queue thread for the
    // same cache line; if the queue refuses the message, a reference taken then frees it.
    auto *info = new CallbackInfo(message->type);
    copySdkMessage(*info, *message);
    info->sdkArg = sdkArg;
    info->user = user;
    if (static_cast<CRealStream *>(user)->PushMsg(info) != 0)
        qrl::DRefPtr<CallbackInfo> dropped(info);
    return 0;
}

void CRealStream::OnTimer(unsigned)
{
    qrl::DRefPtr<qrl::DMessage> reconnectCheck(new qrl::DMessage(MSG_RECONNECT_CHECK));
    PushMsg(reconnectCheck.get());
    qrl::DRefPtr<qrl::DMessage> openCheck(new qrl::DMessage(MSG_OPEN_CHECK));
    PushMsg(openCheck.get());
}

template <typename F>
void CRealStream::forEachMatchingListener(std::intptr_t owner, F &&f)
{
    for (const auto &[listener, registeredOwner] : listeners) {
        if (registeredOwner == 0 || registeredOwner == owner)
            f(listener, registeredOwner);
    }
}

template <typename F>
void CRealStream::notifyListeners(std::intptr_t owner, F &&f)
{
    qrl::DMutexGuard guard(&listenerLock);
    forEachMatchingListener(owner, std::forward<F>(f));
}

void CRealStream::OnConnect(qrl::DMessage *message)
{
    auto *record = static_cast<ConnectInfo *>(message);
    connections[record->id] = ConnectionRef(record);
}

// The reconnection record that the host means by id. A stream reopened under id is meant first;
// otherwise the newest of those the host first knew by id, as the SDK may have handed the id out
// again and the host was told of the newer stream last; otherwise one whose latest reopen
// request had that id.
CRealStream::Reconnections::iterator CRealStream::reconnectionOf(int id)
{
    for (auto it = reconnections.begin(); it != reconnections.end(); ++it) {
        if (it->second->reconnecting == 1 && it->second->id == id)
            return it;
    }
    if (auto [first, last] = reconnections.equal_range(id); first != last)
        return std::prev(last);
    for (auto it = reconnections.begin(); it != reconnections.end(); ++it) {
        if (it->second->id == id)
            return it;
    }
    return reconnections.end();
}

void CRealStream::OnDisconnect(qrl::DMessage *message)
{
    const int id = static_cast<ConnectInfo *>(message)->id;
    auto found = connections.find(id);
    const bool openUnderId = found != connections.end() && found->second->closed != 1;
    if (found != connections.end())
        found->second->closed = 1;
    auto it = reconnectionOf(id);
    if (it == reconnections.end())
        return;
    // A stream open under the id is the one the host closes; a record it merely shares the id
    // with belongs to another stream that the host closes by a request of its own.
    if (openUnderId && it->second->id != id)
        return;
    const int currentId = it->second->id;
    reconnections.erase(it);
    // The host's CloseVideo has closed the id it named already; closing it a second time could
    // hit a stream that the SDK has meanwhile opened under the same id.
    if (module && currentId != id)
        module->CloseRealVideo(static_cast<std::int64_t>(currentId));
}

// Every waiting record gets one reopen request per period, for as long as it waits. Its
// originalId was fixed when the record was made, so it is not looked at here.
void CRealStream::OnReconnectCheck(qrl::DMessage *)
{
    for (auto &entry : reconnections) {
        ReConnectInfo *record = entry.second.get();
        if (record->reconnecting == 1)
            continue;
        const int result = openOnModule(record->sourceId.c_str(), record->mode, record->channelMode,
                                        record->channel, record->target, record->context);
        if (result >= 0) {
            record->id = result;
            record->reconnecting = 1;
            record->openTime = qrl::DTime::GetTime();
        }
    }
}

void CRealStream::OnOpenCheck(qrl::DMessage *)
{
    if (connections.empty())
        return;
    const std::int64_t now = qrl::DTime::GetTime();
    for (const auto &entry : connections) {
        const ConnectInfo *record = entry.second.get();
        if (record->openTime == 0)
            continue;
        const std::int64_t elapsed = now - record->openTime;
        if (elapsed < kOpenDelayMs)
            continue;
        const std::intptr_t owner = record->owner;
        const int recordId = record->id;
        qrl::DMutexGuard guard(&listenerLock);
        if (elapsed < kOpenTimeoutMs) {
            forEachMatchingListener(owner, [&](IRealStreamListener *listener, std::intptr_t) {
                listener->OnOpenDelay(recordId, owner);
            });
        } else {
            forEachMatchingListener(owner, [&](IRealStreamListener *listener, std::intptr_t) {
                listener->OnOpenTimeout(recordId, owner);
            });
            CloseVideo(recordId);
        }
    }
}

void CRealStream::OnSdkOpenVideo(qrl::DMessage *message)
{
    auto *info = static_cast<CallbackInfo *>(message);
    if (!info->sdkMessage)
        return;
    const int streamId = info->sdkMessage->sequence;
    const int result = info->sdkMessage->result;

    for (auto &entry : reconnections) {
        ReConnectInfo *record = entry.second.get();
        if (record->reconnecting != 1 || record->id != streamId)
            continue;
        if (result != 0) {
            record->reconnecting = 0;
            return;
        }
        notifyListeners(record->owner, [&](IRealStreamListener *listener, std::intptr_t) {
            listener->OnReconnect(result, record->originalId, record->id, record->owner);
        });
        ConnectionRef reopened(new ConnectInfo(MSG_CONNECT));
        reopened->id = record->id;
        reopened->mode = record->mode;
        reopened->channel = record->channel;
        reopened->channelMode = record->channelMode;
        reopened->connectParam1 = connectParam1;
        reopened->connectParam2 = connectParam2;
        reopened->owner = record->owner;
        reopened->sourceId = record->sourceId;
        reopened->target = record->target;
        reopened->context = record->context;
        reopened->openTime = record->openTime;
        connections[reopened->id] = reopened;
        return;
    }

    auto found = connections.find(streamId);
    if (found == connections.end())
        return;
    ConnectionRef record = found->second;
    notifyListeners(record->owner, [&](IRealStreamListener *listener, std::intptr_t) {
        listener->OnOpenVideo(result, record->id, record->owner);
    });
    if (result == 0 || record->closed == 1)
        return;
    connections.erase(found);
    ReConnectionRef waiting(new ReConnectInfo);
    waiting->id = record->id;
    waiting->mode = record->mode;
    waiting->channel = record->channel;
    waiting->channelMode = record->channelMode;
    waiting->connectParam1 = record->connectParam1;
    waiting->connectParam2 = record->connectParam2;
    waiting->owner = record->owner;
    waiting->sourceId = record->sourceId;
    waiting->target = record->target;
    waiting->context = record->context;
    // The host knows the stream by this id for as long as it is reopened; it is fixed here so
    // that a first id of 0 cannot be mistaken for "not yet set" later.
    waiting->originalId = record->id;
    reconnections.emplace(waiting->id, waiting);
}

void CRealStream::OnSdkCloseVideo(qrl::DMessage *message)
{
    auto *info = static_cast<CallbackInfo *>(message);
    if (!info->sdkMessage)
        return;
    const auto *closed = static_cast<const KvSdk::RealCloseVideoMsg *>(info->sdkMessage.get());
    const int streamId = streamIdOfHandle(closed->streamHandle);
    int reportId = 0;
    std::intptr_t owner = 0;
    if (auto it = connections.find(streamId); it != connections.end()) {
        reportId = it->second->id;
        owner = it->second->owner;
        connections.erase(it);
        // A reopened stream leaves its reconnection record behind so that the host can still
        // close it by the id it first knew. Once the SDK has closed the stream that record has
        // nothing left to close; kept, it would grow the table with every reconnection and take
        // the open answer of a later stream that the SDK gives the same id for a reopen answer.
        if (!reconnections.empty()) {
            for (auto re = reconnections.begin(); re != reconnections.end(); ++re) {
                if (re->second->reconnecting == 1 && re->second->id == streamId) {
                    reconnections.erase(re);
                    break;
                }
            }
        }
    } else if (auto re = reconnectionOf(streamId); re != reconnections.end()) {
        reportId = re->second->originalId;
        owner = re->second->owner;
        // A reopen request still waiting for its answer would leave its SDK stream behind.
        const int currentId = re->second->id;
        const bool requestOpen = re->second->reconnecting == 1 && currentId != streamId
                                 && connections.find(currentId) == connections.end();
        reconnections.erase(re);
        if (module && requestOpen)
            module->CloseRealVideo(static_cast<std::int64_t>(currentId));
    } else {
        return;
    }
    const int result = closed->result;
    if (result != 0)
        return;
    notifyListeners(owner, [&](IRealStreamListener *listener, std::intptr_t registeredOwner) {
        listener->OnCloseVideo(result, reportId, registeredOwner);
    });
}

void CRealStream::OnSdkFirstFrame(qrl::DMessage *message)
{
    auto *info = static_cast<CallbackInfo *>(message);
    if (!info->sdkMessage)
        return;
    const auto *frame
        = static_cast<const KvSdk::RealNotifyReceiveFirstFrameMsg *>(info->sdkMessage.get());
    auto it = connections.find(streamIdOfHandle(frame->streamHandle));
    if (it == connections.end())
        return;
    ConnectInfo &record = *it->second;
    record.openTime = 0;
    const int result = frame->result;
    notifyListeners(record.owner, [&](IRealStreamListener *listener, std::intptr_t) {
        listener->OnFirstFrame(result, record.id, record.owner);
    });
}

void CRealStream::OnSdkOpenFailed(qrl::DMessage *message)
{
    auto *info = static_cast<CallbackInfo *>(message);
    if (!info->sdkMessage)
        return;
    const auto *failed = static_cast<const KvSdk::RealOpenFailedMsg *>(info->sdkMessage.get());
    const int streamId = streamIdOfHandle(failed->streamHandle);
    auto it = connections.find(streamId);
    if (it == connections.end())
        return;
    const int value = failed->value;
    notifyListeners(it->second->owner, [&](IRealStreamListener *listener, std::intptr_t) {
        listener->OnOpenFailed(value, streamId);
    });
}

} // namespace DCM
