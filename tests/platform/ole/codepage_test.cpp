// SPDX-License-Identifier: MIT
// Text through the narrow-character framework: a string argument reaches a member in the ANSI
// code page and goes back to UTF-16 with the thread's code page. Run once with the default
// (UTF-8) and once with PLATFORM_ACP=936; what the code page cannot hold is lost, as on the
// platform.
#include "platform/framework.h"

#include <gtest/gtest.h>

namespace {

class CEcho : public CCmdTarget
{
    DECLARE_DISPATCH_MAP()
public:
    CEcho() { EnableAutomation(); }
    std::string last;
    void Take(const char *text) { last = text; }
};

BEGIN_DISPATCH_MAP(CEcho, CCmdTarget)
DISP_FUNCTION(CEcho, "Take", Take, VT_EMPTY, VTS_BSTR)
END_DISPATCH_MAP()

struct Row
{
    const char *name;
    const char16_t *text;
    const char16_t *afterUtf8;
    const char16_t *after936;
};

class CodePage : public ::testing::TestWithParam<Row>
{};

TEST_P(CodePage, ArgumentsGoNarrowAndBackAsTheCodePageAllows)
{
    const Row &row = GetParam();
    CEcho echo;
    VARIANT arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(row.text);
    DISPPARAMS params{&arg, nullptr, 1, 0};
    ASSERT_EQ(echo.GetIDispatch(FALSE)->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr,
                                               nullptr, nullptr),
              S_OK);
    VariantClear(&arg);
    const int n = MultiByteToWideChar(CP_THREAD_ACP, 0, echo.last.data(), int(echo.last.size()),
                                      nullptr, 0);
    std::u16string back(std::size_t(n), u'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, echo.last.data(), int(echo.last.size()), back.data(), n);
    EXPECT_EQ(back, GetACP() == 936 ? row.after936 : row.afterUtf8) << "code page " << GetACP();
}

INSTANTIATE_TEST_SUITE_P(Texts, CodePage,
                         ::testing::Values(Row{"Ascii", u"initComplete", u"initComplete",
                                               u"initComplete"},
                                           Row{"Chinese", u"地图 ok", u"地图 ok", u"地图 ok"},
                                           Row{"Emoji", u"a\U0001F600b", u"a\U0001F600b", u"a?b"}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
