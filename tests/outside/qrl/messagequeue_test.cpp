// SPDX-License-Identifier: MIT
#include <qrl/qrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 10s; // bound of every wait; the tests end far sooner

std::atomic<int> messagesAlive{0};

class TestMessage : public qrl::DMessage
{
public:
    TestMessage(int type, int producer = 0, int seq = 0)
        : qrl::DMessage(type)
        , producer(producer)
        , seq(seq)
    {
        ++messagesAlive;
    }
    ~TestMessage() override { --messagesAlive; }

    const int producer;
    const int seq;
};

// A flag that one thread opens and others wait for, with a bound.
class Gate
{
public:
    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    bool wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kPatience, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};

enum : int { kRecord = 1, kBlock = 2, kChain = 3, kCounted = 4, kStopSelf = 5, kTyped = 6 };

class TestQueue : public qrl::DMessageQueueTpl<TestQueue>
{
public:
    TestQueue()
        : qrl::DMessageQueueTpl<TestQueue>(1, 1024)
    {
        RegisterMsgHandler(kRecord, &TestQueue::onRecord);
        RegisterMsgHandler(kBlock, &TestQueue::onBlock);
        RegisterMsgHandler(kChain, &TestQueue::onChain);
        RegisterMsgHandler(kCounted, &TestQueue::onCounted);
        RegisterMsgHandler(kStopSelf, &TestQueue::onStopSelf);
        RegisterMsgHandler(kTyped, &TestQueue::onTyped);
    }

    int ProcessDefaultMsg(qrl::DMessage *message) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        defaultTypes.push_back(message->GetType());
        return 0;
    }

    bool waitHandled(int count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, kPatience, [&] { return handled >= count; });
    }

    std::mutex mutex;
    std::condition_variable cv;
    int handled = 0;
    std::vector<std::pair<int, int>> seen; // (producer, seq)
    std::vector<int> defaultTypes;
    std::vector<std::thread::id> threads;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::atomic<int> refsSeen{0};
    Gate entered;
    Gate release;
    std::atomic<bool> blockFinished{false};
    std::atomic<int> stopResult{-100};

protected:
    // Stop before the members that the handlers use go away.
    ~TestQueue() override { Stop(); }

private:
    void note(qrl::DMessage *message)
    {
        auto *test = static_cast<TestMessage *>(message);
        std::lock_guard<std::mutex> lock(mutex);
        seen.emplace_back(test->producer, test->seq);
        threads.push_back(std::this_thread::get_id());
        ++handled;
        cv.notify_all();
    }

    void onRecord(qrl::DMessage *message)
    {
        if (inside.fetch_add(1) != 0)
            overlapped = true;
        std::this_thread::yield();
        note(message);
        inside.fetch_sub(1);
    }

    void onBlock(qrl::DMessage *message)
    {
        entered.open();
        release.wait();
        blockFinished = true;
        note(message);
    }

    // Posts the next link from the queue thread itself.
    int onChain(qrl::DMessage *message)
    {
        auto *test = static_cast<TestMessage *>(message);
        if (test->seq < 99) {
            qrl::DRefPtr<TestMessage> next(new TestMessage(kChain, 0, test->seq + 1));
            PushMsg(next.get());
        }
        note(message);
        return 0;
    }

    void onCounted(qrl::DMessage *message)
    {
        qrl::DRefPtr<qrl::DMessage> probe(message);
        refsSeen = probe.useCount();
        probe.reset();
        note(message);
    }

    // Takes its own message class; a message of its type but another class is not for it.
    void onTyped(TestMessage *message) { note(message); }

    void onStopSelf(qrl::DMessage *message)
    {
        stopResult = Stop();
        note(message);
    }
};

// A queue that still holds messages when it is destroyed.
class BareQueue : public qrl::DMessageQueueTpl<BareQueue>
{
public:
    BareQueue()
        : qrl::DMessageQueueTpl<BareQueue>(1, 4)
    {
        RegisterMsgHandler(kRecord, &BareQueue::onRecord);
    }

    std::atomic<int> handled{0};

protected:
    ~BareQueue() override { Stop(); }

private:
    void onRecord(qrl::DMessage *) { ++handled; }
};

class MessageQueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        messagesAlive = 0;
        queue.reset(new TestQueue);
    }
    void TearDown() override
    {
        queue->Stop();
        queue.reset();
        // Every reference the queue took was given back.
        EXPECT_EQ(messagesAlive.load(), 0);
    }

    void post(int type, int producer = 0, int seq = 0)
    {
        qrl::DRefPtr<TestMessage> message(new TestMessage(type, producer, seq));
        EXPECT_EQ(queue->PushMsg(message.get()), 0);
    }

    qrl::DRefPtr<TestQueue> queue;
};

TEST_F(MessageQueueTest, ManyProducersOneThreadInPostingOrder)
{
    constexpr int kProducers = 6;
    constexpr int kEach = 3000;
    ASSERT_EQ(queue->Start(), 0);
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([this, p] {
            for (int i = 0; i < kEach; ++i)
                post(kRecord, p, i);
        });
    }
    for (std::thread &producer : producers)
        producer.join();
    ASSERT_TRUE(queue->waitHandled(kProducers * kEach));

    EXPECT_FALSE(queue->overlapped.load());
    std::vector<int> next(kProducers, 0);
    std::lock_guard<std::mutex> lock(queue->mutex);
    for (const auto &[producer, seq] : queue->seen) {
        ASSERT_EQ(seq, next[producer]) << "producer " << producer;
        ++next[producer];
    }
    for (const std::thread::id &id : queue->threads)
        ASSERT_EQ(id, queue->threads.front());
    EXPECT_NE(queue->threads.front(), std::this_thread::get_id());
}

TEST_F(MessageQueueTest, DispatchesByTypeAndFallsBackToDefault)
{
    ASSERT_EQ(queue->Start(), 0);
    post(kRecord, 1, 0);
    post(42);
    post(-7);
    post(kRecord, 1, 1);
    ASSERT_TRUE(queue->waitHandled(2));
    queue->Stop();
    std::lock_guard<std::mutex> lock(queue->mutex);
    EXPECT_EQ(queue->defaultTypes, (std::vector<int>{42, -7}));
    EXPECT_EQ(queue->seen.size(), 2u);
}

TEST_F(MessageQueueTest, TypedHandlerGetsOnlyItsMessageClass)
{
    ASSERT_EQ(queue->Start(), 0);
    qrl::DRefPtr<qrl::DMessage> plain(new qrl::DMessage(kTyped));
    queue->PushMsg(plain.get());
    post(kTyped, 3, 1);
    ASSERT_TRUE(queue->waitHandled(1));
    std::lock_guard<std::mutex> lock(queue->mutex);
    EXPECT_EQ(queue->defaultTypes, (std::vector<int>{kTyped}));
    EXPECT_EQ(queue->seen, (std::vector<std::pair<int, int>>{{3, 1}}));
}

TEST_F(MessageQueueTest, RegisteringATypeAgainReplacesItsHandler)
{
    queue->RegisterMsgHandler(kRecord, &TestQueue::ProcessDefaultMsg);
    ASSERT_EQ(queue->Start(), 0);
    post(kRecord);
    post(kCounted);
    ASSERT_TRUE(queue->waitHandled(1));
    queue->Stop();
    std::lock_guard<std::mutex> lock(queue->mutex);
    EXPECT_EQ(queue->defaultTypes, (std::vector<int>{kRecord}));
}

TEST_F(MessageQueueTest, HoldsItsOwnReferenceUntilHandled)
{
    qrl::DRefPtr<TestMessage> message(new TestMessage(kCounted));
    ASSERT_EQ(queue->PushMsg(message.get()), 0);
    EXPECT_EQ(message.useCount(), 2);
    EXPECT_EQ(queue->QueueSize(), 1);
    message.reset(); // the poster lets go right away, as the engine does
    EXPECT_EQ(messagesAlive.load(), 1);

    ASSERT_EQ(queue->Start(), 0);
    ASSERT_TRUE(queue->waitHandled(1));
    EXPECT_EQ(queue->refsSeen.load(), 2); // the queue's and the probe's
    queue->Stop();
    EXPECT_EQ(messagesAlive.load(), 0);
    EXPECT_EQ(queue->QueueSize(), 0);
}

TEST_F(MessageQueueTest, StopWaitsForTheMessageInHandAndDropsTheRest)
{
    ASSERT_EQ(queue->Start(), 0);
    post(kBlock);
    for (int i = 0; i < 50; ++i)
        post(kRecord, 0, i);
    ASSERT_TRUE(queue->entered.wait());

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        queue->Stop();
        stopped = true;
    });
    // Give Stop every chance to return too early.
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(stopped.load());
    EXPECT_FALSE(queue->IsRunning());
    queue->release.open();
    stopper.join();

    EXPECT_TRUE(queue->blockFinished.load());
    EXPECT_EQ(messagesAlive.load(), 0);
    std::lock_guard<std::mutex> lock(queue->mutex);
    EXPECT_EQ(queue->handled, 1);
}

TEST_F(MessageQueueTest, PostingFromTheQueueThreadKeepsOrder)
{
    ASSERT_EQ(queue->Start(), 0);
    post(kChain, 0, 0);
    ASSERT_TRUE(queue->waitHandled(100));
    std::lock_guard<std::mutex> lock(queue->mutex);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(queue->seen[i].second, i);
}

TEST_F(MessageQueueTest, RunsBetweenStartAndStopAndStartsAgain)
{
    EXPECT_FALSE(queue->IsRunning());
    EXPECT_EQ(queue->Stop(), 0); // never started: nothing to do
    ASSERT_EQ(queue->Start(), 0);
    EXPECT_TRUE(queue->IsRunning());
    EXPECT_EQ(queue->Start(), 0); // already running
    post(kRecord, 0, 0);
    ASSERT_TRUE(queue->waitHandled(1));
    EXPECT_EQ(queue->Stop(), 0);
    EXPECT_FALSE(queue->IsRunning());

    ASSERT_EQ(queue->Start(), 0);
    EXPECT_TRUE(queue->IsRunning());
    post(kRecord, 0, 1);
    ASSERT_TRUE(queue->waitHandled(2));
    queue->SignalStop();
    EXPECT_FALSE(queue->IsRunning());
    EXPECT_EQ(queue->Start(), 0); // waits for the signalled thread, then runs anew
    post(kRecord, 0, 2);
    ASSERT_TRUE(queue->waitHandled(3));
}

TEST_F(MessageQueueTest, StopFromInsideAHandlerEndsTheThread)
{
    ASSERT_EQ(queue->Start(), 0);
    post(kStopSelf);
    post(kRecord, 0, 0);
    ASSERT_TRUE(queue->waitHandled(1));
    queue->Stop(); // from here it waits for the handler that stopped it
    EXPECT_EQ(queue->stopResult.load(), 0);
    EXPECT_FALSE(queue->IsRunning());
    std::lock_guard<std::mutex> lock(queue->mutex);
    EXPECT_EQ(queue->handled, 1);
}

TEST_F(MessageQueueTest, RefusesANullMessage)
{
    EXPECT_EQ(queue->PushMsg(nullptr), -1);
    EXPECT_EQ(queue->QueueSize(), 0);
}

TEST_F(MessageQueueTest, DestroyingAQueueReleasesWhatItHolds)
{
    for (int i = 0; i < 10; ++i)
        post(kRecord, 0, i);
    EXPECT_EQ(messagesAlive.load(), 10);
    queue.reset(); // never started
    EXPECT_EQ(messagesAlive.load(), 0);
    queue.reset(new TestQueue); // for TearDown

    qrl::DRefPtr<BareQueue> running(new BareQueue);
    ASSERT_EQ(running->Start(), 0);
    for (int i = 0; i < 100; ++i) {
        qrl::DRefPtr<TestMessage> message(new TestMessage(kRecord));
        running->PushMsg(message.get());
    }
    running.reset(); // drops what is left
}

} // namespace
