// SPDX-License-Identifier: MIT
#pragma once

#include <varnex/realstream.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace Olvane {

// What a listener call reported.
enum class StreamEvent { Opened, Closed, Reconnected, FirstFrame, Delay, Timeout, OpenFailed };

struct StreamEventRecord
{
    StreamEvent event;
    // The stream the event is about; for Reconnected, the original stream.
    int id;
    // For Reconnected, the new stream; otherwise the result or value that came with the call.
    int value;
};

// Collects the stream component's listener calls for the window. The calls arrive on the
// component's queue thread with its listener lock held, so nothing here touches a widget or
// calls back into the component: each call only appends to a list under a lock of its own. The
// window takes the list on its own thread, on its own timer; that lock is the only place the two
// threads meet, so no call's data travels through Qt's event queue.
class StreamListener : public DCM::IRealStreamListener
{
public:
    StreamListener();

    int OnOpenVideo(int result, int id, std::intptr_t owner) override;
    int OnCloseVideo(int result, int id, std::intptr_t owner) override;
    int OnReconnect(int result, int originalId, int newId, std::intptr_t owner) override;
    int OnFirstFrame(int result, int id, std::intptr_t owner) override;
    int OnOpenDelay(int id, std::intptr_t owner) override;
    int OnOpenTimeout(int id, std::intptr_t owner) override;
    int OnOpenFailed(int value, int id) override;

    // The calls collected since the last take, in order.
    std::vector<StreamEventRecord> takeEvents();

    // Calls received so far, and how many of them came on the thread that made the listener
    // (none should: that is the window's thread).
    int calls() const { return m_calls.load(); }
    int callsOnOwnThread() const { return m_callsOnOwnThread.load(); }

private:
    void report(StreamEvent event, int id, int value);

    std::thread::id m_ownThread;
    std::atomic<int> m_calls{0};
    std::atomic<int> m_callsOnOwnThread{0};
    std::mutex m_mutex;
    std::vector<StreamEventRecord> m_pending;
};

} // namespace Olvane
