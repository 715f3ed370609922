// SPDX-License-Identifier: MIT
// The control as a host uses it: registered, created by ProgID in a window of the host's, called
// through its IDispatch, with a listener object of the host's, against pages served on loopback.
#include "controltestkit.h"
#include "pageserver.h"
#include "platform/creation.h"
#include "platform/dhtml.h"
#include "platform/framework.h"
#include "platform/olesite.h"
#include "platform/propexchange.h"
#include "platform/qtwindow.h"
#include "rawserver.h"
#include "registryfixture.h"
#include "tessel/TesselDllHost.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

using platform::ComPtr;
using TestPages::waitFor;

namespace {

using ControlTestKit::Bag;

using tessel::kProgId;

struct Note
{
    std::string name;
    std::string data; // the text of MainCall's data; "" for the others
    std::intptr_t raw;
    bool operator==(const Note &o) const { return name == o.name && data == o.data; }
};

std::ostream &operator<<(std::ostream &os, const Note &n)
{
    return os << n.name << "(" << n.data << ")";
}

// The host's listener: it keeps what it hears and answers 7 unless told otherwise.
class Recorder : public CPageListener
{
public:
    std::vector<Note> notes;
    std::function<std::int32_t(const std::string &, std::intptr_t)> react;

    std::int32_t OnPageMessage(const char *name, std::intptr_t data) override
    {
        const std::string n = name;
        const bool text = n != "LoadComplete" && n != "InaccessiblePage";
        notes.push_back({n, text && data ? reinterpret_cast<const char *>(data) : "", data});
        return react ? react(n, data) : 7;
    }
    // What was heard, without the load notifications.
    std::vector<Note> calls() const
    {
        std::vector<Note> out;
        for (const Note &n : notes)
            if (n.name != "LoadComplete")
                out.push_back(n);
        return out;
    }
    int count(const std::string &name) const
    {
        int c = 0;
        for (const Note &n : notes)
            c += n.name == name;
        return c;
    }
    bool heard(const std::string &name) const { return count(name) > 0; }
};

// A listener of a class that knows nothing of the header: only its table is laid out alike.
struct ForeignListener
{
    virtual void first() { ++firstCalls; }
    virtual std::int32_t second(const char *name, std::intptr_t data)
    {
        last = name;
        lastData = data;
        return 42;
    }
    int firstCalls = 0;
    std::string last;
    std::intptr_t lastData = 0;
};

std::uint64_t addressOf(void *p)
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
}

HWND hostWindow(int width = 400, int height = 300)
{
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "TesselTestHost";
        return RegisterClassA(&wc) != 0;
    }();
    EXPECT_TRUE(registered);
    return CreateWindowExA(0, "TesselTestHost", "host", WS_OVERLAPPED | WS_VISIBLE, 0, 0, width,
                           height, nullptr, nullptr, nullptr, nullptr);
}

// The page host is the control window's one child dialog.
HWND pageHostOf(HWND control)
{
    return control ? GetDlgItem(control, 0) : nullptr;
}

CDHtmlDialog *dialogOf(HWND control)
{
    return dynamic_cast<CDHtmlDialog *>(CWnd::FromHandlePermanent(pageHostOf(control)));
}

void settle(int ms)
{
    QTest::qWait(ms);
}

class MapControl : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host = hostWindow();
        ASSERT_NE(host, nullptr);
        ASSERT_EQ(ax.Create(kProgId, host, CRect(0, 0, 400, 300)), S_OK);
        ASSERT_EQ(ax.QueryControl(IID_IDispatch, ctrl.putVoid()), S_OK);
        control.attach(ctrl.get());
        EXPECT_EQ(listen(&rec), 0);
    }
    void TearDown() override
    {
        control.attach(nullptr);
        ctrl = {};
        ax.Destroy();
        DestroyWindow(host);
    }
    // Each call as a host makes it; the answer is 0, always.
    LONG listen(CPageListener *l) { return listen(tessel::listenerAddress(l)); }
    LONG listen(std::uint64_t address) { return checked(control.AddLinster(address)); }
    LONG init(const std::string &url, LONG type = 0, const std::string &post = "",
              const std::string &header = "")
    {
        return checked(control.init(url, type, post, header));
    }
    LONG call(const std::string &script) { return checked(control.CallJavaScritp(script)); }
    LONG checked(LONG result)
    {
        EXPECT_EQ(control.lastResult(), S_OK);
        return result;
    }
    std::string url(const std::string &path) { return server.url(path).toStdString(); }
    // Loads a page and waits for its top frame's LoadComplete.
    void open(const std::string &path, int loads = 1)
    {
        const int before = rec.count("LoadComplete");
        EXPECT_EQ(init(url(path)), 0);
        ASSERT_TRUE(waitFor([&] { return rec.count("LoadComplete") >= before + loads; })) << path;
    }

    TestPages::PageServer server;
    HWND host = nullptr;
    platform::AxHost ax;
    ComPtr<IDispatch> ctrl;
    tessel::CTesselDllHost control;
    Recorder rec;
};

// Each queued script tells the listener its number when it runs.
std::string ran(int n)
{
    return "window.external.MainCall('ran', '" + std::to_string(n) + "')";
}

std::vector<Note> ranNotes(std::initializer_list<int> ns)
{
    std::vector<Note> out;
    for (int n : ns)
        out.push_back({"ran", std::to_string(n), 0});
    return out;
}

TEST_F(MapControl, ThePageHostFillsTheControlAndShowsOnlyOnInit)
{
    const HWND control = ax.ControlWindow();
    EXPECT_TRUE(ax.Site()->m_uiActive) << "active in place with its user interface at once";
    const HWND page = pageHostOf(control);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(GetParent(page), control);
    EXPECT_FALSE(IsWindowVisible(page)) << "hidden until init";
    CDHtmlDialog *dlg = dialogOf(control);
    ASSERT_NE(dlg, nullptr);
    ASSERT_NE(dlg->m_pBrowserApp, nullptr);
    VARIANT_BOOL silent = VARIANT_FALSE, drop = VARIANT_TRUE;
    dlg->m_pBrowserApp->get_Silent(&silent);
    dlg->m_pBrowserApp->get_RegisterAsDropTarget(&drop);
    EXPECT_EQ(silent, VARIANT_TRUE);
    EXPECT_EQ(drop, VARIANT_FALSE);
    settle(300);
    EXPECT_TRUE(rec.notes.empty()) << "the start page is no page of the host's";

    server.add("/map.html", "<p>map</p>");
    open("/map.html");
    EXPECT_TRUE(IsWindowVisible(page));
    RECT r;
    GetWindowRect(page, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 400);
    EXPECT_EQ(r.bottom, 300);
}

TEST_F(MapControl, ItDrawsItsColourAndKeepsOnlyItsVersionStamp)
{
    ComPtr<IViewObject> view;
    ASSERT_EQ(ax.QueryControl(IID_IViewObject, view.putVoid()), S_OK);
    ASSERT_NO_FATAL_FAILURE(ControlTestKit::expectDrawFillsTheBounds(view.get()));

    ComPtr<IPersistPropertyBag> persist;
    ASSERT_EQ(ax.QueryControl(IID_IPersistPropertyBag, persist.putVoid()), S_OK);
    Bag saved;
    ASSERT_EQ(persist->Save(&saved, TRUE, TRUE), S_OK);
    EXPECT_EQ(saved.values, (std::map<std::u16string, LONG>{{u"_Version", 0x00010000}}));
}

TEST_F(MapControl, ThePageMayDownloadImagesButNoVideoOrSoundAndNothingFromACache)
{
    TestPages::addMediaPage(server);
    open("/media.html");
    EXPECT_TRUE(server.requested("/dot.png"));
    EXPECT_EQ(server.cacheControl("/media.html"), "no-cache");
    EXPECT_FALSE(server.requested("/clip.webm"));
    EXPECT_FALSE(server.requested("/tune.ogg"));
}

// Scripts and page calls travel as narrow text in the process's code page: what it cannot hold
// arrives as '?', the rest intact (run under UTF-8 and under code page 936).
TEST_F(MapControl, TextTravelsInTheProcessCodePage)
{
    server.add("/ready.html", "<script>window.external.MainCall('initComplete', '');</script>");
    EXPECT_EQ(init(url("/ready.html")), 0);
    EXPECT_EQ(call("window.external.MainCall('text', '\u5730\u56fe ' + '地图 ✓')"), 0);
    ASSERT_TRUE(waitFor([&] { return rec.heard("text"); }));
    EXPECT_EQ(rec.calls().back().data, platform::fromUtf16(u"地图 地图 ✓", CP_ACP));
}

TEST_F(MapControl, AboutBoxIsModalAndEndsWithItsOkButton)
{
    const QString caption = QString::fromUtf8("关于 TesselDll Control");
    bool clicked = false;
    auto visibleAbout = [&]() -> QWidget * {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle() == caption)
                return w;
        return nullptr;
    };
    // A person clicks the OK button, the item on the right of the box, once the box is up.
    // Both timers go with the test: a late one would find its locals gone.
    QTimer person;
    person.setInterval(20);
    QObject::connect(&person, &QTimer::timeout, [&] {
        QWidget *about = visibleAbout();
        if (!about)
            return;
        QWidget *ok = nullptr;
        for (QWidget *item : about->findChildren<QWidget *>())
            if (!ok || item->geometry().x() > ok->geometry().x())
                ok = item;
        if (ok) {
            person.stop();
            clicked = true;
            QTest::mouseClick(ok, Qt::LeftButton, {}, ok->rect().center());
        }
    });
    person.start();
    // Should the box not be found, it is closed all the same so that the test ends.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [&] {
        if (QWidget *about = visibleAbout())
            about->close();
    });
    giveUp.start(10000);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(ctrl->Invoke(DISPID_ABOUTBOX, IID_NULL, 0x0409, DISPATCH_METHOD, &none, &result,
                           nullptr, nullptr),
              S_OK);
    EXPECT_TRUE(clicked) << "the box was up while the call waited";
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(visibleAbout(), nullptr);
}

TEST_F(MapControl, AlertReturnsAndThePageGoesOn)
{
    server.add("/alert.html", "<script>var r = window.external.Alert('look');"
                              "window.external.alert('again');"
                              "window.external.MainCall('after', String(r));</script>");
    open("/alert.html");
    ASSERT_TRUE(waitFor([&] { return rec.heard("after"); }));
    EXPECT_EQ(rec.calls(), (std::vector<Note>{{"after", "undefined", 0}}));
}

struct ReadyCase
{
    const char *name;
    const char *call;  // what the page calls
    const char *heard; // the name the listener receives
    bool ready;
};

class Readiness : public MapControl, public ::testing::WithParamInterface<ReadyCase>
{};

TEST_P(Readiness, QueuedScriptsWaitForTheReadyCallThenRunOnePerTickInOrder)
{
    const ReadyCase &c = GetParam();
    server.add("/ready.html", std::string("<script>var r = ") + c.call
                                  + "; window.external.MainCall('result', String(r));</script>");
    EXPECT_EQ(init(url("/ready.html")), 0);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(call(ran(n)), 0);
    ASSERT_TRUE(waitFor([&] { return rec.heard("LoadComplete") && rec.heard("result"); }));
    std::vector<Note> expected{{c.heard, "payload", 0}, {"result", "7", 0}};
    if (c.ready) {
        ASSERT_TRUE(waitFor([&] { return rec.count("ran") == 3; }));
        for (const Note &n : ranNotes({1, 2, 3}))
            expected.push_back(n);
        EXPECT_EQ(rec.calls(), expected);
        // The timer stopped on the empty queue; a script sent now starts it again.
        EXPECT_EQ(call(ran(4)), 0);
        ASSERT_TRUE(waitFor([&] { return rec.count("ran") == 4; }));
        EXPECT_EQ(rec.calls().back(), (Note{"ran", "4", 0}));
    } else {
        settle(300);
        EXPECT_EQ(rec.calls(), expected) << "the scripts stay queued";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, Readiness,
    ::testing::Values(
        ReadyCase{"InitComplete", "window.external.MainCall('initComplete', 'payload')",
                  "initComplete", true},
        ReadyCase{"InitMComplete", "window.external.MainCall('initMComplete', 'payload')",
                  "initMComplete", true},
        ReadyCase{"LowerCaseMethod", "window.external.maincall('initComplete', 'payload')",
                  "initComplete", true},
        ReadyCase{"OtherCaseName", "window.external.MainCall('InitComplete', 'payload')",
                  "InitComplete", false},
        ReadyCase{"AnyOtherName", "window.external.MainCall('cameraClicked', 'payload')",
                  "cameraClicked", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(MapControl, InitTwiceKeepsTheQueueForTheNewPage)
{
    server.add("/slow.html", "<p>first</p>");
    server.add("/second.html", "<script>window.external.MainCall('initComplete', '');</script>");
    EXPECT_EQ(init(url("/slow.html")), 0);
    EXPECT_EQ(call("window.external.MainCall('ran', location.pathname)"), 0);
    ASSERT_TRUE(waitFor([&] { return rec.heard("LoadComplete"); }));
    settle(100);
    EXPECT_FALSE(rec.heard("ran"));
    EXPECT_EQ(init(url("/second.html")), 0);
    ASSERT_TRUE(waitFor([&] { return rec.heard("ran"); }));
    EXPECT_EQ(rec.calls(),
              (std::vector<Note>{{"initComplete", "", 0}, {"ran", "/second.html", 0}}));
}

TEST_F(MapControl, WithoutAListenerMainCallAnswersZeroAndStillMakesThePageReady)
{
    server.add("/ready.html", "<script>var r = window.external.MainCall('initComplete', '');"
                              "</script>");
    EXPECT_EQ(listen(std::uint64_t(0)), 0);
    EXPECT_EQ(init(url("/ready.html")), 0);
    EXPECT_EQ(call("window.ran = 1"), 0);
    ASSERT_TRUE(waitFor([&] { return dialogOf(ax.ControlWindow())->IsWindowVisible(); }));
    settle(500);
    EXPECT_TRUE(rec.notes.empty()) << "nothing reaches a removed listener";
    EXPECT_EQ(listen(&rec), 0);
    EXPECT_EQ(call("window.external.MainCall('state', r + ',' + window.ran)"), 0);
    ASSERT_TRUE(waitFor([&] { return rec.heard("state"); }));
    EXPECT_EQ(rec.calls(), (std::vector<Note>{{"state", "0,1", 0}}));
}

TEST_F(MapControl, LoadCompleteOncePerCompletedServerFrameAndNoneForOtherFrames)
{
    server.add("/a.html", "<p>a</p>");
    server.add("/b.html", "<p>b</p>");
    server.add("/frames.html", "<iframe src='/a.html'></iframe><iframe src='/b.html'></iframe>"
                               "<iframe src='data:text/html,<p>data</p>'></iframe>"
                               "<iframe srcdoc='<p>inline</p>'></iframe>");
    open("/frames.html", 3);
    settle(300);
    EXPECT_EQ(rec.count("LoadComplete"), 3) << "top page and its two http frames";
    for (const Note &n : rec.notes)
        EXPECT_EQ(n.raw, 0);
}

struct UrlCase
{
    const char *name;
    const char *url;
    bool loadComplete;
};

class DocumentUrls : public MapControl, public ::testing::WithParamInterface<UrlCase>
{};

// The engine writes every scheme it reports in small letters, so the rule on the letters is
// checked on the handler the browser's event reaches.
TEST_P(DocumentUrls, OnlyTheExactHttpAndHttpsPrefixesCount)
{
    CDHtmlDialog *dlg = dialogOf(ax.ControlWindow());
    ASSERT_NE(dlg, nullptr);
    dlg->OnDocumentComplete(dlg->m_pBrowserApp, GetParam().url);
    EXPECT_EQ(rec.count("LoadComplete"), GetParam().loadComplete ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, DocumentUrls,
    ::testing::Values(UrlCase{"Http", "http://127.0.0.1/map.html", true},
                      UrlCase{"Https", "https://maps.example/x", true},
                      UrlCase{"BareHttp", "http://", true},
                      UrlCase{"CapitalScheme", "HTTP://127.0.0.1/map.html", false},
                      UrlCase{"MixedCaseHttps", "Https://maps.example/x", false},
                      UrlCase{"File", "file:///tmp/map.html", false},
                      UrlCase{"Data", "data:text/html,<p>x</p>", false},
                      UrlCase{"AboutBlank", "about:blank", false},
                      UrlCase{"NoSlashes", "http:127.0.0.1/map.html", false},
                      UrlCase{"Empty", "", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(MapControl, AnUnreachableAddressReachesTheListenerWithItsFrameAndTheBrowserGoesOn)
{
    const std::string dead
        = QStringLiteral("http://127.0.0.1:%1/gone").arg(TestSupport::unusedPort()).toStdString();
    bool frameUsable = false;
    rec.react = [&](const std::string &name, std::intptr_t data) -> std::int32_t {
        if (name == "InaccessiblePage" && data) {
            ComPtr<IWebBrowser2> frame;
            frameUsable = SUCCEEDED(reinterpret_cast<IDispatch *>(data)->QueryInterface(
                IID_IWebBrowser2, frame.putVoid()));
        }
        return 1;
    };
    EXPECT_EQ(init(dead), 0);
    ASSERT_TRUE(waitFor([&] { return rec.heard("InaccessiblePage"); }));
    EXPECT_TRUE(frameUsable);
    EXPECT_EQ(rec.count("InaccessiblePage"), 1);
    // Not cancelled: the engine's own error page replaces the start page.
    CDHtmlDialog *dlg = dialogOf(ax.ControlWindow());
    ASSERT_TRUE(waitFor([&] {
        ComPtr<IHTMLDocument2> doc;
        BSTR u = nullptr;
        const bool replaced = SUCCEEDED(dlg->GetDHtmlDocument(doc.put()))
                              && SUCCEEDED(doc->get_URL(&u)) && u
                              && platform::fromUtf16(platform::bstrText(u)).rfind("data:", 0) != 0;
        SysFreeString(u);
        return replaced;
    }));
    EXPECT_FALSE(rec.heard("LoadComplete"));
}

TEST_F(MapControl, AScriptErrorIsDroppedWithoutADialogAndLaterScriptsRun)
{
    server.add("/ready.html", "<script>window.external.MainCall('initComplete', '');</script>");
    EXPECT_EQ(init(url("/ready.html")), 0);
    EXPECT_EQ(call(ran(1)), 0);
    EXPECT_EQ(call("this is ( not script"), 0);
    EXPECT_EQ(call("nothingHere()"), 0);
    EXPECT_EQ(call(ran(2)), 0);
    ASSERT_TRUE(waitFor([&] { return rec.count("ran") == 2; }));
    std::vector<Note> expected{{"initComplete", "", 0}};
    for (const Note &n : ranNotes({1, 2}))
        expected.push_back(n);
    EXPECT_EQ(rec.calls(), expected);
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible() && w->inherits("QDialog")) << "no error dialog";
}

TEST_F(MapControl, AScriptQueuedByTheListenerDuringAPageCallRunsOnALaterTick)
{
    server.add("/ready.html", "<script>window.external.MainCall('initComplete', '');</script>");
    bool nestedRanInside = false;
    rec.react = [&](const std::string &name, std::intptr_t) -> std::int32_t {
        if (name == "ran" && rec.count("ran") == 1) {
            EXPECT_EQ(call(ran(9)), 0);
            nestedRanInside = rec.count("ran") != 1;
        }
        return 0;
    };
    EXPECT_EQ(init(url("/ready.html")), 0);
    EXPECT_EQ(call(ran(1)), 0);
    EXPECT_EQ(call(ran(2)), 0);
    ASSERT_TRUE(waitFor([&] { return rec.count("ran") == 3; }));
    EXPECT_FALSE(nestedRanInside);
    std::vector<Note> expected{{"initComplete", "", 0}};
    for (const Note &n : ranNotes({1, 2, 9}))
        expected.push_back(n);
    EXPECT_EQ(rec.calls(), expected);
}

TEST_F(MapControl, AfterAddLinsterZeroNotificationsAreDroppedAndPageCallsGetZero)
{
    server.add("/page.html", "<script>window.external.MainCall('initComplete', '');</script>");
    open("/page.html");
    ASSERT_TRUE(waitFor([&] { return rec.heard("initComplete"); }));
    const std::size_t heard = rec.notes.size();
    EXPECT_EQ(listen(std::uint64_t(0)), 0);
    // The image request goes out only after the call without a listener has returned.
    EXPECT_EQ(call("window.answer = window.external.MainCall('ping', '');"
                   "new Image().src = '/pinged.png'"),
              0);
    ASSERT_TRUE(waitFor([&] { return server.requested("/pinged.png"); }));
    Recorder later;
    EXPECT_EQ(listen(&later), 0);
    EXPECT_EQ(call("window.external.MainCall('answer', String(window.answer))"), 0);
    ASSERT_TRUE(waitFor([&] { return later.heard("answer"); }));
    EXPECT_EQ(later.calls(), (std::vector<Note>{{"answer", "0", 0}}));
    EXPECT_EQ(rec.notes.size(), heard) << "the removed listener heard nothing more";
    EXPECT_EQ(listen(std::uint64_t(0)), 0);
}

struct SizeCase
{
    const char *name;
    RECT to;
    bool moves;
};

class Sizes : public MapControl, public ::testing::WithParamInterface<SizeCase>
{};

TEST_P(Sizes, AZeroSideLeavesThePageHostWhereItWas)
{
    const HWND page = pageHostOf(ax.ControlWindow());
    ax.Resize(GetParam().to);
    RECT r;
    GetWindowRect(page, &r);
    const RECT &to = GetParam().to;
    if (GetParam().moves) {
        EXPECT_EQ(r.right - r.left, to.right - to.left);
        EXPECT_EQ(r.bottom - r.top, to.bottom - to.top);
    } else {
        EXPECT_EQ(r.right - r.left, 400);
        EXPECT_EQ(r.bottom - r.top, 300);
    }
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
}

INSTANTIATE_TEST_SUITE_P(Resizes, Sizes,
                         ::testing::Values(SizeCase{"Larger", {0, 0, 640, 480}, true},
                                           SizeCase{"Moved", {50, 20, 250, 120}, true},
                                           SizeCase{"ZeroWidth", {0, 0, 0, 200}, false},
                                           SizeCase{"ZeroHeight", {0, 0, 300, 0}, false},
                                           SizeCase{"Empty", {10, 10, 10, 10}, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MapControl, DestroyedWithScriptsQueuedItSendsNothingMore)
{
    server.add("/page.html", "<script>window.addEventListener('pagehide', function () {"
                             "  window.external.MainCall('bye', ''); });</script>");
    open("/page.html");
    for (int n = 1; n <= 3; ++n)
        call(ran(n));
    const std::size_t heard = rec.notes.size();
    ctrl = {};
    ax.Destroy();
    settle(500);
    EXPECT_EQ(rec.notes.size(), heard);
}

struct RequestCase
{
    const char *name;
    LONG type;
    const char *post;
    const char *header;
};

class Requests : public MapControl, public ::testing::WithParamInterface<RequestCase>
{};

TEST_P(Requests, TypePostDataAndHeadersChangeNothing)
{
    server.add("/plain.html", "<script>window.external.MainCall('initComplete',"
                              " document.referrer + '|' + location.search);</script>");
    const RequestCase &c = GetParam();
    EXPECT_EQ(init(url("/plain.html"), c.type, c.post, c.header), 0);
    ASSERT_TRUE(waitFor([&] { return rec.heard("LoadComplete"); }));
    EXPECT_EQ(rec.calls(), (std::vector<Note>{{"initComplete", "|", 0}}));
    EXPECT_EQ(server.requests().count(QStringLiteral("/plain.html")), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, Requests,
    ::testing::Values(RequestCase{"Nothing", 0, "", ""},
                      RequestCase{"PostData", 1, "camera=7&zoom=3", ""},
                      RequestCase{"Header", -1, "", "X-Map: 1\r\nReferer: http://elsewhere/\r\n"},
                      RequestCase{"All", 0x7fffffff, "x", "Content-Type: text/plain\r\n"}),
    [](const auto &info) { return std::string(info.param.name); });

struct MenuCase
{
    const char *name;
    QPoint at;
    bool engineMenu;
};

class Menus : public MapControl, public ::testing::WithParamInterface<MenuCase>
{};

TEST_P(Menus, ARightClickShowsTheEnginesMenuOnlyOverATextField)
{
    // The page tells its size as it learns it: a page in a new renderer can finish loading before
    // that, and a click on a page that still thinks it is empty hits no element.
    server.add(
        "/menu.html",
        "<body style='margin:0'><input style='position:absolute;left:0;"
        "top:0;width:200px;height:40px'><p style='margin-top:200px'>text</p><script>"
        "function size() { window.external.MainCall('size', innerWidth + 'x' + innerHeight) }"
        "addEventListener('resize', size); size();"
        "addEventListener('contextmenu', function () { window.external.MainCall('menu', '') });"
        "</script>");
    open("/menu.html");
    QWidget *browser = platform::win::widgetOf(
        GetDlgItem(pageHostOf(ax.ControlWindow()), CDHtmlDialog::kBrowserId));
    ASSERT_NE(browser, nullptr);
    auto *view = browser->findChild<QWebEngineView *>();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(waitFor([&] { return view->focusProxy() != nullptr; }));
    const QSize size = view->focusProxy()->size();
    const Note sized{"size",
                     QStringLiteral("%1x%2").arg(size.width()).arg(size.height()).toStdString(), 0};
    ASSERT_TRUE(
        waitFor([&] { return std::count(rec.notes.begin(), rec.notes.end(), sized) > 0; }, 5000))
        << sized;
    QTest::mouseClick(view->focusProxy(), Qt::RightButton, {}, GetParam().at);
    // The page has the click before the engine asks the host about its menu.
    ASSERT_TRUE(waitFor([&] { return rec.heard("menu"); }));
    QMenu *menu = nullptr;
    waitFor(
        [&] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *m = qobject_cast<QMenu *>(w); m && m->isVisible())
                    menu = m;
            return menu != nullptr;
        },
        1500);
    EXPECT_EQ(menu != nullptr, GetParam().engineMenu);
    if (menu)
        menu->close();
}

INSTANTIATE_TEST_SUITE_P(Places, Menus,
                         ::testing::Values(MenuCase{"PlainContent", QPoint(300, 250), false},
                                           MenuCase{"TextField", QPoint(20, 20), true}),
                         [](const auto &info) { return std::string(info.param.name); });

// The browser's questions, as its site answers them.
TEST_F(MapControl, TheBrowsersSiteAnswersEveryQuestionAsTheHostWants)
{
    CDHtmlDialog *dlg = dialogOf(ax.ControlWindow());
    ASSERT_NE(dlg, nullptr);
    ASSERT_NE(dlg->m_pBrowserSite, nullptr);
    ComPtr<IDocHostUIHandler> ui;
    ComPtr<IOleCommandTarget> cmd;
    ASSERT_EQ(dlg->m_pBrowserSite->ExternalQueryInterface(IID_IDocHostUIHandler, ui.putVoid()),
              S_OK);
    ASSERT_EQ(dlg->m_pBrowserSite->ExternalQueryInterface(IID_IOleCommandTarget, cmd.putVoid()),
              S_OK);

    for (DWORD id = 0; id <= 5; ++id)
        EXPECT_EQ(ui->ShowContextMenu(id, nullptr, nullptr, nullptr),
                  id == CONTEXT_MENU_CONTROL || id == CONTEXT_MENU_TEXTSELECT ? S_FALSE : S_OK)
            << id;
    DOCHOSTUIINFO info{sizeof(DOCHOSTUIINFO), 0x1, 3, nullptr, nullptr};
    EXPECT_EQ(ui->GetHostInfo(&info), S_OK);
    EXPECT_EQ(info.dwFlags, 0x00040004u);
    EXPECT_EQ(info.dwDoubleClick, 3u) << "other fields are left";
    EXPECT_EQ(ui->ShowUI(0, nullptr, nullptr, nullptr, nullptr), S_FALSE);
    EXPECT_EQ(ui->HideUI(), E_NOTIMPL);
    EXPECT_EQ(ui->UpdateUI(), E_NOTIMPL);
    EXPECT_EQ(ui->EnableModeless(TRUE), E_NOTIMPL);
    EXPECT_EQ(ui->OnDocWindowActivate(TRUE), E_NOTIMPL);
    EXPECT_EQ(ui->OnFrameWindowActivate(TRUE), E_NOTIMPL);
    EXPECT_EQ(ui->ResizeBorder(nullptr, nullptr, TRUE), E_NOTIMPL);
    EXPECT_EQ(ui->TranslateAccelerator(nullptr, nullptr, 0), S_FALSE);
    LPOLESTR key = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(ui->GetOptionKeyPath(&key, 0), E_NOTIMPL);
    IDropTarget *drop = reinterpret_cast<IDropTarget *>(1);
    EXPECT_EQ(ui->GetDropTarget(nullptr, &drop), E_NOTIMPL);
    EXPECT_EQ(drop, nullptr);
    EXPECT_EQ(ui->GetExternal(nullptr), E_POINTER);
    LPWSTR out = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(ui->TranslateUrl(0, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(ui->TranslateUrl(0, nullptr, &out), S_FALSE);
    EXPECT_EQ(out, nullptr);
    IDataObject *data = reinterpret_cast<IDataObject *>(1);
    EXPECT_EQ(ui->FilterDataObject(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(ui->FilterDataObject(nullptr, &data), S_FALSE);
    EXPECT_EQ(data, nullptr);

    // The external object: none before the first init, the page host's own after it.
    IDispatch *external = reinterpret_cast<IDispatch *>(1);
    EXPECT_EQ(ui->GetExternal(&external), E_NOTIMPL);
    EXPECT_EQ(external, nullptr);
    server.add("/page.html", "<p>p</p>");
    open("/page.html");
    ASSERT_EQ(ui->GetExternal(&external), S_OK);
    ASSERT_NE(external, nullptr);
    std::u16string names[] = {u"MainCall", u"alert", u"MAINCALL", u"Other"};
    const DISPID expected[] = {1, 2, 1, DISPID_UNKNOWN};
    for (int i = 0; i < 4; ++i) {
        LPOLESTR n[] = {names[i].data()};
        DISPID id = 0;
        const HRESULT hr = external->GetIDsOfNames(IID_NULL, n, 1, 0x0409, &id);
        EXPECT_EQ(hr, expected[i] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(id, expected[i]);
        }
    }
    external->Release();

    OLECMD one{OLECMDID_SHOWSCRIPTERROR, 0};
    EXPECT_EQ(cmd->QueryStatus(&CGID_DocHostCommandHandler, 1, &one, nullptr),
              OLECMDERR_E_NOTSUPPORTED);
    VARIANT in, result;
    VariantInit(&in);
    VariantInit(&result);
    EXPECT_EQ(cmd->Exec(nullptr, OLECMDID_SHOWSCRIPTERROR, 0, &in, &result),
              OLECMDERR_E_UNKNOWNGROUP);
    EXPECT_EQ(cmd->Exec(&IID_IDispatch, OLECMDID_SHOWSCRIPTERROR, 0, &in, &result),
              OLECMDERR_E_UNKNOWNGROUP);
    EXPECT_EQ(cmd->Exec(&CGID_DocHostCommandHandler, 39, 0, &in, &result),
              OLECMDERR_E_NOTSUPPORTED);
    ComPtr<IHTMLDocument2> doc;
    ASSERT_EQ(dlg->GetDHtmlDocument(doc.put()), S_OK);
    in.vt = VT_UNKNOWN;
    in.punkVal = doc.get();
    EXPECT_EQ(cmd->Exec(&CGID_DocHostCommandHandler, OLECMDID_SHOWSCRIPTERROR, 0, &in, &result),
              S_OK);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
}

// What the page host does with a listener address: the second table entry, object first.
TEST(PageListener, TheSecondTableEntryIsOnPageMessageAndTheFirstIsNeverCalled)
{
    Recorder rec;
    const char data[] = "7";
    EXPECT_EQ(tessel::callPageListener(tessel::listenerAddress(&rec), "cameraClicked",
                                       reinterpret_cast<std::intptr_t>(data)),
              7);
    EXPECT_EQ(rec.notes, (std::vector<Note>{{"cameraClicked", "7", 0}}));

    ForeignListener foreign;
    EXPECT_EQ(tessel::callPageListener(addressOf(&foreign), "LoadComplete", 0), 42);
    EXPECT_EQ(foreign.last, "LoadComplete");
    EXPECT_EQ(foreign.firstCalls, 0);
}

// A host's own listener class, laid out alike, hears the page through the control.
TEST_F(MapControl, AListenerOfAnyClassWithTheSameTableHearsThePage)
{
    ForeignListener foreign;
    EXPECT_EQ(listen(addressOf(&foreign)), 0);
    server.add("/page.html", "<script>window.external.MainCall('initComplete', 'x');</script>");
    EXPECT_EQ(init(url("/page.html")), 0);
    ASSERT_TRUE(waitFor([&] { return foreign.last == "LoadComplete"; }));
    EXPECT_EQ(foreign.firstCalls, 0);
    EXPECT_EQ(listen(std::uint64_t(0)), 0);
}

// A minimal host site, so that the host can talk to the control before its window exists.
class EarlySite : public IOleClientSite, public IOleInPlaceSite
{
public:
    EarlySite(HWND window, RECT rect)
        : m_window(window)
        , m_rect(rect)
    {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **ppv) override
    {
        if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IOleClientSite))
            *ppv = static_cast<IOleClientSite *>(this);
        else if (IsEqualGUID(iid, IID_IOleInPlaceSite) || IsEqualGUID(iid, IID_IOleWindow))
            *ppv = static_cast<IOleInPlaceSite *>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND *w) override
    {
        *w = m_window;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(LPRECT pos, LPRECT clip) override
    {
        *pos = m_rect;
        *clip = m_rect;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

private:
    HWND m_window;
    RECT m_rect;
};

// Two controls in turn, the second told its listener before it has a window: its page host
// ends up in its own window, and the first control's page is left alone.
TEST_F(MapControl, AnEarlyListenerEndsUpWithAPageHostInTheControlsOwnWindow)
{
    server.add("/first.html", "<p>first</p>");
    open("/first.html");
    CLSID clsid;
    ASSERT_TRUE(platform::clsidFromProgId(kProgId, &clsid));
    ComPtr<IDispatch> second;
    ASSERT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, second.putVoid()),
        S_OK);
    Recorder early;
    tessel::CTesselDllHost secondControl(second.get());
    EXPECT_EQ(secondControl.AddLinster(&early), 0);
    // Before its window nothing loads.
    server.add("/early.html", "<p>early</p>");
    EXPECT_EQ(secondControl.init(url("/early.html")), 0);

    const HWND secondHost = hostWindow(320, 200);
    EarlySite site(secondHost, RECT{0, 0, 320, 200});
    ComPtr<IOleObject> object;
    ASSERT_EQ(second->QueryInterface(IID_IOleObject, object.putVoid()), S_OK);
    ASSERT_EQ(object->SetClientSite(&site), S_OK);
    const RECT pos{0, 0, 320, 200};
    ASSERT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, secondHost, &pos), S_OK);
    ComPtr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(second->QueryInterface(IID_IOleInPlaceObject, inPlace.putVoid()), S_OK);
    HWND secondWindow = nullptr;
    ASSERT_EQ(inPlace->GetWindow(&secondWindow), S_OK);
    const HWND page = pageHostOf(secondWindow);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(GetParent(page), secondWindow);
    EXPECT_NE(GetDlgItem(page, CDHtmlDialog::kBrowserId), nullptr) << "a working browser";
    settle(300);
    EXPECT_FALSE(server.requested("/early.html"));
    EXPECT_TRUE(early.notes.empty());

    const std::size_t firstHeard = rec.notes.size();
    server.add("/second.html", "<script>window.external.MainCall('initComplete', 'b');</script>");
    EXPECT_EQ(secondControl.init(url("/second.html")), 0);
    ASSERT_TRUE(waitFor([&] { return early.heard("LoadComplete"); }));
    EXPECT_EQ(early.calls(), (std::vector<Note>{{"initComplete", "b", 0}}));
    EXPECT_TRUE(IsWindowVisible(page));
    EXPECT_EQ(rec.notes.size(), firstHeard) << "the first control heard nothing of it";

    object->Close(OLECLOSE_NOSAVE);
    object->SetClientSite(nullptr);
    object = {};
    inPlace = {};
    secondControl.attach(nullptr);
    second = {};
    DestroyWindow(secondHost);
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // The control is reached as a host reaches it: registered into a registry of the test's own.
    QTemporaryDir dir;
    const std::string registry = dir.filePath(QStringLiteral("registry.sqlite")).toStdString();
    setenv("PLATFORM_REGISTRY", registry.c_str(), 1);
    const ToolRun reg = regsvr({QStringLiteral(TESSEL_MODULE)});
    if (reg.exitCode != 0) {
        fprintf(stderr, "registration failed: %s\n", reg.err.c_str());
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    CoFreeUnusedLibraries();
    return result;
}
