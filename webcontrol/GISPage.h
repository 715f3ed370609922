// SPDX-License-Identifier: MIT
// The page host: a hidden child dialog over the control's window that holds the browser, runs
// the host's scripts once the page says it is ready, one per timer tick, is the page's
// window.external, and passes the page's calls, loads and failed navigations to the listener.
#pragma once

#include "platform/dhtml.h"
#include "platform/framework.h"

#include <cstdint>
#include <deque>
#include <string>

class CGISPage : public CDHtmlDialog
{
    DECLARE_DYNAMIC(CGISPage)
    DECLARE_DISPATCH_MAP()
public:
    explicit CGISPage(CWnd *pParent = nullptr);
    ~CGISPage() override;

    enum { IDD = 203, kScriptTimer = 1 };

    void NavigateToUrl(LPCSTR szUrl);
    void QueueScript(LPCSTR szScript);
    // The address of the host's listener object; 0 removes it.
    void SetListener(std::uint64_t address) { m_pListener = address; }
    // Drops the listener and every script still waiting: nothing more reaches the host.
    void Silence();

    BOOL OnInitDialog() override;
    BOOL CreateControlSite(COleControlContainer *pContainer, COleControlSite **ppSite, UINT nID,
                           REFCLSID clsid) override;
    BOOL OnAmbientProperty(COleControlSite *pSite, DISPID dispid, VARIANT *pvar) override;
    void OnTimer(UINT_PTR nIDEvent) override;
    BOOL OnEraseBkgnd(CDC *pDC) override;
    void OnDocumentComplete(LPDISPATCH pDisp, LPCSTR szUrl) override;
    BOOL OnNavigateError(LPDISPATCH pDisp, VARIANT *pvURL, VARIANT *pvFrame, VARIANT *pvStatusCode,
                         VARIANT_BOOL *pvbCancel) override;
    HRESULT ShowContextMenu(DWORD dwID, POINT *ppt, IUnknown *pcmdtReserved,
                            IDispatch *pdispReserved) override;
    HRESULT GetHostInfo(DOCHOSTUIINFO *pInfo) override;

    // window.external of the page.
    LONG MainCall(LPCSTR szName, LPCSTR szData);
    void Alert(LPCSTR szMessage);

protected:
    BOOL RunScript(const std::string &script);
    std::int32_t Notify(const char *name, std::intptr_t data);
    void StartScriptTimer();

    std::uint64_t m_pListener = 0; // CPageListener of the host; not owned
    std::deque<std::string> m_scripts;
    BOOL m_bReady = FALSE;
};
