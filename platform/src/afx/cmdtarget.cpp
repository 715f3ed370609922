// SPDX-License-Identifier: MIT
#include "platform/cmdtarget.h"

#include "platform/objectfactory.h"

#include <QString>

#include <cstdio>

// ---- Run-time classes

const CRuntimeClass CObject::classCObject = {"CObject", nullptr, nullptr};

CObject::~CObject() = default;

const CRuntimeClass *CObject::GetRuntimeClass() const
{
    return &classCObject;
}

bool CObject::IsKindOf(const CRuntimeClass *cls) const
{
    return GetRuntimeClass()->IsDerivedFrom(cls);
}

CObject *CRuntimeClass::CreateObject() const
{
    return m_pfnCreateObject ? m_pfnCreateObject() : nullptr;
}

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass *base) const
{
    for (const CRuntimeClass *c = this; c; c = c->m_pBaseClass)
        if (c == base)
            return true;
    return false;
}

void AfxThrowOleException(SCODE sc)
{
    throw COleException(sc);
}

// ---- Dispatch tables

namespace platform {

void dispatchTableFault(const char *name, const char *what)
{
    // A table that does not match its member functions is a build mistake; stop at load.
    std::fprintf(stderr, "dispatch table entry \"%s\": %s\n", name, what);
    std::abort();
}

DispatchMap::DispatchMap(BaseGetter base, std::initializer_list<DispatchEntry> entries)
    : m_base(base ? &base() : nullptr)
    , m_entries(entries)
{
    // Members without an id of their own are numbered by their position, from 1.
    DISPID position = 0;
    for (DispatchEntry &e : m_entries) {
        ++position;
        if (e.dispid == DISPID_UNKNOWN)
            e.dispid = position;
    }
}

const DispatchEntry *DispatchMap::find(DISPID id) const
{
    for (const DispatchMap *m = this; m; m = m->m_base)
        for (const DispatchEntry &e : m->m_entries)
            if (e.dispid == id)
                return &e;
    return nullptr;
}

const DispatchEntry *DispatchMap::find(const std::u16string &name) const
{
    const QString wanted = QString::fromUtf16(name.data(), static_cast<int>(name.size()));
    for (const DispatchMap *m = this; m; m = m->m_base)
        for (const DispatchEntry &e : m->m_entries)
            if (wanted.compare(QString::fromUtf8(e.name.c_str()), Qt::CaseInsensitive) == 0)
                return &e;
    return nullptr;
}

} // namespace platform

// ---- CCmdTarget

const CRuntimeClass CCmdTarget::classCCmdTarget = {"CCmdTarget", nullptr, RUNTIME_CLASS(CObject)};

const CRuntimeClass *CCmdTarget::GetRuntimeClass() const
{
    return RUNTIME_CLASS(CCmdTarget);
}

CCmdTarget::CCmdTarget()
{
    m_xDispatch.owner = this;
}

CCmdTarget::~CCmdTarget()
{
    if (m_module)
        --m_module->locks;
}

void CCmdTarget::SetOwningModule(platform::ModuleState *module)
{
    if (m_module)
        --m_module->locks;
    m_module = module;
    if (m_module)
        ++m_module->locks;
}

void CCmdTarget::EnableAutomation()
{
    m_automation = true;
}

LPDISPATCH CCmdTarget::GetIDispatch(BOOL bAddRef)
{
    if (!m_automation)
        return nullptr;
    if (bAddRef)
        ExternalAddRef();
    return &m_xDispatch;
}

CCmdTarget *CCmdTarget::FromIDispatch(LPDISPATCH lpDispatch)
{
    if (!lpDispatch)
        return nullptr;
    // Only a dispatch that one of ours handed out carries our table; ask it for itself.
    void *probe = nullptr;
    if (FAILED(lpDispatch->QueryInterface(IID_IDispatch, &probe)) || !probe)
        return nullptr;
    auto *disp = static_cast<IDispatch *>(probe);
    CCmdTarget *found = nullptr;
    if (auto *x = dynamic_cast<XDispatch *>(disp))
        found = x->owner;
    disp->Release();
    return found;
}

ULONG CCmdTarget::ExternalAddRef()
{
    return ++m_dwRef;
}

ULONG CCmdTarget::ExternalRelease()
{
    const ULONG left = --m_dwRef;
    if (left == 0)
        OnFinalRelease();
    return left;
}

HRESULT CCmdTarget::ExternalQueryInterface(REFIID iid, void **ppvObj)
{
    if (!ppvObj)
        return E_POINTER;
    *ppvObj = nullptr;
    LPUNKNOWN unk = GetInterface(iid);
    if (!unk)
        return E_NOINTERFACE;
    ExternalAddRef();
    *ppvObj = unk;
    return S_OK;
}

LPUNKNOWN CCmdTarget::GetInterface(REFIID iid)
{
    if (m_automation && (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IUnknown)))
        return &m_xDispatch;
    return nullptr;
}

void CCmdTarget::OnFinalRelease()
{
    delete this;
}

HRESULT CCmdTarget::GetDispatchTypeInfo(LCID, ITypeInfo **ppTInfo)
{
    if (ppTInfo)
        *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

const platform::DispatchMap *CCmdTarget::GetDispatchMap() const
{
    return &GetThisDispatchMap();
}

const platform::DispatchMap &CCmdTarget::GetThisDispatchMap()
{
    static const platform::DispatchMap map(nullptr, {});
    return map;
}

HRESULT CCmdTarget::DispatchGetIDsOfNames(LPOLESTR *rgszNames, UINT cNames, DISPID *rgDispId)
{
    if (!rgDispId || (cNames && !rgszNames))
        return E_INVALIDARG;
    if (cNames == 0)
        return S_OK;
    for (UINT i = 0; i < cNames; ++i)
        rgDispId[i] = DISPID_UNKNOWN;
    if (!rgszNames[0])
        return DISP_E_UNKNOWNNAME;
    const platform::DispatchEntry *e = GetDispatchMap()->find(std::u16string(rgszNames[0]));
    if (!e)
        return DISP_E_UNKNOWNNAME;
    rgDispId[0] = e->dispid;
    // Further names are parameters of that member, numbered from 0.
    HRESULT hr = S_OK;
    for (UINT i = 1; i < cNames; ++i) {
        const QString wanted = rgszNames[i] ? QString::fromUtf16(rgszNames[i]) : QString();
        for (std::size_t p = 0; p < e->paramNames.size(); ++p)
            if (wanted.compare(QString::fromUtf8(e->paramNames[p].c_str()), Qt::CaseInsensitive)
                == 0)
                rgDispId[i] = static_cast<DISPID>(p);
        if (rgDispId[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT CCmdTarget::DispatchInvoke(DISPID dispIdMember, REFIID riid, WORD wFlags,
                                   DISPPARAMS *pDispParams, VARIANT *pVarResult,
                                   EXCEPINFO *pExcepInfo, UINT *puArgErr)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!pDispParams)
        return E_INVALIDARG;
    const platform::DispatchEntry *e = GetDispatchMap()->find(dispIdMember);
    if (!e)
        return DISP_E_MEMBERNOTFOUND;
    // All members are methods; script engines ask for a method with the get bit set as well.
    if (!(wFlags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))
        || (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
        return DISP_E_MEMBERNOTFOUND;
    if (pDispParams->cNamedArgs > 0)
        return DISP_E_NONAMEDARGS;
    if (pDispParams->cArgs != e->params.size())
        return DISP_E_BADPARAMCOUNT;
    if (pDispParams->cArgs && !pDispParams->rgvarg)
        return E_INVALIDARG;

    const UINT n = pDispParams->cArgs;
    std::vector<VARIANT> args(n);
    for (VARIANT &a : args)
        VariantInit(&a);
    auto clearArgs = [&args] {
        for (VARIANT &a : args)
            VariantClear(&a);
    };
    for (UINT i = 0; i < n; ++i) {
        // rgvarg holds the arguments last first.
        VARIANT &src = pDispParams->rgvarg[n - 1 - i];
        HRESULT hr;
        if (e->params[i] == VT_VARIANT)
            hr = VariantCopyInd(&args[i], &src);
        else
            hr = VariantChangeType(&args[i], &src, 0, e->params[i]);
        if (FAILED(hr)) {
            if (puArgErr)
                *puArgErr = n - 1 - i;
            clearArgs();
            return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
        }
    }
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = S_OK;
    try {
        e->call(this, args.data(), &result);
    } catch (const COleException &ex) {
        hr = ex.m_sc;
        if (pExcepInfo) {
            *pExcepInfo = EXCEPINFO{};
            pExcepInfo->scode = ex.m_sc;
        }
    } catch (const std::bad_alloc &) {
        hr = E_OUTOFMEMORY;
    }
    clearArgs();
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    if (pVarResult) {
        VariantClear(pVarResult);
        *pVarResult = result;
    } else {
        VariantClear(&result);
    }
    return S_OK;
}

// ---- The object's IDispatch: one reference count with the object.

HRESULT CCmdTarget::XDispatch::QueryInterface(REFIID riid, void **ppv)
{
    return owner->ExternalQueryInterface(riid, ppv);
}

ULONG CCmdTarget::XDispatch::AddRef()
{
    return owner->ExternalAddRef();
}

ULONG CCmdTarget::XDispatch::Release()
{
    return owner->ExternalRelease();
}

HRESULT CCmdTarget::XDispatch::GetTypeInfoCount(UINT *pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    platform::ComPtr<ITypeInfo> info;
    *pctinfo = SUCCEEDED(owner->GetDispatchTypeInfo(LOCALE_USER_DEFAULT, info.put())) ? 1 : 0;
    return S_OK;
}

HRESULT CCmdTarget::XDispatch::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo **pp)
{
    if (!pp)
        return E_POINTER;
    *pp = nullptr;
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    return owner->GetDispatchTypeInfo(lcid, pp);
}

HRESULT CCmdTarget::XDispatch::GetIDsOfNames(REFIID riid, LPOLESTR *rgszNames, UINT cNames, LCID,
                                             DISPID *rgDispId)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    return owner->DispatchGetIDsOfNames(rgszNames, cNames, rgDispId);
}

HRESULT CCmdTarget::XDispatch::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                                      DISPPARAMS *pDispParams, VARIANT *pVarResult,
                                      EXCEPINFO *pExcepInfo, UINT *puArgErr)
{
    // The object must outlive its own call, even if the member releases the last reference.
    owner->ExternalAddRef();
    CCmdTarget *self = owner;
    const HRESULT hr = self->DispatchInvoke(dispIdMember, riid, wFlags, pDispParams, pVarResult,
                                            pExcepInfo, puArgErr);
    self->ExternalRelease();
    return hr;
}
