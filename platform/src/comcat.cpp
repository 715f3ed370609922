// SPDX-License-Identifier: MIT
// The category manager, with its class factory beside it. Each call is one registry unit.
#include "platform/comcat.h"

#include "comobject.h"
#include "platform/creation.h"
#include "platform/registry.h"

#include <atomic>
#include <cstdio>
#include <new>

namespace {

std::string lcidName(LCID lcid)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", unsigned(lcid));
    return buf;
}

std::string classKey(REFCLSID clsid, const char *which)
{
    return "CLSID\\" + platform::guidToString(clsid) + "\\" + which;
}

HRESULT fromRegistry(LONG err)
{
    return err == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(err);
}

// Runs step on each item as one registry unit: every step stands, or none does.
template <class T, class Step>
HRESULT eachInOneUnit(ULONG count, T items[], Step step)
{
    if (count && !items)
        return E_POINTER;
    platform::RegistryTransaction tx;
    if (tx.status() != ERROR_SUCCESS)
        return fromRegistry(tx.status());
    for (ULONG i = 0; i < count; ++i) {
        const LONG err = step(items[i]);
        if (err != ERROR_SUCCESS)
            return fromRegistry(err);
    }
    tx.commit();
    return S_OK;
}

class CategoryManager final : public platform::ComObject<ICatRegister>
{
public:
    CategoryManager()
        : ComObject(IID_ICatRegister)
    {}

    HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG count, CATEGORYINFO info[]) override
    {
        return eachInOneUnit(count, info, [](const CATEGORYINFO &one) {
            // A description without its terminator is read no further than the array.
            std::u16string text;
            for (std::size_t c = 0; c < 127 && one.szDescription[c]; ++c)
                text.push_back(one.szDescription[c]);
            return platform::regWriteString(
                HKEY_CLASSES_ROOT, "Component Categories\\" + platform::guidToString(one.catid),
                lcidName(one.lcid).c_str(), platform::fromUtf16(text, CP_UTF8));
        });
    }

    HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG count, CATID catids[]) override
    {
        return removeAll(count, catids, [](REFCATID catid) {
            return "Component Categories\\" + platform::guidToString(catid);
        });
    }

    HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                          CATID catids[]) override
    {
        return addAll(clsid, "Implemented Categories", count, catids);
    }
    HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID clsid, ULONG count,
                                                            CATID catids[]) override
    {
        return removeFromClass(clsid, "Implemented Categories", count, catids);
    }
    HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                         CATID catids[]) override
    {
        return addAll(clsid, "Required Categories", count, catids);
    }
    HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID clsid, ULONG count,
                                                           CATID catids[]) override
    {
        return removeFromClass(clsid, "Required Categories", count, catids);
    }

private:
    HRESULT addAll(REFCLSID clsid, const char *which, ULONG count, CATID catids[])
    {
        return eachInOneUnit(count, catids, [&](REFCATID catid) {
            HKEY key = nullptr;
            const std::string path = classKey(clsid, which) + "\\" + platform::guidToString(catid);
            const LONG err = RegCreateKeyA(HKEY_CLASSES_ROOT, path.c_str(), &key);
            if (err == ERROR_SUCCESS)
                RegCloseKey(key);
            return err;
        });
    }

    template <class PathOf>
    HRESULT removeAll(ULONG count, CATID catids[], PathOf pathOf)
    {
        return eachInOneUnit(count, catids, [&](REFCATID catid) {
            const LONG err = RegDeleteTreeA(HKEY_CLASSES_ROOT, pathOf(catid).c_str());
            // Already absent is what was asked for.
            return err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
        });
    }

    HRESULT removeFromClass(REFCLSID clsid, const char *which, ULONG count, CATID catids[])
    {
        platform::RegistryTransaction tx;
        if (tx.status() != ERROR_SUCCESS)
            return fromRegistry(tx.status());
        const std::string base = classKey(clsid, which);
        HRESULT hr = removeAll(count, catids, [&base](REFCATID catid) {
            return base + "\\" + platform::guidToString(catid);
        });
        if (FAILED(hr))
            return hr;
        // The list key goes with its last entry.
        HKEY key = nullptr;
        if (RegOpenKeyA(HKEY_CLASSES_ROOT, base.c_str(), &key) == ERROR_SUCCESS) {
            char name[64];
            DWORD cch = sizeof name;
            const bool empty = RegEnumKeyExA(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr)
                               == ERROR_NO_MORE_ITEMS;
            RegCloseKey(key);
            if (empty) {
                const LONG err = RegDeleteKeyA(HKEY_CLASSES_ROOT, base.c_str());
                if (err != ERROR_SUCCESS)
                    return fromRegistry(err);
            }
        }
        tx.commit();
        return S_OK;
    }
};

HRESULT createManager(REFIID riid, LPVOID *ppv)
{
    // The factory of a built-in class is its creation call.
    struct Factory final : IClassFactory
    {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
        {
            if (!ppv)
                return E_POINTER;
            *ppv = nullptr;
            if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
                return E_NOINTERFACE;
            *ppv = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
        ULONG STDMETHODCALLTYPE Release() override { return 1; }
        HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
        {
            if (!ppv)
                return E_POINTER;
            *ppv = nullptr;
            if (outer)
                return CLASS_E_NOAGGREGATION;
            auto *m = new (std::nothrow) CategoryManager;
            if (!m)
                return E_OUTOFMEMORY;
            const HRESULT hr = m->QueryInterface(riid, ppv);
            m->Release();
            return hr;
        }
        HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    };
    static Factory factory;
    return factory.QueryInterface(riid, ppv);
}

struct Registration
{
    Registration()
    {
        platform::registerBuiltinClass(CLSID_StdComponentCategoriesMgr, createManager);
    }
} g_registration;

} // namespace
