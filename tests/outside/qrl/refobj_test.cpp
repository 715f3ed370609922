// SPDX-License-Identifier: MIT
#include <qrl/qrl.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// Counts constructions and destructions of every test object.
struct Census
{
    static inline std::atomic<int> alive{0};
    static inline std::atomic<int> destroyed{0};
};

class Plain : public qrl::DMessage
{
public:
    explicit Plain(int type = 1)
        : qrl::DMessage(type)
    {
        ++Census::alive;
    }
    Plain(const Plain &other)
        : qrl::DRefObj(other)
        , qrl::DMessage(other)
    {
        ++Census::alive;
    }
    ~Plain() override
    {
        --Census::alive;
        ++Census::destroyed;
    }
};

// Reaches DRefObj through two bases, the way the stream engine does.
class Both : public qrl::DMessageQueueTpl<Both>, public qrl::DTimerHandler
{
public:
    Both()
        : qrl::DMessageQueueTpl<Both>(1, 16)
    {
        ++Census::alive;
    }
    void OnTimer(unsigned) override {}

protected:
    ~Both() override
    {
        --Census::alive;
        ++Census::destroyed;
    }
};

// Records that destruction goes through destroy().
class Recycled : public qrl::DMessage
{
public:
    static inline int destroyCalls = 0;

    Recycled()
        : qrl::DMessage(7)
    {
        ++Census::alive;
    }

protected:
    ~Recycled() override { --Census::alive; }
    void destroy() override
    {
        ++destroyCalls;
        qrl::DMessage::destroy();
    }
};

class RefObjTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Census::alive = 0;
        Census::destroyed = 0;
        Recycled::destroyCalls = 0;
    }
    void TearDown() override { EXPECT_EQ(Census::alive.load(), 0); }
};

TEST_F(RefObjTest, SharedVirtualBaseHasOneCount)
{
    qrl::DRefPtr<Both> both(new Both);
    EXPECT_EQ(both.useCount(), 1);
    {
        qrl::DRefPtr<qrl::DMessageQueue> asQueue(both);
        qrl::DRefPtr<qrl::DTimerHandler> asTimer(both.get());
        qrl::DRefPtr<qrl::DRefObj> asBase(static_cast<qrl::DTimerHandler *>(both.get()));
        EXPECT_EQ(both.useCount(), 4);
        EXPECT_EQ(asQueue.useCount(), 4);
        EXPECT_EQ(asTimer.useCount(), 4);
        both.reset();
        EXPECT_EQ(Census::destroyed.load(), 0);
        EXPECT_EQ(asBase.useCount(), 3);
    }
    EXPECT_EQ(Census::destroyed.load(), 1);
}

TEST_F(RefObjTest, LastReleaseDestroysOnceThroughDestroy)
{
    qrl::DRefPtr<Recycled> first(new Recycled);
    qrl::DRefPtr<qrl::DMessage> second(first);
    first.reset();
    EXPECT_EQ(Recycled::destroyCalls, 0);
    EXPECT_EQ(second->GetType(), 7);
    second.reset();
    EXPECT_EQ(Recycled::destroyCalls, 1);
    EXPECT_EQ(Census::alive.load(), 0);
}

TEST_F(RefObjTest, PointerOperationsKeepTheCountRight)
{
    Plain *raw = new Plain(3);
    qrl::DRefPtr<Plain> a(raw);
    EXPECT_EQ(a.useCount(), 1);

    qrl::DRefPtr<Plain> b = a;
    EXPECT_EQ(a.useCount(), 2);
    qrl::DRefPtr<Plain> c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(a.useCount(), 2);

    qrl::DRefPtr<Plain> &alias = c;
    c = alias; // self-assignment keeps the reference
    EXPECT_EQ(a.useCount(), 2);
    c = std::move(alias);
    EXPECT_EQ(a.useCount(), 2);

    qrl::DRefPtr<qrl::DMessage> upcast(c);
    EXPECT_EQ(upcast.get(), static_cast<qrl::DMessage *>(raw));
    EXPECT_EQ(a.useCount(), 3);

    Plain *detached = c.detach();
    EXPECT_EQ(a.useCount(), 3);
    qrl::DRefPtr<Plain> adopted = qrl::DRefPtr<Plain>::adopt(detached);
    EXPECT_EQ(a.useCount(), 3);

    qrl::DRefPtr<Plain> other(new Plain(4));
    adopted = other; // drops raw's reference, takes other's
    EXPECT_EQ(a.useCount(), 2);
    EXPECT_EQ(other.useCount(), 2);

    a.reset();
    upcast.reset();
    EXPECT_EQ(Census::destroyed.load(), 1);
    EXPECT_EQ(a.useCount(), 0);
}

TEST_F(RefObjTest, CopyOfAnObjectStartsWithoutReferences)
{
    qrl::DRefPtr<Plain> original(new Plain(9));
    qrl::DRefPtr<Plain> held(original);
    qrl::DRefPtr<Plain> copy(new Plain(*original));
    EXPECT_EQ(copy.useCount(), 1);
    EXPECT_EQ(copy->GetType(), 9);
    EXPECT_EQ(original.useCount(), 2);
}

TEST_F(RefObjTest, ConcurrentReferencesDestroyExactlyOnce)
{
    qrl::DRefPtr<Plain> shared(new Plain);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([held = shared]() mutable {
            for (int i = 0; i < 20000; ++i) {
                qrl::DRefPtr<Plain> copy(held);
                qrl::DRefPtr<qrl::DMessage> up(copy);
            }
            held.reset();
        });
    }
    shared.reset();
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(Census::destroyed.load(), 1);
}

TEST_F(RefObjTest, ObjInfoNamesTheClassAndCount)
{
    qrl::DRefPtr<Plain> object(new Plain);
    qrl::DRefPtr<Plain> second(object);
    qrl::DString info("info: ");
    object->GetObjInfo(&info);
    const std::string text = info.c_str();
    EXPECT_EQ(text.rfind("info: ", 0), 0u) << text;
    EXPECT_NE(text.find("Plain"), std::string::npos) << text;
    EXPECT_NE(text.find("refs=2"), std::string::npos) << text;
    object->GetObjInfo(nullptr); // tolerated
    object->Reset();             // the base does nothing
}

TEST(DStringTest, HoldsAndAppendsText)
{
    qrl::DString text;
    EXPECT_TRUE(text.empty());
    text += "ab";
    text.append(qrl::DString("cd")).append(nullptr);
    EXPECT_STREQ(text.c_str(), "abcd");
    EXPECT_EQ(text.length(), 4u);
    EXPECT_EQ(text, qrl::DString(std::string("abcd")));
    qrl::DString copy = text;
    text.clear();
    EXPECT_NE(text, copy);
    EXPECT_EQ(qrl::DString(static_cast<const char *>(nullptr)).length(), 0u);
}

TEST(DMutexTest, GuardHoldsTheLockForItsScope)
{
    qrl::DMutex mutex;
    {
        qrl::DMutexGuard guard(&mutex);
        std::thread other([&] { EXPECT_FALSE(mutex.TryLock()); });
        other.join();
    }
    EXPECT_TRUE(mutex.TryLock());
    mutex.Unlock();
    qrl::DMutexGuard none(nullptr); // tolerated
}

} // namespace
