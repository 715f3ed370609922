// SPDX-License-Identifier: MIT
#include "platform/olereg.h"

#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/typelib.h"

#include <map>
#include <memory>
#include <mutex>

namespace {

std::string loadString(HINSTANCE hInstance, UINT id)
{
    char buf[1024];
    const int n = LoadStringA(hInstance, id, buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// Writes a list of (key, value name, value) under HKEY_CLASSES_ROOT as one unit.
struct Entry
{
    std::string key;
    const char *valueName; // nullptr: the default value
    std::string value;
    bool keyOnly;
};

BOOL writeAll(const std::vector<Entry> &entries)
{
    platform::RegistryTransaction tx;
    if (tx.status() != ERROR_SUCCESS)
        return FALSE;
    for (const Entry &e : entries) {
        LONG err;
        if (e.keyOnly) {
            HKEY key = nullptr;
            err = RegCreateKeyA(HKEY_CLASSES_ROOT, e.key.c_str(), &key);
            if (err == ERROR_SUCCESS)
                RegCloseKey(key);
        } else {
            err = platform::regWriteString(HKEY_CLASSES_ROOT, e.key, e.valueName, e.value);
        }
        if (err != ERROR_SUCCESS)
            return FALSE;
    }
    tx.commit();
    return TRUE;
}

} // namespace

BOOL AfxOleRegisterTypeLib(HINSTANCE hInstance, REFGUID tlid, LPCTSTR pszFileName,
                           LPCTSTR pszHelpDir)
{
    std::string path = platform::modulePath(hInstance);
    if (path.empty())
        return FALSE;
    if (pszFileName) {
        const auto slash = path.rfind('/');
        path = path.substr(0, slash + 1) + pszFileName;
    }
    const std::u16string wide = platform::toUtf16(path, CP_UTF8);
    platform::ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLib(wide.c_str(), lib.put())))
        return FALSE;
    TLIBATTR *attr = nullptr;
    if (FAILED(lib->GetLibAttr(&attr)))
        return FALSE;
    const bool same = IsEqualGUID(attr->guid, tlid);
    lib->ReleaseTLibAttr(attr);
    if (!same)
        return FALSE;
    const std::u16string helpDir = pszHelpDir ? platform::toUtf16(pszHelpDir) : std::u16string();
    return SUCCEEDED(
               RegisterTypeLib(lib.get(), wide.c_str(), pszHelpDir ? helpDir.c_str() : nullptr))
               ? TRUE
               : FALSE;
}

BOOL AfxOleUnregisterTypeLib(REFGUID tlid, WORD wVerMajor, WORD wVerMinor, LCID lcid)
{
    if (wVerMajor == 0 && wVerMinor == 0) {
        // No version given: the one that is registered.
        platform::ComPtr<ITypeLib> lib;
        if (FAILED(LoadRegTypeLib(tlid, 1, 0, lcid, lib.put())))
            return FALSE;
        TLIBATTR *attr = nullptr;
        if (FAILED(lib->GetLibAttr(&attr)))
            return FALSE;
        wVerMajor = attr->wMajorVerNum;
        wVerMinor = attr->wMinorVerNum;
        lib->ReleaseTLibAttr(attr);
    }
    return SUCCEEDED(UnRegisterTypeLib(tlid, wVerMajor, wVerMinor, lcid, SYS_WIN64)) ? TRUE : FALSE;
}

BOOL AfxOleRegisterControlClass(HINSTANCE hInstance, REFCLSID clsid, LPCTSTR pszProgID,
                                UINT idTypeName, UINT idBitmap, int nRegFlags, DWORD dwMiscStatus,
                                REFGUID tlid, WORD wVerMajor, WORD wVerMinor)
{
    const std::string path = platform::modulePath(hInstance);
    const std::string typeName = loadString(hInstance, idTypeName);
    if (path.empty() || typeName.empty())
        return FALSE;
    const std::string clsidText = platform::guidToString(clsid);
    const std::string key = "CLSID\\" + clsidText;
    const bool insertable = (nRegFlags & afxRegInsertable) != 0;
    std::vector<Entry> entries;
    if (pszProgID && *pszProgID) {
        entries.push_back({pszProgID, nullptr, typeName, false});
        entries.push_back({std::string(pszProgID) + "\\CLSID", nullptr, clsidText, false});
        if (insertable)
            entries.push_back({std::string(pszProgID) + "\\Insertable", nullptr, {}, true});
    }
    entries.push_back({key, nullptr, typeName, false});
    if (pszProgID && *pszProgID)
        entries.push_back({key + "\\ProgID", nullptr, pszProgID, false});
    entries.push_back({key + "\\InprocServer32", nullptr, path, false});
    if (nRegFlags & (afxRegApartmentThreading | afxRegFreeThreading))
        entries.push_back({key + "\\InprocServer32", "ThreadingModel",
                           (nRegFlags & afxRegFreeThreading) ? "Free" : "Apartment", false});
    entries.push_back(
        {key + "\\ToolboxBitmap32", nullptr, path + ", " + std::to_string(idBitmap), false});
    entries.push_back({key + "\\MiscStatus", nullptr, "0", false});
    entries.push_back({key + "\\MiscStatus\\1", nullptr, std::to_string(dwMiscStatus), false});
    entries.push_back({key + "\\Control", nullptr, {}, true});
    entries.push_back({key + "\\TypeLib", nullptr, platform::guidToString(tlid), false});
    entries.push_back({key + "\\Version", nullptr,
                       std::to_string(wVerMajor) + "." + std::to_string(wVerMinor), false});
    if (insertable)
        entries.push_back({key + "\\Insertable", nullptr, {}, true});
    return writeAll(entries);
}

BOOL AfxOleRegisterPropertyPageClass(HINSTANCE hInstance, REFCLSID clsid, UINT idTypeName,
                                     int nRegFlags)
{
    const std::string path = platform::modulePath(hInstance);
    const std::string typeName = loadString(hInstance, idTypeName);
    if (path.empty() || typeName.empty())
        return FALSE;
    const std::string key = "CLSID\\" + platform::guidToString(clsid);
    std::vector<Entry> entries{{key, nullptr, typeName, false},
                               {key + "\\InprocServer32", nullptr, path, false}};
    if (nRegFlags & (afxRegApartmentThreading | afxRegFreeThreading))
        entries.push_back({key + "\\InprocServer32", "ThreadingModel",
                           (nRegFlags & afxRegFreeThreading) ? "Free" : "Apartment", false});
    return writeAll(entries);
}

BOOL AfxOleUnregisterClass(REFCLSID clsid, LPCTSTR pszProgID)
{
    platform::RegistryTransaction tx;
    if (tx.status() != ERROR_SUCCESS)
        return FALSE;
    const std::string key = "CLSID\\" + platform::guidToString(clsid);
    LONG err = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND)
        return FALSE;
    if (pszProgID && *pszProgID) {
        err = RegDeleteTreeA(HKEY_CLASSES_ROOT, pszProgID);
        if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND)
            return FALSE;
    }
    tx.commit();
    return TRUE;
}

CTypeLibCache::CTypeLibCache(REFGUID libid)
    : m_libid(libid)
{}

CTypeLibCache::~CTypeLibCache()
{
    if (m_lib)
        m_lib->Release();
}

HRESULT CTypeLibCache::Lookup(LCID lcid, WORD wVerMajor, WORD wVerMinor, ITypeLib **ppTypeLib)
{
    if (!ppTypeLib)
        return E_POINTER;
    *ppTypeLib = nullptr;
    if (!m_lib || m_lcid != lcid) {
        ITypeLib *lib = nullptr;
        const HRESULT hr = LoadRegTypeLib(m_libid, wVerMajor, wVerMinor, lcid, &lib);
        if (FAILED(hr))
            return hr;
        if (m_lib)
            m_lib->Release();
        m_lib = lib;
        m_lcid = lcid;
    }
    m_lib->AddRef();
    *ppTypeLib = m_lib;
    return S_OK;
}

CTypeLibCache *AfxGetTypeLibCache(const GUID *pTypeLibID)
{
    static std::mutex mutex;
    static std::map<GUID, std::unique_ptr<CTypeLibCache>> caches;
    if (!pTypeLibID)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    auto &slot = caches[*pTypeLibID];
    if (!slot)
        slot = std::make_unique<CTypeLibCache>(*pTypeLibID);
    return slot.get();
}
