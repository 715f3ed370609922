// SPDX-License-Identifier: MIT
#pragma once

#include <brevant/brevant.h>
#include <varnex/realstream.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace bench {

// The baseline: the same hand-off as the stream engine (copy the SDK message in the callback,
// queue it, look the stream up and call the listeners under a lock on one consumer thread),
// with nothing but a mutex, a condition variable and a vector. Like the engine's queue it takes
// the whole backlog under one lock and wakes the consumer only when the queue was empty.
class BareQueue
{
public:
    explicit BareQueue(DCM::IRealStreamListener *listener)
        : m_listener(listener)
    {
        m_thread = std::thread([this] { run(); });
    }

    ~BareQueue()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    void addStream(int id, std::intptr_t owner)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_streams[id] = owner;
    }

    static int Callback(int, KvSdk::KVSDKCBMessage *message, void *user)
    {
        if (!message || !user || message->type != KvSdk::KVSDK_MSG_REAL_FIRST_FRAME)
            return 0;
        auto copy = std::make_unique<KvSdk::RealNotifyReceiveFirstFrameMsg>(
            *static_cast<KvSdk::RealNotifyReceiveFirstFrameMsg *>(message));
        static_cast<BareQueue *>(user)->push(std::move(copy));
        return 0;
    }

private:
    void push(std::unique_ptr<KvSdk::RealNotifyReceiveFirstFrameMsg> message)
    {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pending.push_back(std::move(message));
            wake = m_waiting && m_pending.size() == 1;
            if (wake)
                m_waiting = false;
        }
        if (wake)
            m_wake.notify_one();
    }

    void run()
    {
        std::vector<std::unique_ptr<KvSdk::RealNotifyReceiveFirstFrameMsg>> batch;
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stop) {
            if (m_pending.empty()) {
                m_waiting = true;
                m_wake.wait(lock);
                continue;
            }
            batch.swap(m_pending);
            lock.unlock();
            for (auto &message : batch) {
                const int id = static_cast<int>(message->streamHandle & 0xffffffff);
                auto it = m_streams.find(id);
                if (it != m_streams.end()) {
                    std::lock_guard<std::mutex> listeners(m_listenerLock);
                    m_listener->OnFirstFrame(message->result, id, it->second);
                }
            }
            batch.clear();
            lock.lock();
        }
    }

    DCM::IRealStreamListener *m_listener;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::unique_ptr<KvSdk::RealNotifyReceiveFirstFrameMsg>> m_pending;
    bool m_waiting = false;
    bool m_stop = false;
    std::map<int, std::intptr_t> m_streams; // touched by the consumer only after set-up
    std::mutex m_listenerLock;
    std::thread m_thread;
};

} // namespace bench
