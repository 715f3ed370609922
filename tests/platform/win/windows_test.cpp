// SPDX-License-Identifier: MIT
// Windows on Qt: what a window procedure hears and when, timers on the event loop, dialogs made
// from extended templates, and drawing read back from a memory device context.
#include "platform/windows.h"

#include <QApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

struct Heard
{
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};

std::vector<Heard> g_heard;
std::function<void(HWND, UINT, WPARAM)> g_onMessage;

LRESULT STDMETHODCALLTYPE recordingProc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    g_heard.push_back({msg, wp, lp});
    if (g_onMessage)
        g_onMessage(h, msg, wp);
    return DefWindowProcA(h, msg, wp, lp);
}

template <typename F>
bool pumpUntil(F done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

void pumpFor(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

class WindowsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static bool registered = false;
        if (!registered) {
            WNDCLASSA wc{};
            wc.lpfnWndProc = recordingProc;
            wc.lpszClassName = "NvTestWindow";
            ASSERT_NE(RegisterClassA(&wc), 0);
            registered = true;
        }
        g_heard.clear();
        g_onMessage = nullptr;
        top = CreateWindowExA(0, "nvtestwindow", "top", WS_OVERLAPPED, 0, 0, 300, 200, nullptr,
                              nullptr, nullptr, nullptr);
        ASSERT_NE(top, nullptr);
        g_heard.clear();
    }
    void TearDown() override
    {
        g_onMessage = nullptr;
        DestroyWindow(top);
    }
    std::vector<UINT> messages() const
    {
        std::vector<UINT> m;
        for (const Heard &h : g_heard)
            m.push_back(h.msg);
        return m;
    }
    int count(UINT msg, WPARAM wp) const
    {
        return int(std::count_if(g_heard.begin(), g_heard.end(),
                                 [&](const Heard &h) { return h.msg == msg && h.wp == wp; }));
    }
    HWND top = nullptr;
};

TEST_F(WindowsTest, AChildWindowHearsItsLifeInOrder)
{
    const HWND child = CreateWindowExA(0, "NvTestWindow", "child", WS_CHILD, 10, 20, 120, 80, top,
                                       reinterpret_cast<HMENU>(7), nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(messages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_SIZE}));
    EXPECT_EQ(g_heard.back().lp, MAKELPARAM(120, 80));
    EXPECT_FALSE(IsWindowVisible(child));
    EXPECT_EQ(GetDlgItem(top, 7), child);
    EXPECT_EQ(GetParent(child), top);

    g_heard.clear();
    EXPECT_TRUE(MoveWindow(child, 0, 0, 50, 40, TRUE));
    RECT r;
    ASSERT_TRUE(GetClientRect(child, &r));
    EXPECT_EQ(r.right, 50);
    EXPECT_EQ(r.bottom, 40);
    ASSERT_FALSE(g_heard.empty());
    EXPECT_EQ(g_heard.back().msg, UINT(WM_SIZE));
    EXPECT_EQ(g_heard.back().lp, MAKELPARAM(50, 40));

    // A posted message waits for the loop; a sent one does not.
    g_heard.clear();
    EXPECT_TRUE(PostMessageA(child, WM_USER + 1, 1, 0));
    EXPECT_EQ(SendMessageA(child, WM_USER + 2, 2, 0), 0);
    EXPECT_EQ(messages(), (std::vector<UINT>{WM_USER + 2}));
    ASSERT_TRUE(pumpUntil([&] { return g_heard.size() == 2; }));
    EXPECT_EQ(g_heard.back().msg, UINT(WM_USER + 1));

    g_heard.clear();
    EXPECT_TRUE(PostMessageA(child, WM_USER + 3, 0, 0));
    EXPECT_TRUE(DestroyWindow(child));
    EXPECT_EQ(messages(), (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(child));
    pumpFor(20);
    EXPECT_EQ(messages().size(), 2u) << "a message posted to a destroyed window is dropped";
    EXPECT_FALSE(DestroyWindow(child));
    EXPECT_EQ(SendMessageA(child, WM_USER, 0, 0), 0);
}

TEST_F(WindowsTest, DestroyingAParentTakesItsChildrenAfterItHearsWmDestroy)
{
    const HWND child = CreateWindowExA(0, "NvTestWindow", "", WS_CHILD, 0, 0, 10, 10, top, nullptr,
                                       nullptr, nullptr);
    std::vector<std::pair<HWND, UINT>> order;
    g_onMessage = [&](HWND h, UINT msg, WPARAM) {
        if (msg == WM_DESTROY || msg == WM_NCDESTROY)
            order.emplace_back(h, msg);
    };
    DestroyWindow(top);
    EXPECT_EQ(order, (std::vector<std::pair<HWND, UINT>>{{top, UINT(WM_DESTROY)},
                                                         {child, UINT(WM_DESTROY)},
                                                         {child, UINT(WM_NCDESTROY)},
                                                         {top, UINT(WM_NCDESTROY)}}));
    EXPECT_FALSE(IsWindow(child));
    top = nullptr;
}

TEST_F(WindowsTest, TimersTickOnTheLoopAndStopWhenKilledEvenFromInsideATick)
{
    ASSERT_EQ(SetTimer(top, 1, 1, nullptr), 1u);
    ASSERT_EQ(SetTimer(top, 2, 1, nullptr), 2u);
    ASSERT_EQ(SetTimer(top, 3, 1, nullptr), 3u);
    EXPECT_EQ(count(WM_TIMER, 1), 0) << "no tick before the loop runs";
    g_onMessage = [&](HWND h, UINT msg, WPARAM id) {
        if (msg == WM_TIMER && id == 1 && count(WM_TIMER, 1) == 5) {
            EXPECT_TRUE(KillTimer(h, 1));
        }
    };
    ASSERT_TRUE(pumpUntil([&] { return count(WM_TIMER, 2) >= 20; }));
    EXPECT_EQ(count(WM_TIMER, 1), 5);
    EXPECT_TRUE(KillTimer(top, 2));
    const int ticksOfTwo = count(WM_TIMER, 2);
    const int ticksOfThree = count(WM_TIMER, 3);
    pumpFor(30);
    EXPECT_EQ(count(WM_TIMER, 1), 5);
    EXPECT_EQ(count(WM_TIMER, 2), ticksOfTwo);
    EXPECT_GT(count(WM_TIMER, 3), ticksOfThree) << "the timer nobody killed goes on";
    EXPECT_FALSE(KillTimer(top, 2)) << "killed once";
    EXPECT_TRUE(KillTimer(top, 3));
    for (const Heard &h : g_heard) {
        if (h.msg == WM_TIMER) {
            EXPECT_EQ(h.lp, 0);
        }
    }
}

platform::DialogTemplate pageDialog()
{
    platform::DialogTemplate t;
    t.style = 0x40080048; // child, system menu, font in the template, fixed system font
    t.exStyle = 0x1A0;
    t.cx = 186;
    t.cy = 93;
    t.pointSize = 8;
    t.weight = 400;
    t.charset = 1;
    t.fontName = "MS Shell Dlg";
    platform::DialogItem label;
    label.style = WS_VISIBLE;
    label.x = 4;
    label.y = 8;
    label.cx = 40;
    label.cy = 8;
    label.id = 1001;
    label.className = "STATIC";
    label.text = "Größe";
    t.items.push_back(label);
    return t;
}

HWND g_itemSeenAtInit = nullptr;

INT_PTR STDMETHODCALLTYPE pageDialogProc(HWND h, UINT msg, WPARAM, LPARAM lp)
{
    if (msg == WM_INITDIALOG) {
        g_itemSeenAtInit = GetDlgItem(h, 1001);
        SetWindowLongPtrA(h, GWLP_USERDATA, lp);
        return TRUE;
    }
    return FALSE;
}

TEST_F(WindowsTest, AnExtendedTemplateRoundTripsAndMakesAHiddenChildDialogInDialogUnits)
{
    const platform::DialogTemplate t = pageDialog();
    const std::vector<std::uint8_t> bytes = platform::buildDialogTemplate(t);
    platform::DialogTemplate back;
    ASSERT_TRUE(platform::parseDialogTemplate(bytes.data(), bytes.size(), &back));
    EXPECT_EQ(back.style, t.style);
    EXPECT_EQ(back.exStyle, t.exStyle);
    EXPECT_EQ(back.fontName, "MS Shell Dlg");
    EXPECT_EQ(back.charset, 1);
    EXPECT_EQ(back.pointSize, 8);
    ASSERT_EQ(back.items.size(), 1u);
    EXPECT_EQ(back.items[0].text, "Größe");
    EXPECT_EQ(back.items[0].className, "STATIC");
    EXPECT_FALSE(platform::parseDialogTemplate(bytes.data(), bytes.size() - 3, &back));

    const HWND dlg = CreateDialogIndirectParamA(
        nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()), top, pageDialogProc, 42);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(g_itemSeenAtInit, GetDlgItem(dlg, 1001)) << "items exist at WM_INITDIALOG";
    EXPECT_NE(g_itemSeenAtInit, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(dlg, GWLP_USERDATA), 42);
    EXPECT_EQ(DWORD(GetWindowLongPtrA(dlg, GWL_STYLE)), t.style);
    EXPECT_EQ(DWORD(GetWindowLongPtrA(dlg, GWL_EXSTYLE)), t.exStyle);
    EXPECT_FALSE(IsWindowVisible(dlg));
    RECT r;
    ASSERT_TRUE(GetClientRect(dlg, &r));
    EXPECT_EQ(r.right, 186 * 6 / 4);
    EXPECT_EQ(r.bottom, 93 * 13 / 8);
    RECT units{0, 0, 186, 93};
    ASSERT_TRUE(MapDialogRect(dlg, &units));
    EXPECT_EQ(units.right, r.right);
    EXPECT_EQ(units.bottom, r.bottom);
    ShowWindow(top, SW_SHOW);
    EXPECT_FALSE(IsWindowVisible(dlg));
    ShowWindow(dlg, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(dlg));
}

HWND g_modal = nullptr;

INT_PTR STDMETHODCALLTYPE modalProc(HWND h, UINT msg, WPARAM, LPARAM)
{
    if (msg == WM_INITDIALOG)
        g_modal = h;
    return FALSE;
}

TEST_F(WindowsTest, AModalDialogReturnsWhatEndDialogGives)
{
    platform::DialogTemplate t;
    t.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | DS_SETFONT;
    t.cx = 100;
    t.cy = 50;
    t.caption = "About";
    t.pointSize = 8;
    const auto bytes = platform::buildDialogTemplate(t);
    ShowWindow(top, SW_SHOW);
    SetTimer(top, 9, 10, nullptr);
    g_onMessage = [](HWND h, UINT msg, WPARAM id) {
        if (msg != WM_TIMER || id != 9)
            return;
        KillTimer(h, 9);
        EXPECT_TRUE(IsWindowVisible(g_modal));
        EXPECT_FALSE(IsWindowEnabled(h)) << "the owner waits while the dialog is up";
        SendMessageA(g_modal, WM_CLOSE, 0, 0); // as the close box does: a cancel
    };
    EXPECT_EQ(DialogBoxIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()), top,
                                      modalProc, 0),
              IDCANCEL);
    EXPECT_TRUE(IsWindowEnabled(top));
    EXPECT_FALSE(IsWindow(g_modal));
}

TEST(Drawing, FillRectIsReadBackFromAMemoryDeviceContext)
{
    const HDC dc = CreateCompatibleDC(nullptr);
    const HBITMAP bitmap = CreateCompatibleBitmap(dc, 20, 10);
    SelectObject(dc, bitmap);
    const HBRUSH brush = CreateSolidBrush(RGB(207, 210, 225));
    const RECT r{2, 2, 10, 8};
    EXPECT_EQ(FillRect(dc, &r, brush), 1);
    EXPECT_EQ(GetPixel(dc, 2, 2), COLORREF(0x00E1D2CF));
    EXPECT_EQ(GetPixel(dc, 9, 7), COLORREF(0x00E1D2CF));
    EXPECT_EQ(GetPixel(dc, 10, 8), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(dc, 20, 0), CLR_INVALID);
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_FALSE(DeleteObject(brush));
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_TRUE(DeleteObject(bitmap));
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
