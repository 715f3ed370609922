// SPDX-License-Identifier: MIT
// The web map control. Its methods come with the page host; until then each call answers
// E_NOTIMPL to its caller.
#pragma once

#include "platform/framework.h"

class CTesselDllCtrl : public COleControl
{
    DECLARE_DYNCREATE(CTesselDllCtrl)
    DECLARE_DISPATCH_MAP()
public:
    CTesselDllCtrl();
    ~CTesselDllCtrl() override;

    class CTesselDllCtrlFactory : public COleObjectFactory
    {
    public:
        CTesselDllCtrlFactory();
        BOOL UpdateRegistry(BOOL bRegister) override;
    };
    static CTesselDllCtrlFactory factory;

    HRESULT GetClassID(LPCLSID pclsid) override;
    DWORD GetMiscStatus() override;
    const CLSID *GetPropPageIDs(ULONG &cPropPages) override;
    HRESULT GetTypeLib(LCID lcid, LPTYPELIB *ppTypeLib) override;
    void GetDispatchIID(IID *pIID) override;

    // Dispatch methods of _DTesselDll.
    void AboutBox();
    LONG CallJavaScritp(LPCTSTR strScript);
    LONG init(LPCTSTR strUrl, LONG nType, LPCTSTR szPostData, LPCTSTR szHeader);
    LONG AddLinster(ULONGLONG lAddress);
};

extern const char g_szTesselDllCtrlProgID[];
