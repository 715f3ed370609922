// SPDX-License-Identifier: MIT
// The site the page host gives its browser: the browser asks it for its user-interface answers,
// which the page host gives, and reports script errors to it, which it swallows.
#pragma once

#include "platform/framework.h"
#include "platform/olesite.h"

class CGISPage;

class CMyControlSite : public COleControlSite
{
public:
    CMyControlSite(COleControlContainer *pCtrlCont, CGISPage *pOwner);

    CGISPage *m_pOwner; // not owned

    BEGIN_INTERFACE_PART(OleCommandTarget, IOleCommandTarget)
    HRESULT STDMETHODCALLTYPE QueryStatus(const GUID *pguidCmdGroup, ULONG cCmds, OLECMD prgCmds[],
                                          OLECMDTEXT *pCmdText) override;
    HRESULT STDMETHODCALLTYPE Exec(const GUID *pguidCmdGroup, DWORD nCmdID, DWORD nCmdexecopt,
                                   VARIANT *pvaIn, VARIANT *pvaOut) override;
    END_INTERFACE_PART(OleCommandTarget)

    BEGIN_INTERFACE_PART(DocHostUIHandler, IDocHostUIHandler)
    HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD dwID, POINT *ppt, IUnknown *pcmdtReserved,
                                              IDispatch *pdispReserved) override;
    HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO *pInfo) override;
    HRESULT STDMETHODCALLTYPE ShowUI(DWORD dwID, IOleInPlaceActiveObject *pActiveObject,
                                     IOleCommandTarget *pCommandTarget, IOleInPlaceFrame *pFrame,
                                     IOleInPlaceUIWindow *pDoc) override;
    HRESULT STDMETHODCALLTYPE HideUI() override;
    HRESULT STDMETHODCALLTYPE UpdateUI() override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL fEnable) override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL fActivate) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL fActivate) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT prcBorder, IOleInPlaceUIWindow *pUIWindow,
                                           BOOL fFrameWindow) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG lpMsg, const GUID *pguidCmdGroup,
                                                   DWORD nCmdID) override;
    HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR *pchKey, DWORD dw) override;
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget *pDropTarget,
                                            IDropTarget **ppDropTarget) override;
    HRESULT STDMETHODCALLTYPE GetExternal(IDispatch **ppDispatch) override;
    HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD dwTranslate, LPWSTR pchURLIn,
                                           LPWSTR *ppchURLOut) override;
    HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject *pDO, IDataObject **ppDORet) override;
    END_INTERFACE_PART(DocHostUIHandler)

    DECLARE_INTERFACE_MAP()
};
