// SPDX-License-Identifier: MIT
#include "MyControlSite.h"

#include "GISPage.h"

using platform::ComPtr;

BEGIN_INTERFACE_MAP(CMyControlSite, COleControlSite)
INTERFACE_PART(CMyControlSite, IID_IDocHostUIHandler, DocHostUIHandler)
INTERFACE_PART(CMyControlSite, IID_IOleCommandTarget, OleCommandTarget)
END_INTERFACE_MAP()
IMPLEMENT_NESTED_IUNKNOWN(CMyControlSite, OleCommandTarget)
IMPLEMENT_NESTED_IUNKNOWN(CMyControlSite, DocHostUIHandler)

CMyControlSite::CMyControlSite(COleControlContainer *pCtrlCont, CGISPage *pOwner)
    : COleControlSite(pCtrlCont)
    , m_pOwner(pOwner)
{}

HRESULT CMyControlSite::XOleCommandTarget::QueryStatus(const GUID *, ULONG, OLECMD[], OLECMDTEXT *)
{
    return OLECMDERR_E_NOTSUPPORTED;
}

// Script errors end here: no dialog, and the page's scripts go on.
HRESULT CMyControlSite::XOleCommandTarget::Exec(const GUID *pguidCmdGroup, DWORD nCmdID, DWORD,
                                                VARIANT *pvaIn, VARIANT *pvaOut)
{
    if (!pguidCmdGroup || !IsEqualGUID(*pguidCmdGroup, CGID_DocHostCommandHandler))
        return OLECMDERR_E_UNKNOWNGROUP;
    if (nCmdID != OLECMDID_SHOWSCRIPTERROR)
        return OLECMDERR_E_NOTSUPPORTED;
    // Without a document there is nothing to ask; the error is swallowed all the same.
    HRESULT hr = S_OK;
    ComPtr<IHTMLDocument2> doc;
    if (pvaIn && (pvaIn->vt == VT_UNKNOWN || pvaIn->vt == VT_DISPATCH) && pvaIn->punkVal
        && SUCCEEDED(pvaIn->punkVal->QueryInterface(IID_IHTMLDocument2, doc.putVoid()))) {
        ComPtr<IHTMLWindow2> window;
        hr = doc->get_parentWindow(window.put());
    }
    if (pvaOut) {
        VariantClear(pvaOut);
        pvaOut->vt = VT_BOOL;
        pvaOut->boolVal = VARIANT_TRUE;
    }
    return hr;
}

#define TESSEL_OWNER() METHOD_PROLOGUE(CMyControlSite, DocHostUIHandler) return pThis->m_pOwner

HRESULT CMyControlSite::XDocHostUIHandler::ShowContextMenu(DWORD dwID, POINT *ppt, IUnknown *a,
                                                           IDispatch *b)
{
    TESSEL_OWNER()->ShowContextMenu(dwID, ppt, a, b);
}

HRESULT CMyControlSite::XDocHostUIHandler::GetHostInfo(DOCHOSTUIINFO *pInfo)
{
    TESSEL_OWNER()->GetHostInfo(pInfo);
}

HRESULT CMyControlSite::XDocHostUIHandler::ShowUI(DWORD dwID, IOleInPlaceActiveObject *a,
                                                  IOleCommandTarget *b, IOleInPlaceFrame *c,
                                                  IOleInPlaceUIWindow *d)
{
    TESSEL_OWNER()->ShowUI(dwID, a, b, c, d);
}

HRESULT CMyControlSite::XDocHostUIHandler::HideUI()
{
    TESSEL_OWNER()->HideUI();
}

HRESULT CMyControlSite::XDocHostUIHandler::UpdateUI()
{
    TESSEL_OWNER()->UpdateUI();
}

HRESULT CMyControlSite::XDocHostUIHandler::EnableModeless(BOOL fEnable)
{
    TESSEL_OWNER()->EnableModeless(fEnable);
}

HRESULT CMyControlSite::XDocHostUIHandler::OnDocWindowActivate(BOOL fActivate)
{
    TESSEL_OWNER()->OnDocWindowActivate(fActivate);
}

HRESULT CMyControlSite::XDocHostUIHandler::OnFrameWindowActivate(BOOL fActivate)
{
    TESSEL_OWNER()->OnFrameWindowActivate(fActivate);
}

HRESULT CMyControlSite::XDocHostUIHandler::ResizeBorder(LPCRECT prcBorder,
                                                        IOleInPlaceUIWindow *pUIWindow,
                                                        BOOL fFrameWindow)
{
    TESSEL_OWNER()->ResizeBorder(prcBorder, pUIWindow, fFrameWindow);
}

HRESULT CMyControlSite::XDocHostUIHandler::TranslateAccelerator(LPMSG lpMsg,
                                                                const GUID *pguidCmdGroup,
                                                                DWORD nCmdID)
{
    TESSEL_OWNER()->TranslateAccelerator(lpMsg, pguidCmdGroup, nCmdID);
}

HRESULT CMyControlSite::XDocHostUIHandler::GetOptionKeyPath(LPOLESTR *pchKey, DWORD dw)
{
    TESSEL_OWNER()->GetOptionKeyPath(pchKey, dw);
}

HRESULT CMyControlSite::XDocHostUIHandler::GetDropTarget(IDropTarget *pDropTarget,
                                                         IDropTarget **ppDropTarget)
{
    TESSEL_OWNER()->GetDropTarget(pDropTarget, ppDropTarget);
}

HRESULT CMyControlSite::XDocHostUIHandler::GetExternal(IDispatch **ppDispatch)
{
    TESSEL_OWNER()->GetExternal(ppDispatch);
}

HRESULT CMyControlSite::XDocHostUIHandler::TranslateUrl(DWORD dwTranslate, LPWSTR pchURLIn,
                                                        LPWSTR *ppchURLOut)
{
    TESSEL_OWNER()->TranslateUrl(dwTranslate, pchURLIn, ppchURLOut);
}

HRESULT CMyControlSite::XDocHostUIHandler::FilterDataObject(IDataObject *pDO, IDataObject **ppDORet)
{
    TESSEL_OWNER()->FilterDataObject(pDO, ppDORet);
}
