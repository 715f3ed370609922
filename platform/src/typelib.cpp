// SPDX-License-Identifier: MIT
// Type libraries: the binary form, ITypeLib/ITypeInfo over it, and their registration.
#include "platform/typelib.h"

#include "comobject.h"
#include "platform/registry.h"
#include "platform/resources.h"

#include <QString>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>

namespace {

constexpr char kMagic[4] = {'P', 'T', 'L', 'B'};
// The marshaller class of dispatch interfaces, as interface keys name it.
constexpr char kDispatchProxy[] = "{00020420-0000-0000-C000-000000000046}";

// ---- Binary form

class Writer
{
public:
    void u32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    }
    void bytes(const std::string &s)
    {
        u32(static_cast<std::uint32_t>(s.size()));
        out += s;
    }
    void guid(const GUID &g) { out.append(reinterpret_cast<const char *>(&g), sizeof g); }
    std::string out;
};

class Reader
{
public:
    explicit Reader(const std::string &d)
        : data(d)
    {}
    bool u32(std::uint32_t *v)
    {
        if (data.size() - pos < 4)
            return false;
        *v = 0;
        for (int i = 0; i < 4; ++i)
            *v |= std::uint32_t(static_cast<unsigned char>(data[pos + i])) << (8 * i);
        pos += 4;
        return true;
    }
    template <class T>
    bool num(T *v)
    {
        std::uint32_t x;
        if (!u32(&x))
            return false;
        *v = static_cast<T>(x);
        return true;
    }
    bool bytes(std::string *s)
    {
        std::uint32_t n;
        if (!u32(&n) || data.size() - pos < n)
            return false;
        s->assign(data, pos, n);
        pos += n;
        return true;
    }
    bool guid(GUID *g)
    {
        if (data.size() - pos < sizeof *g)
            return false;
        std::memcpy(g, data.data() + pos, sizeof *g);
        pos += sizeof *g;
        return true;
    }
    // A count that cannot exceed what is left (each item takes at least 4 bytes).
    bool count(std::uint32_t *n) { return u32(n) && *n <= (data.size() - pos) / 4; }
    const std::string &data;
    std::size_t pos = 0;
};

std::string toCodePage(const std::string &utf8, UINT cp)
{
    return platform::fromUtf16(platform::toUtf16(utf8, CP_UTF8), cp);
}

std::string fromCodePage(const std::string &bytes, UINT cp)
{
    return platform::fromUtf16(platform::toUtf16(bytes, cp), CP_UTF8);
}

BSTR bstr(const std::string &utf8)
{
    return platform::allocBstr(utf8, CP_UTF8);
}

bool sameName(LPCOLESTR a, const std::string &b)
{
    return a
           && QString::fromUtf16(a).compare(QString::fromUtf8(b.c_str()), Qt::CaseInsensitive) == 0;
}

// ---- ITypeInfo / ITypeLib

class TypeLib;

class TypeInfo final : public platform::ComObject<ITypeInfo>
{
public:
    TypeInfo(TypeLib *lib, UINT index);
    ~TypeInfo() override;

    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR **pp) override;
    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC **pp) override;
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR *names, UINT max, UINT *count) override;
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE *ref) override;
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT *flags) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR *names, UINT count, MEMBERID *ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(void *instance, MEMBERID memid, WORD flags, DISPPARAMS *dp,
                                     VARIANT *result, EXCEPINFO *excep, UINT *argErr) override;
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR *name, BSTR *doc,
                                               DWORD *context, BSTR *helpFile) override;
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE ref, ITypeInfo **pp) override;
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib **pp, UINT *index) override;
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR *p) override { delete p; }
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC *p) override
    {
        if (p)
            delete[] p->lprgelemdescParam;
        delete p;
    }

private:
    const platform::TypeLibType &type() const;
    const platform::TypeLibFunc *func(MEMBERID memid) const;

    TypeLib *m_lib;
    UINT m_index;
};

class TypeLib final : public platform::ComObject<ITypeLib>
{
public:
    explicit TypeLib(platform::TypeLibModel model)
        : ComObject(IID_ITypeLib)
        , m_model(std::move(model))
    {}

    UINT STDMETHODCALLTYPE GetTypeInfoCount() override
    {
        return static_cast<UINT>(m_model.types.size());
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo **pp) override
    {
        if (!pp)
            return E_INVALIDARG;
        *pp = nullptr;
        if (index >= m_model.types.size())
            return TYPE_E_ELEMENTNOTFOUND;
        *pp = new (std::nothrow) TypeInfo(this, index);
        return *pp ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND *kind) override
    {
        if (!kind)
            return E_INVALIDARG;
        if (index >= m_model.types.size())
            return TYPE_E_ELEMENTNOTFOUND;
        *kind = m_model.types[index].kind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo **pp) override
    {
        if (!pp)
            return E_INVALIDARG;
        *pp = nullptr;
        for (std::size_t i = 0; i < m_model.types.size(); ++i)
            if (IsEqualGUID(m_model.types[i].guid, guid))
                return GetTypeInfo(static_cast<UINT>(i), pp);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR **pp) override
    {
        if (!pp)
            return E_INVALIDARG;
        *pp = new (std::nothrow) TLIBATTR{m_model.libid, m_model.lcid,  m_model.syskind,
                                          m_model.major, m_model.minor, m_model.libFlags};
        return *pp ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR *name, BSTR *doc, DWORD *context,
                                               BSTR *helpFile) override
    {
        if (index < -1 || index >= static_cast<INT>(m_model.types.size()))
            return TYPE_E_ELEMENTNOTFOUND;
        const bool self = index == -1;
        if (name)
            *name = bstr(self ? m_model.name : m_model.types[index].name);
        if (doc)
            *doc = bstr(self ? m_model.helpString : m_model.types[index].helpString);
        if (context)
            *context = m_model.helpContext;
        if (helpFile)
            *helpFile = m_model.helpFile.empty() ? nullptr : bstr(m_model.helpFile);
        return S_OK;
    }
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR *p) override { delete p; }

    const platform::TypeLibModel &model() const { return m_model; }

private:
    platform::TypeLibModel m_model;
};

TypeInfo::TypeInfo(TypeLib *lib, UINT index)
    : ComObject(IID_ITypeInfo)
    , m_lib(lib)
    , m_index(index)
{
    m_lib->AddRef();
}

TypeInfo::~TypeInfo()
{
    m_lib->Release();
}

const platform::TypeLibType &TypeInfo::type() const
{
    return m_lib->model().types[m_index];
}

const platform::TypeLibFunc *TypeInfo::func(MEMBERID memid) const
{
    for (const platform::TypeLibFunc &f : type().funcs)
        if (f.dispid == memid)
            return &f;
    return nullptr;
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR **pp)
{
    if (!pp)
        return E_INVALIDARG;
    const platform::TypeLibType &t = type();
    auto *a = new (std::nothrow) TYPEATTR{};
    if (!a)
        return E_OUTOFMEMORY;
    a->guid = t.guid;
    a->lcid = m_lib->model().lcid;
    a->memidConstructor = MEMBERID_NIL;
    a->memidDestructor = MEMBERID_NIL;
    a->typekind = t.kind;
    a->cFuncs = static_cast<WORD>(t.funcs.size());
    a->cImplTypes = static_cast<WORD>(t.impls.size());
    a->cbSizeVft = t.kind == TKIND_DISPATCH ? 7 * sizeof(void *) : 0;
    a->cbAlignment = sizeof(void *);
    a->wTypeFlags = t.flags;
    a->wMajorVerNum = m_lib->model().major;
    a->wMinorVerNum = m_lib->model().minor;
    *pp = a;
    return S_OK;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC **pp)
{
    if (!pp)
        return E_INVALIDARG;
    *pp = nullptr;
    const platform::TypeLibType &t = type();
    if (index >= t.funcs.size())
        return TYPE_E_ELEMENTNOTFOUND;
    const platform::TypeLibFunc &f = t.funcs[index];
    auto *d = new (std::nothrow) FUNCDESC{};
    if (!d)
        return E_OUTOFMEMORY;
    d->memid = f.dispid;
    d->funckind = FUNC_DISPATCH;
    d->invkind = INVOKE_FUNC;
    d->callconv = CC_STDCALL;
    d->cParams = static_cast<SHORT>(f.params.size());
    d->oVft = 0;
    d->elemdescFunc.tdesc.vt = f.vtResult;
    d->lprgelemdescParam
        = f.params.empty() ? nullptr : new (std::nothrow) ELEMDESC[f.params.size()];
    if (!f.params.empty() && !d->lprgelemdescParam) {
        delete d;
        return E_OUTOFMEMORY;
    }
    for (std::size_t i = 0; i < f.params.size(); ++i) {
        d->lprgelemdescParam[i] = ELEMDESC{};
        d->lprgelemdescParam[i].tdesc.vt = f.params[i].vt;
        d->lprgelemdescParam[i].paramdesc.wParamFlags = PARAMFLAG_FIN;
    }
    *pp = d;
    return S_OK;
}

HRESULT TypeInfo::GetNames(MEMBERID memid, BSTR *names, UINT max, UINT *count)
{
    if (!names || !count)
        return E_INVALIDARG;
    *count = 0;
    const platform::TypeLibFunc *f = func(memid);
    if (!f)
        return TYPE_E_ELEMENTNOTFOUND;
    if (max > 0)
        names[(*count)++] = bstr(f->name);
    for (std::size_t i = 0; i < f->params.size() && *count < max; ++i)
        names[(*count)++] = bstr(f->params[i].name);
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE *ref)
{
    if (!ref)
        return E_INVALIDARG;
    const platform::TypeLibType &t = type();
    if (index >= t.impls.size())
        return TYPE_E_ELEMENTNOTFOUND;
    const auto &types = m_lib->model().types;
    for (std::size_t i = 0; i < types.size(); ++i) {
        if (types[i].name == t.impls[index].typeName) {
            *ref = static_cast<HREFTYPE>(i);
            return S_OK;
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT *flags)
{
    if (!flags)
        return E_INVALIDARG;
    if (index >= type().impls.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *flags = type().impls[index].flags;
    return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR *names, UINT count, MEMBERID *ids)
{
    if (!names || !ids)
        return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i)
        ids[i] = MEMBERID_NIL;
    if (count == 0)
        return E_INVALIDARG;
    for (const platform::TypeLibFunc &f : type().funcs) {
        if (!sameName(names[0], f.name))
            continue;
        ids[0] = f.dispid;
        HRESULT hr = S_OK;
        for (UINT i = 1; i < count; ++i) {
            for (std::size_t p = 0; p < f.params.size(); ++p)
                if (sameName(names[i], f.params[p].name))
                    ids[i] = static_cast<MEMBERID>(p);
            if (ids[i] == MEMBERID_NIL)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT TypeInfo::Invoke(void *instance, MEMBERID memid, WORD flags, DISPPARAMS *dp,
                         VARIANT *result, EXCEPINFO *excep, UINT *argErr)
{
    if (!instance || !dp)
        return E_INVALIDARG;
    const platform::TypeLibFunc *f = func(memid);
    if (!f || !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
        return DISP_E_MEMBERNOTFOUND;
    if (dp->cArgs != f->params.size())
        return DISP_E_BADPARAMCOUNT;
    if (type().kind != TKIND_DISPATCH)
        return E_NOTIMPL;
    return static_cast<IDispatch *>(instance)->Invoke(memid, IID_NULL, LOCALE_USER_DEFAULT, flags,
                                                      dp, result, excep, argErr);
}

HRESULT TypeInfo::GetDocumentation(MEMBERID memid, BSTR *name, BSTR *doc, DWORD *context,
                                   BSTR *helpFile)
{
    const platform::TypeLibModel &m = m_lib->model();
    std::string n;
    std::string d;
    if (memid == MEMBERID_NIL) {
        n = type().name;
        d = type().helpString;
    } else {
        const platform::TypeLibFunc *f = func(memid);
        if (!f)
            return TYPE_E_ELEMENTNOTFOUND;
        n = f->name;
        d = f->helpString;
    }
    if (name)
        *name = bstr(n);
    if (doc)
        *doc = d.empty() ? nullptr : bstr(d);
    if (context)
        *context = 0;
    if (helpFile)
        *helpFile = m.helpFile.empty() ? nullptr : bstr(m.helpFile);
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE ref, ITypeInfo **pp)
{
    return m_lib->GetTypeInfo(ref, pp);
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib **pp, UINT *index)
{
    if (!pp)
        return E_INVALIDARG;
    m_lib->AddRef();
    *pp = m_lib;
    if (index)
        *index = m_index;
    return S_OK;
}

std::string utf8(LPCOLESTR s)
{
    if (!s)
        return {};
    return platform::fromUtf16(std::u16string(s), CP_UTF8);
}

std::string versionText(WORD major, WORD minor)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x.%x", unsigned(major), unsigned(minor));
    return buf;
}

std::string lcidText(LCID lcid)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", unsigned(lcid));
    return buf;
}

std::vector<std::string> subKeys(const std::string &path)
{
    std::vector<std::string> out;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return out;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        if (RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        out.push_back(name);
    }
    RegCloseKey(key);
    return out;
}

} // namespace

namespace platform {

std::string encodeTypeLib(const TypeLibModel &m)
{
    Writer w;
    w.out.assign(kMagic, sizeof kMagic);
    w.u32(1);
    w.u32(m.codePage);
    w.bytes(m.name);
    w.guid(m.libid);
    w.u32(m.major);
    w.u32(m.minor);
    w.u32(m.lcid);
    w.u32(m.syskind);
    w.u32(m.libFlags);
    w.bytes(toCodePage(m.helpString, m.codePage));
    w.bytes(m.helpFile);
    w.u32(m.helpContext);
    w.u32(static_cast<std::uint32_t>(m.imports.size()));
    for (const std::string &i : m.imports)
        w.bytes(i);
    w.u32(static_cast<std::uint32_t>(m.types.size()));
    for (const TypeLibType &t : m.types) {
        w.u32(t.kind);
        w.bytes(t.name);
        w.guid(t.guid);
        w.bytes(toCodePage(t.helpString, m.codePage));
        w.u32(t.flags);
        w.u32(static_cast<std::uint32_t>(t.funcs.size()));
        for (const TypeLibFunc &f : t.funcs) {
            w.bytes(f.name);
            w.u32(static_cast<std::uint32_t>(f.dispid));
            w.u32(f.vtResult);
            w.bytes(toCodePage(f.helpString, m.codePage));
            w.u32(static_cast<std::uint32_t>(f.params.size()));
            for (const TypeLibParam &p : f.params) {
                w.bytes(p.name);
                w.u32(p.vt);
            }
        }
        w.u32(static_cast<std::uint32_t>(t.impls.size()));
        for (const TypeLibImpl &i : t.impls) {
            w.bytes(i.typeName);
            w.u32(static_cast<std::uint32_t>(i.flags));
        }
    }
    return w.out;
}

HRESULT decodeTypeLib(const std::string &data, TypeLibModel *out)
{
    if (!out)
        return E_INVALIDARG;
    if (data.size() < sizeof kMagic || std::memcmp(data.data(), kMagic, sizeof kMagic) != 0)
        return TYPE_E_UNSUPFORMAT;
    Reader r(data);
    r.pos = sizeof kMagic;
    TypeLibModel m;
    std::uint32_t version = 0;
    std::uint32_t n = 0;
    if (!r.u32(&version))
        return TYPE_E_INVDATAREAD;
    if (version != 1)
        return TYPE_E_UNSUPFORMAT;
    std::uint32_t syskind = 0;
    bool ok = r.num(&m.codePage) && r.bytes(&m.name) && r.guid(&m.libid) && r.num(&m.major)
              && r.num(&m.minor) && r.num(&m.lcid) && r.u32(&syskind) && r.num(&m.libFlags)
              && r.bytes(&m.helpString) && r.bytes(&m.helpFile) && r.num(&m.helpContext)
              && r.count(&n);
    m.syskind = static_cast<SYSKIND>(syskind);
    m.helpString = fromCodePage(m.helpString, m.codePage);
    for (std::uint32_t i = 0; ok && i < n; ++i) {
        std::string s;
        ok = r.bytes(&s);
        m.imports.push_back(s);
    }
    ok = ok && r.count(&n);
    for (std::uint32_t i = 0; ok && i < n; ++i) {
        TypeLibType t;
        std::uint32_t kind = 0;
        std::uint32_t nf = 0;
        ok = r.u32(&kind) && kind < TKIND_MAX && r.bytes(&t.name) && r.guid(&t.guid)
             && r.bytes(&t.helpString) && r.num(&t.flags) && r.count(&nf);
        t.kind = static_cast<TYPEKIND>(kind);
        t.helpString = fromCodePage(t.helpString, m.codePage);
        for (std::uint32_t j = 0; ok && j < nf; ++j) {
            TypeLibFunc f;
            std::uint32_t np = 0;
            ok = r.bytes(&f.name) && r.num(&f.dispid) && r.num(&f.vtResult)
                 && r.bytes(&f.helpString) && r.count(&np);
            f.helpString = fromCodePage(f.helpString, m.codePage);
            for (std::uint32_t k = 0; ok && k < np; ++k) {
                TypeLibParam p;
                ok = r.bytes(&p.name) && r.num(&p.vt);
                f.params.push_back(p);
            }
            t.funcs.push_back(std::move(f));
        }
        std::uint32_t ni = 0;
        ok = ok && r.count(&ni);
        for (std::uint32_t j = 0; ok && j < ni; ++j) {
            TypeLibImpl impl;
            ok = r.bytes(&impl.typeName) && r.num(&impl.flags);
            t.impls.push_back(impl);
        }
        m.types.push_back(std::move(t));
    }
    if (!ok)
        return TYPE_E_INVDATAREAD;
    *out = std::move(m);
    return S_OK;
}

HRESULT createTypeLib(const TypeLibModel &model, ITypeLib **ppLib)
{
    if (!ppLib)
        return E_INVALIDARG;
    *ppLib = new (std::nothrow) TypeLib(model);
    return *ppLib ? S_OK : E_OUTOFMEMORY;
}

} // namespace platform

extern "C" HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib **pptlib)
{
    if (!szFile || !pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    std::string path = utf8(szFile);
    std::string resource = "#1";
    // "module\\N" picks TYPELIB resource N.
    const auto slash = path.rfind('\\');
    if (slash != std::string::npos && slash + 1 < path.size()
        && path.find_first_not_of("0123456789", slash + 1) == std::string::npos) {
        resource = "#" + path.substr(slash + 1);
        path.resize(slash);
    }
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return TYPE_E_CANTLOADLIBRARY;
    char head[4] = {};
    f.read(head, sizeof head);
    std::string data;
    if (f.gcount() == 4 && std::memcmp(head, kMagic, 4) == 0) {
        f.seekg(0);
        data.assign((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    } else if (platform::readFileResource(path, "TYPELIB", resource, &data) != ERROR_SUCCESS) {
        return TYPE_E_CANTLOADLIBRARY;
    }
    platform::TypeLibModel model;
    const HRESULT hr = platform::decodeTypeLib(data, &model);
    if (FAILED(hr))
        return hr;
    return platform::createTypeLib(model, pptlib);
}

extern "C" HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib **pptlib)
{
    HRESULT hr = LoadTypeLib(szFile, pptlib);
    if (SUCCEEDED(hr) && regkind == REGKIND_REGISTER) {
        hr = RegisterTypeLib(*pptlib, szFile, nullptr);
        if (FAILED(hr)) {
            (*pptlib)->Release();
            *pptlib = nullptr;
        }
    }
    return hr;
}

extern "C" HRESULT RegisterTypeLib(ITypeLib *ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir)
{
    if (!ptlib || !szFullPath)
        return E_INVALIDARG;
    TLIBATTR *attr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    const TLIBATTR a = *attr;
    ptlib->ReleaseTLibAttr(attr);
    BSTR name = nullptr;
    BSTR doc = nullptr;
    ptlib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    const std::string libName = platform::fromUtf16(platform::bstrText(name), CP_UTF8);
    const std::string libDoc = platform::fromUtf16(platform::bstrText(doc), CP_UTF8);
    SysFreeString(name);
    SysFreeString(doc);

    const std::string path = utf8(szFullPath);
    std::string helpDir = utf8(szHelpDir);
    if (!szHelpDir) {
        // No help directory given: the help file is looked for beside the library's file.
        const auto pos = path.find_last_of("/\\");
        helpDir = pos == std::string::npos ? std::string() : path.substr(0, pos);
    }
    const std::string libid = platform::guidToString(a.guid);
    const std::string base
        = "TypeLib\\" + libid + "\\" + versionText(a.wMajorVerNum, a.wMinorVerNum);
    const char *platformKey = a.syskind == SYS_WIN32 ? "win32" : "win64";

    platform::RegistryTransaction tx;
    if (tx.status() != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    LONG err = platform::regWriteString(HKEY_CLASSES_ROOT, base, nullptr,
                                        libDoc.empty() ? libName : libDoc);
    if (err == ERROR_SUCCESS)
        err = platform::regWriteString(HKEY_CLASSES_ROOT, base + "\\FLAGS", nullptr,
                                       std::to_string(a.wLibFlags));
    if (err == ERROR_SUCCESS)
        err = platform::regWriteString(
            HKEY_CLASSES_ROOT, base + "\\" + lcidText(a.lcid) + "\\" + platformKey, nullptr, path);
    if (err == ERROR_SUCCESS)
        err = platform::regWriteString(HKEY_CLASSES_ROOT, base + "\\HELPDIR", nullptr, helpDir);
    // Dispatch interfaces are called through the dispatch marshaller; their keys say so.
    for (UINT i = 0; err == ERROR_SUCCESS && i < ptlib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        if (FAILED(ptlib->GetTypeInfoType(i, &kind)) || kind != TKIND_DISPATCH)
            continue;
        platform::ComPtr<ITypeInfo> info;
        TYPEATTR *ta = nullptr;
        if (FAILED(ptlib->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&ta)))
            return TYPE_E_INVALIDSTATE;
        const std::string iid = platform::guidToString(ta->guid);
        info->ReleaseTypeAttr(ta);
        BSTR typeName = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr);
        const std::string key = "Interface\\" + iid;
        err = platform::regWriteString(HKEY_CLASSES_ROOT, key, nullptr,
                                       platform::fromUtf16(platform::bstrText(typeName), CP_UTF8));
        SysFreeString(typeName);
        if (err == ERROR_SUCCESS)
            err = platform::regWriteString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid", nullptr,
                                           kDispatchProxy);
        if (err == ERROR_SUCCESS)
            err = platform::regWriteString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid32", nullptr,
                                           kDispatchProxy);
        if (err == ERROR_SUCCESS)
            err = platform::regWriteString(HKEY_CLASSES_ROOT, key + "\\TypeLib", nullptr, libid);
        if (err == ERROR_SUCCESS)
            err = platform::regWriteString(HKEY_CLASSES_ROOT, key + "\\TypeLib", "Version",
                                           versionText(a.wMajorVerNum, a.wMinorVerNum));
    }
    if (err != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    tx.commit();
    return S_OK;
}

extern "C" HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID, SYSKIND)
{
    const std::string libid = platform::guidToString(libID);
    const std::string version = versionText(wVerMajor, wVerMinor);
    platform::RegistryTransaction tx;
    if (tx.status() != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ("TypeLib\\" + libid + "\\" + version).c_str(), 0,
                      KEY_READ, &key)
        != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    RegCloseKey(key);
    // The interfaces that name this library and version as theirs.
    for (const std::string &iid : subKeys("Interface")) {
        std::string owner;
        std::string ownerVersion;
        const std::string k = "Interface\\" + iid;
        if (platform::regReadString(HKEY_CLASSES_ROOT, k + "\\TypeLib", nullptr, &owner)
            && QString::fromStdString(owner).compare(QString::fromStdString(libid),
                                                     Qt::CaseInsensitive)
                   == 0
            && platform::regReadString(HKEY_CLASSES_ROOT, k + "\\TypeLib", "Version", &ownerVersion)
            && ownerVersion == version) {
            if (RegDeleteTreeA(HKEY_CLASSES_ROOT, k.c_str()) != ERROR_SUCCESS)
                return TYPE_E_REGISTRYACCESS;
        }
    }
    if (RegDeleteTreeA(HKEY_CLASSES_ROOT, ("TypeLib\\" + libid + "\\" + version).c_str())
        != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    if (subKeys("TypeLib\\" + libid).empty()
        && RegDeleteTreeA(HKEY_CLASSES_ROOT, ("TypeLib\\" + libid).c_str()) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    tx.commit();
    return S_OK;
}

extern "C" HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                  ITypeLib **pptlib)
{
    if (!pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    const std::string base = "TypeLib\\" + platform::guidToString(rguid);
    // Same major version, the highest minor version that is at least the one asked for.
    std::string best;
    unsigned bestMinor = 0;
    for (const std::string &v : subKeys(base)) {
        unsigned major = 0;
        unsigned minor = 0;
        char extra = 0;
        if (std::sscanf(v.c_str(), "%x.%x%c", &major, &minor, &extra) != 2 || major != wVerMajor
            || minor < wVerMinor)
            continue;
        if (best.empty() || minor > bestMinor) {
            best = v;
            bestMinor = minor;
        }
    }
    if (best.empty())
        return TYPE_E_LIBNOTREGISTERED;
    const std::string versionKey = base + "\\" + best;
    // The locale asked for, then its language, then neutral, then whatever is there.
    std::vector<std::string> tries = {lcidText(lcid), lcidText(lcid & 0x3ff), "0"};
    for (const std::string &k : subKeys(versionKey))
        if (k.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
            tries.push_back(k);
    for (const std::string &l : tries) {
        std::string path;
        if (platform::regReadString(HKEY_CLASSES_ROOT, versionKey + "\\" + l + "\\win64", nullptr,
                                    &path)
            || platform::regReadString(HKEY_CLASSES_ROOT, versionKey + "\\" + l + "\\win32",
                                       nullptr, &path)) {
            const std::u16string wide = platform::toUtf16(path, CP_UTF8);
            return LoadTypeLib(wide.c_str(), pptlib);
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}
