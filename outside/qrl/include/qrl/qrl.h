// SPDX-License-Identifier: MIT
#pragma once

#include <qrl/qrl_global.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

namespace qrl {

template <class T>
class DRefPtr;

// The small string class of the base library; GetObjInfo writes into it.
class QRL_EXPORT DString
{
public:
    DString();
    DString(const char *text);
    DString(const std::string &text);
    DString(const DString &other);
    DString &operator=(const DString &other);
    ~DString();

    const char *c_str() const;
    std::size_t length() const;
    bool empty() const;
    void clear();
    DString &append(const char *text);
    DString &append(const DString &other);
    DString &operator+=(const char *text) { return append(text); }
    DString &operator+=(const DString &other) { return append(other); }
    std::string toStdString() const;

    friend bool operator==(const DString &a, const DString &b) { return a.m_text == b.m_text; }
    friend bool operator!=(const DString &a, const DString &b) { return a.m_text != b.m_text; }

private:
    std::string m_text;
};

// Reference-counted base. A new object has no references; the last release destroys it through
// destroy(). Counting is reached only through DRefPtr.
class QRL_EXPORT DRefObj
{
public:
    virtual void GetObjInfo(DString *info) const;
    virtual void Reset();

protected:
    DRefObj();
    // A copy is a new object: it starts without references of its own.
    DRefObj(const DRefObj &);
    DRefObj &operator=(const DRefObj &) { return *this; }
    virtual ~DRefObj();
    virtual void destroy();

private:
    template <class T>
    friend class DRefPtr;

    // Both answer the count after the change; release() destroys the object when that is 0.
    int addref();
    int release();
    int refCount() const;

    std::atomic<int> m_refs;
};

// Holds one reference on a DRefObj-derived object.
template <class T>
class DRefPtr
{
public:
    DRefPtr() noexcept = default;
    DRefPtr(std::nullptr_t) noexcept {}
    DRefPtr(T *object)
        : m_object(object)
    {
        if (m_object)
            base(m_object)->addref();
    }
    DRefPtr(const DRefPtr &other)
        : DRefPtr(other.m_object)
    {}
    DRefPtr(DRefPtr &&other) noexcept
        : m_object(std::exchange(other.m_object, nullptr))
    {}
    template <class U>
    DRefPtr(const DRefPtr<U> &other)
        : DRefPtr(other.get())
    {}
    template <class U>
    DRefPtr(DRefPtr<U> &&other) noexcept
        : m_object(other.detach())
    {}
    ~DRefPtr() { reset(); }

    DRefPtr &operator=(const DRefPtr &other)
    {
        DRefPtr(other).swap(*this);
        return *this;
    }
    DRefPtr &operator=(DRefPtr &&other) noexcept
    {
        DRefPtr(std::move(other)).swap(*this);
        return *this;
    }
    DRefPtr &operator=(T *object)
    {
        DRefPtr(object).swap(*this);
        return *this;
    }

    // Drops the reference held (which may destroy the object) and holds object instead.
    void reset(T *object = nullptr)
    {
        T *old = std::exchange(m_object, object);
        if (m_object)
            base(m_object)->addref();
        if (old)
            base(old)->release();
    }
    // Gives up the reference without releasing it; pair with adopt().
    T *detach() noexcept { return std::exchange(m_object, nullptr); }
    // Takes over a reference that detach() gave up.
    static DRefPtr adopt(T *object) noexcept
    {
        DRefPtr result;
        result.m_object = object;
        return result;
    }
    void swap(DRefPtr &other) noexcept { std::swap(m_object, other.m_object); }

    T *get() const noexcept { return m_object; }
    T *operator->() const noexcept { return m_object; }
    T &operator*() const noexcept { return *m_object; }
    explicit operator bool() const noexcept { return m_object != nullptr; }
    // Current number of references on the object, 0 when empty; for diagnostics and tests.
    int useCount() const { return m_object ? base(m_object)->refCount() : 0; }

    friend bool operator==(const DRefPtr &a, const DRefPtr &b) { return a.m_object == b.m_object; }
    friend bool operator!=(const DRefPtr &a, const DRefPtr &b) { return a.m_object != b.m_object; }

private:
    static DRefObj *base(T *object) { return static_cast<DRefObj *>(object); }

    T *m_object = nullptr;
};

template <class T, class... Args>
DRefPtr<T> MakeRef(Args &&...args)
{
    return DRefPtr<T>(new T(std::forward<Args>(args)...));
}

class QRL_EXPORT DMessage : public virtual DRefObj
{
public:
    explicit DMessage(int type);
    virtual ~DMessage();

    int GetType() const;

private:
    int m_type;
};

// A message queue with its own thread. After Start() the thread hands every posted message to
// ProcessMsg(), one at a time and in posting order. The queue holds a reference on each message
// from PushMsg() until ProcessMsg() has returned; Stop() drops whatever was not handled.
// The thread makes virtual calls into the object, so a derived class stops the queue in its own
// destructor (or before the last release); the base can only stop it once the derived parts are
// gone.
class QRL_EXPORT DMessageQueue : public virtual DRefObj
{
public:
    // The thread count is always 1 (handling order is the queue's promise); capacity only
    // reserves room: the queue grows as needed and never refuses or drops a message.
    DMessageQueue(unsigned threadCount, unsigned capacity);
    DMessageQueue(const DMessageQueue &) = delete;
    DMessageQueue &operator=(const DMessageQueue &) = delete;

    virtual int Start();
    virtual int SignalStop();
    virtual int Stop();
    virtual int PushMsg(DMessage *message);
    virtual int QueueSize();
    virtual int ProcessMsg(DMessage *message);
    virtual int ProcessDefaultMsg(DMessage *message);

    bool IsRunning() const;

protected:
    virtual ~DMessageQueue();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// A queue that dispatches by message type to member functions of T.
template <class T>
class DMessageQueueTpl : public DMessageQueue
{
public:
    using MsgHandler = void (T::*)(DMessage *);

    DMessageQueueTpl(unsigned threadCount, unsigned capacity)
        : DMessageQueue(threadCount, capacity)
    {}

    // Sets or replaces the handler of one type. Register before Start(): the table is read by
    // the queue thread without a lock. A handler is a member function of T (or of a base of T)
    // taking the message; one that takes a class derived from DMessage gets messages of that
    // class only, others of its type go to ProcessDefaultMsg().
    template <class R, class C, class M>
    void RegisterMsgHandler(int type, R (C::*handler)(M *))
    {
        static_assert(std::is_base_of<C, T>::value, "the handler must be a member of T");
        static_assert(std::is_base_of<DMessage, M>::value, "the handler must take a message");
        m_handlers[type] = [handler](T *self, DMessage *message) {
            if constexpr (std::is_same<M, DMessage>::value) {
                (self->*handler)(message);
                return true;
            } else {
                M *typed = dynamic_cast<M *>(message);
                if (typed)
                    (self->*handler)(typed);
                return typed != nullptr;
            }
        };
    }

    int ProcessMsg(DMessage *message) override
    {
        if (!message)
            return -1;
        auto it = m_handlers.find(message->GetType());
        if (it == m_handlers.end())
            return ProcessDefaultMsg(message);
        if (!it->second(static_cast<T *>(this), message))
            return ProcessDefaultMsg(message);
        return 0;
    }

    int ProcessDefaultMsg(DMessage *) override { return 0; }

protected:
    // Ends the queue thread before the handler table goes away.
    ~DMessageQueueTpl() override { DMessageQueue::Stop(); }

private:
    std::map<int, std::function<bool(T *, DMessage *)>> m_handlers;
};

class QRL_EXPORT DTimerHandler : public virtual DRefObj
{
public:
    DTimerHandler();

    // Called on the base library's timer thread each time a timer of this handler expires.
    virtual void OnTimer(unsigned timerId) = 0;

protected:
    virtual ~DTimerHandler();
};

// Periodic timers delivered on the base library's timer thread. The manager does not hold a
// reference on the handlers; destroying a timer (or the manager) waits for a delivery in flight.
class QRL_EXPORT DTimerMgr
{
public:
    static constexpr unsigned kInvalidTimer = static_cast<unsigned>(-1);

    DTimerMgr();
    DTimerMgr(const DTimerMgr &) = delete;
    DTimerMgr &operator=(const DTimerMgr &) = delete;
    virtual ~DTimerMgr();

    // A new, not yet started timer for handler; kInvalidTimer on failure.
    unsigned CreateTimer(DTimerHandler *handler);
    // Arms the timer (again) to expire every periodMs from now; 0 on success, -1 otherwise.
    int StartTimer(unsigned id, int periodMs);
    // Disarms the timer; 0 when the id is known, -1 otherwise (also for kInvalidTimer). Once it
    // returns, no expiry of that timer arrives, unless it is called from inside that very
    // OnTimer. The id stays valid: StartTimer() arms it again.
    int DestroyTimer(unsigned id);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

class QRL_EXPORT DMutex
{
public:
    DMutex();
    DMutex(const DMutex &) = delete;
    DMutex &operator=(const DMutex &) = delete;
    ~DMutex();

    void Lock();
    void Unlock();
    bool TryLock();

private:
    std::mutex m_mutex;
};

class QRL_EXPORT DMutexGuard
{
public:
    explicit DMutexGuard(DMutex *mutex);
    DMutexGuard(const DMutexGuard &) = delete;
    DMutexGuard &operator=(const DMutexGuard &) = delete;
    ~DMutexGuard();

private:
    DMutex *m_mutex;
};

class QRL_EXPORT DTime
{
public:
    // Milliseconds of a steady clock, or the test clock's time while it is enabled.
    static std::int64_t GetTime();
};

// A virtual clock for tests. While enabled, DTime::GetTime() answers its time and every
// DTimerMgr schedules on it instead of the steady clock.
class QRL_EXPORT DTestClock
{
public:
    static void Enable(std::int64_t startMs);
    // Moves the time forward and returns once every expiry that became due has been delivered
    // (each OnTimer has returned), in time order, on the timer thread.
    static void Advance(std::int64_t ms);
    static void Disable();
    static bool IsEnabled();
};

// The process-wide print log: a thread-safe text file, one line per Log() call.
class QRL_EXPORT DPrintLog
{
public:
    static DPrintLog *instance();

    // Writes a timestamp, level, file, line, function and text, then format filled in like
    // printf. Answers 0 once the entry is written, -1 when it could not be.
    int Log(const char *file, int line, const char *function, const char *text, int level,
            const char *format, ...) QRL_PRINTF_FORMAT(7, 8);

    void SetFilePath(const std::string &path);
    std::string FilePath() const;

private:
    DPrintLog();
    ~DPrintLog();
    DPrintLog(const DPrintLog &) = delete;
    DPrintLog &operator=(const DPrintLog &) = delete;

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace qrl
