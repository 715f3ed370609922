// SPDX-License-Identifier: MIT
#include <qrl/qrl.h>

namespace qrl {

struct DMessageQueue::Private
{};

DMessageQueue::DMessageQueue(unsigned, unsigned)
    : d(new Private)
{}

DMessageQueue::~DMessageQueue() = default;

int DMessageQueue::Start()
{
    return -1;
}

int DMessageQueue::SignalStop()
{
    return -1;
}

int DMessageQueue::Stop()
{
    return -1;
}

int DMessageQueue::PushMsg(DMessage *)
{
    return -1;
}

int DMessageQueue::QueueSize()
{
    return 0;
}

int DMessageQueue::ProcessMsg(DMessage *message)
{
    return ProcessDefaultMsg(message);
}

int DMessageQueue::ProcessDefaultMsg(DMessage *)
{
    return 0;
}

bool DMessageQueue::IsRunning() const
{
    return false;
}

} // namespace qrl
