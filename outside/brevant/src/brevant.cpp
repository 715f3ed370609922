// SPDX-License-Identifier: MIT
#include <brevant/brevant.h>

#include <mutex>

namespace KvSdk {

namespace {
std::mutex appNameMutex;
std::string appName;
} // namespace

void KVSDKFactory::SetAppName(const std::string &name)
{
    std::lock_guard<std::mutex> lock(appNameMutex);
    appName = name;
}

std::string KVSDKFactory::AppName()
{
    std::lock_guard<std::mutex> lock(appNameMutex);
    return appName;
}

KVSDKCBMessage::KVSDKCBMessage() = default;

KVSDKCBMessage::KVSDKCBMessage(int type, int param, int sequence, int result)
    : type(type)
    , param(param)
    , sequence(sequence)
    , result(result)
{}

KVSDKCBMessage::KVSDKCBMessage(const KVSDKCBMessage &other) = default;
KVSDKCBMessage &KVSDKCBMessage::operator=(const KVSDKCBMessage &other) = default;
KVSDKCBMessage::~KVSDKCBMessage() = default;

RealOpenVideoMsg::RealOpenVideoMsg()
    : KVSDKCBMessage(KVSDK_MSG_REAL_OPEN_VIDEO, 0, 0, 0)
{}
RealOpenVideoMsg::~RealOpenVideoMsg() = default;

RealCloseVideoMsg::RealCloseVideoMsg()
    : KVSDKCBMessage(KVSDK_MSG_REAL_CLOSE_VIDEO, 0, 0, 0)
{}
RealCloseVideoMsg::~RealCloseVideoMsg() = default;

RealNotifyReceiveFirstFrameMsg::RealNotifyReceiveFirstFrameMsg()
    : KVSDKCBMessage(KVSDK_MSG_REAL_FIRST_FRAME, 0, 0, 0)
{}
RealNotifyReceiveFirstFrameMsg::~RealNotifyReceiveFirstFrameMsg() = default;

RealOpenFailedMsg::RealOpenFailedMsg()
    : KVSDKCBMessage(KVSDK_MSG_REAL_OPEN_FAILED, 0, 0, 0)
{}
RealOpenFailedMsg::~RealOpenFailedMsg() = default;

} // namespace KvSdk
