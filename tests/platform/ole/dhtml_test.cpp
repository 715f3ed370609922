// SPDX-License-Identifier: MIT
// A test dialog on the HTML dialog with a site of its own, against pages served on loopback:
// frames, failed navigations, scripts run from the host, script errors, window.external, the
// context menu, dialogs, and what a page may download.
#include "pageserver.h"
#include "platform/dhtml.h"
#include "platform/framework.h"
#include "platform/qtwindow.h"
#include "rawserver.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using platform::ComPtr;
using TestPages::waitFor;

namespace {

// In dhtml_test.rc.
const UINT kDialog = 203;
const UINT kStartPage = 202;

std::string narrow(const VARIANT *v)
{
    return v && v->vt == VT_BSTR ? platform::fromUtf16(platform::bstrText(v->bstrVal)) : "";
}

HRESULT execScript(IHTMLWindow2 *window, const std::string &script)
{
    BSTR code = platform::allocBstr(script);
    BSTR lang = platform::allocBstr("JAVASCRIPT");
    VARIANT r;
    const HRESULT hr = window->execScript(code, lang, &r);
    SysFreeString(code);
    SysFreeString(lang);
    return hr;
}

// What page script reaches as window.external.
class CExternal : public CCmdTarget
{
    DECLARE_DISPATCH_MAP()
public:
    CExternal() { EnableAutomation(); }
    std::vector<std::string> reports;
    IHTMLWindow2 *window = nullptr; // for Queue, set by the test
    LONG Foo(const char *text) { return LONG(std::string(text).size()) * 10; }
    void Report(const char *text) { reports.emplace_back(text); }
    // Runs more script while the page waits for this call.
    LONG Queue(const char *script) { return window ? execScript(window, script) : -1; }
};

BEGIN_DISPATCH_MAP(CExternal, CCmdTarget)
DISP_FUNCTION(CExternal, "Foo", Foo, VT_I4, VTS_BSTR)
DISP_FUNCTION(CExternal, "Report", Report, VT_EMPTY, VTS_BSTR)
DISP_FUNCTION(CExternal, "Queue", Queue, VT_I4, VTS_BSTR)
END_DISPATCH_MAP()

class CTestDlg;

// The site the dialog makes for its browser: it adds a command target and a user-interface
// handler to the framework's site, both answered by the dialog.
class CTestSite : public COleControlSite
{
public:
    CTestSite(COleControlContainer *container, CTestDlg *owner)
        : COleControlSite(container)
        , m_owner(owner)
    {}
    CTestDlg *m_owner;

    BEGIN_INTERFACE_PART(OleCommandTarget, IOleCommandTarget)
    HRESULT STDMETHODCALLTYPE QueryStatus(const GUID *, ULONG, OLECMD[], OLECMDTEXT *) override;
    HRESULT STDMETHODCALLTYPE Exec(const GUID *group, DWORD id, DWORD, VARIANT *in,
                                   VARIANT *out) override;
    END_INTERFACE_PART(OleCommandTarget)

    BEGIN_INTERFACE_PART(DocHostUIHandler, IDocHostUIHandler)
    HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD id, POINT *, IUnknown *, IDispatch *) override;
    HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO *info) override;
    HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IOleInPlaceActiveObject *, IOleCommandTarget *,
                                     IOleInPlaceFrame *, IOleInPlaceUIWindow *) override
    {
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE HideUI() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UpdateUI() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow *, BOOL) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, const GUID *, DWORD) override
    {
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR *, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget *, IDropTarget **out) override
    {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetExternal(IDispatch **out) override;
    HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, LPWSTR, LPWSTR *out) override
    {
        *out = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject *, IDataObject **out) override
    {
        *out = nullptr;
        return S_FALSE;
    }
    END_INTERFACE_PART(DocHostUIHandler)

    DECLARE_INTERFACE_MAP()
};

BEGIN_INTERFACE_MAP(CTestSite, COleControlSite)
INTERFACE_PART(CTestSite, IID_IOleCommandTarget, OleCommandTarget)
INTERFACE_PART(CTestSite, IID_IDocHostUIHandler, DocHostUIHandler)
END_INTERFACE_MAP()
IMPLEMENT_NESTED_IUNKNOWN(CTestSite, OleCommandTarget)
IMPLEMENT_NESTED_IUNKNOWN(CTestSite, DocHostUIHandler)

struct Loaded
{
    bool top;
    std::string url;
};

class CTestDlg : public CDHtmlDialog
{
public:
    explicit CTestDlg(CWnd *parent)
        : CDHtmlDialog(kDialog, kStartPage, parent)
    {}
    std::vector<Loaded> loads;
    std::vector<std::string> failures;
    bool failureFrameUsable = false;
    int sitesAsked = 0;
    int scriptErrors = 0;
    bool scriptErrorHadWindow = false;
    std::vector<DWORD> menus;
    LONG downloadControl = 0x4010;

    BOOL OnInitDialog() override
    {
        CDHtmlDialog::OnInitDialog();
        m_pBrowserApp->put_RegisterAsDropTarget(VARIANT_FALSE);
        m_pBrowserApp->put_Silent(VARIANT_TRUE);
        return TRUE;
    }
    BOOL CreateControlSite(COleControlContainer *container, COleControlSite **site, UINT,
                           REFCLSID) override
    {
        ++sitesAsked;
        if (!site)
            return FALSE;
        *site = new CTestSite(container, this);
        return TRUE;
    }
    BOOL OnAmbientProperty(COleControlSite *site, DISPID id, VARIANT *v) override
    {
        if (id == DISPID_AMBIENT_DLCONTROL) {
            v->vt = VT_I4;
            v->lVal = downloadControl;
            return TRUE;
        }
        return CDHtmlDialog::OnAmbientProperty(site, id, v);
    }
    void OnDocumentComplete(LPDISPATCH disp, LPCSTR url) override
    {
        ComPtr<IUnknown> a, b;
        disp->QueryInterface(IID_IUnknown, a.putVoid());
        m_pBrowserApp->QueryInterface(IID_IUnknown, b.putVoid());
        loads.push_back({a.get() == b.get(), url});
    }
    BOOL OnNavigateError(LPDISPATCH frame, VARIANT *url, VARIANT *, VARIANT *status,
                         VARIANT_BOOL *) override
    {
        ComPtr<IWebBrowser2> browser;
        BSTR location = nullptr;
        failureFrameUsable = SUCCEEDED(frame->QueryInterface(IID_IWebBrowser2, browser.putVoid()))
                             && SUCCEEDED(browser->get_LocationURL(&location))
                             && status->vt == VT_I4 && FAILED(status->lVal);
        SysFreeString(location);
        failures.push_back(narrow(url));
        return FALSE;
    }
    HRESULT ShowContextMenu(DWORD id, POINT *, IUnknown *, IDispatch *) override
    {
        menus.push_back(id);
        return id == CONTEXT_MENU_CONTROL || id == CONTEXT_MENU_TEXTSELECT ? S_FALSE : S_OK;
    }
    HRESULT GetHostInfo(DOCHOSTUIINFO *info) override
    {
        info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_THEME;
        return S_OK;
    }
    bool topLoaded(const std::string &url) const
    {
        for (const Loaded &l : loads)
            if (l.top && (url.empty() || l.url == url))
                return true;
        return false;
    }
};

HRESULT CTestSite::XOleCommandTarget::QueryStatus(const GUID *, ULONG, OLECMD[], OLECMDTEXT *)
{
    return OLECMDERR_E_NOTSUPPORTED;
}

HRESULT CTestSite::XOleCommandTarget::Exec(const GUID *group, DWORD id, DWORD, VARIANT *in,
                                           VARIANT *out)
{
    METHOD_PROLOGUE(CTestSite, OleCommandTarget)
    if (!group || !IsEqualGUID(*group, CGID_DocHostCommandHandler))
        return OLECMDERR_E_UNKNOWNGROUP;
    if (id != OLECMDID_SHOWSCRIPTERROR)
        return OLECMDERR_E_NOTSUPPORTED;
    ++pThis->m_owner->scriptErrors;
    ComPtr<IHTMLDocument2> doc;
    ComPtr<IHTMLWindow2> window;
    HRESULT hr = E_FAIL;
    if (in && in->vt == VT_UNKNOWN && in->punkVal
        && SUCCEEDED(in->punkVal->QueryInterface(IID_IHTMLDocument2, doc.putVoid())))
        hr = doc->get_parentWindow(window.put());
    pThis->m_owner->scriptErrorHadWindow = SUCCEEDED(hr) && window;
    out->vt = VT_BOOL;
    out->boolVal = VARIANT_TRUE;
    return hr;
}

HRESULT CTestSite::XDocHostUIHandler::ShowContextMenu(DWORD id, POINT *pt, IUnknown *a,
                                                      IDispatch *b)
{
    METHOD_PROLOGUE(CTestSite, DocHostUIHandler)
    return pThis->m_owner->ShowContextMenu(id, pt, a, b);
}

HRESULT CTestSite::XDocHostUIHandler::GetHostInfo(DOCHOSTUIINFO *info)
{
    METHOD_PROLOGUE(CTestSite, DocHostUIHandler)
    return pThis->m_owner->GetHostInfo(info);
}

HRESULT CTestSite::XDocHostUIHandler::GetExternal(IDispatch **out)
{
    METHOD_PROLOGUE(CTestSite, DocHostUIHandler)
    return pThis->m_owner->GetExternal(out);
}

class DHtmlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(parent.CreateEx(0, nullptr, "host", WS_OVERLAPPED | WS_VISIBLE,
                                    CRect(0, 0, 500, 400), static_cast<CWnd *>(nullptr), 0));
        dlg = new CTestDlg(&parent);
        ASSERT_TRUE(dlg->Create(kDialog, &parent));
        ASSERT_NE(dlg->m_pBrowserApp, nullptr);
        dlg->ShowWindow(SW_SHOW);
        dlg->MoveWindow(0, 0, 500, 400);
        // The start page from the module comes first.
        ASSERT_TRUE(waitFor([&] { return dlg->topLoaded(""); }));
        EXPECT_EQ(dlg->loads.front().url.rfind("data:", 0), 0u);
        dlg->SetExternalDispatch(external.GetIDispatch(FALSE));
        dlg->loads.clear();
    }
    void TearDown() override
    {
        if (external.window)
            std::exchange(external.window, nullptr)->Release();
        dlg->DestroyWindow();
        dlg->ExternalRelease();
        parent.DestroyWindow();
    }
    void open(const std::string &path)
    {
        dlg->loads.clear();
        const std::string url = server.url(path).toStdString();
        dlg->Navigate(url.c_str());
        ASSERT_TRUE(waitFor([&] { return dlg->topLoaded(url); })) << url;
    }
    ComPtr<IHTMLWindow2> topWindow()
    {
        ComPtr<IHTMLDocument2> doc;
        ComPtr<IHTMLWindow2> window;
        if (SUCCEEDED(dlg->GetDHtmlDocument(doc.put())))
            doc->get_parentWindow(window.put());
        return window;
    }

    TestPages::PageServer server;
    CWnd parent;
    CTestDlg *dlg = nullptr;
    CExternal external;
};

TEST_F(DHtmlTest, TheBrowserGetsItsSiteFromTheDialogAndFillsTheClientArea)
{
    EXPECT_EQ(dlg->sitesAsked, 1);
    const HWND browser = dlg->GetDlgItem(CDHtmlDialog::kBrowserId);
    ASSERT_NE(browser, nullptr);
    RECT r;
    GetClientRect(browser, &r);
    EXPECT_EQ(r.right, 500);
    EXPECT_EQ(r.bottom, 400);
    VARIANT_BOOL silent = VARIANT_FALSE, drop = VARIANT_TRUE;
    dlg->m_pBrowserApp->get_Silent(&silent);
    dlg->m_pBrowserApp->get_RegisterAsDropTarget(&drop);
    EXPECT_EQ(silent, VARIANT_TRUE);
    EXPECT_EQ(drop, VARIANT_FALSE);
}

TEST_F(DHtmlTest, DocumentCompleteComesOncePerFrameWithItsUrlAndTheTopFrameLast)
{
    server.add("/a.html", "<p>a</p>");
    server.add("/b.html", "<p>b</p>");
    server.add("/two.html", "<iframe src='/a.html'></iframe><iframe src='/b.html'></iframe>");
    open("/two.html");
    ASSERT_EQ(dlg->loads.size(), 3u);
    EXPECT_FALSE(dlg->loads[0].top);
    EXPECT_FALSE(dlg->loads[1].top);
    EXPECT_TRUE(dlg->loads[2].top);
    std::vector<std::string> frames{dlg->loads[0].url, dlg->loads[1].url};
    std::sort(frames.begin(), frames.end());
    EXPECT_EQ(frames, (std::vector<std::string>{server.url("/a.html").toStdString(),
                                                server.url("/b.html").toStdString()}));
}

TEST_F(DHtmlTest, AnUnreachableAddressGivesNavigateErrorWithAUsableFrame)
{
    const std::string dead
        = QStringLiteral("http://127.0.0.1:%1/gone").arg(TestSupport::unusedPort()).toStdString();
    dlg->Navigate(dead.c_str());
    ASSERT_TRUE(waitFor([&] { return !dlg->failures.empty() && dlg->topLoaded(""); }));
    EXPECT_EQ(dlg->failures, (std::vector<std::string>{dead}));
    EXPECT_TRUE(dlg->failureFrameUsable);
    EXPECT_NE(dlg->loads.back().url.rfind("http", 0), 0u) << "the engine's error page follows";
}

TEST_F(DHtmlTest, ExecScriptRunsInThePageAndAScriptErrorGoesToExecFortyAndIsSwallowed)
{
    server.add("/page.html", "<script>var ran = [];</script>");
    open("/page.html");
    ComPtr<IHTMLWindow2> window = topWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(execScript(window.get(), "ran.push(1); window.external.Report('first')"), S_OK);
    EXPECT_EQ(external.reports, (std::vector<std::string>{"first"})) << "ran before returning";
    EXPECT_TRUE(FAILED(execScript(window.get(), "this is ( not script")));
    EXPECT_EQ(dlg->scriptErrors, 1);
    EXPECT_TRUE(dlg->scriptErrorHadWindow);
    EXPECT_EQ(execScript(window.get(), "ran.push(2); window.external.Report('then ' + ran.join())"),
              S_OK);
    EXPECT_EQ(external.reports.back(), "then 1,2");
    // The page's own uncaught errors go the same way, and its scripts go on.
    EXPECT_EQ(execScript(window.get(),
                         "setTimeout(function () { nothingHere(); }, 0);"
                         "setTimeout(function () { window.external.Report('on'); }, 10);"),
              S_OK);
    ASSERT_TRUE(waitFor([&] { return external.reports.back() == "on"; }));
    EXPECT_EQ(dlg->scriptErrors, 2);
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible() && w->inherits("QDialog")) << "no error dialog";
}

TEST_F(DHtmlTest, ExternalMembersAreFoundWhateverTheCaseAndAnswerSynchronouslyInEveryFrame)
{
    const std::string script
        = "<script>var miss = 'none';"
          "try { window.external.Missing(); } catch (e) { miss = e.name; }"
          "window.external.Report(window.external.Foo('abc') + ',' + window.external.foo('ab')"
          "                       + ',' + miss);</script>";
    server.add("/inner.html", script);
    server.add("/outer.html", script + "<iframe src='/inner.html'></iframe>");
    open("/outer.html");
    EXPECT_EQ(external.reports, (std::vector<std::string>{"30,20,TypeError", "30,20,TypeError"}));
}

TEST_F(DHtmlTest, AHostCallbackThatRunsMoreScriptDoesNotDeadlock)
{
    server.add("/page.html", "<p>p</p>");
    open("/page.html");
    ComPtr<IHTMLWindow2> window = topWindow();
    external.window = window.get();
    window->AddRef();
    EXPECT_EQ(execScript(window.get(),
                         "var hr = window.external.Queue(\"window.external.Report('queued')\");"
                         "window.external.Report('returned ' + hr);"),
              S_OK);
    ASSERT_TRUE(waitFor([&] { return external.reports.size() == 2; }, 5000));
    EXPECT_EQ(external.reports, (std::vector<std::string>{"returned 0", "queued"}));
}

TEST_F(DHtmlTest, NoDialogStopsThePageInSilentMode)
{
    server.add("/dialogs.html", "<script>alert('a'); var c = confirm('c'); var p = prompt('p');"
                                "window.external.Report(c + ',' + p);</script>");
    open("/dialogs.html");
    EXPECT_EQ(external.reports, (std::vector<std::string>{"false,null"}));
}

TEST_F(DHtmlTest, TheAmbientDownloadControlLetsImagesInAndKeepsMediaAndCachesOut)
{
    TestPages::addMediaPage(server);
    open("/media.html");
    EXPECT_TRUE(server.requested("/dot.png"));
    EXPECT_EQ(server.cacheControl("/media.html"), "no-cache");
    EXPECT_FALSE(server.requested("/clip.webm"));
    EXPECT_FALSE(server.requested("/tune.ogg"));
}

struct MenuCase
{
    const char *name;
    QPoint at;
    DWORD kind;
    bool engineMenu;
};

class DHtmlMenuTest : public DHtmlTest, public ::testing::WithParamInterface<MenuCase>
{};

TEST_P(DHtmlMenuTest, TheSitesAnswerDecidesWhatARightClickShows)
{
    server.add("/menu.html", "<body style='margin:0'><input style='position:absolute;left:0;"
                             "top:0;width:200px;height:40px'><p style='margin-top:200px'>text</p>");
    open("/menu.html");
    QWidget *browser = platform::win::widgetOf(dlg->GetDlgItem(CDHtmlDialog::kBrowserId));
    ASSERT_NE(browser, nullptr);
    auto *view = browser->findChild<QWebEngineView *>();
    ASSERT_NE(view, nullptr);
    ASSERT_NE(view->focusProxy(), nullptr);
    // A page in a new renderer can finish loading before it learns its size; a click on a page
    // that still thinks it is empty hits no element.
    ComPtr<IHTMLWindow2> window = topWindow();
    ASSERT_TRUE(window);
    const QSize size = view->focusProxy()->size();
    const std::string sized
        = QStringLiteral("%1x%2").arg(size.width()).arg(size.height()).toStdString();
    ASSERT_TRUE(waitFor(
        [&] {
            execScript(window.get(), "window.external.Report(innerWidth + 'x' + innerHeight)");
            return !external.reports.empty() && external.reports.back() == sized;
        },
        5000))
        << sized;
    const MenuCase &c = GetParam();
    QTest::mouseClick(view->focusProxy(), Qt::RightButton, {}, c.at);
    ASSERT_TRUE(waitFor([&] { return !dlg->menus.empty(); }, 5000));
    EXPECT_EQ(dlg->menus.front(), c.kind);
    QCoreApplication::processEvents();
    QMenu *menu = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *m = qobject_cast<QMenu *>(w); m && m->isVisible())
            menu = m;
    EXPECT_EQ(menu != nullptr, c.engineMenu);
    if (menu)
        menu->close();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DHtmlMenuTest,
    ::testing::Values(MenuCase{"PlainContent", QPoint(300, 300), CONTEXT_MENU_DEFAULT, false},
                      MenuCase{"EditField", QPoint(20, 20), CONTEXT_MENU_CONTROL, true}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
