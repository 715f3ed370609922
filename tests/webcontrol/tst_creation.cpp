// SPDX-License-Identifier: MIT
// A host's view: the control is found through the registry alone (each case is a fresh process
// that has not loaded the module), called by name, described by its type information, and its
// module goes once nothing holds it.
#include "TesselDll_idl.h"
#include "platform/creation.h"
#include "platform/typelib.h"
#include "registryfixture.h"

#include <dlfcn.h>

#include <QFileInfo>

namespace {

const CLSID kPage = {0xC0C04AA8, 0xB1A1, 0x43E2, {0x8B, 0x8E, 0xA7, 0xAF, 0x9F, 0x6D, 0x66, 0xDF}};

struct Member
{
    const char *name;
    DISPID dispid;
    VARTYPE result;
    std::vector<std::pair<const char *, VARTYPE>> params;
    const char *help; // UTF-8, empty for none
};

const std::vector<Member> kMembers = {
    {"AboutBox", DISPID_ABOUTBOX, VT_VOID, {}, ""},
    {"CallJavaScritp", 1, VT_I4, {{"strScript", VT_BSTR}}, "方法CallJavaScritp"},
    {"init",
     2,
     VT_I4,
     {{"strUrl", VT_BSTR}, {"nType", VT_I4}, {"szPostData", VT_BSTR}, {"szHeader", VT_BSTR}},
     "方法init"},
    {"AddLinster", 3, VT_I4, {{"lAddress", VT_UI8}}, "方法AddLinster"},
};

std::u16string u(const std::string &s)
{
    return platform::toUtf16(s, CP_UTF8);
}

std::string text(BSTR b)
{
    std::string s = platform::fromUtf16(platform::bstrText(b), CP_UTF8);
    SysFreeString(b);
    return s;
}

// Whether the module is in the process now.
bool moduleLoaded()
{
    void *h
        = dlopen(QFileInfo(QStringLiteral(TESSEL_MODULE)).canonicalFilePath().toUtf8().constData(),
                 RTLD_NOW | RTLD_NOLOAD);
    if (h)
        dlclose(h);
    return h != nullptr;
}

class Creation : public RegistryFixture
{
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        ASSERT_FALSE(moduleLoaded()) << "a fresh process";
        const ToolRun run = regsvr({QStringLiteral(TESSEL_MODULE)});
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    // Every object is gone by now, so the module can go and the next case starts fresh.
    void TearDown() override
    {
        CoFreeUnusedLibraries();
        RegistryFixture::TearDown();
    }
};

TEST_F(Creation, ByProgIdAndByClsidThenCalledByName)
{
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"TESSELDLL.TesselDllCtrl.1", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_TesselDll));
    EXPECT_EQ(CLSIDFromProgID(u"TESSELDLL.Nothing.1", &clsid), CO_E_CLASSSTRING);

    platform::ComPtr<IDispatch> ctrl;
    ASSERT_EQ(CoCreateInstance(CLSID_TesselDll, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               ctrl.putVoid()),
              S_OK);
    EXPECT_TRUE(moduleLoaded());
    for (const Member &m : kMembers) {
        std::u16string lower = u(m.name);
        for (char16_t &c : lower)
            c = (c >= u'A' && c <= u'Z') ? c + 32 : c;
        for (std::u16string name : {u(m.name), lower}) {
            LPOLESTR names[] = {name.data()};
            DISPID id = 0;
            EXPECT_EQ(ctrl->GetIDsOfNames(IID_NULL, names, 1, 0x0409, &id), S_OK) << m.name;
            EXPECT_EQ(id, m.dispid) << m.name;
        }
    }
    std::u16string wrong = u"CallJavaScript";
    LPOLESTR names[] = {wrong.data()};
    DISPID id = 0;
    EXPECT_EQ(ctrl->GetIDsOfNames(IID_NULL, names, 1, 0x0409, &id), DISP_E_UNKNOWNNAME)
        << "the interface's names are taken letter for letter";

    // Without a window there is no page host yet: the script is dropped, the answer is 0.
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(u"map.zoom(3)");
    DISPPARAMS dp = {&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(ctrl->Invoke(1, IID_NULL, 0x0409, DISPATCH_METHOD, &dp, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 0);
    VariantClear(&arg);

    platform::ComPtr<IDispatch> page;
    ASSERT_EQ(CoCreateInstance(kPage, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, page.putVoid()),
              S_OK);
    platform::ComPtr<IUnknown> none;
    EXPECT_EQ(CoCreateInstance(LIBID_TesselDllLib, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               none.putVoid()),
              REGDB_E_CLASSNOTREG);
}

TEST_F(Creation, TypeInformationAgreesWithTheTypeLibrary)
{
    platform::ComPtr<IDispatch> ctrl;
    ASSERT_EQ(CoCreateInstance(CLSID_TesselDll, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               ctrl.putVoid()),
              S_OK);
    UINT count = 0;
    ASSERT_EQ(ctrl->GetTypeInfoCount(&count), S_OK);
    ASSERT_EQ(count, 1u);
    platform::ComPtr<ITypeInfo> info;
    ASSERT_EQ(ctrl->GetTypeInfo(0, 0x0409, info.put()), S_OK);

    TYPEATTR *attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, DIID__DTesselDll));
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    ASSERT_EQ(attr->cFuncs, kMembers.size());
    info->ReleaseTypeAttr(attr);
    BSTR doc = nullptr;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(text(doc), "TesselDll Control 的调度接口");

    for (UINT i = 0; i < kMembers.size(); ++i) {
        const Member &m = kMembers[i];
        FUNCDESC *fd = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &fd), S_OK);
        EXPECT_EQ(fd->memid, m.dispid);
        EXPECT_EQ(fd->invkind, INVOKE_FUNC);
        EXPECT_EQ(fd->elemdescFunc.tdesc.vt, m.result) << m.name;
        ASSERT_EQ(static_cast<std::size_t>(fd->cParams), m.params.size());
        for (std::size_t p = 0; p < m.params.size(); ++p)
            EXPECT_EQ(fd->lprgelemdescParam[p].tdesc.vt, m.params[p].second) << m.name;
        info->ReleaseFuncDesc(fd);

        BSTR names[8] = {};
        UINT got = 0;
        ASSERT_EQ(info->GetNames(m.dispid, names, 8, &got), S_OK);
        ASSERT_EQ(got, m.params.size() + 1);
        EXPECT_EQ(text(names[0]), m.name);
        for (std::size_t p = 0; p < m.params.size(); ++p)
            EXPECT_EQ(text(names[p + 1]), m.params[p].first);

        // The type information and the control's own table give the same DISPID.
        std::u16string n = u(m.name);
        LPOLESTR one[] = {n.data()};
        MEMBERID fromInfo = 0;
        DISPID fromControl = 0;
        EXPECT_EQ(info->GetIDsOfNames(one, 1, &fromInfo), S_OK);
        EXPECT_EQ(ctrl->GetIDsOfNames(IID_NULL, one, 1, 0x0409, &fromControl), S_OK);
        EXPECT_EQ(fromInfo, fromControl);

        BSTR help = nullptr;
        ASSERT_EQ(info->GetDocumentation(m.dispid, nullptr, &help, nullptr, nullptr), S_OK);
        EXPECT_EQ(text(help), m.help);
    }

    platform::ComPtr<ITypeLib> lib;
    UINT index = 0;
    ASSERT_EQ(info->GetContainingTypeLib(lib.put(), &index), S_OK);
    TLIBATTR *la = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&la), S_OK);
    EXPECT_TRUE(IsEqualGUID(la->guid, LIBID_TesselDllLib));
    EXPECT_EQ(la->lcid, 0x0409u);
    EXPECT_EQ(la->wMajorVerNum, 1);
    EXPECT_EQ(la->wMinorVerNum, 0);
    EXPECT_EQ(la->wLibFlags, LIBFLAG_FCONTROL);
    lib->ReleaseTLibAttr(la);
    BSTR name = nullptr;
    BSTR libDoc = nullptr;
    BSTR helpFile = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &libDoc, nullptr, &helpFile), S_OK);
    EXPECT_EQ(text(name), "TesselDllLib");
    EXPECT_EQ(text(libDoc), "TesselDll ActiveX 控件模块");
    EXPECT_EQ(text(helpFile), "TesselDll.hlp");

    // The coclass: the dispatch interface by default, the event interface as default source.
    platform::ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_TesselDll, coclass.put()), S_OK);
    INT flags = 0;
    HREFTYPE ref = 0;
    platform::ComPtr<ITypeInfo> events;
    ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    ASSERT_EQ(coclass->GetRefTypeOfImplType(1, &ref), S_OK);
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, events.put()), S_OK);
    ASSERT_EQ(events->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, DIID__DTesselDllEvents));
    EXPECT_EQ(attr->cFuncs, 0);
    events->ReleaseTypeAttr(attr);
}

TEST_F(Creation, TheModuleStaysWhileAnObjectOrALockLivesAndGoesAfter)
{
    platform::ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TesselDll, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.putVoid()),
              S_OK);
    void *h
        = dlopen(QFileInfo(QStringLiteral(TESSEL_MODULE)).canonicalFilePath().toUtf8().constData(),
                 RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(h, nullptr);
    auto canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(h, "DllCanUnloadNow"));
    dlclose(h);
    ASSERT_NE(canUnload, nullptr);

    platform::ComPtr<IDispatch> obj;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, obj.putVoid()), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(canUnload(), S_FALSE) << "an object and a lock";
    obj.reset();
    EXPECT_EQ(canUnload(), S_FALSE) << "a lock";
    CoFreeUnusedLibraries();
    EXPECT_TRUE(moduleLoaded());

    ASSERT_EQ(CoGetClassObject(CLSID_TesselDll, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.putVoid()),
              S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    EXPECT_EQ(canUnload(), S_OK);
    CoFreeUnusedLibraries();
    EXPECT_FALSE(moduleLoaded());
    EXPECT_EQ(platform::loadedClassModules(), 0u);
}

} // namespace
