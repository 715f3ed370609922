// SPDX-License-Identifier: MIT
// Creating objects by CLSID or ProgID through the class registry: the module named by
// "CLSID\{...}\InprocServer32" is loaded and asked for its class factory; modules go again when
// their DllCanUnloadNow allows (CoFreeUnusedLibraries).
#pragma once

#include "automation.h"

#include <string>

#define CLSCTX_INPROC_SERVER 0x1u
#define CLSCTX_INPROC_HANDLER 0x2u
#define CLSCTX_LOCAL_SERVER 0x4u
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER)

#define COINIT_APARTMENTTHREADED 0x2u

extern "C" {
PLATFORM_EXPORT HRESULT CoInitialize(LPVOID pvReserved);
PLATFORM_EXPORT HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
// The last call on a thread frees the modules that allow it.
PLATFORM_EXPORT void CoUninitialize();
// REGDB_E_CLASSNOTREG when the class has no in-process server, CO_E_DLLNOTFOUND when its module
// cannot be loaded, CO_E_ERRORINDLL when the module has no DllGetClassObject.
PLATFORM_EXPORT HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved,
                                         REFIID riid, LPVOID *ppv);
PLATFORM_EXPORT HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                         REFIID riid, LPVOID *ppv);
// Unloads every module loaded for a class whose DllCanUnloadNow answers S_OK.
PLATFORM_EXPORT void CoFreeUnusedLibraries();
// The braced form, or a ProgID looked up in the registry (CO_E_CLASSSTRING when unknown).
PLATFORM_EXPORT HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
PLATFORM_EXPORT HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
// The ProgID of a class, in memory from CoTaskMemAlloc.
PLATFORM_EXPORT HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR *lplpszProgID);
PLATFORM_EXPORT LPVOID CoTaskMemAlloc(std::size_t cb);
PLATFORM_EXPORT void CoTaskMemFree(LPVOID pv);
}

namespace platform {
// Classes that live in the platform itself (the category manager); asked when the registry has
// no in-process server for a CLSID.
typedef HRESULT (*BuiltinClassFactory)(REFIID riid, LPVOID *ppv);
PLATFORM_EXPORT void registerBuiltinClass(REFCLSID clsid, BuiltinClassFactory factory);
// How many modules are loaded for classes right now (for tests and tools).
PLATFORM_EXPORT std::size_t loadedClassModules();

// Loads an in-process module and calls its DllRegisterServer (DllUnregisterServer when
// unregister is set) inside one registry transaction, so a process that dies half-way leaves the
// registry as it was; a module's own failure keeps what its successful steps wrote. Returns
// CO_E_DLLNOTFOUND when the module cannot be loaded, ERROR_PROC_NOT_FOUND (as HRESULT) when it
// lacks the entry point, the registry's error when the transaction cannot start,
// ERROR_CANTWRITE (as HRESULT) when the commit fails, otherwise the entry point's result. On
// failure *failedStep (when given) names the step, e.g. "loading the module (...)".
PLATFORM_EXPORT HRESULT registerServer(const std::string &path, bool unregister,
                                       std::string *failedStep = nullptr);
} // namespace platform
