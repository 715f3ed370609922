// SPDX-License-Identifier: MIT
// Driver of the map control's benchmarks; run.sh runs it and compares:
//   scripts <n>: in a ready page, n scripts sent one at a time with CallJavaScritp, each timed
//       until it runs (its MainCall reaches the listener); then n scripts queued before the page
//       is ready, timed from "initComplete" until the last has run; and the period a 1 ms window
//       timer achieves on this thread meanwhile;
//   start control|bare: milliseconds from creating the control (by ProgID, then AddLinster and
//       init) to "LoadComplete" of the map page, or from creating the platform's bare browser
//       control to its DocumentComplete of the same page; then the proportional memory (PSS) of
//       the process with its helper processes.
// The control is registered into the registry file named by PLATFORM_REGISTRY when missing.
#include "browserevents.h"
#include "loopbackserver.h"
#include "platform/creation.h"
#include "platform/olesite.h"
#include "processmemory.h"
#include "tessel/TesselDllHost.h"
#include "waitfor.h"

#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using BenchSupport::pssOf;
using BenchSupport::pssWithHelpers;
using Clock = std::chrono::steady_clock;
using platform::ComPtr;

using BenchSupport::waitFor;
using tessel::kProgId;

const int kLoadWait = 120000;

// The map page and two pages that call the listener at once or a little later, from loopback.
struct Server : norvane::LoopbackServer
{
    Server()
    {
        mount("/", MAP_PAGE_DIR);
        mount("/leaflet", "/usr/share/javascript/leaflet");
        page("/ready.html", "<script>window.external.MainCall('initComplete', '');</script>");
        page("/later.html", "<script>setTimeout(function () {"
                            " window.external.MainCall('initComplete', ''); }, 200);</script>");
        start();
    }
};

bool ensureRegistered()
{
    CLSID clsid;
    if (platform::clsidFromProgId(kProgId, &clsid))
        return true;
    return SUCCEEDED(platform::registerServer(TESSEL_MODULE, false));
}

int achievedTicks = 0;
void STDMETHODCALLTYPE countTick(HWND, UINT, UINT_PTR, DWORD)
{
    ++achievedTicks;
}

class Listener : public CPageListener
{
public:
    int ticksAtReady = 0;
    std::map<std::string, Clock::time_point> first;
    std::string lastData;
    int ran = 0;
    std::int32_t OnPageMessage(const char *name, std::intptr_t data) override
    {
        const std::string n = name;
        first.emplace(n, Clock::now());
        if (n == "initComplete")
            ticksAtReady = achievedTicks;
        if (n == "ran") {
            ++ran;
            lastData = reinterpret_cast<const char *>(data);
        }
        return 0;
    }
    bool heard(const char *name) const { return first.count(name) > 0; }
};

struct Host
{
    HWND window = nullptr;
    platform::AxHost ax;
    ComPtr<IDispatch> disp;
    tessel::CTesselDllHost tessel;

    Host()
    {
        static const bool registered = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = DefWindowProcA;
            wc.lpszClassName = "MapBenchHost";
            return RegisterClassA(&wc) != 0;
        }();
        (void)registered;
        window = CreateWindowExA(0, "MapBenchHost", "bench", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 800,
                                 600, nullptr, nullptr, nullptr, nullptr);
    }
    ~Host()
    {
        tessel.attach(nullptr);
        disp = {};
        ax.Destroy();
        DestroyWindow(window);
    }
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, std::size_t(v.size() * p))];
}

int scripts(int n)
{
    Server server;
    Host host;
    Listener listener;
    if (FAILED(host.ax.Create(kProgId, host.window, CRect(0, 0, 800, 600)))
        || FAILED(host.ax.QueryControl(IID_IDispatch, host.disp.putVoid())))
        return 1;
    host.tessel.attach(host.disp.get());
    host.tessel.AddLinster(&listener);

    // One at a time in a ready page.
    host.tessel.init(server.url("/ready.html"));
    if (!waitFor([&] { return listener.heard("initComplete") && listener.heard("LoadComplete"); },
                 kLoadWait))
        return 1;
    std::vector<double> us;
    us.reserve(n);
    for (int i = 0; i < n; ++i) {
        const int before = listener.ran;
        const Clock::time_point t0 = Clock::now();
        host.tessel.CallJavaScritp("window.external.MainCall('ran', '" + std::to_string(i) + "')");
        if (!waitFor([&] { return listener.ran > before; }, 10000))
            return 1;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }

    // Queued before the page is ready, drained one per tick after "initComplete".
    listener.first.clear();
    listener.ran = 0;
    host.tessel.init(server.url("/later.html"));
    for (int i = 0; i + 1 < n; ++i)
        host.tessel.CallJavaScritp("window.c = (window.c || 0) + 1");
    host.tessel.CallJavaScritp("window.external.MainCall('ran', String(window.c + 1))");
    // The period a second 1 ms window timer on this thread achieves during the drain.
    achievedTicks = 0;
    SetTimer(host.window, 7, 1, countTick);
    if (!waitFor([&] { return listener.ran > 0; }, kLoadWait))
        return 1;
    const Clock::time_point drained = Clock::now();
    const int ticks = achievedTicks - listener.ticksAtReady;
    KillTimer(host.window, 7);
    const Clock::time_point began = listener.first["initComplete"];
    const double drainMs = std::chrono::duration<double, std::milli>(drained - began).count();
    const double tickMs = drainMs / std::max(1, ticks);
    std::printf("latency scripts=%d median_us=%.1f p99_us=%.1f\n", n, percentile(us, 0.5),
                percentile(us, 0.99));
    std::printf("drain scripts=%s total_ms=%.1f per_script_ms=%.3f tick_ms=%.3f ratio=%.2f\n",
                listener.lastData.c_str(), drainMs, drainMs / n, tickMs, drainMs / n / tickMs);
    return 0;
}

int start(bool bare)
{
    Server server;
    const std::string url = server.url("/index.html");
    Host host;
    Listener listener;
    BrowserEvents sink; // the bare browser's DocumentComplete, through its event connection
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    const Clock::time_point begin = Clock::now();
    if (bare) {
        ComPtr<IWebBrowser2> browser;
        ComPtr<IConnectionPointContainer> points;
        if (FAILED(host.ax.Create("Shell.Explorer.2", host.window, CRect(0, 0, 800, 600)))
            || FAILED(host.ax.QueryControl(IID_IWebBrowser2, browser.putVoid()))
            || FAILED(browser->QueryInterface(IID_IConnectionPointContainer, points.putVoid()))
            || FAILED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put())))
            return 1;
        point->Advise(&sink, &cookie);
        BSTR u = platform::allocBstr(url);
        VARIANT empty;
        VariantInit(&empty);
        browser->Navigate(u, &empty, &empty, &empty, &empty);
        SysFreeString(u);
    } else {
        if (FAILED(host.ax.Create(kProgId, host.window, CRect(0, 0, 800, 600)))
            || FAILED(host.ax.QueryControl(IID_IDispatch, host.disp.putVoid())))
            return 1;
        host.tessel.attach(host.disp.get());
        host.tessel.AddLinster(&listener);
        host.tessel.init(url);
    }
    const bool ok = waitFor(
        [&] { return bare ? sink.completes > 0 : listener.heard("LoadComplete"); }, kLoadWait);
    const Clock::time_point end = bare ? sink.firstComplete : listener.first["LoadComplete"];
    // Let the page settle (the map draws) before the memory is read.
    waitFor([] { return false; }, 500);
    std::printf("start_ms=%.1f pss_total_kib=%ld ok=%d\n",
                std::chrono::duration<double, std::milli>(end - begin).count(), pssWithHelpers(),
                ok ? 1 : 0);
    if (point)
        point->Unadvise(cookie);
    host.tessel.AddLinster(std::uint64_t(0));
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (!ensureRegistered()) {
        std::fprintf(stderr, "%s: cannot register %s\n", argv[0], TESSEL_MODULE);
        return 1;
    }
    int rc = 2;
    if (argc >= 2 && std::strcmp(argv[1], "scripts") == 0)
        rc = scripts(argc > 2 ? std::atoi(argv[2]) : 10000);
    else if (argc >= 3 && std::strcmp(argv[1], "start") == 0)
        rc = start(std::strcmp(argv[2], "bare") == 0);
    else
        std::fprintf(stderr, "usage: %s scripts [n] | start control|bare\n", argv[0]);
    CoFreeUnusedLibraries();
    return rc;
}
