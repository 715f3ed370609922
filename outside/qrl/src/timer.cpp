// SPDX-License-Identifier: MIT
#include <qrl/qrl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

namespace qrl {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(SteadyClock::now().time_since_epoch()).count();
}

// Read without a lock by DTime::GetTime(); written under the service's lock.
std::atomic<bool> testClockOn{false};
std::atomic<std::int64_t> testClockNow{0};

// True on the timer thread only; tells calls made from inside OnTimer apart.
thread_local bool onTimerThread = false;

struct TimerSlot
{
    const void *owner = nullptr;
    DTimerHandler *handler = nullptr;
    bool armed = false;
    std::int64_t periodMs = 0;
    std::int64_t due = 0;  // in the clock that is active
    std::uint64_t seq = 0; // keeps timers due at the same time in the order they were armed
};

// One timer thread for the process; every DTimerMgr keeps its timers here, so that the test
// clock can deliver all expiries in time order.
class TimerService
{
public:
    static TimerService &instance()
    {
        static TimerService service;
        return service;
    }

    ~TimerService()
    {
        std::thread thread;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
            thread = std::move(m_thread);
        }
        m_wake.notify_all();
        if (thread.joinable())
            thread.join();
    }

    unsigned create(const void *owner, DTimerHandler *handler)
    {
        if (!handler)
            return DTimerMgr::kInvalidTimer;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_quit)
            return DTimerMgr::kInvalidTimer;
        unsigned id = m_nextId++;
        while (id == 0 || id == DTimerMgr::kInvalidTimer || m_slots.count(id))
            id = m_nextId++;
        TimerSlot &slot = m_slots[id];
        slot.owner = owner;
        slot.handler = handler;
        if (!m_thread.joinable())
            m_thread = std::thread(&TimerService::run, this);
        return id;
    }

    int start(const void *owner, unsigned id, int periodMs)
    {
        if (periodMs <= 0)
            return -1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = m_slots.find(id);
            if (it == m_slots.end() || it->second.owner != owner)
                return -1;
            TimerSlot &slot = it->second;
            slot.armed = true;
            slot.periodMs = periodMs;
            slot.due = nowLocked() + periodMs;
            slot.seq = ++m_armSeq;
        }
        m_wake.notify_all();
        return 0;
    }

    int destroy(const void *owner, unsigned id)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto it = m_slots.find(id);
        if (it == m_slots.end() || it->second.owner != owner)
            return -1;
        it->second.armed = false;
        // An expiry being delivered right now must end before we answer, unless we are inside it.
        if (!onTimerThread)
            m_delivered.wait(lock, [&] { return m_inFlight != id; });
        return 0;
    }

    void removeOwner(const void *owner)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (auto &entry : m_slots) {
            if (entry.second.owner == owner)
                entry.second.armed = false;
        }
        if (!onTimerThread) {
            m_delivered.wait(lock, [&] {
                auto it = m_slots.find(m_inFlight);
                return it == m_slots.end() || it->second.owner != owner;
            });
        }
        for (auto it = m_slots.begin(); it != m_slots.end();) {
            if (it->second.owner == owner)
                it = m_slots.erase(it);
            else
                ++it;
        }
    }

    void enableTestClock(std::int64_t startMs)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            rebase(nowLocked(), startMs);
            m_testClock = true;
            m_virtualNow = startMs;
            testClockNow.store(startMs, std::memory_order_release);
            testClockOn.store(true, std::memory_order_release);
        }
        m_wake.notify_all();
    }

    void disableTestClock()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_testClock)
                return;
            rebase(m_virtualNow, steadyMs());
            m_testClock = false;
            m_advancing = false;
            testClockOn.store(false, std::memory_order_release);
        }
        m_wake.notify_all();
        m_delivered.notify_all();
    }

    void advance(std::int64_t ms)
    {
        if (ms < 0)
            ms = 0;
        // Concurrent advances take turns; one from inside OnTimer cannot wait for itself.
        std::unique_lock<std::mutex> turn(m_advanceTurn, std::defer_lock);
        if (!onTimerThread)
            turn.lock();
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_testClock)
            return;
        const std::int64_t base = m_advancing ? m_advanceTarget : m_virtualNow;
        m_advanceTarget = base + ms;
        if (!m_thread.joinable() || onTimerThread) {
            if (!m_thread.joinable())
                setVirtualNow(m_advanceTarget); // no timer exists: only the time moves
            else
                m_advancing = true; // the timer thread goes on once this OnTimer returns
            return;
        }
        m_advancing = true;
        m_wake.notify_all();
        m_delivered.wait(lock, [this] { return !m_advancing || !m_testClock || m_quit; });
    }

    std::int64_t nowLocked() const { return m_testClock ? m_virtualNow : steadyMs(); }

private:
    TimerService() = default;

    void setVirtualNow(std::int64_t now)
    {
        m_virtualNow = now;
        testClockNow.store(now, std::memory_order_release);
    }

    // Keeps each armed timer's remaining time when the clock is switched.
    void rebase(std::int64_t from, std::int64_t to)
    {
        for (auto &entry : m_slots) {
            if (entry.second.armed)
                entry.second.due = to + (entry.second.due - from);
        }
    }

    TimerSlot *earliest(unsigned *id)
    {
        TimerSlot *best = nullptr;
        for (auto &entry : m_slots) {
            TimerSlot &slot = entry.second;
            if (!slot.armed)
                continue;
            if (!best || slot.due < best->due || (slot.due == best->due && slot.seq < best->seq)) {
                best = &slot;
                *id = entry.first;
            }
        }
        return best;
    }

    void fire(std::unique_lock<std::mutex> &lock, unsigned id, TimerSlot &slot, std::int64_t now)
    {
        DTimerHandler *handler = slot.handler;
        slot.due += slot.periodMs;
        // On the steady clock a late thread does not make up for missed periods in a burst; the
        // test clock delivers every one of them.
        if (!m_testClock && slot.due <= now)
            slot.due = now + slot.periodMs;
        m_inFlight = id;
        lock.unlock();
        handler->OnTimer(id);
        lock.lock();
        m_inFlight = 0;
        m_delivered.notify_all();
    }

    void run()
    {
        onTimerThread = true;
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_quit) {
            unsigned id = 0;
            TimerSlot *next = earliest(&id);
            if (m_testClock) {
                if (m_advancing && next && next->due <= m_advanceTarget) {
                    setVirtualNow(std::max(m_virtualNow, next->due));
                    fire(lock, id, *next, m_virtualNow);
                    continue;
                }
                if (m_advancing) {
                    setVirtualNow(m_advanceTarget);
                    m_advancing = false;
                    m_delivered.notify_all();
                }
                m_wake.wait(lock);
                continue;
            }
            if (!next) {
                m_wake.wait(lock);
                continue;
            }
            const std::int64_t now = steadyMs();
            if (next->due > now) {
                m_wake.wait_until(lock,
                                  SteadyClock::time_point(std::chrono::milliseconds(next->due)));
                continue;
            }
            fire(lock, id, *next, now);
        }
        m_advancing = false;
        m_delivered.notify_all();
    }

    std::mutex m_mutex;
    std::mutex m_advanceTurn;
    std::condition_variable m_wake;      // the timer thread waits here
    std::condition_variable m_delivered; // an expiry or an advance finished
    std::map<unsigned, TimerSlot> m_slots;
    unsigned m_nextId = 1;
    std::uint64_t m_armSeq = 0;
    unsigned m_inFlight = 0;
    std::thread m_thread;
    bool m_quit = false;
    bool m_testClock = false;
    bool m_advancing = false;
    std::int64_t m_virtualNow = 0;
    std::int64_t m_advanceTarget = 0;
};

} // namespace

struct DTimerMgr::Private
{};

DTimerMgr::DTimerMgr()
    : d(new Private)
{
    // Made first, so the service outlives managers that live in static storage too.
    TimerService::instance();
}

DTimerMgr::~DTimerMgr()
{
    TimerService::instance().removeOwner(d.get());
}

unsigned DTimerMgr::CreateTimer(DTimerHandler *handler)
{
    return TimerService::instance().create(d.get(), handler);
}

int DTimerMgr::StartTimer(unsigned id, int periodMs)
{
    return TimerService::instance().start(d.get(), id, periodMs);
}

int DTimerMgr::DestroyTimer(unsigned id)
{
    if (id == kInvalidTimer)
        return -1;
    return TimerService::instance().destroy(d.get(), id);
}

std::int64_t DTime::GetTime()
{
    if (testClockOn.load(std::memory_order_acquire))
        return testClockNow.load(std::memory_order_acquire);
    return steadyMs();
}

void DTestClock::Enable(std::int64_t startMs)
{
    TimerService::instance().enableTestClock(startMs);
}

void DTestClock::Advance(std::int64_t ms)
{
    TimerService::instance().advance(ms);
}

void DTestClock::Disable()
{
    TimerService::instance().disableTestClock();
}

bool DTestClock::IsEnabled()
{
    return testClockOn.load(std::memory_order_acquire);
}

} // namespace qrl
