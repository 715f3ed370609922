// SPDX-License-Identifier: MIT
#include "streamlistener.h"

namespace Olvane {

StreamListener::StreamListener()
    : m_ownThread(std::this_thread::get_id())
{}

void StreamListener::report(StreamEvent event, int id, int value)
{
    m_calls.fetch_add(1);
    if (std::this_thread::get_id() == m_ownThread)
        m_callsOnOwnThread.fetch_add(1);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.push_back({event, id, value});
}

std::vector<StreamEventRecord> StreamListener::takeEvents()
{
    std::vector<StreamEventRecord> events;
    std::lock_guard<std::mutex> lock(m_mutex);
    events.swap(m_pending);
    return events;
}

int StreamListener::OnOpenVideo(int result, int id, std::intptr_t)
{
    report(StreamEvent::Opened, id, result);
    return 0;
}

int StreamListener::OnCloseVideo(int result, int id, std::intptr_t)
{
    report(StreamEvent::Closed, id, result);
    return 0;
}

int StreamListener::OnReconnect(int, int originalId, int newId, std::intptr_t)
{
    report(StreamEvent::Reconnected, originalId, newId);
    return 0;
}

int StreamListener::OnFirstFrame(int result, int id, std::intptr_t)
{
    report(StreamEvent::FirstFrame, id, result);
    return 0;
}

int StreamListener::OnOpenDelay(int id, std::intptr_t)
{
    report(StreamEvent::Delay, id, 0);
    return 0;
}

int StreamListener::OnOpenTimeout(int id, std::intptr_t)
{
    report(StreamEvent::Timeout, id, 0);
    return 0;
}

int StreamListener::OnOpenFailed(int value, int id)
{
    report(StreamEvent::OpenFailed, id, value);
    return 0;
}

} // namespace Olvane
