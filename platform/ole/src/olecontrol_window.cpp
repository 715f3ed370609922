// SPDX-License-Identifier: MIT
// The window side of a control: in-place activation in the host's site, its window, drawing,
// persistence through property exchange, the properties verb.
#include "platform/olecontrol.h"
#include "platform/olesite.h"
#include "platform/propexchange.h"

using platform::ComPtr;

// ---- Property exchange

namespace {
const char kVersionName[] = "_Version";

std::u16string wide(LPCSTR s)
{
    return platform::toUtf16(s ? s : "", CP_UTF8);
}
} // namespace

BOOL CPropExchange::ExchangeVersion(DWORD &dwVersionLoaded, DWORD dwVersionDefault, BOOL)
{
    LONG v = LONG(dwVersionDefault);
    if (!ExchangeProp(kVersionName, VT_I4, &v, &v))
        return FALSE;
    m_dwVersion = DWORD(v);
    dwVersionLoaded = m_bLoading ? DWORD(v) : dwVersionDefault;
    return TRUE;
}

CPropBagExchange::CPropBagExchange(IPropertyBag *bag, BOOL loading)
    : m_bag(bag)
{
    m_bLoading = loading;
}

namespace {
void putDefault(VARTYPE vt, void *pv, const void *pvDefault)
{
    if (!pvDefault)
        return;
    switch (vt) {
    case VT_I4:
        *static_cast<LONG *>(pv) = *static_cast<const LONG *>(pvDefault);
        break;
    case VT_BOOL:
        *static_cast<BOOL *>(pv) = *static_cast<const BOOL *>(pvDefault);
        break;
    case VT_BSTR:
        *static_cast<std::string *>(pv) = *static_cast<const std::string *>(pvDefault);
        break;
    default:
        break;
    }
}
} // namespace

BOOL CPropBagExchange::ExchangeProp(LPCSTR name, VARTYPE vt, void *pv, const void *pvDefault)
{
    if (!m_bag || !pv)
        return FALSE;
    std::u16string n = wide(name);
    VARIANT v;
    VariantInit(&v);
    if (!m_bLoading) {
        switch (vt) {
        case VT_I4:
            v.vt = VT_I4;
            v.lVal = *static_cast<LONG *>(pv);
            break;
        case VT_BOOL:
            v.vt = VT_BOOL;
            v.boolVal = *static_cast<BOOL *>(pv) ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_BSTR:
            v.vt = VT_BSTR;
            v.bstrVal = platform::allocBstr(*static_cast<std::string *>(pv));
            break;
        default:
            return FALSE;
        }
        const HRESULT hr = m_bag->Write(n.c_str(), &v);
        VariantClear(&v);
        return SUCCEEDED(hr);
    }
    // A property the bag does not hold takes its default.
    if (FAILED(m_bag->Read(n.c_str(), &v, nullptr)) || FAILED(VariantChangeType(&v, &v, 0, vt))) {
        VariantClear(&v);
        putDefault(vt, pv, pvDefault);
        return TRUE;
    }
    switch (vt) {
    case VT_I4:
        *static_cast<LONG *>(pv) = v.lVal;
        break;
    case VT_BOOL:
        *static_cast<BOOL *>(pv) = v.boolVal ? TRUE : FALSE;
        break;
    case VT_BSTR:
        *static_cast<std::string *>(pv) = platform::fromUtf16(platform::bstrText(v.bstrVal));
        break;
    default:
        break;
    }
    VariantClear(&v);
    return TRUE;
}

BOOL CResetPropExchange::ExchangeProp(LPCSTR, VARTYPE vt, void *pv, const void *pvDefault)
{
    putDefault(vt, pv, pvDefault);
    return TRUE;
}

BOOL PX_Long(CPropExchange *pPX, LPCSTR name, LONG &value, LONG def)
{
    return pPX->ExchangeProp(name, VT_I4, &value, &def);
}

BOOL PX_Bool(CPropExchange *pPX, LPCSTR name, BOOL &value, BOOL def)
{
    return pPX->ExchangeProp(name, VT_BOOL, &value, &def);
}

BOOL PX_String(CPropExchange *pPX, LPCSTR name, std::string &value, const std::string &def)
{
    return pPX->ExchangeProp(name, VT_BSTR, &value, &def);
}

// ---- The control

BEGIN_INTERFACE_MAP(COleControl, CWnd)
INTERFACE_PART(COleControl, IID_IOleObject, OleObject)
INTERFACE_PART(COleControl, IID_IOleWindow, OleInPlaceObject)
INTERFACE_PART(COleControl, IID_IOleInPlaceObject, OleInPlaceObject)
INTERFACE_PART(COleControl, IID_IViewObject, ViewObject)
INTERFACE_PART(COleControl, IID_IPersistPropertyBag, PersistPropertyBag)
END_INTERFACE_MAP()
IMPLEMENT_NESTED_IUNKNOWN(COleControl, OleObject)
IMPLEMENT_NESTED_IUNKNOWN(COleControl, OleInPlaceObject)
IMPLEMENT_NESTED_IUNKNOWN(COleControl, ViewObject)
IMPLEMENT_NESTED_IUNKNOWN(COleControl, PersistPropertyBag)

void COleControl::releaseWindowSide()
{
    deactivate();
    if (IOleInPlaceSite *s = std::exchange(m_pInPlaceSite, nullptr))
        s->Release();
    if (IOleClientSite *s = std::exchange(m_pClientSite, nullptr))
        s->Release();
}

void COleControl::OnDraw(CDC *, const CRect &, const CRect &) {}

void COleControl::DoPropExchange(CPropExchange *) {}

void COleControl::OnResetState()
{
    CResetPropExchange px;
    DoPropExchange(&px);
}

BOOL COleControl::ExchangeVersion(CPropExchange *pPX, DWORD dwVersionDefault, BOOL bConvert)
{
    return pPX->ExchangeVersion(m_dwVersionLoaded, dwVersionDefault, bConvert);
}

int COleControl::OnCreate(CREATESTRUCTA *cs)
{
    return CWnd::OnCreate(cs);
}

void COleControl::OnPaint()
{
    PAINTSTRUCT ps;
    const HDC hdc = BeginPaint(m_hWnd, &ps);
    if (hdc) {
        CDC dc(hdc);
        CRect client;
        GetClientRect(&client);
        OnDraw(&dc, client, CRect(ps.rcPaint));
    }
    EndPaint(m_hWnd, &ps);
}

BOOL COleControl::OnEraseBkgnd(CDC *)
{
    // OnDraw paints the whole control.
    return TRUE;
}

HRESULT COleControl::activate(HWND parent, LPCRECT pos, BOOL uiActivate)
{
    if (!m_bInPlaceActive) {
        if (!m_pInPlaceSite && m_pClientSite)
            m_pClientSite->QueryInterface(IID_IOleInPlaceSite,
                                          reinterpret_cast<void **>(&m_pInPlaceSite));
        if (!m_pInPlaceSite)
            return E_NOINTERFACE;
        if (m_pInPlaceSite->CanInPlaceActivate() != S_OK)
            return E_FAIL;
        CRect r, clip;
        if (pos)
            r = *pos;
        else
            m_pInPlaceSite->GetWindowContext(&r, &clip);
        if (!parent && FAILED(m_pInPlaceSite->GetWindow(&parent)))
            return E_FAIL;
        m_rcPos = r;
        m_bInPlaceActive = TRUE;
        m_pInPlaceSite->OnInPlaceActivate();
        if (!m_hWnd
            && !CreateEx(0, nullptr, "", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, r, parent,
                         0)) {
            // WM_CREATE said no: the activation is undone.
            m_bInPlaceActive = FALSE;
            if (m_pInPlaceSite)
                m_pInPlaceSite->OnInPlaceDeactivate();
            return E_FAIL;
        }
        ShowWindow(SW_SHOW);
    }
    if (uiActivate && !m_bUIActive && m_pInPlaceSite) {
        m_bUIActive = TRUE;
        m_pInPlaceSite->OnUIActivate();
    }
    return S_OK;
}

HRESULT COleControl::OnActivateInPlace(BOOL bUIActivate, LPMSG)
{
    return activate(nullptr, nullptr, bUIActivate);
}

void COleControl::deactivate()
{
    if (m_bUIActive) {
        m_bUIActive = FALSE;
        if (m_pInPlaceSite)
            m_pInPlaceSite->OnUIDeactivate(FALSE);
    }
    if (m_hWnd)
        DestroyWindow();
    if (m_bInPlaceActive) {
        m_bInPlaceActive = FALSE;
        if (m_pInPlaceSite)
            m_pInPlaceSite->OnInPlaceDeactivate();
    }
}

BOOL COleControl::OnProperties(LPMSG, HWND, LPCRECT)
{
    ULONG count = 0;
    const CLSID *pages = GetPropPageIDs(count);
    for (ULONG i = 0; i < count; ++i) {
        ComPtr<IDispatch> disp;
        if (FAILED(platform::createObject(pages[i], IID_IDispatch, disp.putVoid())))
            continue;
        auto *page = dynamic_cast<COlePropertyPage *>(CCmdTarget::FromIDispatch(disp.get()));
        if (!page)
            continue;
        page->m_pParentWnd = this;
        page->DoModal();
    }
    return TRUE;
}

BOOL COleControl::GetAmbientProperty(DISPID dispid, VARTYPE vtProp, void *pvProp)
{
    ComPtr<IDispatch> ambient;
    if (!m_pClientSite || !pvProp
        || FAILED(m_pClientSite->QueryInterface(IID_IDispatch, ambient.putVoid())))
        return FALSE;
    VARIANT v;
    VariantInit(&v);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (FAILED(ambient->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                               &v, nullptr, nullptr))
        || FAILED(VariantChangeType(&v, &v, 0, vtProp))) {
        VariantClear(&v);
        return FALSE;
    }
    switch (vtProp) {
    case VT_I4:
        *static_cast<LONG *>(pvProp) = v.lVal;
        break;
    case VT_BOOL:
        *static_cast<BOOL *>(pvProp) = v.boolVal ? TRUE : FALSE;
        break;
    default:
        VariantClear(&v);
        return FALSE;
    }
    VariantClear(&v);
    return TRUE;
}

BOOL COleControl::AmbientUserMode()
{
    BOOL user = TRUE;
    return GetAmbientProperty(DISPID_AMBIENT_USERMODE, VT_BOOL, &user) ? user : TRUE;
}

HRESULT COleControl::XOleObject::SetClientSite(IOleClientSite *site)
{
    METHOD_PROLOGUE(COleControl, OleObject)
    if (site)
        site->AddRef();
    if (IOleInPlaceSite *s = std::exchange(pThis->m_pInPlaceSite, nullptr))
        s->Release();
    if (IOleClientSite *s = std::exchange(pThis->m_pClientSite, site))
        s->Release();
    return S_OK;
}

HRESULT COleControl::XOleObject::GetClientSite(IOleClientSite **pp)
{
    METHOD_PROLOGUE(COleControl, OleObject)
    if (!pp)
        return E_POINTER;
    *pp = pThis->m_pClientSite;
    if (*pp)
        (*pp)->AddRef();
    return S_OK;
}

HRESULT COleControl::XOleObject::Close(DWORD)
{
    METHOD_PROLOGUE(COleControl, OleObject)
    pThis->deactivate();
    return S_OK;
}

HRESULT COleControl::XOleObject::DoVerb(LONG verb, LPMSG msg, IOleClientSite *, LONG, HWND parent,
                                        LPCRECT pos)
{
    METHOD_PROLOGUE(COleControl, OleObject)
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE:
        return pThis->activate(parent, pos, TRUE);
    case OLEIVERB_INPLACEACTIVATE:
        return pThis->activate(parent, pos, FALSE);
    case OLEIVERB_HIDE:
        if (pThis->m_hWnd)
            pThis->ShowWindow(SW_HIDE);
        return S_OK;
    case OLEIVERB_PROPERTIES:
        return pThis->OnProperties(msg, parent, pos) ? S_OK : E_FAIL;
    default:
        return OLEOBJ_E_INVALIDVERB;
    }
}

HRESULT COleControl::XOleObject::GetUserClassID(CLSID *clsid)
{
    METHOD_PROLOGUE(COleControl, OleObject)
    return pThis->GetClassID(clsid);
}

HRESULT COleControl::XOleObject::GetMiscStatus(DWORD, DWORD *status)
{
    METHOD_PROLOGUE(COleControl, OleObject)
    if (!status)
        return E_POINTER;
    *status = pThis->GetMiscStatus();
    return S_OK;
}

HRESULT COleControl::XOleInPlaceObject::GetWindow(HWND *p)
{
    METHOD_PROLOGUE(COleControl, OleInPlaceObject)
    if (!p)
        return E_POINTER;
    *p = pThis->m_hWnd;
    return *p ? S_OK : E_FAIL;
}

HRESULT COleControl::XOleInPlaceObject::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

HRESULT COleControl::XOleInPlaceObject::InPlaceDeactivate()
{
    METHOD_PROLOGUE(COleControl, OleInPlaceObject)
    pThis->deactivate();
    return S_OK;
}

HRESULT COleControl::XOleInPlaceObject::UIDeactivate()
{
    METHOD_PROLOGUE(COleControl, OleInPlaceObject)
    if (pThis->m_bUIActive) {
        pThis->m_bUIActive = FALSE;
        if (pThis->m_pInPlaceSite)
            pThis->m_pInPlaceSite->OnUIDeactivate(FALSE);
    }
    return S_OK;
}

HRESULT COleControl::XOleInPlaceObject::SetObjectRects(LPCRECT pos, LPCRECT)
{
    METHOD_PROLOGUE(COleControl, OleInPlaceObject)
    if (!pos)
        return E_POINTER;
    pThis->m_rcPos = *pos;
    if (pThis->m_hWnd)
        pThis->MoveWindow(pos);
    return S_OK;
}

HRESULT COleControl::XViewObject::Draw(DWORD aspect, HDC hdc, LPCRECT bounds)
{
    METHOD_PROLOGUE(COleControl, ViewObject)
    if (aspect != DVASPECT_CONTENT)
        return E_INVALIDARG;
    if (!hdc || !bounds)
        return E_INVALIDARG;
    CDC dc(hdc);
    pThis->OnDraw(&dc, CRect(*bounds), CRect(*bounds));
    return S_OK;
}

HRESULT COleControl::XPersistPropertyBag::GetClassID(CLSID *clsid)
{
    METHOD_PROLOGUE(COleControl, PersistPropertyBag)
    return pThis->GetClassID(clsid);
}

HRESULT COleControl::XPersistPropertyBag::InitNew()
{
    METHOD_PROLOGUE(COleControl, PersistPropertyBag)
    pThis->OnResetState();
    return S_OK;
}

HRESULT COleControl::XPersistPropertyBag::Load(IPropertyBag *bag, void *)
{
    METHOD_PROLOGUE(COleControl, PersistPropertyBag)
    if (!bag)
        return E_POINTER;
    CPropBagExchange px(bag, TRUE);
    pThis->DoPropExchange(&px);
    return S_OK;
}

HRESULT COleControl::XPersistPropertyBag::Save(IPropertyBag *bag, BOOL, BOOL)
{
    METHOD_PROLOGUE(COleControl, PersistPropertyBag)
    if (!bag)
        return E_POINTER;
    CPropBagExchange px(bag, FALSE);
    pThis->DoPropExchange(&px);
    return S_OK;
}
