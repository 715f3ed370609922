// SPDX-License-Identifier: MIT
// A dialog whose client area is the HTML browser control: it creates the control, loads the
// module's HTML resource, navigates, hands page script an external object, routes the browser's
// events to handlers, and answers the browser's user-interface questions through overridables.
#pragma once

#include "platform/olesite.h"

class PLATFORM_AFX_EXPORT CDHtmlDialog : public CDialog
{
    DECLARE_DYNAMIC(CDHtmlDialog)
public:
    enum { kBrowserId = 102 };

    CDHtmlDialog(UINT idTemplate, UINT idHtmlResource, CWnd *parent = nullptr,
                 platform::ModuleState *module = AfxGetModuleState());
    ~CDHtmlDialog() override;

    BOOL OnInitDialog() override;
    // The browser's site: by default one that passes its questions to the handlers below.
    BOOL CreateControlSite(COleControlContainer *container, COleControlSite **site, UINT id,
                           REFCLSID clsid) override;
    void OnSize(UINT type, int cx, int cy) override;
    void OnDestroy() override;

    void Navigate(LPCSTR url, DWORD flags = 0, LPCSTR targetFrameName = nullptr,
                  LPCSTR headers = nullptr, LPVOID postData = nullptr, DWORD postDataLength = 0);
    // The object page script reaches as window.external; a reference is kept.
    void SetExternalDispatch(IDispatch *disp);
    IDispatch *GetExternalDispatch() const { return m_spExternalDisp; }
    HRESULT GetDHtmlDocument(IHTMLDocument2 **doc);

    // Browser events: DocumentComplete of every frame, and NavigateError.
    virtual void OnDocumentComplete(LPDISPATCH pDisp, LPCSTR szUrl);
    virtual BOOL OnNavigateError(LPDISPATCH pDisp, VARIANT *url, VARIANT *targetFrameName,
                                 VARIANT *statusCode, VARIANT_BOOL *cancel);

    // The browser's user-interface questions, as its site passes them on.
    virtual HRESULT ShowContextMenu(DWORD id, POINT *pt, IUnknown *, IDispatch *);
    virtual HRESULT GetHostInfo(DOCHOSTUIINFO *info);
    virtual HRESULT ShowUI(DWORD, IOleInPlaceActiveObject *, IOleCommandTarget *,
                           IOleInPlaceFrame *, IOleInPlaceUIWindow *);
    virtual HRESULT HideUI();
    virtual HRESULT UpdateUI();
    virtual HRESULT EnableModeless(BOOL);
    virtual HRESULT OnDocWindowActivate(BOOL);
    virtual HRESULT OnFrameWindowActivate(BOOL);
    virtual HRESULT ResizeBorder(LPCRECT, IOleInPlaceUIWindow *, BOOL);
    virtual HRESULT TranslateAccelerator(LPMSG, const GUID *, DWORD);
    virtual HRESULT GetOptionKeyPath(LPOLESTR *, DWORD);
    virtual HRESULT GetDropTarget(IDropTarget *, IDropTarget **out);
    virtual HRESULT GetExternal(IDispatch **out);
    virtual HRESULT TranslateUrl(DWORD, LPWSTR, LPWSTR *out);
    virtual HRESULT FilterDataObject(IDataObject *, IDataObject **out);

    IWebBrowser2 *m_pBrowserApp = nullptr;
    UINT m_nHtmlResID;
    COleControlSite *m_pBrowserSite = nullptr;

protected:
    IDispatch *m_spExternalDisp = nullptr;

    // The sink the browser fires its events at.
    BEGIN_INTERFACE_PART(EventSink, IDispatch)
    DECLARE_IDISPATCH_METHODS()
    END_INTERFACE_PART(EventSink)
    DWORD m_sinkCookie = 0;
    void releaseBrowser();
    DECLARE_INTERFACE_MAP()
};
