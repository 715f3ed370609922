// SPDX-License-Identifier: MIT
// The web map control: a page host over its whole window, and four methods for its host.
//
// A listener may come before the control's window: the page host object is made then, with the
// listener, and gets its window only when the control's own window is created, always as a child
// of that window. So an early listener never ends up with a page host under another control's
// window or under one that is gone.
#pragma once

#include "platform/framework.h"

class CGISPage;

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

    int OnCreate(CREATESTRUCTA *cs) override;
    void OnSize(UINT nType, int cx, int cy) override;
    void OnDestroy() override;
    void OnDraw(CDC *pdc, const CRect &rcBounds, const CRect &rcInvalid) override;
    void DoPropExchange(CPropExchange *pPX) override;

    // Dispatch methods of _DTesselDll.
    void AboutBox();
    LONG CallJavaScritp(LPCTSTR strScript);
    LONG init(LPCTSTR strUrl, LONG nType, LPCTSTR szPostData, LPCTSTR szHeader);
    LONG AddLinster(ULONGLONG lAddress);

protected:
    void DestroyPageHost();
    CGISPage *m_pGISPage = nullptr; // owned
};

extern const char g_szTesselDllCtrlProgID[];
