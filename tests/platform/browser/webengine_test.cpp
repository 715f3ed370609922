// SPDX-License-Identifier: MIT
// The engine under the browser control, without COM: frames, the synchronous bridge, errors,
// dialogs, downloads and the context menu decision.
#include "pageserver.h"
#include "rawserver.h"
#include "webengine.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QWebEngineView>
#include <QWidget>

#include <gtest/gtest.h>

using namespace platform::web;
using TestPages::waitFor;

namespace {

struct Event
{
    QString kind;
    QString frame;
    bool top;
    QString text;
};

class Recorder : public EngineClient
{
public:
    std::vector<Event> events;
    QStringList reports;
    bool goOn = true;
    bool showMenu = false;
    std::vector<MenuKind> menus;
    std::function<void()> duringCall;

    ExternalAnswer externalCall(const QString &frame, const QString &member,
                                const QJsonArray &args) override
    {
        events.push_back({"call", frame, false, member});
        if (duringCall)
            duringCall();
        if (member == QLatin1String("Report")) {
            reports << args.at(0).toVariant().toString();
            return {ExternalAnswer::Ok, QJsonValue(), {}};
        }
        if (member == QLatin1String("Twice"))
            return {ExternalAnswer::Ok, args.at(0).toDouble() * 2, {}};
        return {ExternalAnswer::UnknownMember, {}, QStringLiteral("no member ") + member};
    }
    void frameLoaded(const QString &frame, bool top, const QUrl &url) override
    {
        events.push_back({"load", frame, top, url.toString()});
    }
    void navigationFailed(const QString &frame, bool top, const QUrl &url, int) override
    {
        events.push_back({"failed", frame, top, url.toString()});
    }
    bool scriptError(const QString &frame, const QString &message, int, const QString &) override
    {
        events.push_back({"error", frame, false, message});
        return goOn;
    }
    bool engineContextMenu(MenuKind kind, QPoint) override
    {
        menus.push_back(kind);
        return showMenu;
    }
    void rendererGone(int) override { events.push_back({"gone", {}, false, {}}); }

    int count(const QString &kind) const
    {
        return int(std::count_if(events.begin(), events.end(),
                                 [&](const Event &e) { return e.kind == kind; }));
    }
    bool topLoaded() const
    {
        return std::any_of(events.begin(), events.end(),
                           [](const Event &e) { return e.kind == "load" && e.top; });
    }
};

class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host = std::make_unique<QWidget>();
        host->resize(400, 300);
        engine = std::make_unique<Engine>(host.get(), &client);
        engine->widget()->resize(400, 300);
        engine->setSilent(true);
        host->show();
    }
    void TearDown() override
    {
        client.duringCall = nullptr;
        engine.reset();
        host.reset();
    }
    void load(const std::string &path)
    {
        client.events.clear();
        engine->navigate(QUrl(server.url(path)));
        ASSERT_TRUE(waitFor([&] { return client.topLoaded(); })) << path;
    }

    TestPages::PageServer server;
    Recorder client;
    std::unique_ptr<QWidget> host;
    std::unique_ptr<Engine> engine;
};

TEST_F(EngineTest, EveryFrameReportsItsLoadOnceWithTheTopFrameLast)
{
    server.add("/a.html", "<p>a</p>");
    server.add("/b.html", "<p>b</p>");
    server.add("/two.html", "<iframe src='/a.html'></iframe><iframe src='/b.html'></iframe>");
    load("/two.html");
    QStringList loads;
    for (const Event &e : client.events)
        if (e.kind == "load")
            loads << e.text;
    ASSERT_EQ(loads.size(), 3);
    EXPECT_EQ(loads.last(), server.url("/two.html"));
    loads.removeLast();
    loads.sort();
    EXPECT_EQ(loads, QStringList({server.url("/a.html"), server.url("/b.html")}));
    EXPECT_EQ(client.events.back().frame, engine->topFrameId());
}

TEST_F(EngineTest, PageCallsToExternalGetTheHostsAnswerSynchronouslyFromEveryFrame)
{
    const std::string script
        = "<script>"
          "var r = window.external.Twice(21);"
          "var miss; try { window.external.Nothing(); } catch (e) { miss = e instanceof TypeError; "
          "}"
          "window.external.Report(r + ',' + miss + ',' + typeof window.external.Any);"
          "</script>";
    server.add("/inner.html", script);
    server.add("/outer.html", script + "<iframe src='/inner.html'></iframe>");
    load("/outer.html");
    EXPECT_EQ(client.reports, QStringList({"42,true,function", "42,true,function"}));
}

TEST_F(EngineTest, AHostCallbackThatRunsScriptDuringAPageCallDoesNotWait)
{
    server.add("/page.html", "<script>var ran = [];</script>");
    load("/page.html");
    client.duringCall = [&] {
        client.duringCall = nullptr;
        EXPECT_EQ(engine->runScript({}, "ran.push('inner')"), ScriptResult::Queued);
    };
    EXPECT_EQ(engine->runScript({}, "ran.push('outer'); window.external.Twice(1);"),
              ScriptResult::Ran);
    EXPECT_EQ(engine->runScript({}, "window.external.Report(ran.join())"), ScriptResult::Ran);
    EXPECT_EQ(client.reports, QStringList({"outer,inner"}));
}

TEST_F(EngineTest, AnEngineDeletedFromInsideAPageCallGoesSafely)
{
    server.add("/page.html", "<p>p</p>");
    load("/page.html");
    client.duringCall = [&] {
        engine.reset();
    };
    EXPECT_EQ(engine->runScript({}, "window.external.Twice(2)"), ScriptResult::Gone);
    EXPECT_EQ(engine, nullptr);
    QTest::qWait(50); // the page goes on the loop, after the call
}

TEST_F(EngineTest, ScriptsRunInTheChosenFrameAndErrorsReachTheClient)
{
    server.add("/inner.html", "<script>var where = 'inner';</script>");
    server.add("/outer.html", "<script>var where = 'outer';</script><iframe src='/inner.html'>");
    load("/outer.html");
    const auto inner = std::find_if(client.events.begin(), client.events.end(),
                                    [](const Event &e) { return e.kind == "load" && !e.top; });
    ASSERT_NE(inner, client.events.end());
    const QString innerFrame = inner->frame;

    EXPECT_EQ(engine->runScript({}, "window.external.Report(where)"), ScriptResult::Ran);
    EXPECT_EQ(engine->runScript(innerFrame, "window.external.Report(where)"), ScriptResult::Ran);
    EXPECT_EQ(engine->runScript("no-such-frame", "1"), ScriptResult::NoFrame);
    EXPECT_EQ(engine->runScript({}, "this is not script"), ScriptResult::Failed);
    EXPECT_EQ(client.count("error"), 1);
    EXPECT_EQ(engine->runScript({}, "window.external.Report('after')"), ScriptResult::Ran);
    EXPECT_EQ(client.reports, QStringList({"outer", "inner", "after"}));

    // An uncaught error of the page's own script goes the same way, and scripts go on.
    EXPECT_EQ(engine->runScript({},
                                "setTimeout(function () { undefinedThing(); }, 0);"
                                "setTimeout(function () { window.external.Report('on'); }, 5);"),
              ScriptResult::Ran);
    ASSERT_TRUE(waitFor([&] { return client.reports.size() == 4; }));
    EXPECT_EQ(client.count("error"), 2);
}

TEST_F(EngineTest, FailedNavigationsAreReportedForTheTopFrameAndSubFrames)
{
    const QString dead = QStringLiteral("http://127.0.0.1:%1/").arg(TestSupport::unusedPort());
    server.add("/holder.html", "<iframe src='" + dead.toStdString() + "sub'></iframe>");
    load("/holder.html");
    ASSERT_EQ(client.count("failed"), 1);
    const auto sub = std::find_if(client.events.begin(), client.events.end(),
                                  [](const Event &e) { return e.kind == "failed"; });
    EXPECT_FALSE(sub->top);
    EXPECT_EQ(sub->text, dead + "sub");

    client.events.clear();
    engine->navigate(QUrl(dead + "top"));
    ASSERT_TRUE(waitFor([&] { return client.topLoaded(); }));
    ASSERT_EQ(client.count("failed"), 1);
    EXPECT_TRUE(client.events.front().top);
    EXPECT_EQ(client.events.front().text, dead + "top");
}

TEST_F(EngineTest, SilentModeShowsNoDialog)
{
    QStringList suppressed;
    QObject::connect(engine.get(), &Engine::dialogSuppressed,
                     [&](const QString &kind, const QString &) { suppressed << kind; });
    server.add("/dialogs.html",
               "<script>alert('a'); var c = confirm('c'); var p = prompt('p', 'x');"
               "window.external.Report(c + ',' + p);</script>");
    load("/dialogs.html");
    EXPECT_EQ(suppressed, QStringList({"alert", "confirm", "prompt"}));
    EXPECT_EQ(client.reports, QStringList({"false,null"}));
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible() && w != host.get()) << w->metaObject()->className();
}

TEST_F(EngineTest, DownloadControlLoadsImagesAndKeepsMediaAway)
{
    DownloadControl control;
    control.media = false;
    control.noCache = true;
    engine->setDownloadControl(control);
    server.add("/dot.png", TestPages::pngImage(), "image/png");
    server.add("/clip.webm", std::string(64, 'x'), "video/webm");
    server.add("/tune.ogg", std::string(64, 'x'), "audio/ogg");
    server.add("/media.html", "<img src='/dot.png'><video src='/clip.webm' autoplay></video>"
                              "<audio src='/tune.ogg' autoplay></audio>");
    load("/media.html");
    EXPECT_TRUE(server.requested("/dot.png"));
    EXPECT_FALSE(server.requested("/clip.webm"));
    EXPECT_FALSE(server.requested("/tune.ogg"));
}

struct MenuCase
{
    const char *name;
    bool selectFirst; // the words under the pointer are selected first
    MenuKind kind;
    bool engineMenuWanted;
};

class ContextMenuTest : public EngineTest, public ::testing::WithParamInterface<MenuCase>
{};

TEST_P(ContextMenuTest, TheClientDecidesWhatARightClickShows)
{
    // The page tells when a click has reached it: input events and scripts travel to the
    // renderer by separate ways, so a click still on its way would clear a selection made later.
    server.add("/menu.html",
               "<body style='margin:0'><input id=f style='position:absolute;left:0;top:0;"
               "width:200px;height:40px'><p id=t style='position:absolute;left:0;top:100px'>"
               "some words here</p><script>addEventListener('mouseup', function () {"
               "window.external.Report('up') })</script></body>");
    load("/menu.html");
    const MenuCase &c = GetParam();
    client.showMenu = c.engineMenuWanted;
    QMenu *shown = nullptr;
    QObject::connect(engine.get(), &Engine::contextMenuShown, [&](QMenu *m) { shown = m; });
    QWidget *target = engine->widget()->focusProxy();
    ASSERT_NE(target, nullptr);
    const QPoint at = c.kind == MenuKind::Control ? QPoint(20, 20) : QPoint(40, 112);
    // A page can finish loading before its renderer learns the view's size; a click on a page
    // that still thinks it is empty hits no element.
    const QString sized = QStringLiteral("%1x%2").arg(target->width()).arg(target->height());
    ASSERT_TRUE(waitFor(
        [&] {
            engine->runScript({}, "window.external.Report(innerWidth + 'x' + innerHeight)");
            return client.reports.contains(sized);
        },
        5000))
        << sized.toStdString();
    if (c.selectFirst) {
        // A click gives the page focus; a selection in an unfocused page does not count.
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(300, 250));
        ASSERT_TRUE(waitFor([&] { return client.reports.contains("up"); }, 5000));
        ASSERT_TRUE(waitFor(
            [&] {
                engine->runScript({}, "document.execCommand('selectAll');"
                                      "if (String(getSelection())) window.external.Report('sel')");
                return client.reports.contains("sel");
            },
            5000));
        // The browser side learns of the selection later still; the menu is asked for there.
        QWebEnginePage *page = static_cast<QWebEngineView *>(engine->widget())->page();
        ASSERT_TRUE(
            waitFor([&] { return page->selectedText().contains("some words here"); }, 5000));
    }
    QTest::mouseClick(target, Qt::RightButton, {}, at);
    ASSERT_TRUE(waitFor([&] { return !client.menus.empty(); }, 5000));
    EXPECT_EQ(client.menus.front(), c.kind);
    EXPECT_EQ(shown != nullptr, c.engineMenuWanted);
    if (shown)
        shown->close();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ContextMenuTest,
    ::testing::Values(MenuCase{"PlainContentNoMenu", false, MenuKind::Default, false},
                      MenuCase{"EditFieldEngineMenu", false, MenuKind::Control, true},
                      MenuCase{"SelectionEngineMenu", true, MenuKind::TextSelect, true}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
