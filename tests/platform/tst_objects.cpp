// SPDX-License-Identifier: MIT
// Identifiers, strings and tagged values.
#include "platform/objects.h"
#include "variants.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::u16string u(const char *s)
{
    return platform::toUtf16(s, CP_UTF8);
}

TEST(Guid, PrintsAndParsesTheBracedForm)
{
    const GUID g = {0xA31A557D, 0xB3C0, 0x46BB, {0xB2, 0x37, 0xCA, 0x8B, 0x7E, 0x0C, 0x8E, 0xEC}};
    EXPECT_EQ(platform::guidToString(g), "{A31A557D-B3C0-46BB-B237-CA8B7E0C8EEC}");
    OLECHAR buf[39];
    ASSERT_EQ(StringFromGUID2(g, buf, 39), 39);
    EXPECT_EQ(std::u16string(buf), u("{A31A557D-B3C0-46BB-B237-CA8B7E0C8EEC}"));
    EXPECT_EQ(StringFromGUID2(g, buf, 38), 0);

    GUID back{};
    ASSERT_EQ(IIDFromString(u("{a31a557d-b3c0-46bb-b237-ca8b7e0c8eec}").c_str(), &back), S_OK);
    EXPECT_TRUE(IsEqualGUID(g, back));
    EXPECT_FALSE(IsEqualGUID(g, GUID_NULL));
}

class BadGuidText : public ::testing::TestWithParam<const char *>
{};

TEST_P(BadGuidText, IsRefusedAndLeavesTheTargetAlone)
{
    GUID g = GUID_NULL;
    EXPECT_EQ(IIDFromString(u(GetParam()).c_str(), &g), CO_E_CLASSSTRING);
    EXPECT_TRUE(IsEqualGUID(g, GUID_NULL));
    EXPECT_FALSE(platform::guidFromString(GetParam(), &g));
}

INSTANTIATE_TEST_SUITE_P(Texts, BadGuidText,
                         ::testing::Values("", "A31A557D-B3C0-46BB-B237-CA8B7E0C8EEC",
                                           "{A31A557D-B3C0-46BB-B237-CA8B7E0C8EEC",
                                           "{A31A557D-B3C0-46BB-B237-CA8B7E0C8EEC}x",
                                           "{A31A557D-B3C0-46BB-B237-CA8B7E0C8EEG}",
                                           "{A31A557DB3C0-46BB-B237-CA8B7E0C8EEC0}",
                                           "{+31A557D-B3C0-46BB-B237-CA8B7E0C8EEC}"));

TEST(Bstr, IsLengthPrefixedAndMayHoldZeros)
{
    const char16_t text[] = {u'a', 0, u'b'};
    BSTR b = SysAllocStringLen(text, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(b[3], 0);
    EXPECT_EQ(std::memcmp(b, text, sizeof text), 0);
    SysFreeString(b);

    BSTR s = SysAllocString(u"\u5e38\u89c4");
    EXPECT_EQ(SysStringLen(s), 2u);
    EXPECT_TRUE(SysReAllocString(&s, u"longer text"));
    EXPECT_EQ(platform::bstrText(s), u"longer text");
    SysFreeString(s);

    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
}

TEST(CodePage, Utf8RoundTripsAndBadBytesBecomeReplacement)
{
    EXPECT_EQ(platform::toUtf16("\xe5\xb8\xb8\xe8\xa7\x84 \xf0\x9f\x97\xba"),
              u"\u5e38\u89c4 \U0001F5FA");
    EXPECT_EQ(platform::fromUtf16(u"\u5e38\u89c4 \U0001F5FA"),
              "\xe5\xb8\xb8\xe8\xa7\x84 \xf0\x9f\x97\xba");
    EXPECT_EQ(platform::toUtf16("a\xff"
                                "b\xe5\xb8"),
              u"a\uFFFDb\uFFFD\uFFFD");
    EXPECT_EQ(platform::fromUtf16(platform::toUtf16("\xe5\xb8\xb8", CP_UTF8), 936), "\xb3\xa3");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
}

struct Conversion
{
    const char *name;
    VARIANT (*make)();
    VARTYPE to;
    HRESULT hr;
    const char *text; // the result as text, when it succeeds
};

void PrintTo(const Conversion &c, std::ostream *os)
{
    *os << c.name;
}

class ChangeType : public ::testing::TestWithParam<Conversion>
{};

TEST_P(ChangeType, GivesTheValueOrTheReason)
{
    const Conversion &c = GetParam();
    VARIANT src = c.make();
    VARIANT dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, c.to), c.hr) << c.name;
    if (SUCCEEDED(c.hr)) {
        EXPECT_EQ(dst.vt, c.to);
        VARIANT text;
        VariantInit(&text);
        ASSERT_EQ(VariantChangeType(&text, &dst, 0, VT_BSTR), S_OK);
        EXPECT_EQ(platform::fromUtf16(platform::bstrText(text.bstrVal)), c.text) << c.name;
        VariantClear(&text);
    } else {
        EXPECT_EQ(dst.vt, VT_EMPTY);
    }
    VariantClear(&dst);
    VariantClear(&src);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChangeType,
    ::testing::Values(
        Conversion{"text to i4", [] { return str(" -42 "); }, VT_I4, S_OK, "-42"},
        Conversion{"text to ui8", [] { return str("18446744073709551615"); }, VT_UI8, S_OK,
                   "18446744073709551615"},
        Conversion{"negative text to ui8", [] { return str("-1"); }, VT_UI8, DISP_E_OVERFLOW, ""},
        Conversion{"big text to i4", [] { return str("2147483648"); }, VT_I4, DISP_E_OVERFLOW, ""},
        Conversion{"word to i4", [] { return str("abc"); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        Conversion{"empty text to i4", [] { return str(""); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        Conversion{"i4 to ui8", [] { return i4(7); }, VT_UI8, S_OK, "7"},
        Conversion{"negative i4 to ui8", [] { return i4(-7); }, VT_UI8, DISP_E_OVERFLOW, ""},
        Conversion{"huge ui8 to i4", [] { return ui8(1ull << 40); }, VT_I4, DISP_E_OVERFLOW, ""},
        Conversion{"double rounds half to even", [] { return r8(2.5); }, VT_I4, S_OK, "2"},
        Conversion{"true to i4", [] { return boolean(true); }, VT_I4, S_OK, "-1"},
        Conversion{"text true to bool", [] { return str("True"); }, VT_BOOL, S_OK, "-1"},
        Conversion{"i4 to bool", [] { return i4(5); }, VT_BOOL, S_OK, "-1"},
        Conversion{"i4 to text", [] { return i4(INT32_MIN); }, VT_BSTR, S_OK, "-2147483648"},
        Conversion{"empty to i4", [] { return VARIANT{}; }, VT_I4, S_OK, "0"},
        Conversion{"i4 to dispatch", [] { return i4(1); }, VT_DISPATCH, DISP_E_TYPEMISMATCH, ""}),
    [](const ::testing::TestParamInfo<Conversion> &info) {
        std::string n = info.param.name;
        for (char &ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

// A counted object that says when its last reference went.
struct Counted final : IUnknown
{
    ULONG refs = 1;
    bool gone = false;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown))
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (--refs == 0)
            gone = true;
        return refs;
    }
};

TEST(Variant, CopyAndClearBalanceReferencesAndStrings)
{
    Counted obj;
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_UNKNOWN;
    a.punkVal = &obj;
    obj.AddRef();
    VARIANT b;
    VariantInit(&b);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_EQ(obj.refs, 3u);
    ASSERT_EQ(VariantChangeType(&b, &b, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(obj.refs, 3u);
    EXPECT_EQ(VariantClear(&b), S_OK);
    EXPECT_EQ(VariantClear(&a), S_OK);
    EXPECT_EQ(obj.refs, 1u);
    obj.Release();
    EXPECT_TRUE(obj.gone);

    // A by-reference value owns nothing: clearing it leaves the target alone.
    BSTR s = SysAllocString(u"kept");
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &s;
    VARIANT deref;
    VariantInit(&deref);
    ASSERT_EQ(VariantCopyInd(&deref, &ref), S_OK);
    EXPECT_EQ(deref.vt, VT_BSTR);
    EXPECT_NE(deref.bstrVal, s);
    EXPECT_EQ(VariantClear(&ref), S_OK);
    EXPECT_EQ(platform::bstrText(s), u"kept");
    VariantClear(&deref);
    SysFreeString(s);

    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 0x0fff;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
}

TEST(Result, NamesKnownCodesAndTestsSeverity)
{
    EXPECT_STREQ(PlatformResultName(SELFREG_E_TYPELIB), "SELFREG_E_TYPELIB");
    EXPECT_STREQ(PlatformResultName(E_NOINTERFACE), "E_NOINTERFACE");
    EXPECT_STREQ(PlatformResultName(HRESULT_FROM_WIN32(ERROR_BADDB)),
                 "HRESULT_FROM_WIN32(ERROR_BADDB)");
    EXPECT_EQ(PlatformResultName(PLATFORM_HR(0x80041234)), nullptr);
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(FAILED(E_FAIL));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), E_ACCESSDENIED);
}

} // namespace
