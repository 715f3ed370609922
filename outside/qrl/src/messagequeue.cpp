// SPDX-License-Identifier: MIT
#include <qrl/qrl.h>

#include <condition_variable>
#include <thread>
#include <vector>

namespace qrl {

namespace {

using MessageRef = DRefPtr<DMessage>;

// What the queue thread touches. It is shared with the thread so that a queue destroyed from
// inside its own handler does not pull the state away from under the finishing thread.
struct QueueState
{
    std::mutex mutex;
    std::condition_variable wake; // the queue thread waits here for messages
    std::condition_variable done; // Stop() waits here for the thread to finish
    std::vector<MessageRef> pending;
    bool consumerWaiting = false;
    bool stopRequested = false;
    bool threadDone = true;
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> running{false};
    std::atomic<int> size{0};
    std::size_t capacity = 0;

    // Drops the messages nobody will handle, outside the lock: a message's destructor may post.
    void releasePending()
    {
        std::vector<MessageRef> left;
        {
            std::lock_guard<std::mutex> lock(mutex);
            left.swap(pending);
        }
        size.fetch_sub(static_cast<int>(left.size()), std::memory_order_relaxed);
    }
};

void runQueue(const std::shared_ptr<QueueState> &state, DMessageQueue *queue)
{
    std::vector<MessageRef> batch;
    batch.reserve(state->capacity);
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        while (state->pending.empty() && !state->stopRequested) {
            state->consumerWaiting = true;
            state->wake.wait(lock);
        }
        state->consumerWaiting = false;
        if (state->stopRequested)
            break;
        // Take the whole backlog at once, so producers meet the lock only briefly.
        batch.swap(state->pending);
        lock.unlock();
        for (MessageRef &message : batch) {
            if (state->stopFlag.load(std::memory_order_relaxed))
                break;
            queue->ProcessMsg(message.get());
            message.reset();
        }
        state->size.fetch_sub(static_cast<int>(batch.size()), std::memory_order_relaxed);
        batch.clear(); // releases what a stop left unhandled
        lock.lock();
    }
    state->threadDone = true;
    state->done.notify_all();
}

} // namespace

struct DMessageQueue::Private
{
    std::shared_ptr<QueueState> state = std::make_shared<QueueState>();
    std::mutex control; // serialises Start, Stop and the destructor
    std::thread thread;
    std::thread::id threadId; // kept while a moved-out thread is being joined

    bool onQueueThread() const { return threadId == std::this_thread::get_id(); }

    void waitDone()
    {
        std::unique_lock<std::mutex> lock(state->mutex);
        state->done.wait(lock, [this] { return state->threadDone; });
    }
};

DMessageQueue::DMessageQueue(unsigned threadCount, unsigned capacity)
    : d(new Private)
{
    (void)threadCount;
    d->state->capacity = capacity;
    d->state->pending.reserve(capacity);
}

DMessageQueue::~DMessageQueue()
{
    std::unique_lock<std::mutex> control(d->control);
    SignalStop();
    if (d->thread.joinable()) {
        if (d->onQueueThread()) {
            // Destroyed by its own handler: the thread ends on its own after that handler.
            d->thread.detach();
        } else {
            std::thread thread = std::move(d->thread);
            control.unlock();
            thread.join();
        }
    }
    d->state->releasePending();
}

int DMessageQueue::Start()
{
    std::unique_lock<std::mutex> control(d->control);
    QueueState &state = *d->state;
    if (state.running.load(std::memory_order_acquire))
        return 0;
    while (d->thread.joinable()) {
        // A stop that did not wait (signalled, or asked from the queue thread) left it to us.
        // The lock is let go meanwhile: the thread's last handler may still call Stop().
        if (d->onQueueThread())
            return -1;
        std::thread old = std::move(d->thread);
        control.unlock();
        old.join();
        control.lock();
        if (state.running.load(std::memory_order_acquire))
            return 0;
    }
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.stopRequested = false;
        state.stopFlag.store(false, std::memory_order_relaxed);
        state.threadDone = false;
    }
    state.running.store(true, std::memory_order_release);
    d->thread = std::thread(runQueue, d->state, this);
    d->threadId = d->thread.get_id();
    return 0;
}

int DMessageQueue::SignalStop()
{
    QueueState &state = *d->state;
    state.running.store(false, std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.stopRequested = true;
        state.stopFlag.store(true, std::memory_order_relaxed);
    }
    state.wake.notify_all();
    return 0;
}

int DMessageQueue::Stop()
{
    std::unique_lock<std::mutex> control(d->control);
    SignalStop();
    const bool ownThread = d->onQueueThread();
    control.unlock();
    // From the queue thread the message in hand is the caller's own; the thread ends after it.
    if (!ownThread)
        d->waitDone();
    d->state->releasePending();
    return 0;
}

int DMessageQueue::PushMsg(DMessage *message)
{
    if (!message)
        return -1;
    MessageRef ref(message);
    QueueState &state = *d->state;
    bool notify = false;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.pending.push_back(std::move(ref));
        // Only a consumer asleep on an empty queue needs waking; one wake-up is enough.
        if (state.consumerWaiting && state.pending.size() == 1) {
            state.consumerWaiting = false;
            notify = true;
        }
        state.size.fetch_add(1, std::memory_order_relaxed);
    }
    if (notify)
        state.wake.notify_one();
    return 0;
}

int DMessageQueue::QueueSize()
{
    return d->state->size.load(std::memory_order_relaxed);
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
    return d->state->running.load(std::memory_order_acquire);
}

} // namespace qrl
