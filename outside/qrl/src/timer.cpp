// SPDX-License-Identifier: MIT
#include <qrl/qrl.h>

#include <chrono>

namespace qrl {

struct DTimerMgr::Private
{};

DTimerMgr::DTimerMgr()
    : d(new Private)
{}

DTimerMgr::~DTimerMgr() = default;

unsigned DTimerMgr::CreateTimer(DTimerHandler *)
{
    return kInvalidTimer;
}

int DTimerMgr::StartTimer(unsigned, int)
{
    return -1;
}

int DTimerMgr::DestroyTimer(unsigned)
{
    return -1;
}

std::int64_t DTime::GetTime()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void DTestClock::Enable(std::int64_t) {}
void DTestClock::Advance(std::int64_t) {}
void DTestClock::Disable() {}
bool DTestClock::IsEnabled()
{
    return false;
}

} // namespace qrl
