// SPDX-License-Identifier: MIT
#include "platform/olesite.h"

#include "platform/creation.h"
#include "platform/objectfactory.h"
#include "webbrowser.h"

#include <algorithm>
#include <cstring>

IMPLEMENT_DYNAMIC(COleControlContainer, CCmdTarget)
IMPLEMENT_DYNAMIC(COleControlSite, CCmdTarget)

using platform::ComPtr;

namespace platform {

HRESULT createObject(REFCLSID clsid, REFIID iid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    // The platform's own browser needs no trip through the registry.
    if (IsEqualCLSID(clsid, CLSID_WebBrowser))
        return createWebBrowser(iid, ppv);
    for (ModuleState *module : rememberedModules()) {
        ComPtr<IClassFactory> factory;
        if (SUCCEEDED(AfxDllGetClassObject(module, clsid, IID_IClassFactory, factory.putVoid())))
            return factory->CreateInstance(nullptr, iid, ppv);
    }
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, ppv);
}

bool clsidFromProgId(const char *progId, CLSID *clsid)
{
    if (!progId || !clsid)
        return false;
    if (progId[0] == '{')
        return guidFromString(progId, clsid);
    if (std::strcmp(progId, "Shell.Explorer.2") == 0
        || std::strcmp(progId, "Shell.Explorer") == 0) {
        *clsid = CLSID_WebBrowser;
        return true;
    }
    for (ModuleState *module : rememberedModules()) {
        for (COleObjectFactory *f = module->factories; f; f = f->m_pNextFactory) {
            if (f->GetProgID() && std::strcmp(f->GetProgID(), progId) == 0) {
                *clsid = f->GetClassID();
                return true;
            }
        }
    }
    const std::u16string wide = toUtf16(progId, CP_UTF8);
    return SUCCEEDED(CLSIDFromProgID(wide.c_str(), clsid));
}

} // namespace platform

// ---- Container

COleControlContainer::COleControlContainer(CWnd *wnd)
    : m_pWnd(wnd)
{}

COleControlContainer::~COleControlContainer()
{
    DestroyAll();
}

COleControlSite *COleControlContainer::CreateControl(REFCLSID clsid, DWORD style, const RECT &rect,
                                                     UINT id)
{
    COleControlSite *site = nullptr;
    if (!m_pWnd->CreateControlSite(this, &site, id, clsid) && !site)
        site = new COleControlSite(this);
    if (!site)
        return nullptr;
    m_sites.push_back(site);
    if (FAILED(site->CreateControl(clsid, style, rect, id))) {
        DestroyControl(site);
        return nullptr;
    }
    return site;
}

COleControlSite *COleControlContainer::FindItem(UINT id) const
{
    for (COleControlSite *s : m_sites)
        if (s->m_nID == id)
            return s;
    return nullptr;
}

void COleControlContainer::DestroyControl(COleControlSite *site)
{
    auto it = std::find(m_sites.begin(), m_sites.end(), site);
    if (it == m_sites.end())
        return;
    m_sites.erase(it);
    site->DestroyControl();
    site->ExternalRelease();
}

void COleControlContainer::DestroyAll()
{
    while (!m_sites.empty())
        DestroyControl(m_sites.back());
}

// ---- Site

BEGIN_INTERFACE_MAP(COleControlSite, CCmdTarget)
INTERFACE_PART(COleControlSite, IID_IUnknown, OleClientSite)
INTERFACE_PART(COleControlSite, IID_IOleClientSite, OleClientSite)
INTERFACE_PART(COleControlSite, IID_IOleWindow, OleInPlaceSite)
INTERFACE_PART(COleControlSite, IID_IOleInPlaceSite, OleInPlaceSite)
INTERFACE_PART(COleControlSite, IID_IDispatch, AmbientProps)
END_INTERFACE_MAP()

IMPLEMENT_NESTED_IUNKNOWN(COleControlSite, OleClientSite)
IMPLEMENT_NESTED_IUNKNOWN(COleControlSite, OleInPlaceSite)
IMPLEMENT_NESTED_IUNKNOWN(COleControlSite, AmbientProps)

COleControlSite::COleControlSite(COleControlContainer *container)
    : m_pCtrlCont(container)
{}

COleControlSite::~COleControlSite()
{
    releaseControl();
}

HRESULT COleControlSite::CreateControl(REFCLSID clsid, DWORD style, const RECT &rect, UINT id)
{
    m_nID = id;
    m_rect = rect;
    ComPtr<IOleObject> object;
    HRESULT hr = platform::createObject(clsid, IID_IOleObject, object.putVoid());
    if (FAILED(hr))
        return hr;
    m_pObject = object.detach();
    hr = m_pObject->SetClientSite(&m_xOleClientSite);
    if (FAILED(hr))
        return hr;
    hr = m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &m_xOleClientSite, 0,
                           m_pCtrlCont->m_pWnd->m_hWnd, &m_rect);
    if (FAILED(hr))
        return hr;
    if (!m_pInPlaceObject)
        m_pObject->QueryInterface(IID_IOleInPlaceObject,
                                  reinterpret_cast<void **>(&m_pInPlaceObject));
    if (m_pInPlaceObject)
        m_pInPlaceObject->GetWindow(&m_hWnd);
    if (m_hWnd) {
        SetWindowLongPtrA(m_hWnd, GWLP_ID, LONG_PTR(id));
        if (style & WS_VISIBLE)
            ::ShowWindow(m_hWnd, SW_SHOW);
    }
    return S_OK;
}

void COleControlSite::MoveWindow(const RECT &rect)
{
    m_rect = rect;
    if (m_pInPlaceObject)
        m_pInPlaceObject->SetObjectRects(&m_rect, &m_rect);
}

void COleControlSite::ShowWindow(int cmdShow)
{
    if (m_hWnd)
        ::ShowWindow(m_hWnd, cmdShow);
}

void COleControlSite::DestroyControl()
{
    // Keep the site alive while the control lets go of it.
    ExternalAddRef();
    releaseControl();
    ExternalRelease();
}

void COleControlSite::releaseControl()
{
    if (m_pInPlaceObject)
        m_pInPlaceObject->InPlaceDeactivate();
    if (m_pObject) {
        m_pObject->Close(OLECLOSE_NOSAVE);
        m_pObject->SetClientSite(nullptr);
    }
    if (IOleInPlaceObject *p = std::exchange(m_pInPlaceObject, nullptr))
        p->Release();
    if (IOleObject *p = std::exchange(m_pObject, nullptr))
        p->Release();
    m_hWnd = nullptr;
}

HRESULT COleControlSite::XOleClientSite::SaveObject()
{
    return E_NOTIMPL;
}

HRESULT COleControlSite::XOleClientSite::ShowObject()
{
    return S_OK;
}

HRESULT COleControlSite::XOleClientSite::OnShowWindow(BOOL)
{
    return S_OK;
}

HRESULT COleControlSite::XOleInPlaceSite::GetWindow(HWND *phwnd)
{
    METHOD_PROLOGUE(COleControlSite, OleInPlaceSite)
    if (!phwnd)
        return E_POINTER;
    *phwnd = pThis->m_pCtrlCont->m_pWnd->m_hWnd;
    return *phwnd ? S_OK : E_FAIL;
}

HRESULT COleControlSite::XOleInPlaceSite::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

HRESULT COleControlSite::XOleInPlaceSite::CanInPlaceActivate()
{
    return S_OK;
}

HRESULT COleControlSite::XOleInPlaceSite::OnInPlaceActivate()
{
    METHOD_PROLOGUE(COleControlSite, OleInPlaceSite)
    pThis->m_inPlaceActive = true;
    if (!pThis->m_pInPlaceObject && pThis->m_pObject)
        pThis->m_pObject->QueryInterface(IID_IOleInPlaceObject,
                                         reinterpret_cast<void **>(&pThis->m_pInPlaceObject));
    return S_OK;
}

HRESULT COleControlSite::XOleInPlaceSite::OnUIActivate()
{
    METHOD_PROLOGUE(COleControlSite, OleInPlaceSite)
    pThis->m_uiActive = true;
    return S_OK;
}

HRESULT COleControlSite::XOleInPlaceSite::GetWindowContext(LPRECT pos, LPRECT clip)
{
    METHOD_PROLOGUE(COleControlSite, OleInPlaceSite)
    if (!pos || !clip)
        return E_POINTER;
    *pos = pThis->m_rect;
    *clip = pThis->m_rect;
    return S_OK;
}

HRESULT COleControlSite::XOleInPlaceSite::OnUIDeactivate(BOOL)
{
    METHOD_PROLOGUE(COleControlSite, OleInPlaceSite)
    pThis->m_uiActive = false;
    return S_OK;
}

HRESULT COleControlSite::XOleInPlaceSite::OnInPlaceDeactivate()
{
    METHOD_PROLOGUE(COleControlSite, OleInPlaceSite)
    pThis->m_inPlaceActive = false;
    pThis->m_hWnd = nullptr;
    return S_OK;
}

HRESULT COleControlSite::XOleInPlaceSite::OnPosRectChange(LPCRECT pos)
{
    METHOD_PROLOGUE(COleControlSite, OleInPlaceSite)
    if (!pos)
        return E_POINTER;
    pThis->MoveWindow(*pos);
    return S_OK;
}

IMPLEMENT_NO_TYPE_INFO(COleControlSite, AmbientProps)

HRESULT COleControlSite::XAmbientProps::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *,
                                               VARIANT *result, EXCEPINFO *, UINT *)
{
    METHOD_PROLOGUE(COleControlSite, AmbientProps)
    if (!(flags & DISPATCH_PROPERTYGET))
        return DISP_E_MEMBERNOTFOUND;
    VARIANT v;
    VariantInit(&v);
    if (!pThis->m_pCtrlCont->m_pWnd->OnAmbientProperty(pThis, id, &v)) {
        VariantClear(&v);
        return DISP_E_MEMBERNOTFOUND;
    }
    if (result) {
        VariantClear(result);
        *result = v;
    } else {
        VariantClear(&v);
    }
    return S_OK;
}

// ---- The container helper

namespace platform {

namespace {
// The host's window as seen by the framework: an object over a handle it did not make.
class HostWnd : public CWnd
{
public:
    explicit HostWnd(HWND h) { attach(h); }
    ~HostWnd() override
    {
        if (m_pCtrlCont) {
            m_pCtrlCont->DestroyAll();
            m_pCtrlCont->ExternalRelease();
            m_pCtrlCont = nullptr;
        }
        detach();
    }
};
} // namespace

struct AxHost::Holder
{
    HostWnd *wnd = nullptr;
    COleControlSite *site = nullptr;
};

AxHost::AxHost()
    : d(new Holder)
{}

AxHost::~AxHost()
{
    Destroy();
    delete d;
}

HRESULT AxHost::Create(const char *progIdOrClsid, HWND parent, const RECT &rect,
                       ModuleState *module)
{
    rememberModule(module);
    if (d->site)
        return E_UNEXPECTED;
    if (!IsWindow(parent))
        return E_INVALIDARG;
    CLSID clsid;
    if (!clsidFromProgId(progIdOrClsid, &clsid))
        return CO_E_CLASSSTRING;
    // A window the framework already knows keeps its own object; a bare one gets a stand-in.
    CWnd *wnd = CWnd::FromHandlePermanent(parent);
    if (!wnd) {
        d->wnd = new HostWnd(parent);
        wnd = d->wnd;
    }
    wnd->EnableControlContainer();
    d->site = wnd->m_pCtrlCont->CreateControl(clsid, WS_VISIBLE, rect, 0);
    if (!d->site) {
        Destroy();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT AxHost::QueryControl(REFIID iid, void **ppv) const
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!d->site || !d->site->m_pObject)
        return E_UNEXPECTED;
    return d->site->m_pObject->QueryInterface(iid, ppv);
}

void AxHost::Resize(const RECT &rect)
{
    if (d->site)
        d->site->MoveWindow(rect);
}

void AxHost::Destroy()
{
    if (d->site) {
        d->site->m_pCtrlCont->DestroyControl(d->site);
        d->site = nullptr;
    }
    if (d->wnd) {
        d->wnd->ExternalRelease();
        d->wnd = nullptr;
    }
}

HWND AxHost::ControlWindow() const
{
    return d->site ? d->site->m_hWnd : nullptr;
}

COleControlSite *AxHost::Site() const
{
    return d->site;
}

} // namespace platform
