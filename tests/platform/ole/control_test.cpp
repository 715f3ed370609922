// SPDX-License-Identifier: MIT
// A small control embedded by ProgID through the container helper: what its window hears, what
// its host's site sees, drawing, property exchange, the properties verb, and that every
// reference is given back at the end.
#include "controltestkit.h"
#include "platform/framework.h"
#include "platform/olesite.h"
#include "platform/propexchange.h"
#include "platform/qtwindow.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using ControlTestKit::Bag;

PLATFORM_GUID(CLSID_TestCtrl, 0x5A0B1C11, 0x7E21, 0x4C9A, 0x9B, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50,
              0x60);
PLATFORM_GUID(CLSID_TestPage, 0x5A0B1C12, 0x7E21, 0x4C9A, 0x9B, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50,
              0x61);
const UINT kPageDialog = 300; // in control_test.rc

std::vector<std::string> g_log;
int g_liveControls = 0;
int g_pagesShown = 0;

class CTestCtrl : public COleControl
{
    DECLARE_DYNCREATE(CTestCtrl)
public:
    CTestCtrl() { ++g_liveControls; }
    ~CTestCtrl() override { --g_liveControls; }

    int OnCreate(CREATESTRUCTA *cs) override
    {
        g_log.push_back("create");
        if (COleControl::OnCreate(cs) == -1)
            return -1;
        OnActivateInPlace(TRUE, nullptr);
        return 0;
    }
    void OnSize(UINT type, int cx, int cy) override
    {
        COleControl::OnSize(type, cx, cy);
        g_log.push_back("size " + std::to_string(cx) + "x" + std::to_string(cy));
    }
    void OnDestroy() override
    {
        g_log.push_back("destroy");
        COleControl::OnDestroy();
    }
    void OnDraw(CDC *pdc, const CRect &bounds, const CRect &) override
    {
        if (!pdc)
            return;
        CBrush brush(RGB(207, 210, 225));
        pdc->FillRect(&bounds, &brush);
    }
    void DoPropExchange(CPropExchange *pPX) override
    {
        ExchangeVersion(pPX, 0x00010000);
        COleControl::DoPropExchange(pPX);
        PX_Long(pPX, "Zoom", m_zoom, 5);
    }
    const CLSID *GetPropPageIDs(ULONG &count) override
    {
        count = 1;
        return &CLSID_TestPage;
    }
    LONG m_zoom = 0;
};
IMPLEMENT_DYNCREATE(CTestCtrl, COleControl)

class CTestPage : public COlePropertyPage
{
    DECLARE_DYNCREATE(CTestPage)
public:
    CTestPage()
        : COlePropertyPage(kPageDialog, 0)
    {}
    BOOL OnInitDialog() override
    {
        ++g_pagesShown;
        // As a user would: the page is closed with OK once it is up.
        PostMessageA(m_hWnd, WM_COMMAND, IDOK, 0);
        return COlePropertyPage::OnInitDialog();
    }
};
IMPLEMENT_DYNCREATE(CTestPage, COlePropertyPage)

COleObjectFactory g_ctrlFactory(CLSID_TestCtrl, RUNTIME_CLASS(CTestCtrl), FALSE, "NvTest.Ctrl.1");
COleObjectFactory g_pageFactory(CLSID_TestPage, RUNTIME_CLASS(CTestPage), FALSE, "NvTest.Page.1");

class ControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static const bool registered = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = DefWindowProcA;
            wc.lpszClassName = "NvTestHost";
            return RegisterClassA(&wc) != 0;
        }();
        ASSERT_TRUE(registered);
        g_log.clear();
        host = CreateWindowExA(0, "NvTestHost", "host", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 400, 300,
                               nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(host, nullptr);
    }
    void TearDown() override
    {
        ax.Destroy();
        DestroyWindow(host);
        EXPECT_EQ(g_liveControls, 0) << "every reference to the control was given back";
        EXPECT_EQ(AfxGetModuleState()->locks.load(), 0);
    }
    HWND host = nullptr;
    platform::AxHost ax;
};

TEST_F(ControlTest, CreatedByProgIdItIsActiveInItsHostsWindowAndGoesWhenDestroyed)
{
    ASSERT_EQ(ax.Create("NvTest.Ctrl.1", host, CRect(10, 10, 210, 110)), S_OK);
    EXPECT_EQ(g_log, (std::vector<std::string>{"create", "size 200x100"}));
    const HWND window = ax.ControlWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetParent(window), host);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_TRUE(ax.Site()->m_inPlaceActive);
    EXPECT_TRUE(ax.Site()->m_uiActive) << "the control activated its user interface in OnCreate";

    ax.Resize(CRect(0, 0, 320, 240));
    EXPECT_EQ(g_log.back(), "size 320x240");
    RECT r;
    ASSERT_TRUE(GetClientRect(window, &r));
    EXPECT_EQ(r.right, 320);

    ax.Destroy();
    EXPECT_EQ(g_log.back(), "destroy");
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(g_liveControls, 0);
}

TEST_F(ControlTest, AnUnknownProgIdIsRefused)
{
    EXPECT_EQ(ax.Create("NvTest.Nothing.1", host, CRect(0, 0, 10, 10)), CO_E_CLASSSTRING);
    EXPECT_EQ(ax.ControlWindow(), nullptr);
}

TEST_F(ControlTest, OnDrawFillsTheBoundsItIsGiven)
{
    ASSERT_EQ(ax.Create("NvTest.Ctrl.1", host, CRect(0, 0, 50, 50)), S_OK);
    platform::ComPtr<IViewObject> view;
    ASSERT_EQ(ax.QueryControl(IID_IViewObject, view.putVoid()), S_OK);
    ASSERT_NO_FATAL_FAILURE(ControlTestKit::expectDrawFillsTheBounds(view.get()));
}

TEST_F(ControlTest, PropertyExchangeCarriesTheVersionStampAndDefaults)
{
    ASSERT_EQ(ax.Create("NvTest.Ctrl.1", host, CRect(0, 0, 50, 50)), S_OK);
    platform::ComPtr<IPersistPropertyBag> persist;
    ASSERT_EQ(ax.QueryControl(IID_IPersistPropertyBag, persist.putVoid()), S_OK);
    Bag saved;
    ASSERT_EQ(persist->InitNew(), S_OK);
    ASSERT_EQ(persist->Save(&saved, TRUE, TRUE), S_OK);
    EXPECT_EQ(saved.values[u"_Version"], 0x00010000);
    EXPECT_EQ(saved.values[u"Zoom"], 5);

    Bag older;
    older.values[u"_Version"] = 0x00000001;
    ASSERT_EQ(persist->Load(&older, nullptr), S_OK);
    platform::ComPtr<IDispatch> disp;
    ASSERT_EQ(ax.QueryControl(IID_IDispatch, disp.putVoid()), S_OK);
    auto *ctrl = dynamic_cast<CTestCtrl *>(CCmdTarget::FromIDispatch(disp.get()));
    ASSERT_NE(ctrl, nullptr);
    EXPECT_EQ(ctrl->GetVersionLoaded(), 0x00000001u);
    EXPECT_EQ(ctrl->m_zoom, 5) << "a property the bag lacks takes its default";
}

TEST_F(ControlTest, ThePropertiesVerbShowsEachPropertyPageModally)
{
    ASSERT_EQ(ax.Create("NvTest.Ctrl.1", host, CRect(0, 0, 50, 50)), S_OK);
    platform::ComPtr<IOleObject> object;
    ASSERT_EQ(ax.QueryControl(IID_IOleObject, object.putVoid()), S_OK);
    g_pagesShown = 0;
    EXPECT_EQ(object->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, 0, host, nullptr), S_OK);
    EXPECT_EQ(g_pagesShown, 1);
    EXPECT_EQ(object->DoVerb(-99, nullptr, nullptr, 0, host, nullptr), OLEOBJ_E_INVALIDVERB);
}

// An about box: shown modally, closed by a click on its OK button.
class CAboutDlg : public CDialog
{
public:
    CAboutDlg()
        : CDialog(100)
    {}
    bool labelShown = false;
    BOOL OnInitDialog() override
    {
        QTimer::singleShot(0, [this] {
            const HWND ok = GetDlgItem(IDOK);
            labelShown = IsWindowVisible() && ::IsWindowVisible(GetDlgItem(IDOK));
            QTest::mouseClick(platform::win::widgetOf(ok), Qt::LeftButton);
        });
        return CDialog::OnInitDialog();
    }
};

TEST(AboutBox, AModalDialogFromTheModuleEndsWithItsOkButton)
{
    CAboutDlg about;
    EXPECT_EQ(about.DoModal(), IDOK);
    EXPECT_TRUE(about.labelShown) << "the dialog was up while the owner waited";
    EXPECT_EQ(about.m_hWnd, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
