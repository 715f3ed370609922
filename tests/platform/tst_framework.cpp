// SPDX-License-Identifier: MIT
// Automation through dispatch tables, class factories and the module's lock count.
#include "platform/framework.h"
#include "variants.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

PLATFORM_GUID(CLSID_Sample, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55,
              0x55);

std::string g_lastText;
int g_live = 0;

class CSample : public CCmdTarget
{
    DECLARE_DYNCREATE(CSample)
    DECLARE_DISPATCH_MAP()
public:
    CSample()
    {
        EnableAutomation();
        ++g_live;
    }
    ~CSample() override { --g_live; }

    LONG MainCall(const char *name, const char *data)
    {
        g_lastText = std::string(name) + "|" + data;
        return static_cast<LONG>(g_lastText.size());
    }
    void Alert(const char *) {}
    LONG Add(ULONGLONG big, LONG small) { return static_cast<LONG>(big) + small; }
    LONG Refuse() { AfxThrowOleException(E_NOTIMPL); }
};

IMPLEMENT_DYNCREATE(CSample, CCmdTarget)

BEGIN_DISPATCH_MAP(CSample, CCmdTarget)
DISP_FUNCTION(CSample, "MainCall", MainCall, VT_I4, VTS_BSTR VTS_BSTR)
DISP_FUNCTION(CSample, "Alert", Alert, VT_EMPTY, VTS_BSTR)
DISP_FUNCTION_ID(CSample, "Add", 7, Add, VT_I4, VTS_UI8 VTS_I4)
DISP_FUNCTION_ID(CSample, "Refuse", -552, Refuse, VT_I4, VTS_NONE)
END_DISPATCH_MAP()

COleObjectFactory g_factory(CLSID_Sample, RUNTIME_CLASS(CSample), FALSE, "Sample.Thing.1");

std::u16string u(const char *s)
{
    return platform::toUtf16(s, CP_UTF8);
}

DISPID idOf(IDispatch *d, const char *name)
{
    std::u16string n = u(name);
    LPOLESTR names[] = {n.data()};
    DISPID id = 12345;
    d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

TEST(Dispatch, NamesFindPositionsOrTheirOwnIdsWhateverTheCase)
{
    CSample *obj = new CSample;
    IDispatch *d = obj->GetIDispatch(FALSE);
    EXPECT_EQ(idOf(d, "MainCall"), 1);
    EXPECT_EQ(idOf(d, "maincall"), 1);
    EXPECT_EQ(idOf(d, "ALERT"), 2);
    EXPECT_EQ(idOf(d, "Add"), 7);
    EXPECT_EQ(idOf(d, "Refuse"), DISPID_ABOUTBOX);
    EXPECT_EQ(idOf(d, "Missing"), DISPID_UNKNOWN);
    EXPECT_EQ(CCmdTarget::FromIDispatch(d), obj);
    EXPECT_EQ(obj->ExternalRelease(), 0u);
    EXPECT_EQ(g_live, 0);
}

struct Call
{
    const char *name;
    DISPID id;
    WORD flags;
    std::vector<VARIANT> (*args)(); // last argument first
    HRESULT hr;
    LONG result;
    UINT argErr;
};

void PrintTo(const Call &c, std::ostream *os)
{
    *os << c.name;
}

class Invoke : public ::testing::TestWithParam<Call>
{};

TEST_P(Invoke, ConvertsArgumentsOrSaysWhichOneFailed)
{
    const Call &c = GetParam();
    CSample *obj = new CSample;
    IDispatch *d = obj->GetIDispatch(FALSE);
    std::vector<VARIANT> args = c.args();
    DISPPARAMS dp = {args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    VARIANT result;
    VariantInit(&result);
    UINT argErr = 99;
    EXPECT_EQ(
        d->Invoke(c.id, IID_NULL, LOCALE_USER_DEFAULT, c.flags, &dp, &result, nullptr, &argErr),
        c.hr);
    if (SUCCEEDED(c.hr) && c.result != -1) {
        EXPECT_EQ(result.vt, VT_I4);
        EXPECT_EQ(result.lVal, c.result);
    } else {
        EXPECT_EQ(result.vt, VT_EMPTY);
    }
    EXPECT_EQ(argErr, c.argErr);
    for (VARIANT &a : args)
        VariantClear(&a);
    VariantClear(&result);
    EXPECT_EQ(obj->GetRefCount(), 1u);
    obj->ExternalRelease();
}

INSTANTIATE_TEST_SUITE_P(
    Table, Invoke,
    ::testing::Values(
        Call{"MainCall", 1, DISPATCH_METHOD,
             [] {
                 return std::vector<VARIANT>{str("d"), str("n")};
             },
             S_OK, 3, 99},
        Call{"script engines set the get bit too", 1, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
             [] {
                 return std::vector<VARIANT>{i4(42), str("name")};
             },
             S_OK, 7, 99},
        Call{"numbers in text convert", 7, DISPATCH_METHOD,
             [] {
                 return std::vector<VARIANT>{str("5"), str("10")};
             },
             S_OK, 15, 99},
        Call{"bad second argument", 7, DISPATCH_METHOD,
             [] {
                 return std::vector<VARIANT>{str("x"), i4(1)};
             },
             DISP_E_TYPEMISMATCH, -1, 0},
        Call{"negative for unsigned", 7, DISPATCH_METHOD,
             [] {
                 return std::vector<VARIANT>{i4(1), i4(-1)};
             },
             DISP_E_OVERFLOW, -1, 1},
        Call{"too few", 1, DISPATCH_METHOD, [] { return std::vector<VARIANT>{str("n")}; },
             DISP_E_BADPARAMCOUNT, -1, 99},
        Call{"unknown member", 3, DISPATCH_METHOD, [] { return std::vector<VARIANT>{}; },
             DISP_E_MEMBERNOTFOUND, -1, 99},
        Call{"methods cannot be set", 2, DISPATCH_PROPERTYPUT,
             [] { return std::vector<VARIANT>{str("x")}; }, DISP_E_MEMBERNOTFOUND, -1, 99},
        Call{"member refuses", DISPID_ABOUTBOX, DISPATCH_METHOD,
             [] { return std::vector<VARIANT>{}; }, E_NOTIMPL, -1, 99},
        Call{"no result", 2, DISPATCH_METHOD, [] { return std::vector<VARIANT>{str("x")}; }, S_OK,
             -1, 99}));

TEST(Dispatch, StringsReachMembersAsNarrowText)
{
    CSample *obj = new CSample;
    std::vector<VARIANT> args{str("\xe5\xb8\xb8"), str("initComplete")};
    DISPPARAMS dp = {args.data(), nullptr, 2, 0};
    ASSERT_EQ(obj->GetIDispatch(FALSE)->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr,
                                               nullptr, nullptr),
              S_OK);
    EXPECT_EQ(g_lastText, "initComplete|\xe5\xb8\xb8");
    for (VARIANT &a : args)
        VariantClear(&a);
    obj->ExternalRelease();
}

TEST(Dispatch, StringsFollowTheProcessCodePage)
{
    ASSERT_TRUE(PlatformSetACP(936));
    CSample *obj = new CSample;
    std::vector<VARIANT> args
        = {makeVariant(VT_BSTR, &VARIANT::bstrVal, SysAllocString(u"\u5e38\u89c4")),
           makeVariant(VT_BSTR, &VARIANT::bstrVal, SysAllocString(u"n"))};
    DISPPARAMS dp = {args.data(), nullptr, 2, 0};
    EXPECT_EQ(obj->GetIDispatch(FALSE)->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr,
                                               nullptr, nullptr),
              S_OK);
    EXPECT_EQ(g_lastText, "n|\xb3\xa3\xb9\xe6");
    for (VARIANT &a : args)
        VariantClear(&a);
    obj->ExternalRelease();
    EXPECT_TRUE(PlatformSetACP(0));
    EXPECT_EQ(GetACP(), CP_UTF8);
    EXPECT_FALSE(PlatformSetACP(12345)) << "a code page we cannot convert";
}

TEST(Factory, CreatesCountsAndLetsTheModuleGo)
{
    ASSERT_EQ(DllCanUnloadNow(), S_OK);
    platform::ComPtr<IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(CLSID_NULL, IID_IClassFactory, factory.putVoid()),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(DllGetClassObject(CLSID_Sample, IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a factory handed out keeps the module";

    platform::ComPtr<IDispatch> obj;
    platform::ComPtr<IUnknown> outer;
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown *>(&g_factory), IID_IDispatch,
                                      obj.putVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, obj.putVoid()), E_NOINTERFACE);
    EXPECT_EQ(g_live, 0) << "a refused object is gone at once";
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, obj.putVoid()), S_OK);
    EXPECT_EQ(g_live, 1);

    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "object and lock alive";
    obj.reset();
    EXPECT_EQ(g_live, 0);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "lock alive";
    ASSERT_EQ(DllGetClassObject(CLSID_Sample, IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED) << "one unlock too many";
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

} // namespace
