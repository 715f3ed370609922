// SPDX-License-Identifier: MIT
#include "GISPage.h"

#include "MyControlSite.h"
#include "resource.h"
#include "tessel/PageListener.h"

#include <cstring>

using platform::ComPtr;

IMPLEMENT_DYNAMIC(CGISPage, CDHtmlDialog)

// Page script finds these by name whatever the case; their ids are their places, 1 and 2.
BEGIN_DISPATCH_MAP(CGISPage, CDHtmlDialog)
DISP_FUNCTION(CGISPage, "MainCall", MainCall, VT_I4, VTS_BSTR VTS_BSTR)
DISP_FUNCTION(CGISPage, "Alert", Alert, VT_EMPTY, VTS_BSTR)
END_DISPATCH_MAP()

namespace {

// DLCTL_DLIMAGES | DLCTL_PRAGMA_NO_CACHE: images yes, videos and sounds no, never from a cache.
const LONG kDownloadControl = 0x4010;

bool startsWith(const char *text, const char *prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

} // namespace

CGISPage::CGISPage(CWnd *pParent)
    : CDHtmlDialog(IDD_DIALOG_GISPAGE, IDR_HTML_CGISPAGE, pParent)
{
    EnableAutomation();
}

CGISPage::~CGISPage() = default;

BOOL CGISPage::OnInitDialog()
{
    CDHtmlDialog::OnInitDialog();
    if (m_pBrowserApp) {
        m_pBrowserApp->put_RegisterAsDropTarget(VARIANT_FALSE);
        m_pBrowserApp->put_Silent(VARIANT_TRUE);
    }
    return TRUE;
}

BOOL CGISPage::CreateControlSite(COleControlContainer *pContainer, COleControlSite **ppSite, UINT,
                                 REFCLSID)
{
    if (!ppSite)
        return FALSE;
    *ppSite = new CMyControlSite(pContainer, this);
    return TRUE;
}

BOOL CGISPage::OnAmbientProperty(COleControlSite *pSite, DISPID dispid, VARIANT *pvar)
{
    if (dispid == DISPID_AMBIENT_DLCONTROL && pvar) {
        pvar->vt = VT_I4;
        pvar->lVal = kDownloadControl;
        return TRUE;
    }
    return CDHtmlDialog::OnAmbientProperty(pSite, dispid, pvar);
}

// The queue is kept: scripts sent for the page wait for the new page to say it is ready.
void CGISPage::NavigateToUrl(LPCSTR szUrl)
{
    m_bReady = FALSE;
    if (m_hWnd)
        KillTimer(kScriptTimer);
    Navigate(szUrl, 0, nullptr, nullptr, nullptr, 0);
    SetExternalDispatch(GetIDispatch(FALSE));
}

void CGISPage::QueueScript(LPCSTR szScript)
{
    if (m_scripts.empty() && m_bReady)
        StartScriptTimer();
    m_scripts.emplace_back(szScript ? szScript : "");
}

void CGISPage::Silence()
{
    m_pListener = 0;
    m_scripts.clear();
    if (m_hWnd)
        KillTimer(kScriptTimer);
}

void CGISPage::StartScriptTimer()
{
    if (m_hWnd)
        SetTimer(kScriptTimer, 1, nullptr);
}

// One script per tick, out of the queue before it runs: what it queues waits for later ticks.
void CGISPage::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kScriptTimer) {
        if (!m_scripts.empty()) {
            const std::string script = std::move(m_scripts.front());
            m_scripts.pop_front();
            RunScript(script);
        } else {
            KillTimer(kScriptTimer);
        }
    }
    CDHtmlDialog::OnTimer(nIDEvent);
}

BOOL CGISPage::RunScript(const std::string &script)
{
    if (!m_pBrowserApp)
        return FALSE;
    ComPtr<IDispatch> disp;
    ComPtr<IHTMLDocument2> doc;
    ComPtr<IHTMLWindow2> window;
    if (FAILED(m_pBrowserApp->get_Document(disp.put())) || !disp
        || FAILED(disp->QueryInterface(IID_IHTMLDocument2, doc.putVoid())) || !doc
        || FAILED(doc->get_parentWindow(window.put())) || !window)
        return FALSE;
    BSTR code = platform::allocBstr(script, CP_THREAD_ACP);
    BSTR language = platform::allocBstr("JAVASCRIPT", CP_THREAD_ACP);
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = window->execScript(code, language, &result);
    VariantClear(&result);
    SysFreeString(code);
    SysFreeString(language);
    return hr == S_OK;
}

BOOL CGISPage::OnEraseBkgnd(CDC *)
{
    return TRUE;
}

// Only pages from a server count: the start page and other schemes change nothing.
void CGISPage::OnDocumentComplete(LPDISPATCH, LPCSTR szUrl)
{
    if (!szUrl || !(startsWith(szUrl, "http://") || startsWith(szUrl, "https://")))
        return;
    m_bReady = TRUE;
    Notify("LoadComplete", 0);
}

// The browser goes on with its own error handling; the listener only hears of it.
BOOL CGISPage::OnNavigateError(LPDISPATCH pDisp, VARIANT *, VARIANT *, VARIANT *, VARIANT_BOOL *)
{
    if (!m_pListener)
        return FALSE;
    return Notify("InaccessiblePage", reinterpret_cast<std::intptr_t>(pDisp));
}

// Menus only where the user edits or has selected text; those are the browser's own.
HRESULT CGISPage::ShowContextMenu(DWORD dwID, POINT *, IUnknown *, IDispatch *)
{
    return dwID == CONTEXT_MENU_CONTROL || dwID == CONTEXT_MENU_TEXTSELECT ? S_FALSE : S_OK;
}

HRESULT CGISPage::GetHostInfo(DOCHOSTUIINFO *pInfo)
{
    if (!pInfo)
        return E_POINTER;
    pInfo->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_THEME;
    return S_OK;
}

// The ready flag and the timer come before the listener, which may queue scripts or navigate.
LONG CGISPage::MainCall(LPCSTR szName, LPCSTR szData)
{
    if (std::strcmp(szName, "initComplete") == 0 || std::strcmp(szName, "initMComplete") == 0) {
        m_bReady = TRUE;
        StartScriptTimer();
    }
    return Notify(szName, reinterpret_cast<std::intptr_t>(szData));
}

void CGISPage::Alert(LPCSTR)
{
    if (m_hWnd)
        UpdateWindow();
}

std::int32_t CGISPage::Notify(const char *name, std::intptr_t data)
{
    if (!m_pListener)
        return 0;
    return tessel::callPageListener(m_pListener, name, data);
}
