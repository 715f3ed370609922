// SPDX-License-Identifier: MIT
#pragma once

#include <brevant/brevant_global.h>

#include <cstdint>
#include <string>

namespace KvSdk {

class BREVANT_EXPORT KVSDKFactory
{
public:
    static void SetAppName(const std::string &name);
    // The name last given to SetAppName(), empty before.
    static std::string AppName();
};

// Message type values of the live-video module.
enum KVSDKMessageType : int {
    KVSDK_MSG_REAL_OPEN_VIDEO = 12002,
    KVSDK_MSG_REAL_CLOSE_VIDEO = 12003,
    KVSDK_MSG_REAL_FIRST_FRAME = 12006,
    KVSDK_MSG_REAL_OPEN_FAILED = 12008,
};

// Base of every message the SDK hands to a callback; the type tells the derived class.
class BREVANT_EXPORT KVSDKCBMessage
{
public:
    KVSDKCBMessage();
    KVSDKCBMessage(int type, int param, int sequence, int result);
    KVSDKCBMessage(const KVSDKCBMessage &other);
    KVSDKCBMessage &operator=(const KVSDKCBMessage &other);
    virtual ~KVSDKCBMessage();

    std::int32_t type = 0;
    std::int32_t param = 0;
    std::int32_t sequence = 0;
    std::int32_t result = 0; // 0 is success
};

// Answer to an open request; sequence holds the stream id that OpenRealVideo returned.
class BREVANT_EXPORT RealOpenVideoMsg : public KVSDKCBMessage
{
public:
    RealOpenVideoMsg();
    ~RealOpenVideoMsg() override;

    std::int64_t streamHandle = 0;
};

// The low 32 bits of a stream handle are the stream id.
class BREVANT_EXPORT RealCloseVideoMsg : public KVSDKCBMessage
{
public:
    RealCloseVideoMsg();
    ~RealCloseVideoMsg() override;

    std::int64_t streamHandle = 0;
};

class BREVANT_EXPORT RealNotifyReceiveFirstFrameMsg : public KVSDKCBMessage
{
public:
    RealNotifyReceiveFirstFrameMsg();
    ~RealNotifyReceiveFirstFrameMsg() override;

    std::int64_t streamHandle = 0;
};

class BREVANT_EXPORT RealOpenFailedMsg : public KVSDKCBMessage
{
public:
    RealOpenFailedMsg();
    ~RealOpenFailedMsg() override;

    std::int32_t value = 0;
    std::int64_t streamHandle = 0;
};

// The SDK calls it from its own threads; the message is valid only during the call.
using KVSDKCallback = int (*)(int arg, KVSDKCBMessage *message, void *user);

// Every module starts with its number. Modules belong to the SDK: nobody deletes them.
class ISdkModule
{
public:
    virtual int GetModuleNumber() const = 0;

protected:
    ~ISdkModule() = default;
};

// Live-video module, number 102. Its functions keep their positions in the table.
class ISdkRealModule : public ISdkModule
{
public:
    static constexpr int kModuleNumber = 102;

    virtual int RegisterCallback(KVSDKCallback callback, void *user) = 0;
    virtual int UnregisterCallback(KVSDKCallback callback, void *user) = 0;
    virtual int GetOpenStreamCount() const = 0;
    // A stream id of 0 or more, or a negative error.
    virtual int OpenRealVideo(std::int64_t uniqueId, int channel, int mode, int channelMode,
                              std::intptr_t target, std::intptr_t context)
        = 0;
    virtual int CloseRealVideo(std::int64_t streamId) = 0;

protected:
    ~ISdkRealModule() = default;
};

// The SDK control object; GetModule() answers null for a number the SDK does not have.
class ISdkControl
{
public:
    virtual int GetVersion() const = 0;
    virtual int GetModuleCount() const = 0;
    virtual ISdkModule *GetModule(int number) = 0;

protected:
    ~ISdkControl() = default;
};

} // namespace KvSdk
