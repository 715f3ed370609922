// SPDX-License-Identifier: MIT
// The framework's object base: run-time classes, reference counting, interface lookup, and
// automation (an IDispatch driven by a dispatch table of member functions).
#pragma once

#include "afx_global.h"
#include "automation.h"

#include <atomic>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

class CObject;
class CCmdTarget;

// ---- Run-time classes: a name and a way to create an object of the class.
struct PLATFORM_AFX_EXPORT CRuntimeClass
{
    const char *m_lpszClassName;
    CObject *(*m_pfnCreateObject)();
    const CRuntimeClass *m_pBaseClass;

    // A new object of the class, or nullptr when the class cannot be created by name.
    CObject *CreateObject() const;
    bool IsDerivedFrom(const CRuntimeClass *base) const;
};

class PLATFORM_AFX_EXPORT CObject
{
public:
    virtual ~CObject();
    virtual const CRuntimeClass *GetRuntimeClass() const;
    bool IsKindOf(const CRuntimeClass *cls) const;
    static const CRuntimeClass classCObject;

protected:
    CObject() = default;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)                                                                \
public:                                                                                            \
    static const CRuntimeClass class##class_name;                                                  \
    const CRuntimeClass *GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name)                                                              \
    DECLARE_DYNAMIC(class_name)                                                                    \
    static CObject *CreateObject();

#define IMPLEMENT_RUNTIMECLASS_(class_name, base_name, creator)                                    \
    const CRuntimeClass class_name::class##class_name                                              \
        = {#class_name, creator, RUNTIME_CLASS(base_name)};                                        \
    const CRuntimeClass *class_name::GetRuntimeClass() const                                       \
    {                                                                                              \
        return RUNTIME_CLASS(class_name);                                                          \
    }

#define IMPLEMENT_DYNAMIC(class_name, base_name)                                                   \
    IMPLEMENT_RUNTIMECLASS_(class_name, base_name, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_name)                                                 \
    CObject *class_name::CreateObject()                                                            \
    {                                                                                              \
        return new class_name;                                                                     \
    }                                                                                              \
    IMPLEMENT_RUNTIMECLASS_(class_name, base_name, class_name::CreateObject)

// ---- Errors a dispatch member reports to its caller: throw, and Invoke answers the code.
class PLATFORM_AFX_EXPORT COleException
{
public:
    explicit COleException(SCODE sc)
        : m_sc(sc)
    {}
    SCODE m_sc;
};
[[noreturn]] PLATFORM_AFX_EXPORT void AfxThrowOleException(SCODE sc);

// ---- Dispatch tables
// Parameter lists are strings of type codes, written as a sequence of these.
#define VTS_NONE ""
#define VTS_I2 "\x02"
#define VTS_I4 "\x03"
#define VTS_R8 "\x05"
#define VTS_BSTR "\x08"
#define VTS_DISPATCH "\x09"
#define VTS_BOOL "\x0B"
#define VTS_VARIANT "\x0C"
#define VTS_UNKNOWN "\x0D"
#define VTS_UI4 "\x13"
#define VTS_I8 "\x14"
#define VTS_UI8 "\x15"

namespace platform {

struct PLATFORM_AFX_EXPORT DispatchEntry
{
    // Arguments arrive converted to params' types, first argument first.
    using Call = std::function<void(CCmdTarget *, VARIANT *args, VARIANT *result)>;

    std::string name;
    DISPID dispid = DISPID_UNKNOWN; // DISPID_UNKNOWN: numbered by position in its table
    VARTYPE vtResult = VT_EMPTY;    // VT_EMPTY: no result
    std::vector<VARTYPE> params;
    std::vector<std::string> paramNames; // optional, for GetIDsOfNames
    Call call;
};

class PLATFORM_AFX_EXPORT DispatchMap
{
public:
    using BaseGetter = const DispatchMap &(*)();
    DispatchMap(BaseGetter base, std::initializer_list<DispatchEntry> entries);

    // Searches this table, then the base tables; nullptr when absent.
    const DispatchEntry *find(DISPID id) const;
    // Names compare without regard to case.
    const DispatchEntry *find(const std::u16string &name) const;
    const std::vector<DispatchEntry> &entries() const { return m_entries; }
    const DispatchMap *base() const { return m_base; }

private:
    const DispatchMap *m_base;
    std::vector<DispatchEntry> m_entries;
};

// How a C++ parameter or result type travels in a VARIANT.
template <class T>
struct DispType;
template <>
struct DispType<LONG>
{
    static bool accepts(VARTYPE vt) { return vt == VT_I4 || vt == VT_BOOL; }
    struct Holder
    {
        LONG v;
        explicit Holder(const VARIANT &x)
            : v(x.vt == VT_BOOL ? (x.boolVal ? TRUE : FALSE) : x.lVal)
        {}
        LONG get() const { return v; }
    };
    static void put(LONG v, VARTYPE vt, VARIANT *out)
    {
        out->vt = vt;
        if (vt == VT_BOOL)
            out->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
        else
            out->lVal = v;
    }
};
// Plain numbers travel as one VARIANT member of one type.
template <class T, VARTYPE Vt, T VARIANT::*Member>
struct ScalarDispType
{
    static bool accepts(VARTYPE vt) { return vt == Vt; }
    struct Holder
    {
        T v;
        explicit Holder(const VARIANT &x)
            : v(x.*Member)
        {}
        T get() const { return v; }
    };
    static void put(T v, VARTYPE vt, VARIANT *out)
    {
        out->vt = vt;
        out->*Member = v;
    }
};
template <>
struct DispType<SHORT> : ScalarDispType<SHORT, VT_I2, &VARIANT::iVal>
{};
template <>
struct DispType<ULONG> : ScalarDispType<ULONG, VT_UI4, &VARIANT::ulVal>
{};
template <>
struct DispType<LONGLONG> : ScalarDispType<LONGLONG, VT_I8, &VARIANT::llVal>
{};
template <>
struct DispType<ULONGLONG> : ScalarDispType<ULONGLONG, VT_UI8, &VARIANT::ullVal>
{};
template <>
struct DispType<DOUBLE> : ScalarDispType<DOUBLE, VT_R8, &VARIANT::dblVal>
{};
// Narrow-character build: strings reach members in the ANSI code page, alive for the call.
template <>
struct DispType<const char *>
{
    static bool accepts(VARTYPE vt) { return vt == VT_BSTR; }
    struct Holder
    {
        std::string v;
        explicit Holder(const VARIANT &x)
            : v(fromUtf16(bstrText(x.bstrVal), CP_ACP))
        {}
        const char *get() const { return v.c_str(); }
    };
};
template <>
struct DispType<BSTR>
{
    static bool accepts(VARTYPE vt) { return vt == VT_BSTR; }
    struct Holder
    {
        BSTR v;
        explicit Holder(const VARIANT &x)
            : v(x.bstrVal)
        {}
        BSTR get() const { return v; }
    };
    // Takes over the string.
    static void put(BSTR v, VARTYPE vt, VARIANT *out)
    {
        out->vt = vt;
        out->bstrVal = v;
    }
};
template <>
struct DispType<IDispatch *>
{
    static bool accepts(VARTYPE vt) { return vt == VT_DISPATCH; }
    struct Holder
    {
        IDispatch *v;
        explicit Holder(const VARIANT &x)
            : v(x.pdispVal)
        {}
        IDispatch *get() const { return v; }
    };
    // Takes over the reference.
    static void put(IDispatch *v, VARTYPE vt, VARIANT *out)
    {
        out->vt = vt;
        out->pdispVal = v;
    }
};
template <>
struct DispType<VARIANT *>
{
    static bool accepts(VARTYPE vt) { return vt == VT_VARIANT; }
    struct Holder
    {
        VARIANT *v;
        explicit Holder(VARIANT &x)
            : v(&x)
        {}
        VARIANT *get() const { return v; }
    };
};
template <>
struct DispType<const VARIANT *> : DispType<VARIANT *>
{};

[[noreturn]] PLATFORM_AFX_EXPORT void dispatchTableFault(const char *name, const char *what);

template <class T, class R, class... A, std::size_t... I>
void callMember(T *obj, R (T::*pmf)(A...), VARIANT *args, VARIANT *result, VARTYPE vtResult,
                std::index_sequence<I...>)
{
    std::tuple<typename DispType<std::decay_t<A>>::Holder...> holders{args[I]...};
    (void)holders;
    if constexpr (std::is_void_v<R>) {
        (obj->*pmf)(std::get<I>(holders).get()...);
        (void)result;
        (void)vtResult;
    } else {
        R value = (obj->*pmf)(std::get<I>(holders).get()...);
        if (result)
            DispType<std::decay_t<R>>::put(value, vtResult, result);
    }
}

// One member function as a dispatch entry; the C++ signature must match vtResult and vts.
template <class T, class R, class... A>
DispatchEntry dispMethod(const char *name, DISPID id, R (T::*pmf)(A...), VARTYPE vtResult,
                         const char *vts)
{
    DispatchEntry e;
    e.name = name;
    e.dispid = id;
    e.vtResult = vtResult;
    for (const char *p = vts; *p; ++p)
        e.params.push_back(static_cast<VARTYPE>(static_cast<unsigned char>(*p)));
    if (e.params.size() != sizeof...(A))
        dispatchTableFault(name, "parameter count differs from the member function");
    if constexpr (std::is_void_v<R>) {
        if (vtResult != VT_EMPTY)
            dispatchTableFault(name, "a result type for a function without a result");
    } else {
        if (!DispType<std::decay_t<R>>::accepts(vtResult))
            dispatchTableFault(name, "result type differs from the member function");
    }
    std::size_t i = 0;
    const bool ok = (... && DispType<std::decay_t<A>>::accepts(e.params[i++]));
    (void)i;
    if (!ok)
        dispatchTableFault(name, "parameter type differs from the member function");
    e.call = [pmf, vtResult](CCmdTarget *self, VARIANT *args, VARIANT *result) {
        callMember(static_cast<T *>(self), pmf, args, result, vtResult,
                   std::index_sequence_for<A...>{});
    };
    return e;
}

// The same, with the parameter names a host may ask for.
inline DispatchEntry withParamNames(DispatchEntry e, std::vector<std::string> names)
{
    e.paramNames = std::move(names);
    return e;
}

struct ModuleState;

} // namespace platform

#define DECLARE_DISPATCH_MAP()                                                                     \
public:                                                                                            \
    static const platform::DispatchMap &GetThisDispatchMap();                                      \
    const platform::DispatchMap *GetDispatchMap() const override;

#define BEGIN_DISPATCH_MAP(theClass, baseClass)                                                    \
    const platform::DispatchMap *theClass::GetDispatchMap() const                                  \
    {                                                                                              \
        return &GetThisDispatchMap();                                                              \
    }                                                                                              \
    const platform::DispatchMap &theClass::GetThisDispatchMap()                                    \
    {                                                                                              \
        static const platform::DispatchMap map(&baseClass::GetThisDispatchMap, {

#define DISP_FUNCTION(theClass, szExternalName, pfnMember, vtRetVal, vtsParams)                    \
    platform::dispMethod(szExternalName, DISPID_UNKNOWN, &theClass::pfnMember, vtRetVal, vtsParams),

#define DISP_FUNCTION_ID(theClass, szExternalName, dispid, pfnMember, vtRetVal, vtsParams)         \
    platform::dispMethod(szExternalName, dispid, &theClass::pfnMember, vtRetVal, vtsParams),

#define END_DISPATCH_MAP()                                                                         \
    });                                                                                            \
    return map;                                                                                    \
    }

class PLATFORM_AFX_EXPORT CCmdTarget : public CObject
{
    DECLARE_DYNAMIC(CCmdTarget)
public:
    CCmdTarget();
    ~CCmdTarget() override;
    CCmdTarget(const CCmdTarget &) = delete;
    CCmdTarget &operator=(const CCmdTarget &) = delete;

    // Makes the object answer IID_IDispatch through its dispatch table.
    void EnableAutomation();
    bool IsAutomationEnabled() const { return m_automation; }
    // The object's own IDispatch (nullptr without automation), with a reference added on request.
    LPDISPATCH GetIDispatch(BOOL bAddRef);
    // The object behind a dispatch that GetIDispatch handed out, else nullptr.
    static CCmdTarget *FromIDispatch(LPDISPATCH lpDispatch);

    // Reference counting of the object as a whole. The count starts at 1 (the creator's); the
    // release of the last reference calls OnFinalRelease and returns 0.
    ULONG ExternalAddRef();
    ULONG ExternalRelease();
    HRESULT ExternalQueryInterface(REFIID iid, void **ppvObj);
    ULONG GetRefCount() const { return m_dwRef.load(); }

    // Interfaces the object offers, without a reference added; nullptr when not offered.
    // Subclasses answer theirs and pass everything else to their base.
    virtual LPUNKNOWN GetInterface(REFIID iid);
    // Deletes the object; called when the last reference goes.
    virtual void OnFinalRelease();

    // Type information behind IDispatch::GetTypeInfo; none by default.
    virtual HRESULT GetDispatchTypeInfo(LCID lcid, ITypeInfo **ppTInfo);
    virtual const platform::DispatchMap *GetDispatchMap() const;
    static const platform::DispatchMap &GetThisDispatchMap();

    // The module that created the object counts it until the object goes (set by its factory).
    void SetOwningModule(platform::ModuleState *module);

    // The IDispatch calls, for subclasses that wrap them.
    HRESULT DispatchGetIDsOfNames(LPOLESTR *rgszNames, UINT cNames, DISPID *rgDispId);
    HRESULT DispatchInvoke(DISPID dispIdMember, REFIID riid, WORD wFlags, DISPPARAMS *pDispParams,
                           VARIANT *pVarResult, EXCEPINFO *pExcepInfo, UINT *puArgErr);

private:
    struct XDispatch final : IDispatch
    {
        CCmdTarget *owner;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
        HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *pctinfo) override;
        HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo **pp) override;
        HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *rgszNames, UINT cNames,
                                                LCID lcid, DISPID *rgDispId) override;
        HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                         DISPPARAMS *pDispParams, VARIANT *pVarResult,
                                         EXCEPINFO *pExcepInfo, UINT *puArgErr) override;
    } m_xDispatch;

    std::atomic<ULONG> m_dwRef{1};
    bool m_automation = false;
    platform::ModuleState *m_module = nullptr;
};
