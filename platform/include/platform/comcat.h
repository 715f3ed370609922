// SPDX-License-Identifier: MIT
// The component category manager: category definitions under "Component Categories", and the
// categories a class implements or requires under its CLSID key.
#pragma once

#include "unknown.h"

PLATFORM_GUID(CLSID_StdComponentCategoriesMgr, 0x0002E005, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00,
              0x00, 0x00, 0x00, 0x46);
PLATFORM_GUID(IID_ICatRegister, 0x0002E012, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x00, 0x46);
PLATFORM_GUID(CATID_SafeForScripting, 0x7DD95801, 0x9882, 0x11CF, 0x9F, 0xA9, 0x00, 0xAA, 0x00,
              0x6C, 0x42, 0xC4);
PLATFORM_GUID(CATID_SafeForInitializing, 0x7DD95802, 0x9882, 0x11CF, 0x9F, 0xA9, 0x00, 0xAA, 0x00,
              0x6C, 0x42, 0xC4);

struct CATEGORYINFO
{
    CATID catid;
    LCID lcid;
    OLECHAR szDescription[128];
};

struct ICatRegister : IUnknown
{
    // Each description is read up to its terminator or 127 characters, whichever comes first,
    // and stored as the value named by the LCID in hex.
    virtual HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG cCategories,
                                                         CATEGORYINFO rgCategoryInfo[])
        = 0;
    virtual HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG cCategories, CATID rgcatid[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID rclsid,
                                                                  ULONG cCategories,
                                                                  CATID rgcatid[])
        = 0;
    virtual HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID rclsid,
                                                                    ULONG cCategories,
                                                                    CATID rgcatid[])
        = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID rclsid, ULONG cCategories,
                                                                 CATID rgcatid[])
        = 0;
    virtual HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID rclsid,
                                                                   ULONG cCategories,
                                                                   CATID rgcatid[])
        = 0;

protected:
    ~ICatRegister() = default;
};
