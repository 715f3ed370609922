// SPDX-License-Identifier: MIT
// Controls and property pages as the class factory creates them. Only the object side lives here;
// the window side, drawing and activation build on these classes.
#pragma once

#include "objectfactory.h"
#include "platform/oleidl.h"
#include "platform/wnd.h"

class CPropExchange;

class PLATFORM_AFX_EXPORT COleControl : public CWnd
{
    DECLARE_DYNAMIC(COleControl)
public:
    COleControl();
    ~COleControl() override;

    // What the framework asks the control about itself; each control class answers for itself.
    virtual HRESULT GetClassID(LPCLSID pclsid); // E_NOTIMPL
    virtual DWORD GetMiscStatus();              // 0
    // The CLSIDs of the control's property pages; count set to their number (none here).
    virtual const CLSID *GetPropPageIDs(ULONG &cPropPages);
    // The control's type library in the given locale, with a reference for the caller.
    virtual HRESULT GetTypeLib(LCID lcid, LPTYPELIB *ppTypeLib); // TYPE_E_LIBNOTREGISTERED
    // The dispatch interface the control's table implements (for GetTypeInfo); IID_NULL here.
    virtual void GetDispatchIID(IID *pIID);

    HRESULT GetDispatchTypeInfo(LCID lcid, ITypeInfo **ppTInfo) override;

    // ---- Window side: in-place activation in a host's site, drawing, persistence.
    // Draws the control into dc within rcBounds; nothing by default.
    virtual void OnDraw(CDC *pdc, const CRect &rcBounds, const CRect &rcInvalid);
    // Saves, loads or resets the control's state; the base exchanges nothing of its own.
    virtual void DoPropExchange(CPropExchange *pPX);
    // Puts the state back to its defaults (a property exchange that loads defaults).
    virtual void OnResetState();
    // Exchanges the version stamp; on loading, the stamp found (or the default) is kept.
    BOOL ExchangeVersion(CPropExchange *pPX, DWORD dwVersionDefault, BOOL bConvert = TRUE);
    DWORD GetVersionLoaded() const { return m_dwVersionLoaded; }
    // In-place activation through the client site; with bUIActivate the control becomes the
    // host's active user interface as well.
    HRESULT OnActivateInPlace(BOOL bUIActivate, LPMSG pMsg);
    // The "Properties" verb: each property page of the control, modally, in turn.
    virtual BOOL OnProperties(LPMSG lpMsg, HWND hWndParent, LPCRECT lpRect);
    // An ambient property of the host, converted to vtProp; FALSE when the host has none.
    BOOL GetAmbientProperty(DISPID dispid, VARTYPE vtProp, void *pvProp);
    BOOL AmbientUserMode();
    IOleClientSite *GetClientSite() const { return m_pClientSite; }

    int OnCreate(CREATESTRUCTA *cs) override;
    void OnPaint() override;
    BOOL OnEraseBkgnd(CDC *dc) override;

    BOOL m_bInPlaceActive = FALSE;
    BOOL m_bUIActive = FALSE;

protected:
    IOleClientSite *m_pClientSite = nullptr;
    IOleInPlaceSite *m_pInPlaceSite = nullptr;
    CRect m_rcPos;
    DWORD m_dwVersionLoaded = 0;
    HRESULT activate(HWND parent, LPCRECT pos, BOOL uiActivate);
    void deactivate();
    void releaseWindowSide();

    BEGIN_INTERFACE_PART(OleObject, IOleObject)
    DECLARE_IOLEOBJECT_METHODS()
    END_INTERFACE_PART(OleObject)

    BEGIN_INTERFACE_PART(OleInPlaceObject, IOleInPlaceObject)
    DECLARE_IOLEINPLACEOBJECT_METHODS()
    END_INTERFACE_PART(OleInPlaceObject)

    BEGIN_INTERFACE_PART(ViewObject, IViewObject)
    HRESULT STDMETHODCALLTYPE Draw(DWORD, HDC, LPCRECT) override;
    END_INTERFACE_PART(ViewObject)

    BEGIN_INTERFACE_PART(PersistPropertyBag, IPersistPropertyBag)
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag *, void *) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag *, BOOL, BOOL) override;
    END_INTERFACE_PART(PersistPropertyBag)

    DECLARE_INTERFACE_MAP()
};

class PLATFORM_AFX_EXPORT COlePropertyPage : public CDialog
{
    DECLARE_DYNAMIC(COlePropertyPage)
public:
    COlePropertyPage(UINT idDlg, UINT idCaption);
    ~COlePropertyPage() override;

    UINT GetDialogId() const { return m_idDlg; }
    UINT GetCaptionId() const { return m_idCaption; }

protected:
    UINT m_idDlg;
    UINT m_idCaption;
};
