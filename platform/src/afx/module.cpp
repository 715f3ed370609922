// SPDX-License-Identifier: MIT
// Linked into every module (control module or program) that has factories: the module's own
// state, its instance handle, and the framework's two exports.
#include "platform/objectfactory.h"

#include <dlfcn.h>

namespace {

platform::ModuleState &state()
{
    static platform::ModuleState s;
    return s;
}

// Runs the application object's ExitInstance when the module goes.
struct ExitAtUnload
{
    ~ExitAtUnload()
    {
        platform::ModuleState &s = state();
        if (s.initialised && s.app)
            s.app->ExitInstance();
    }
} g_exitAtUnload;

} // namespace

platform::ModuleState *AfxGetModuleState()
{
    platform::ModuleState &s = state();
    if (!s.instance) {
        // The module's handle is the address it is loaded at.
        Dl_info info{};
        if (dladdr(reinterpret_cast<void *>(&AfxGetModuleState), &info) && info.dli_fbase)
            s.instance = static_cast<HINSTANCE>(info.dli_fbase);
    }
    return &s;
}

HINSTANCE AfxGetInstanceHandle()
{
    return AfxGetModuleState()->instance;
}

HINSTANCE AfxGetResourceHandle()
{
    return AfxGetInstanceHandle();
}

CWinApp *AfxGetApp()
{
    return AfxGetModuleState()->app;
}

void AfxOleLockApp()
{
    ++AfxGetModuleState()->locks;
}

void AfxOleUnlockApp()
{
    --AfxGetModuleState()->locks;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv)
{
    return AfxDllGetClassObject(AfxGetModuleState(), rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return AfxDllCanUnloadNow(AfxGetModuleState());
}
