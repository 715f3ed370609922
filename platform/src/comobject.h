// SPDX-License-Identifier: MIT
// Reference counting and lookup for the platform's objects that offer one interface.
#pragma once

#include "platform/unknown.h"

#include <atomic>

namespace platform {

template <class Interface>
class ComObject : public Interface
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, m_iid))
            return E_NOINTERFACE;
        AddRef();
        *ppv = static_cast<Interface *>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG n = --m_refs;
        if (n == 0)
            delete this;
        return n;
    }

protected:
    explicit ComObject(REFIID iid)
        : m_iid(iid)
    {}
    virtual ~ComObject() = default;

private:
    std::atomic<ULONG> m_refs{1};
    const IID m_iid;
};

} // namespace platform
