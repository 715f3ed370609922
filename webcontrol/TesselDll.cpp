// SPDX-License-Identifier: MIT
#include "TesselDll.h"

#include "TesselDll_idl.h"

CTesselDllApp theApp;

const GUID g_tlid = LIBID_TesselDllLib;
const WORD g_wVerMajor = TESSELDLLLIB_VERSION_MAJOR;
const WORD g_wVerMinor = TESSELDLLLIB_VERSION_MINOR;

BOOL CTesselDllApp::InitInstance()
{
    return COleControlModule::InitInstance();
}

int CTesselDllApp::ExitInstance()
{
    return COleControlModule::ExitInstance();
}

// Adds the type library and both classes to the registry.
STDAPI DllRegisterServer()
{
    if (!AfxOleRegisterTypeLib(AfxGetInstanceHandle(), g_tlid))
        return SELFREG_E_TYPELIB;
    if (!COleObjectFactory::UpdateRegistryAll(TRUE))
        return SELFREG_E_CLASS;
    return NOERROR;
}

// Removes them again.
STDAPI DllUnregisterServer()
{
    if (!AfxOleUnregisterTypeLib(g_tlid, g_wVerMajor, g_wVerMinor))
        return SELFREG_E_TYPELIB;
    if (!COleObjectFactory::UpdateRegistryAll(FALSE))
        return SELFREG_E_CLASS;
    return NOERROR;
}
