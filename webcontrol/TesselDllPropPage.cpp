// SPDX-License-Identifier: MIT
#include "TesselDllPropPage.h"

#include "resource.h"

IMPLEMENT_DYNCREATE(CTesselDllPropPage, COlePropertyPage)

const GUID CTesselDllPropPage::guid
    = {0xC0C04AA8, 0xB1A1, 0x43E2, {0x8B, 0x8E, 0xA7, 0xAF, 0x9F, 0x6D, 0x66, 0xDF}};

CTesselDllPropPage::CTesselDllPropPageFactory CTesselDllPropPage::factory;

CTesselDllPropPage::CTesselDllPropPageFactory::CTesselDllPropPageFactory()
    : COleObjectFactory(CTesselDllPropPage::guid, RUNTIME_CLASS(CTesselDllPropPage), FALSE,
                        "TESSELDLL.TesselDllPropPage.1")
{}

// The page is registered under its CLSID only; it has no ProgID key.
BOOL CTesselDllPropPage::CTesselDllPropPageFactory::UpdateRegistry(BOOL bRegister)
{
    if (bRegister)
        return AfxOleRegisterPropertyPageClass(AfxGetInstanceHandle(), m_clsid, IDS_TESSELDLL_PPG);
    return AfxOleUnregisterClass(m_clsid, nullptr);
}

CTesselDllPropPage::CTesselDllPropPage()
    : COlePropertyPage(IDD_PROPPAGE_TESSELDLL, IDS_TESSELDLL_PPG_CAPTION)
{}
