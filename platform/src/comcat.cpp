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

class CategoryManager final : public platform::ComObject<ICatRegister>
{
public:
    CategoryManager()
        : ComObject(IID_ICatRegister)
    {}

    HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG count, CATEGORYINFO info[]) override
    {
        if (count && !info)
            return E_POINTER;
        platform::RegistryTransaction tx;
        if (tx.status() != ERROR_SUCCESS)
            return fromRegistry(tx.status());
        for (ULONG i = 0; i < count; ++i) {
            // A description without its terminator is read no further than the array.
            std::u16string text;
            for (std::size_t c = 0; c < 127 && info[i].szDescription[c]; ++c)
                text.push_back(info[i].szDescription[c]);
            const LONG err = platform::regWriteString(
                HKEY_CLASSES_ROOT, "Component Categories\\" + platform::guidToString(info[i].catid),
                lcidName(info[i].lcid).c_str(), platform::fromUtf16(text, CP_UTF8));
            if (err != ERROR_SUCCESS)
                return fromRegistry(err);
        }
        tx.commit();
        return S_OK;
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
        if (count && !catids)
            return E_POINTER;
        platform::RegistryTransaction tx;
        if (tx.status() != ERROR_SUCCESS)
            return fromRegistry(tx.status());
        for (ULONG i = 0; i < count; ++i) {
            HKEY key = nullptr;
            const std::string path
                = classKey(clsid, which) + "\\" + platform::guidToString(catids[i]);
            const LONG err = RegCreateKeyA(HKEY_CLASSES_ROOT, path.c_str(), &key);
            if (err != ERROR_SUCCESS)
                return fromRegistry(err);
            RegCloseKey(key);
        }
        tx.commit();
        return S_OK;
    }

    template <class PathOf>
    HRESULT removeAll(ULONG count, CATID catids[], PathOf pathOf)
    {
        if (count && !catids)
            return E_POINTER;
        platform::RegistryTransaction tx;
        if (tx.status() != ERROR_SUCCESS)
            return fromRegistry(tx.status());
        for (ULONG i = 0; i < count; ++i) {
            const LONG err = RegDeleteTreeA(HKEY_CLASSES_ROOT, pathOf(catids[i]).c_str());
            // Already absent is what was asked for.
            if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND)
                return fromRegistry(err);
        }
        tx.commit();
        return S_OK;
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
