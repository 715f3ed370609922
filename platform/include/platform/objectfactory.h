// SPDX-License-Identifier: MIT
// Modules, their application object and their class factories. Each module (a control module,
// or a program) has its own state: its factories, its lock count and its instance handle. The
// state lives in the module itself (the PlatformAfxModule object library), so the functions
// that find it are module-local.
#pragma once

#include "cmdtarget.h"

class COleObjectFactory;
class CWinApp;

namespace platform {

struct PLATFORM_AFX_EXPORT ModuleState
{
    HINSTANCE instance = nullptr;
    CWinApp *app = nullptr;
    COleObjectFactory *factories = nullptr; // linked through m_pNextFactory
    std::atomic<long> locks{0};             // live objects, server locks, handed-out factories
    std::atomic<long> serverLocks{0};       // the LockServer part of locks
    bool initialised = false;
};

} // namespace platform

// The calling module's state and instance handle.
PLATFORM_MODULE_LOCAL platform::ModuleState *AfxGetModuleState();
PLATFORM_MODULE_LOCAL HINSTANCE AfxGetInstanceHandle();
PLATFORM_MODULE_LOCAL HINSTANCE AfxGetResourceHandle();
PLATFORM_MODULE_LOCAL CWinApp *AfxGetApp();
// One more (or one less) reason for the calling module to stay loaded.
PLATFORM_MODULE_LOCAL void AfxOleLockApp();
PLATFORM_MODULE_LOCAL void AfxOleUnlockApp();

class PLATFORM_AFX_EXPORT CWinApp : public CCmdTarget
{
    DECLARE_DYNAMIC(CWinApp)
public:
    explicit CWinApp(const char *appName = nullptr,
                     platform::ModuleState *module = AfxGetModuleState());
    ~CWinApp() override;

    // Called once, before the module's first class object is handed out, and at unload.
    virtual BOOL InitInstance();
    virtual int ExitInstance();

    const char *m_pszAppName;
    HINSTANCE m_hInstance;

protected:
    platform::ModuleState *m_pModuleState;
};

class PLATFORM_AFX_EXPORT COleControlModule : public CWinApp
{
    DECLARE_DYNAMIC(COleControlModule)
public:
    using CWinApp::CWinApp;
};

// A class factory for one class of the module. Static objects of the module; they join the
// module's list when constructed and leave it when destroyed.
class PLATFORM_AFX_EXPORT COleObjectFactory : public CCmdTarget
{
    DECLARE_DYNAMIC(COleObjectFactory)
public:
    COleObjectFactory(REFCLSID clsid, const CRuntimeClass *pRuntimeClass, BOOL bMultiInstance,
                      const char *lpszProgID, platform::ModuleState *module = AfxGetModuleState());
    ~COleObjectFactory() override;

    REFCLSID GetClassID() const { return m_clsid; }
    const char *GetProgID() const { return m_lpszProgID; }
    platform::ModuleState *GetModule() const { return m_pModuleState; }

    // Writes (TRUE) or removes (FALSE) the class's registry entries; TRUE on success. The base
    // has nothing to write and fails, so that a factory that forgot to say what it needs is seen.
    virtual BOOL UpdateRegistry(BOOL bRegister);
    // Asks every factory of the module; FALSE when any failed, after all were asked.
    static BOOL UpdateRegistryAll(BOOL bRegister,
                                  platform::ModuleState *module = AfxGetModuleState());

    // A new object of the class with one reference for the caller, as interface riid.
    virtual HRESULT CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppvObject);
    // The object itself; the base creates the run-time class.
    virtual CCmdTarget *OnCreateObject();

    // The factory's IClassFactory, with a reference for the caller.
    HRESULT QueryClassFactory(REFIID riid, void **ppv);
    void OnFinalRelease() override;

    COleObjectFactory *m_pNextFactory = nullptr;

protected:
    CLSID m_clsid;
    const CRuntimeClass *m_pRuntimeClass;
    BOOL m_bMultiInstance;
    const char *m_lpszProgID;
    platform::ModuleState *m_pModuleState;

private:
    struct XClassFactory final : IClassFactory
    {
        COleObjectFactory *owner;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
        HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override;
        HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;
    } m_xClassFactory;
    std::atomic<ULONG> m_outstanding{0}; // references to m_xClassFactory handed out
};

// The framework's halves of a module's exports, for the module's state.
PLATFORM_AFX_EXPORT HRESULT AfxDllGetClassObject(platform::ModuleState *module, REFCLSID rclsid,
                                                 REFIID riid, LPVOID *ppv);
PLATFORM_AFX_EXPORT HRESULT AfxDllCanUnloadNow(platform::ModuleState *module);

// A module's exports: the framework gives the first two (PlatformAfxModule), the module the rest.
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
