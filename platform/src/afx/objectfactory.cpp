// SPDX-License-Identifier: MIT
#include "platform/objectfactory.h"

#include <new>

IMPLEMENT_DYNAMIC(CWinApp, CCmdTarget)
IMPLEMENT_DYNAMIC(COleControlModule, CWinApp)
IMPLEMENT_DYNAMIC(COleObjectFactory, CCmdTarget)

// ---- CWinApp

CWinApp::CWinApp(const char *appName, platform::ModuleState *module)
    : m_pszAppName(appName)
    , m_hInstance(module ? module->instance : nullptr)
    , m_pModuleState(module)
{
    if (module)
        module->app = this;
}

CWinApp::~CWinApp()
{
    if (m_pModuleState && m_pModuleState->app == this)
        m_pModuleState->app = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

// ---- COleObjectFactory

COleObjectFactory::COleObjectFactory(REFCLSID clsid, const CRuntimeClass *pRuntimeClass,
                                     BOOL bMultiInstance, const char *lpszProgID,
                                     platform::ModuleState *module)
    : m_clsid(clsid)
    , m_pRuntimeClass(pRuntimeClass)
    , m_bMultiInstance(bMultiInstance)
    , m_lpszProgID(lpszProgID)
    , m_pModuleState(module)
{
    m_xClassFactory.owner = this;
    if (module) {
        // Kept in the order of construction, which is the order they are asked in.
        COleObjectFactory **tail = &module->factories;
        while (*tail)
            tail = &(*tail)->m_pNextFactory;
        *tail = this;
    }
}

COleObjectFactory::~COleObjectFactory()
{
    if (!m_pModuleState)
        return;
    for (COleObjectFactory **p = &m_pModuleState->factories; *p; p = &(*p)->m_pNextFactory) {
        if (*p == this) {
            *p = m_pNextFactory;
            break;
        }
    }
}

BOOL COleObjectFactory::UpdateRegistry(BOOL)
{
    return FALSE;
}

BOOL COleObjectFactory::UpdateRegistryAll(BOOL bRegister, platform::ModuleState *module)
{
    BOOL all = TRUE;
    for (COleObjectFactory *f = module ? module->factories : nullptr; f; f = f->m_pNextFactory)
        if (!f->UpdateRegistry(bRegister))
            all = FALSE;
    return all;
}

CCmdTarget *COleObjectFactory::OnCreateObject()
{
    if (!m_pRuntimeClass)
        return nullptr;
    CObject *obj = m_pRuntimeClass->CreateObject();
    if (!obj)
        return nullptr;
    auto *target = dynamic_cast<CCmdTarget *>(obj);
    if (!target)
        delete obj;
    return target;
}

HRESULT COleObjectFactory::CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppvObject)
{
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    CCmdTarget *obj = nullptr;
    try {
        obj = OnCreateObject();
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (const COleException &e) {
        return e.m_sc;
    }
    if (!obj)
        return E_OUTOFMEMORY;
    obj->SetOwningModule(m_pModuleState);
    // The creator's reference goes once the caller holds its own.
    const HRESULT hr = obj->ExternalQueryInterface(riid, ppvObject);
    obj->ExternalRelease();
    return hr;
}

void COleObjectFactory::OnFinalRelease()
{
    // A static object of its module: never deleted.
}

HRESULT COleObjectFactory::QueryClassFactory(REFIID riid, void **ppv)
{
    return m_xClassFactory.QueryInterface(riid, ppv);
}

// The factory's interface has a count of its own: while any is handed out, the module stays.
HRESULT COleObjectFactory::XClassFactory::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IClassFactory) && !IsEqualIID(riid, IID_IUnknown))
        return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IClassFactory *>(this);
    return S_OK;
}

ULONG COleObjectFactory::XClassFactory::AddRef()
{
    const ULONG n = ++owner->m_outstanding;
    if (n == 1 && owner->m_pModuleState)
        ++owner->m_pModuleState->locks;
    return n;
}

ULONG COleObjectFactory::XClassFactory::Release()
{
    ULONG cur = owner->m_outstanding.load();
    while (cur > 0 && !owner->m_outstanding.compare_exchange_weak(cur, cur - 1)) {
    }
    if (cur == 0)
        return 0; // more releases than references: ignored rather than unlocking the module
    if (cur == 1 && owner->m_pModuleState)
        --owner->m_pModuleState->locks;
    return cur - 1;
}

HRESULT COleObjectFactory::XClassFactory::CreateInstance(IUnknown *outer, REFIID riid, void **ppv)
{
    return owner->CreateInstance(outer, riid, ppv);
}

HRESULT COleObjectFactory::XClassFactory::LockServer(BOOL fLock)
{
    platform::ModuleState *m = owner->m_pModuleState;
    if (!m)
        return S_OK;
    if (fLock) {
        ++m->serverLocks;
        ++m->locks;
        return S_OK;
    }
    // An unlock without a lock would let the module go under a live object.
    long cur = m->serverLocks.load();
    while (cur > 0 && !m->serverLocks.compare_exchange_weak(cur, cur - 1)) {
    }
    if (cur <= 0)
        return E_UNEXPECTED;
    --m->locks;
    return S_OK;
}

// ---- The module's exports

HRESULT AfxDllGetClassObject(platform::ModuleState *module, REFCLSID rclsid, REFIID riid,
                             LPVOID *ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!module)
        return CLASS_E_CLASSNOTAVAILABLE;
    if (!module->initialised) {
        module->initialised = true;
        if (module->app && !module->app->InitInstance())
            return E_FAIL;
    }
    for (COleObjectFactory *f = module->factories; f; f = f->m_pNextFactory) {
        if (IsEqualCLSID(f->GetClassID(), rclsid))
            return f->QueryClassFactory(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT AfxDllCanUnloadNow(platform::ModuleState *module)
{
    return module && module->locks.load() > 0 ? S_FALSE : S_OK;
}
