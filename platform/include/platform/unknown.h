// SPDX-License-Identifier: MIT
// The base interfaces: reference counting and interface lookup, late-bound calls, class factories.
// An interface is a struct of pure virtual functions in declaration order, so its table has the
// platform's standard layout: QueryInterface, AddRef and Release come first in every one.
#pragma once

#include "guid.h"
#include "hresult.h"

#include <utility>

PLATFORM_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x46);
PLATFORM_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x00, 0x46);
PLATFORM_GUID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x46);
PLATFORM_GUID(IID_ITypeInfo, 0x00020401, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x46);
PLATFORM_GUID(IID_ITypeLib, 0x00020402, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x46);

struct IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) = 0;
    // Both return the new count; Release returning 0 reports that the last reference went.
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};
typedef IUnknown *LPUNKNOWN;

struct IClassFactory : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid,
                                                     void **ppvObject)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};
typedef IClassFactory *LPCLASSFACTORY;

// The exports of an in-process module, as the platform finds them by name.
typedef HRESULT(STDMETHODCALLTYPE *LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID *);
typedef HRESULT(STDMETHODCALLTYPE *LPFNCANUNLOADNOW)();
typedef HRESULT(STDMETHODCALLTYPE *LPFNREGISTERSERVER)();

namespace platform {

// Holds one reference to an interface and gives it back when it goes.
template <class T>
class ComPtr
{
public:
    ComPtr() = default;
    ComPtr(T *p) // takes a new reference
        : m_p(p)
    {
        if (m_p)
            m_p->AddRef();
    }
    ComPtr(const ComPtr &o)
        : ComPtr(o.m_p)
    {}
    ComPtr(ComPtr &&o) noexcept
        : m_p(std::exchange(o.m_p, nullptr))
    {}
    ~ComPtr() { reset(); }
    ComPtr &operator=(ComPtr o) noexcept
    {
        std::swap(m_p, o.m_p);
        return *this;
    }
    // Takes over a reference the caller already owns.
    static ComPtr adopt(T *p)
    {
        ComPtr r;
        r.m_p = p;
        return r;
    }
    void reset()
    {
        if (T *p = std::exchange(m_p, nullptr))
            p->Release();
    }
    T *detach() { return std::exchange(m_p, nullptr); }
    T *get() const { return m_p; }
    T *operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For out parameters: releases what is held and hands out the slot.
    T **put()
    {
        reset();
        return &m_p;
    }
    void **putVoid() { return reinterpret_cast<void **>(put()); }

private:
    T *m_p = nullptr;
};

} // namespace platform
