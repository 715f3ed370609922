// SPDX-License-Identifier: MIT
// Embedding interfaces (client site, in-place site, object, in-place object, drawing, property
// bags, connection points) and the HTML browser control's interfaces, as far as a host and a
// control of this system use them.
#pragma once

#include "platform/automation.h"

// ---- Embedding
PLATFORM_GUID(IID_IOleWindow, 0x00000114, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x46);
PLATFORM_GUID(IID_IOleClientSite, 0x00000118, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x00, 0x46);
PLATFORM_GUID(IID_IOleInPlaceSite, 0x00000119, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x00, 0x46);
PLATFORM_GUID(IID_IOleObject, 0x00000112, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x46);
PLATFORM_GUID(IID_IOleInPlaceObject, 0x00000113, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x00, 0x46);
PLATFORM_GUID(IID_IViewObject, 0x0000010D, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x46);
PLATFORM_GUID(IID_IPropertyBag, 0x55272A00, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B,
              0xB8, 0x51);
PLATFORM_GUID(IID_IPersistPropertyBag, 0x37D84F60, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00,
              0x4B, 0xB8, 0x51);
PLATFORM_GUID(IID_IConnectionPointContainer, 0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA,
              0x00, 0x34, 0x1D, 0x07);
PLATFORM_GUID(IID_IConnectionPoint, 0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34,
              0x1D, 0x07);
PLATFORM_GUID(IID_IOleCommandTarget, 0xB722BCCB, 0x4E68, 0x101B, 0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40,
              0x47, 0x70);
PLATFORM_GUID(IID_IDocHostUIHandler, 0xBD3F23C0, 0xD43E, 0x11CF, 0x89, 0x3B, 0x00, 0xAA, 0x00, 0xBD,
              0xCE, 0x1A);
PLATFORM_GUID(CGID_DocHostCommandHandler, 0xF38BC242, 0xB950, 0x11D1, 0x89, 0x18, 0x00, 0xC0, 0x4F,
              0xC2, 0xC8, 0x36);
PLATFORM_GUID(CLSID_WebBrowser, 0x8856F961, 0x340A, 0x11D0, 0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7,
              0x05, 0xA2);
PLATFORM_GUID(IID_IWebBrowser2, 0xD30C1661, 0xCDAF, 0x11D0, 0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9,
              0xE2, 0x6E);
PLATFORM_GUID(DIID_DWebBrowserEvents2, 0x34A715A0, 0x6587, 0x11D0, 0x92, 0x4A, 0x00, 0x20, 0xAF,
              0xC7, 0xAC, 0x4D);
PLATFORM_GUID(IID_IHTMLDocument2, 0x332C4425, 0x26CB, 0x11D0, 0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9,
              0x01, 0x19);
PLATFORM_GUID(IID_IHTMLWindow2, 0x332C4427, 0x26CB, 0x11D0, 0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9,
              0x01, 0x19);

#define OLEIVERB_PRIMARY 0
#define OLEIVERB_SHOW (-1)
#define OLEIVERB_OPEN (-2)
#define OLEIVERB_HIDE (-3)
#define OLEIVERB_UIACTIVATE (-4)
#define OLEIVERB_INPLACEACTIVATE (-5)
#define OLEIVERB_PROPERTIES (-7)
#define OLECLOSE_SAVEIFDIRTY 0
#define OLECLOSE_NOSAVE 1
#define OLEOBJ_E_INVALIDVERB PLATFORM_HR(0x80040181)
#define OLE_E_NOT_INPLACEACTIVE PLATFORM_HR(0x80040010)
#define CONNECT_E_NOCONNECTION PLATFORM_HR(0x80040200)
#define CONNECT_E_ADVISELIMIT PLATFORM_HR(0x80040201)
#define CONNECT_E_CANNOTCONNECT PLATFORM_HR(0x80040202)

#define DISPID_AMBIENT_USERMODE (-709)
#define DISPID_AMBIENT_DLCONTROL (-5512)
#define DLCTL_DLIMAGES 0x00000010
#define DLCTL_VIDEOS 0x00000020
#define DLCTL_BGSOUNDS 0x00000040
#define DLCTL_NO_SCRIPTS 0x00000080
#define DLCTL_RESYNCHRONIZE 0x00002000
#define DLCTL_PRAGMA_NO_CACHE 0x00004000
#define DLCTL_SILENT 0x40000000

struct IOleClientSite;

struct IOleWindow : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetWindow(HWND *phwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL fEnterMode) = 0;

protected:
    ~IOleWindow() = default;
};

struct IOleClientSite : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE SaveObject() = 0;
    virtual HRESULT STDMETHODCALLTYPE ShowObject() = 0;
    virtual HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL fShow) = 0;

protected:
    ~IOleClientSite() = default;
};
typedef IOleClientSite *LPOLECLIENTSITE;

struct IOleInPlaceSite : IOleWindow
{
    virtual HRESULT STDMETHODCALLTYPE CanInPlaceActivate() = 0;
    virtual HRESULT STDMETHODCALLTYPE OnInPlaceActivate() = 0;
    virtual HRESULT STDMETHODCALLTYPE OnUIActivate() = 0;
    // The position the object is to take in the site's window, and what of it is visible.
    virtual HRESULT STDMETHODCALLTYPE GetWindowContext(LPRECT lprcPosRect, LPRECT lprcClipRect) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL fUndoable) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() = 0;
    virtual HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT lprcPosRect) = 0;

protected:
    ~IOleInPlaceSite() = default;
};

#define DECLARE_IOLEOBJECT_METHODS()                                                               \
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite *) override;                            \
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite **) override;                           \
    HRESULT STDMETHODCALLTYPE Close(DWORD) override;                                               \
    HRESULT STDMETHODCALLTYPE DoVerb(LONG, LPMSG, IOleClientSite *, LONG, HWND, LPCRECT) override; \
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID *) override;                                    \
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD *) override;

struct IOleObject : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite *pClientSite) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite **ppClientSite) = 0;
    virtual HRESULT STDMETHODCALLTYPE Close(DWORD dwSaveOption) = 0;
    virtual HRESULT STDMETHODCALLTYPE DoVerb(LONG iVerb, LPMSG lpmsg, IOleClientSite *pActiveSite,
                                             LONG lindex, HWND hwndParent, LPCRECT lprcPosRect)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID *pClsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD dwAspect, DWORD *pdwStatus) = 0;

protected:
    ~IOleObject() = default;
};

#define DECLARE_IOLEINPLACEOBJECT_METHODS()                                                        \
    HRESULT STDMETHODCALLTYPE GetWindow(HWND *) override;                                          \
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override;                                 \
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;                                        \
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;                                             \
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT, LPCRECT) override;

struct IOleInPlaceObject : IOleWindow
{
    virtual HRESULT STDMETHODCALLTYPE InPlaceDeactivate() = 0;
    virtual HRESULT STDMETHODCALLTYPE UIDeactivate() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) = 0;

protected:
    ~IOleInPlaceObject() = default;
};

#define DVASPECT_CONTENT 1
struct IViewObject : IUnknown
{
    // Draws the object into the device context within lprcBounds.
    virtual HRESULT STDMETHODCALLTYPE Draw(DWORD dwDrawAspect, HDC hdcDraw, LPCRECT lprcBounds) = 0;

protected:
    ~IViewObject() = default;
};

struct IPropertyBag : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE Read(LPCOLESTR pszPropName, VARIANT *pVar, void *pErrorLog)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(LPCOLESTR pszPropName, VARIANT *pVar) = 0;

protected:
    ~IPropertyBag() = default;
};

struct IPersistPropertyBag : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID *pClassID) = 0;
    virtual HRESULT STDMETHODCALLTYPE InitNew() = 0;
    virtual HRESULT STDMETHODCALLTYPE Load(IPropertyBag *pPropBag, void *pErrorLog) = 0;
    virtual HRESULT STDMETHODCALLTYPE Save(IPropertyBag *pPropBag, BOOL fClearDirty,
                                           BOOL fSaveAllProperties)
        = 0;

protected:
    ~IPersistPropertyBag() = default;
};

struct IConnectionPoint : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID *pIID) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown *pUnkSink, DWORD *pdwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) = 0;

protected:
    ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint **ppCP) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

// ---- The HTML browser control
#define DISPID_DOCUMENTCOMPLETE 259
#define DISPID_NAVIGATEERROR 271
#define INET_E_RESOURCE_NOT_FOUND PLATFORM_HR(0x800C0005)
#define INET_E_DOWNLOAD_FAILURE PLATFORM_HR(0x800C0008)

#define OLECMDID_SHOWSCRIPTERROR 40
#define OLECMDEXECOPT_DODEFAULT 0

#define CONTEXT_MENU_DEFAULT 0
#define CONTEXT_MENU_IMAGE 1
#define CONTEXT_MENU_CONTROL 2
#define CONTEXT_MENU_TABLE 3
#define CONTEXT_MENU_TEXTSELECT 4
#define CONTEXT_MENU_ANCHOR 5

#define DOCHOSTUIFLAG_DIALOG 0x00000001
#define DOCHOSTUIFLAG_SCROLL_NO 0x00000008
#define DOCHOSTUIFLAG_NO3DBORDER 0x00000004
#define DOCHOSTUIFLAG_THEME 0x00040000

struct IDropTarget;
struct IDataObject;
struct IOleInPlaceActiveObject;
struct IOleCommandTarget;
struct IOleInPlaceFrame;
struct IOleInPlaceUIWindow;

struct DOCHOSTUIINFO
{
    ULONG cbSize;
    DWORD dwFlags;
    DWORD dwDoubleClick;
    OLECHAR *pchHostCss;
    OLECHAR *pchHostNS;
};

struct OLECMD
{
    ULONG cmdID;
    DWORD cmdf;
};

struct OLECMDTEXT
{
    DWORD cmdtextf;
    ULONG cwActual;
    ULONG cwBuf;
    WCHAR rgwz[1];
};

struct IOleCommandTarget : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE QueryStatus(const GUID *pguidCmdGroup, ULONG cCmds,
                                                  OLECMD prgCmds[], OLECMDTEXT *pCmdText)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE Exec(const GUID *pguidCmdGroup, DWORD nCmdID,
                                           DWORD nCmdexecopt, VARIANT *pvaIn, VARIANT *pvaOut)
        = 0;

protected:
    ~IOleCommandTarget() = default;
};

struct IDocHostUIHandler : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD dwID, POINT *ppt,
                                                      IUnknown *pcmdtReserved,
                                                      IDispatch *pdispReserved)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO *pInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE ShowUI(DWORD dwID, IOleInPlaceActiveObject *pActiveObject,
                                             IOleCommandTarget *pCommandTarget,
                                             IOleInPlaceFrame *pFrame, IOleInPlaceUIWindow *pDoc)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE HideUI() = 0;
    virtual HRESULT STDMETHODCALLTYPE UpdateUI() = 0;
    virtual HRESULT STDMETHODCALLTYPE EnableModeless(BOOL fEnable) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL fActivate) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL fActivate) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT prcBorder,
                                                   IOleInPlaceUIWindow *pUIWindow, BOOL fRameWindow)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG lpMsg, const GUID *pguidCmdGroup,
                                                           DWORD nCmdID)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR *pchKey, DWORD dw) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget *pDropTarget,
                                                    IDropTarget **ppDropTarget)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE GetExternal(IDispatch **ppDispatch) = 0;
    virtual HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD dwTranslate, LPWSTR pchURLIn,
                                                   LPWSTR *ppchURLOut)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject *pDO, IDataObject **ppDORet) = 0;

protected:
    ~IDocHostUIHandler() = default;
};

struct IHTMLWindow2;

struct IHTMLDocument2 : IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE get_parentWindow(IHTMLWindow2 **p) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_URL(BSTR *p) = 0;

protected:
    ~IHTMLDocument2() = default;
};

struct IHTMLWindow2 : IDispatch
{
    // Runs code in the window's global scope; language "JavaScript" or "JScript" in any case.
    virtual HRESULT STDMETHODCALLTYPE execScript(BSTR code, BSTR language, VARIANT *pvarRet) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_document(IHTMLDocument2 **p) = 0;

protected:
    ~IHTMLWindow2() = default;
};

// The browser's methods, for the classes that implement them.
#define DECLARE_IWEBBROWSER2_METHODS()                                                             \
    HRESULT STDMETHODCALLTYPE Navigate(BSTR, VARIANT *, VARIANT *, VARIANT *, VARIANT *) override; \
    HRESULT STDMETHODCALLTYPE Stop() override;                                                     \
    HRESULT STDMETHODCALLTYPE get_Document(IDispatch **) override;                                 \
    HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR *) override;                                    \
    HRESULT STDMETHODCALLTYPE get_Silent(VARIANT_BOOL *) override;                                 \
    HRESULT STDMETHODCALLTYPE put_Silent(VARIANT_BOOL) override;                                   \
    HRESULT STDMETHODCALLTYPE get_RegisterAsDropTarget(VARIANT_BOOL *) override;                   \
    HRESULT STDMETHODCALLTYPE put_RegisterAsDropTarget(VARIANT_BOOL) override;                     \
    HRESULT STDMETHODCALLTYPE get_HWND(HWND *) override;

struct IWebBrowser2 : IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE Navigate(BSTR URL, VARIANT *Flags, VARIANT *TargetFrameName,
                                               VARIANT *PostData, VARIANT *Headers)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Document(IDispatch **ppDisp) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR *LocationURL) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Silent(VARIANT_BOOL *pbSilent) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Silent(VARIANT_BOOL bSilent) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RegisterAsDropTarget(VARIANT_BOOL *pbRegister) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RegisterAsDropTarget(VARIANT_BOOL bRegister) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HWND(HWND *pHWND) = 0;

protected:
    ~IWebBrowser2() = default;
};
