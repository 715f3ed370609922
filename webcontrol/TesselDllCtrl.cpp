// SPDX-License-Identifier: MIT
#include "TesselDllCtrl.h"

#include "GISPage.h"
#include "TesselDll.h"
#include "TesselDllPropPage.h"
#include "TesselDll_idl.h"
#include "cathelp.h"
#include "platform/propexchange.h"
#include "resource.h"

#include <utility>

IMPLEMENT_DYNCREATE(CTesselDllCtrl, COleControl)

namespace {

// OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INSIDEOUT |
// OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE
const DWORD dwTesselDllOleMisc = 0x20191;

// The control whose window was created last: the parent of the page host being created. Every
// control lives on the thread that made the first one, so no lock.
CTesselDllCtrl *g_pLastCtrlWnd = nullptr;

const COLORREF kBackground = RGB(207, 210, 225);

} // namespace

const char g_szTesselDllCtrlProgID[] = "TESSELDLL.TesselDllCtrl.1";

// The dispatch table is the type library's member list.
#define TESSELDLL_DISPATCH_ENTRY(name, dispid, vtResult, vtsParams)                                \
    DISP_FUNCTION_ID(CTesselDllCtrl, #name, dispid, name, vtResult, vtsParams)

BEGIN_DISPATCH_MAP(CTesselDllCtrl, COleControl)
TESSELDLLLIB_DTESSELDLL_MEMBERS(TESSELDLL_DISPATCH_ENTRY)
END_DISPATCH_MAP()

CTesselDllCtrl::CTesselDllCtrlFactory CTesselDllCtrl::factory;

CTesselDllCtrl::CTesselDllCtrlFactory::CTesselDllCtrlFactory()
    : COleObjectFactory(CLSID_TesselDll, RUNTIME_CLASS(CTesselDllCtrl), FALSE,
                        g_szTesselDllCtrlProgID)
{}

// Categories first, then the class itself; each step only after the previous one succeeded.
BOOL CTesselDllCtrl::CTesselDllCtrlFactory::UpdateRegistry(BOOL bRegister)
{
    if (bRegister) {
        if (FAILED(CreateComponentCategory(CATID_SafeForScripting,
                                           u"Controls that are safely scriptable")))
            return FALSE;
        if (FAILED(RegisterCLSIDInCategory(m_clsid, CATID_SafeForScripting)))
            return FALSE;
        if (FAILED(CreateComponentCategory(CATID_SafeForInitializing,
                                           u"Controls safely initializable from persistent data")))
            return FALSE;
        if (FAILED(RegisterCLSIDInCategory(m_clsid, CATID_SafeForInitializing)))
            return FALSE;
        return AfxOleRegisterControlClass(AfxGetInstanceHandle(), m_clsid, m_lpszProgID,
                                          IDS_TESSELDLL, IDB_TESSELDLL,
                                          afxRegInsertable | afxRegApartmentThreading,
                                          dwTesselDllOleMisc, g_tlid, g_wVerMajor, g_wVerMinor);
    }
    // The category definitions stay: other controls may use them.
    if (FAILED(UnRegisterCLSIDInCategory(m_clsid, CATID_SafeForScripting)))
        return FALSE;
    if (FAILED(UnRegisterCLSIDInCategory(m_clsid, CATID_SafeForInitializing)))
        return FALSE;
    return AfxOleUnregisterClass(m_clsid, m_lpszProgID);
}

CTesselDllCtrl::CTesselDllCtrl() = default;

CTesselDllCtrl::~CTesselDllCtrl()
{
    DestroyPageHost();
    if (g_pLastCtrlWnd == this)
        g_pLastCtrlWnd = nullptr;
}

HRESULT CTesselDllCtrl::GetClassID(LPCLSID pclsid)
{
    if (!pclsid)
        return E_POINTER;
    *pclsid = CLSID_TesselDll;
    return S_OK;
}

DWORD CTesselDllCtrl::GetMiscStatus()
{
    return dwTesselDllOleMisc;
}

const CLSID *CTesselDllCtrl::GetPropPageIDs(ULONG &cPropPages)
{
    static const CLSID pages[] = {CTesselDllPropPage::guid};
    cPropPages = 1;
    return pages;
}

HRESULT CTesselDllCtrl::GetTypeLib(LCID lcid, LPTYPELIB *ppTypeLib)
{
    return AfxGetTypeLibCache(&g_tlid)->Lookup(lcid, g_wVerMajor, g_wVerMinor, ppTypeLib);
}

void CTesselDllCtrl::GetDispatchIID(IID *pIID)
{
    if (pIID)
        *pIID = DIID__DTesselDll;
}

int CTesselDllCtrl::OnCreate(CREATESTRUCTA *cs)
{
    if (COleControl::OnCreate(cs) == -1)
        return -1;
    g_pLastCtrlWnd = this;
    OnActivateInPlace(TRUE, nullptr);
    if (!m_pGISPage)
        m_pGISPage = new CGISPage;
    // A page host made early by AddLinster gets its window here, under this control's.
    if (!m_pGISPage->GetSafeHwnd())
        m_pGISPage->Create(CGISPage::IDD, g_pLastCtrlWnd);
    return 0;
}

void CTesselDllCtrl::OnSize(UINT nType, int cx, int cy)
{
    COleControl::OnSize(nType, cx, cy);
    if (cx > 0 && cy > 0 && m_pGISPage && m_pGISPage->GetSafeHwnd())
        m_pGISPage->MoveWindow(0, 0, cx, cy, TRUE);
}

void CTesselDllCtrl::OnDestroy()
{
    DestroyPageHost();
    if (g_pLastCtrlWnd == this)
        g_pLastCtrlWnd = nullptr;
    COleControl::OnDestroy();
}

// Nothing reaches the host any more, and scripts still queued are dropped.
void CTesselDllCtrl::DestroyPageHost()
{
    if (!m_pGISPage)
        return;
    m_pGISPage->Silence();
    if (m_pGISPage->GetSafeHwnd())
        m_pGISPage->DestroyWindow();
    delete std::exchange(m_pGISPage, nullptr);
}

void CTesselDllCtrl::OnDraw(CDC *pdc, const CRect &rcBounds, const CRect &)
{
    if (!pdc)
        return;
    CBrush brush(kBackground);
    pdc->FillRect(&rcBounds, &brush);
}

void CTesselDllCtrl::DoPropExchange(CPropExchange *pPX)
{
    ExchangeVersion(pPX, MAKELONG(g_wVerMinor, g_wVerMajor));
    COleControl::DoPropExchange(pPX);
}

void CTesselDllCtrl::AboutBox()
{
    CDialog dlgAbout(IDD_ABOUTBOX_TESSELDLL);
    dlgAbout.DoModal();
}

LONG CTesselDllCtrl::CallJavaScritp(LPCTSTR strScript)
{
    if (m_pGISPage)
        m_pGISPage->QueueScript(strScript);
    return 0;
}

// nType, szPostData and szHeader are taken and not used: the page is fetched plainly.
LONG CTesselDllCtrl::init(LPCTSTR strUrl, LONG, LPCTSTR, LPCTSTR)
{
    if (m_pGISPage && m_pGISPage->GetSafeHwnd()) {
        m_pGISPage->NavigateToUrl(strUrl);
        m_pGISPage->ShowWindow(SW_SHOW);
    }
    return 0;
}

LONG CTesselDllCtrl::AddLinster(ULONGLONG lAddress)
{
    if (!m_pGISPage) {
        m_pGISPage = new CGISPage;
        if (GetSafeHwnd())
            m_pGISPage->Create(CGISPage::IDD, this);
    }
    m_pGISPage->SetListener(lAddress);
    return 0;
}
