// SPDX-License-Identifier: MIT
// Driver of the browser control's benchmarks; run.sh compares it with the bare engine:
//   start control|bare <n>: n browsers in this process (the control embedded by the container
//       helper, or a bare view); milliseconds from the first one's creation to its first
//       completed document, then the proportional memory (PSS) of this process and of it with
//       its helper processes, once all n have loaded;
//   bridge <calls>: window.external calls from page script through the control, and bare
//       prompt() round trips through an engine page, each timed between consecutive arrivals.
#include "browserevents.h"
#include "loopbackserver.h"
#include "platform/dhtml.h"
#include "platform/framework.h"
#include "platform/olesite.h"
#include "processmemory.h"
#include "waitfor.h"

#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

using BenchSupport::pssOf;
using BenchSupport::pssWithHelpers;
using BenchSupport::waitFor;
using Clock = std::chrono::steady_clock;

const int kLoadWait = 60000;

// The pages the benchmarks load, from loopback.
struct Server : norvane::LoopbackServer
{
    Server()
    {
        page("/page.html", "<html><body><p>A small page.</p></body></html>");
        page("/loop.html", "<html><body><script>function loop(n, call) {"
                           "  for (var i = 0; i < n; ++i) call(i); }</script></body></html>");
        start();
    }
};

const UINT kDialog = 203;
const UINT kStartPage = 202;

class CExternal : public CCmdTarget
{
    DECLARE_DISPATCH_MAP()
public:
    CExternal() { EnableAutomation(); }
    std::vector<Clock::time_point> arrivals;
    void Ping(LONG) { arrivals.push_back(Clock::now()); }
};

BEGIN_DISPATCH_MAP(CExternal, CCmdTarget)
DISP_FUNCTION(CExternal, "Ping", Ping, VT_EMPTY, VTS_I4)
END_DISPATCH_MAP()

class CPage : public CDHtmlDialog
{
public:
    explicit CPage(CWnd *parent)
        : CDHtmlDialog(kDialog, kStartPage, parent)
    {}
    std::vector<std::string> loaded;
    bool firstHttp = false;
    Clock::time_point firstAt;
    void OnDocumentComplete(LPDISPATCH, LPCSTR url) override
    {
        loaded.emplace_back(url);
        if (!firstHttp && std::strncmp(url, "http", 4) == 0) {
            firstHttp = true;
            firstAt = Clock::now();
        }
    }
};

// One browser control in a host window, embedded by the container helper.
struct Control
{
    platform::AxHost ax;
    BrowserEvents sink;
    platform::ComPtr<IWebBrowser2> browser;
    platform::ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;

    bool start(HWND host, const std::string &url)
    {
        if (FAILED(ax.Create("Shell.Explorer.2", host, CRect(0, 0, 372, 151)))
            || FAILED(ax.QueryControl(IID_IWebBrowser2, browser.putVoid())))
            return false;
        platform::ComPtr<IConnectionPointContainer> points;
        browser->QueryInterface(IID_IConnectionPointContainer, points.putVoid());
        points->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put());
        point->Advise(&sink, &cookie);
        BSTR address = platform::allocBstr(url);
        browser->Navigate(address, nullptr, nullptr, nullptr, nullptr);
        SysFreeString(address);
        return true;
    }
    ~Control()
    {
        if (point)
            point->Unadvise(cookie);
        point.reset();
        browser.reset();
        ax.Destroy();
    }
};

int start(bool bare, int n)
{
    Server server;
    const std::string url = server.url("/page.html");
    CWnd parent;
    parent.CreateEx(0, nullptr, "bench", WS_OVERLAPPED | WS_VISIBLE, CRect(0, 0, 800, 600),
                    static_cast<CWnd *>(nullptr), 0);
    std::vector<std::unique_ptr<QWebEngineView>> views;
    std::vector<std::unique_ptr<Control>> controls;
    int loads = 0;
    Clock::time_point firstLoad;
    const Clock::time_point begin = Clock::now();
    for (int i = 0; i < n; ++i) {
        if (bare) {
            auto view = std::make_unique<QWebEngineView>();
            view->resize(372, 151);
            QObject::connect(view.get(), &QWebEngineView::loadFinished, [&](bool) {
                if (loads++ == 0)
                    firstLoad = Clock::now();
            });
            view->load(QUrl(QString::fromStdString(url)));
            view->show();
            views.push_back(std::move(view));
        } else {
            controls.push_back(std::make_unique<Control>());
            controls.back()->start(parent.m_hWnd, url);
        }
    }
    const bool ok = waitFor(
        [&] {
            if (bare)
                return loads >= n;
            return std::all_of(controls.begin(), controls.end(),
                               [](const auto &c) { return c->sink.completes > 0; });
        },
        kLoadWait);
    if (!bare)
        firstLoad = controls.front()->sink.firstComplete;
    const double ms = std::chrono::duration<double, std::milli>(firstLoad - begin).count();
    std::printf("start_ms=%.1f pss_host_kib=%ld pss_total_kib=%ld ok=%d\n", ms, pssOf(getpid()),
                pssWithHelpers(), ok ? 1 : 0);
    views.clear();
    controls.clear();
    parent.DestroyWindow();
    return ok ? 0 : 1;
}

class BarePage : public QWebEnginePage
{
public:
    std::vector<Clock::time_point> arrivals;

protected:
    bool javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *result) override
    {
        arrivals.push_back(Clock::now());
        *result = QString();
        return true;
    }
};

void report(const char *name, const std::vector<Clock::time_point> &t)
{
    std::vector<double> us;
    std::size_t calls = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] == Clock::time_point())
            continue;
        ++calls;
        if (i > 0 && t[i - 1] != Clock::time_point())
            us.push_back(std::chrono::duration<double, std::micro>(t[i] - t[i - 1]).count());
    }
    std::sort(us.begin(), us.end());
    if (us.empty()) {
        std::printf("%s calls=0\n", name);
        return;
    }
    std::printf("%s calls=%zu median_us=%.1f p99_us=%.1f\n", name, calls, us[us.size() / 2],
                us[us.size() * 99 / 100]);
}

int bridge(int calls)
{
    Server server;
    const std::string url = server.url("/loop.html");
    CWnd parent;
    parent.CreateEx(0, nullptr, "bench", WS_OVERLAPPED | WS_VISIBLE, CRect(0, 0, 400, 300),
                    static_cast<CWnd *>(nullptr), 0);
    // Through the control: page script to window.external and back.
    CExternal external;
    auto *page = new CPage(&parent);
    page->Create(kDialog, &parent);
    page->SetExternalDispatch(external.GetIDispatch(FALSE));
    page->Navigate(url.c_str());
    // The bare engine: prompt() answered by the page's own override.
    auto view = std::make_unique<QWebEngineView>();
    auto *bare = new BarePage;
    view->setPage(bare);
    bool bareLoaded = false;
    QObject::connect(bare, &QWebEnginePage::loadFinished, [&](bool) { bareLoaded = true; });
    bare->load(QUrl(QString::fromStdString(url)));
    waitFor([&] { return page->firstHttp && bareLoaded; }, kLoadWait);
    platform::ComPtr<IHTMLDocument2> doc;
    platform::ComPtr<IHTMLWindow2> window;
    page->GetDHtmlDocument(doc.put());
    doc->get_parentWindow(window.put());

    // Blocks of both kinds take turns, so that the machine's load hits both alike.
    const int blocks = 4;
    const int each = calls / blocks;
    std::vector<Clock::time_point> controlTimes, bareTimes;
    for (int b = 0; b < blocks; ++b) {
        external.arrivals.clear();
        const std::string script
            = "loop(" + std::to_string(each) + ", function (i) { window.external.Ping(i); })";
        BSTR code = platform::allocBstr(script);
        BSTR lang = platform::allocBstr("JAVASCRIPT");
        VARIANT r;
        window->execScript(code, lang, &r);
        SysFreeString(code);
        SysFreeString(lang);
        controlTimes.insert(controlTimes.end(), external.arrivals.begin(), external.arrivals.end());
        controlTimes.push_back({}); // a block boundary: no interval across it

        // Both wait in an event loop of their own, as execScript does.
        bare->arrivals.clear();
        QEventLoop wait;
        bare->runJavaScript(QString::fromStdString("loop(" + std::to_string(each)
                                                   + ", function (i) { prompt('x', '' + i); })"),
                            [&](const QVariant &) { wait.quit(); });
        wait.exec();
        bareTimes.insert(bareTimes.end(), bare->arrivals.begin(), bare->arrivals.end());
        bareTimes.push_back({});
    }
    report("control", controlTimes);
    report("bare", bareTimes);

    window.reset();
    doc.reset();
    view->setPage(nullptr);
    delete bare;
    view.reset();
    page->DestroyWindow();
    page->ExternalRelease();
    parent.DestroyWindow();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "start") == 0)
        return start(std::strcmp(argv[2], "bare") == 0, argc > 3 ? std::atoi(argv[3]) : 1);
    if (argc >= 2 && std::strcmp(argv[1], "bridge") == 0)
        return bridge(argc > 2 ? std::atoi(argv[2]) : 10000);
    std::fprintf(stderr, "usage: %s start control|bare [n] | bridge [calls]\n", argv[0]);
    return 2;
}
