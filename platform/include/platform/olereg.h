// SPDX-License-Identifier: MIT
// The framework's registration helpers. Each writes its whole key tree as one registry unit:
// on failure nothing of it stays. They answer TRUE on success.
#pragma once

#include "afx_global.h"
#include "automation.h"

enum {
    afxRegDefault = 0x0000,
    afxRegInsertable = 0x0001,
    afxRegApartmentThreading = 0x0002,
    afxRegFreeThreading = 0x0004,
};

// Registers the type library in the module's TYPELIB 1 resource (or pszFileName beside it); the
// library must carry tlid. Without a help directory, the module's directory is written.
PLATFORM_AFX_EXPORT BOOL AfxOleRegisterTypeLib(HINSTANCE hInstance, REFGUID tlid,
                                               LPCTSTR pszFileName = nullptr,
                                               LPCTSTR pszHelpDir = nullptr);
PLATFORM_AFX_EXPORT BOOL AfxOleUnregisterTypeLib(REFGUID tlid, WORD wVerMajor = 0,
                                                 WORD wVerMinor = 0, LCID lcid = 0);
// CLSID\{clsid} with the module as in-process server, its ProgID, type name (string resource
// idTypeName), toolbox bitmap, misc status, type library and version; "Insertable" and the
// threading model by nRegFlags.
PLATFORM_AFX_EXPORT BOOL AfxOleRegisterControlClass(HINSTANCE hInstance, REFCLSID clsid,
                                                    LPCTSTR pszProgID, UINT idTypeName,
                                                    UINT idBitmap, int nRegFlags,
                                                    DWORD dwMiscStatus, REFGUID tlid,
                                                    WORD wVerMajor, WORD wVerMinor);
PLATFORM_AFX_EXPORT BOOL AfxOleRegisterPropertyPageClass(HINSTANCE hInstance, REFCLSID clsid,
                                                         UINT idTypeName, int nRegFlags = 0);
// Removes CLSID\{clsid} and, when given, the ProgID key, with everything below them. Keys that
// are already gone count as removed.
PLATFORM_AFX_EXPORT BOOL AfxOleUnregisterClass(REFCLSID clsid, LPCTSTR pszProgID);

// The framework's cache of loaded type libraries, one per LIBID, keeping a reference.
class PLATFORM_AFX_EXPORT CTypeLibCache
{
public:
    explicit CTypeLibCache(REFGUID libid);
    ~CTypeLibCache();
    CTypeLibCache(const CTypeLibCache &) = delete;
    CTypeLibCache &operator=(const CTypeLibCache &) = delete;
    // The registered library in the locale asked for, with a reference for the caller.
    HRESULT Lookup(LCID lcid, WORD wVerMajor, WORD wVerMinor, ITypeLib **ppTypeLib);

private:
    GUID m_libid;
    LCID m_lcid = 0;
    ITypeLib *m_lib = nullptr;
};
PLATFORM_AFX_EXPORT CTypeLibCache *AfxGetTypeLibCache(const GUID *pTypeLibID);
