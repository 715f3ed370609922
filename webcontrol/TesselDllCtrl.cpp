// SPDX-License-Identifier: MIT
#include "TesselDllCtrl.h"

#include "TesselDll.h"
#include "TesselDllPropPage.h"
#include "TesselDll_idl.h"
#include "cathelp.h"
#include "resource.h"

IMPLEMENT_DYNCREATE(CTesselDllCtrl, COleControl)

namespace {

// OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INSIDEOUT |
// OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE
const DWORD dwTesselDllOleMisc = 0x20191;

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

CTesselDllCtrl::~CTesselDllCtrl() = default;

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

void CTesselDllCtrl::AboutBox()
{
    AfxThrowOleException(E_NOTIMPL);
}

LONG CTesselDllCtrl::CallJavaScritp(LPCTSTR)
{
    AfxThrowOleException(E_NOTIMPL);
}

LONG CTesselDllCtrl::init(LPCTSTR, LONG, LPCTSTR, LPCTSTR)
{
    AfxThrowOleException(E_NOTIMPL);
}

LONG CTesselDllCtrl::AddLinster(ULONGLONG)
{
    AfxThrowOleException(E_NOTIMPL);
}
