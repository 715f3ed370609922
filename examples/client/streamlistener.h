// SPDX-License-Identifier: MIT
#pragma once

#include <varnex/realstream.h>

#include <QObject>

#include <atomic>
#include <thread>

namespace Olvane {

// What a listener call reported.
enum class StreamEvent { Opened, Closed, Reconnected, FirstFrame, Delay, Timeout, OpenFailed };

// Turns the stream component's listener calls into a Qt signal. The calls arrive on the
// component's queue thread with its listener lock held, so nothing here touches a widget or
// calls back into the component: each call only emits, and the receiver (living on the window's
// thread) gets it queued.
class StreamListener : public QObject, public DCM::IRealStreamListener
{
    Q_OBJECT

public:
    explicit StreamListener(QObject *parent = nullptr);

    int OnOpenVideo(int result, int id, std::intptr_t owner) override;
    int OnCloseVideo(int result, int id, std::intptr_t owner) override;
    int OnReconnect(int result, int originalId, int newId, std::intptr_t owner) override;
    int OnFirstFrame(int result, int id, std::intptr_t owner) override;
    int OnOpenDelay(int id, std::intptr_t owner) override;
    int OnOpenTimeout(int id, std::intptr_t owner) override;
    int OnOpenFailed(int value, int id) override;

    // Calls received so far, and how many of them came on the thread that made the listener
    // (none should: that is the window's thread).
    int calls() const { return m_calls.load(); }
    int callsOnOwnThread() const { return m_callsOnOwnThread.load(); }

signals:
    // id is the stream the event is about; for Reconnected, id is the original stream and value
    // the new one; otherwise value is the result or the value that came with the call.
    void streamEvent(Olvane::StreamEvent event, int id, int value);

private:
    void report(StreamEvent event, int id, int value);

    std::thread::id m_ownThread;
    std::atomic<int> m_calls{0};
    std::atomic<int> m_callsOnOwnThread{0};
};

} // namespace Olvane

Q_DECLARE_METATYPE(Olvane::StreamEvent)
