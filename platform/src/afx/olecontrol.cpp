// SPDX-License-Identifier: MIT
#include "platform/olecontrol.h"

IMPLEMENT_DYNAMIC(COleControl, CWnd)
IMPLEMENT_DYNAMIC(COlePropertyPage, CDialog)

COleControl::COleControl()
{
    EnableAutomation();
}

COleControl::~COleControl()
{
    releaseWindowSide();
}

HRESULT COleControl::GetClassID(LPCLSID pclsid)
{
    if (pclsid)
        *pclsid = CLSID_NULL;
    return E_NOTIMPL;
}

DWORD COleControl::GetMiscStatus()
{
    return 0;
}

const CLSID *COleControl::GetPropPageIDs(ULONG &cPropPages)
{
    cPropPages = 0;
    return nullptr;
}

HRESULT COleControl::GetTypeLib(LCID, LPTYPELIB *ppTypeLib)
{
    if (ppTypeLib)
        *ppTypeLib = nullptr;
    return TYPE_E_LIBNOTREGISTERED;
}

void COleControl::GetDispatchIID(IID *pIID)
{
    if (pIID)
        *pIID = IID_NULL;
}

HRESULT COleControl::GetDispatchTypeInfo(LCID lcid, ITypeInfo **ppTInfo)
{
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    IID iid;
    GetDispatchIID(&iid);
    if (IsEqualIID(iid, IID_NULL))
        return DISP_E_BADINDEX;
    platform::ComPtr<ITypeLib> lib;
    const HRESULT hr = GetTypeLib(lcid, lib.put());
    if (FAILED(hr))
        return hr;
    return lib->GetTypeInfoOfGuid(iid, ppTInfo);
}

COlePropertyPage::COlePropertyPage(UINT idDlg, UINT idCaption)
    : CDialog(idDlg, nullptr, nullptr)
    , m_idDlg(idDlg)
    , m_idCaption(idCaption)
{
    EnableAutomation();
}

COlePropertyPage::~COlePropertyPage() = default;
