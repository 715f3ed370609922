// SPDX-License-Identifier: MIT
#include <cxxabi.h>

#include <qrl/qrl.h>

#include <cstdio>
#include <cstdlib>
#include <typeinfo>

namespace qrl {

DString::DString() = default;
DString::DString(const char *text)
    : m_text(text ? text : "")
{}
DString::DString(const std::string &text)
    : m_text(text)
{}
DString::DString(const DString &other) = default;
DString &DString::operator=(const DString &other) = default;
DString::~DString() = default;

const char *DString::c_str() const
{
    return m_text.c_str();
}

std::size_t DString::length() const
{
    return m_text.length();
}

bool DString::empty() const
{
    return m_text.empty();
}

void DString::clear()
{
    m_text.clear();
}

DString &DString::append(const char *text)
{
    if (text)
        m_text.append(text);
    return *this;
}

DString &DString::append(const DString &other)
{
    m_text.append(other.m_text);
    return *this;
}

std::string DString::toStdString() const
{
    return m_text;
}

DRefObj::DRefObj()
    : m_refs(0)
{}

DRefObj::DRefObj(const DRefObj &)
    : m_refs(0)
{}

DRefObj::~DRefObj() = default;

// Class name and current count, e.g. "DCM::ConnectInfo refs=2".
void DRefObj::GetObjInfo(DString *info) const
{
    if (!info)
        return;
    const char *mangled = typeid(*this).name();
    int status = 0;
    char *demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    info->append(status == 0 && demangled ? demangled : mangled);
    std::free(demangled);
    char count[32];
    std::snprintf(count, sizeof count, " refs=%d", refCount());
    info->append(count);
}

void DRefObj::Reset() {}

void DRefObj::destroy()
{
    delete this;
}

int DRefObj::addref()
{
    return m_refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

int DRefObj::release()
{
    // acq_rel: the last releaser must see every write made through the other references.
    const int left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        destroy();
    return left;
}

int DRefObj::refCount() const
{
    return m_refs.load(std::memory_order_acquire);
}

DMessage::DMessage(int type)
    : m_type(type)
{}

DMessage::~DMessage() = default;

int DMessage::GetType() const
{
    return m_type;
}

DTimerHandler::DTimerHandler() = default;
DTimerHandler::~DTimerHandler() = default;

DMutex::DMutex() = default;
DMutex::~DMutex() = default;

void DMutex::Lock()
{
    m_mutex.lock();
}

void DMutex::Unlock()
{
    m_mutex.unlock();
}

bool DMutex::TryLock()
{
    return m_mutex.try_lock();
}

DMutexGuard::DMutexGuard(DMutex *mutex)
    : m_mutex(mutex)
{
    if (m_mutex)
        m_mutex->Lock();
}

DMutexGuard::~DMutexGuard()
{
    if (m_mutex)
        m_mutex->Unlock();
}

} // namespace qrl
