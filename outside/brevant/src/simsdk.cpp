// SPDX-License-Identifier: MIT
#include <brevant/simsdk.h>

namespace KvSdk {

struct SimSdk::Private
{
    SimSdkOptions options;
};

SimSdk::SimSdk()
    : SimSdk(SimSdkOptions())
{}

SimSdk::SimSdk(const SimSdkOptions &options)
    : d(new Private{options})
{}

SimSdk::~SimSdk() = default;

int SimSdk::GetVersion() const
{
    return 1;
}

int SimSdk::GetModuleCount() const
{
    return 0;
}

ISdkModule *SimSdk::GetModule(int)
{
    return nullptr;
}

ISdkRealModule *SimSdk::RealModule()
{
    return nullptr;
}

void SimSdk::ScriptOpenResults(std::vector<int>) {}
void SimSdk::ScriptCloseResults(std::vector<int>) {}

std::vector<SimCall> SimSdk::Calls() const
{
    return {};
}

void SimSdk::ClearCalls() {}

int SimSdk::CallbackCount() const
{
    return 0;
}

std::int64_t SimSdk::HandleOf(int streamId)
{
    return (std::int64_t(0x5eed) << 32) | std::uint32_t(streamId);
}

void SimSdk::EmitOpenResult(int, int) {}
void SimSdk::EmitFirstFrame(int) {}
void SimSdk::EmitOpenFailed(int, int) {}
void SimSdk::EmitClosed(int, int) {}
void SimSdk::EmitUnknown(int) {}
void SimSdk::WaitIdle() {}
void SimSdk::SetSdkThreads(int) {}

int SimSdk::DeliverNow(const KVSDKCBMessage &)
{
    return 0;
}

} // namespace KvSdk
