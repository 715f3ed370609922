// SPDX-License-Identifier: MIT
// A host program for the process test: embeds the browser control, loads a page, and in "crash"
// mode kills the page's renderer, checks that it hears of it, and loads the page again.
// Exit code 0 when every step went as expected; otherwise the number of the step that failed.
#include "browserevents.h"
#include "platform/framework.h"
#include "platform/olesite.h"
#include "platform/qtwindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QWebEngineView>

#include <csignal>
#include <cstring>

namespace {

template <typename F>
bool waitFor(F done)
{
    QDeadlineTimer deadline(20000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

int probe(const char *url, bool crash)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "ProbeHost";
    RegisterClassA(&wc);
    const HWND host = CreateWindowExA(0, "ProbeHost", "probe", WS_VISIBLE, 0, 0, 400, 300, nullptr,
                                      nullptr, nullptr, nullptr);
    platform::AxHost ax;
    if (FAILED(ax.Create("Shell.Explorer.2", host, RECT{0, 0, 400, 300})))
        return 2;
    platform::ComPtr<IWebBrowser2> browser;
    platform::ComPtr<IConnectionPointContainer> points;
    platform::ComPtr<IConnectionPoint> point;
    ax.QueryControl(IID_IWebBrowser2, browser.putVoid());
    browser->QueryInterface(IID_IConnectionPointContainer, points.putVoid());
    points->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put());
    BrowserEvents sink;
    DWORD cookie = 0;
    point->Advise(&sink, &cookie);
    BSTR address = platform::allocBstr(url);
    browser->Navigate(address, nullptr, nullptr, nullptr, nullptr);
    int result = 0;
    if (!waitFor([&] { return sink.completes > 0; }))
        result = 3;
    if (result == 0 && crash) {
        auto *view = platform::win::widgetOf(ax.ControlWindow())->findChild<QWebEngineView *>();
        const qint64 pid = view ? view->page()->renderProcessPid() : 0;
        if (pid <= 0 || ::kill(pid_t(pid), SIGKILL) != 0)
            result = 4;
        else if (!waitFor([&] { return sink.errors > 0; }))
            result = 5;
        const int before = sink.completes;
        if (result == 0) {
            browser->Navigate(address, nullptr, nullptr, nullptr, nullptr);
            if (!waitFor([&] { return sink.completes > before; }))
                result = 6;
        }
    }
    SysFreeString(address);
    point->Unadvise(cookie);
    point.reset();
    points.reset();
    browser.reset();
    ax.Destroy();
    DestroyWindow(host);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 1;
    return probe(argv[1], argc > 2 && std::strcmp(argv[2], "crash") == 0);
}
