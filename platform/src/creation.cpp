// SPDX-License-Identifier: MIT
#include "platform/creation.h"

#include "platform/registry.h"

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

namespace {

struct LoadedModule
{
    std::string path;
    void *handle;
    LPFNGETCLASSOBJECT getClassObject;
    LPFNCANUNLOADNOW canUnloadNow;
};

std::mutex g_mutex;
std::vector<LoadedModule> g_modules;
std::map<GUID, platform::BuiltinClassFactory> &builtins()
{
    static std::map<GUID, platform::BuiltinClassFactory> table;
    return table;
}
thread_local int t_initCount = 0;

HRESULT loadModule(const std::string &path, LoadedModule *out)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (const LoadedModule &m : g_modules) {
            if (m.path == path) {
                *out = m;
                return S_OK;
            }
        }
    }
    // Loading runs the module's start-up code, which may create objects itself: no lock here.
    void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h)
        return CO_E_DLLNOTFOUND;
    LoadedModule m{path, h, reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(h, "DllGetClassObject")),
                   reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(h, "DllCanUnloadNow"))};
    if (!m.getClassObject) {
        dlclose(h);
        return CO_E_ERRORINDLL;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const LoadedModule &other : g_modules) {
        if (other.path == path) {
            // Another thread was quicker; its entry holds the module.
            dlclose(h);
            *out = other;
            return S_OK;
        }
    }
    g_modules.push_back(m);
    *out = m;
    return S_OK;
}

} // namespace

namespace platform {

void registerBuiltinClass(REFCLSID clsid, BuiltinClassFactory factory)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    builtins()[clsid] = factory;
}

std::size_t loadedClassModules()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_modules.size();
}

} // namespace platform

extern "C" HRESULT CoInitialize(LPVOID)
{
    return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

extern "C" HRESULT CoInitializeEx(LPVOID, DWORD)
{
    return t_initCount++ == 0 ? S_OK : S_FALSE;
}

extern "C" void CoUninitialize()
{
    if (t_initCount > 0 && --t_initCount == 0)
        CoFreeUnusedLibraries();
}

extern "C" HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid,
                                    LPVOID *ppv)
{
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (!(dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)))
        return REGDB_E_CLASSNOTREG;
    std::string path;
    const std::string key = "CLSID\\" + platform::guidToString(rclsid) + "\\InprocServer32";
    if (!platform::regReadString(HKEY_CLASSES_ROOT, key, nullptr, &path) || path.empty()) {
        platform::BuiltinClassFactory builtin = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            auto it = builtins().find(rclsid);
            if (it != builtins().end())
                builtin = it->second;
        }
        return builtin ? builtin(riid, ppv) : REGDB_E_CLASSNOTREG;
    }
    LoadedModule m;
    const HRESULT hr = loadModule(path, &m);
    if (FAILED(hr))
        return hr;
    return m.getClassObject(rclsid, riid, ppv);
}

extern "C" HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                    REFIID riid, LPVOID *ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    platform::ComPtr<IClassFactory> factory;
    HRESULT hr
        = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, factory.putVoid());
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(pUnkOuter, riid, ppv);
}

extern "C" void CoFreeUnusedLibraries()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_modules.begin(); it != g_modules.end();) {
        if (it->canUnloadNow && it->canUnloadNow() == S_OK) {
            dlclose(it->handle);
            it = g_modules.erase(it);
        } else {
            ++it;
        }
    }
}

extern "C" HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid)
{
    if (!lpszProgID || !lpclsid)
        return E_INVALIDARG;
    const std::string progId = platform::fromUtf16(std::u16string(lpszProgID), CP_UTF8);
    std::string text;
    if (progId.empty()
        || !platform::regReadString(HKEY_CLASSES_ROOT, progId + "\\CLSID", nullptr, &text))
        return CO_E_CLASSSTRING;
    GUID g;
    if (!platform::guidFromString(text, &g))
        return CO_E_CLASSSTRING;
    *lpclsid = g;
    return S_OK;
}

extern "C" HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid)
{
    if (!lpsz || !pclsid)
        return E_INVALIDARG;
    if (lpsz[0] == u'{')
        return IIDFromString(lpsz, pclsid);
    return CLSIDFromProgID(lpsz, pclsid);
}

extern "C" HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR *lplpszProgID)
{
    if (!lplpszProgID)
        return E_INVALIDARG;
    *lplpszProgID = nullptr;
    std::string progId;
    if (!platform::regReadString(HKEY_CLASSES_ROOT,
                                 "CLSID\\" + platform::guidToString(clsid) + "\\ProgID", nullptr,
                                 &progId))
        return REGDB_E_CLASSNOTREG;
    const std::u16string wide = platform::toUtf16(progId, CP_UTF8);
    auto *out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (!out)
        return E_OUTOFMEMORY;
    std::copy(wide.begin(), wide.end(), out);
    out[wide.size()] = 0;
    *lplpszProgID = out;
    return S_OK;
}

extern "C" LPVOID CoTaskMemAlloc(std::size_t cb)
{
    return std::malloc(cb ? cb : 1);
}

extern "C" void CoTaskMemFree(LPVOID pv)
{
    std::free(pv);
}

namespace platform {

HRESULT registerServer(const std::string &path, bool unregister, std::string *failedStep)
{
    std::string step;
    HRESULT hr = S_OK;
    const char *entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        step = std::string("loading the module (") + dlerror() + ")";
        hr = CO_E_DLLNOTFOUND;
    }
    auto entry = handle ? reinterpret_cast<LPFNREGISTERSERVER>(dlsym(handle, entryName)) : nullptr;
    if (handle && !entry) {
        step = std::string(entryName) + " (" + path + " has none)";
        hr = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    if (entry) {
        const LONG begun = PlatformRegBeginTransaction();
        if (begun != ERROR_SUCCESS) {
            step = "opening the registry";
            hr = HRESULT_FROM_WIN32(begun);
        } else {
            hr = entry();
            // Committed even when the module failed: its result says which of its steps stand.
            const LONG ended = PlatformRegEndTransaction(TRUE);
            if (FAILED(hr)) {
                step = std::string(entryName) + " in " + path;
            } else if (ended != ERROR_SUCCESS) {
                step = "writing the registry";
                hr = HRESULT_FROM_WIN32(ERROR_CANTWRITE);
            }
        }
    }
    if (handle)
        dlclose(handle);
    if (failedStep)
        *failedStep = FAILED(hr) ? step : std::string();
    return hr;
}

} // namespace platform
