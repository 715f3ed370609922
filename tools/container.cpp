// SPDX-License-Identifier: MIT
// A container for any control of our object platform, for scripting and debugging:
//
//   norvane-container [--size WxH] [--register MODULE] <ProgID or {CLSID}> [step ...]
//
// The control is created by its ProgID in a window of the given size (800x600), then the steps
// run in order:
//   call NAME [ARG ...]   calls a method by name; each argument takes the parameter's type from
//                         the control's type information (text, numbers); @listener is the
//                         address of this program's listener, @base the served folder's address
//   wait MS               lets the control run for MS milliseconds
//   until NAME [MS]       runs until the listener hears NAME (at most MS, default 30000)
//   serve DIR [/PATH=DIR ...]  serves DIR on 127.0.0.1 for the steps after it, and other
//                         folders under the paths given
//   picture FILE          saves a picture of the window (PNG)
// Each notification the listener hears is printed as "notify: NAME [DATA]", each call's result
// as "call: NAME -> VALUE". Exit code 0 when every step succeeded, 1 for a failed step, 2 for a
// usage error, 3 when "until" timed out.
#include "loopbackserver.h"
#include "platform/creation.h"
#include "platform/olesite.h"
#include "platform/qtwindow.h"
#include "platform/typelib.h"
#include "tessel/PageListener.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPixmap>
#include <QThread>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using platform::ComPtr;

namespace {

int usage()
{
    std::fprintf(
        stderr,
        "usage: norvane-container [--size WxH] [--register MODULE] <ProgID|{CLSID}> "
        "[step ...]\n"
        "steps: call NAME [ARG ...] | wait MS | until NAME [MS] | serve DIR [/PATH=DIR ...] | "
        "picture FILE\n"
        "arguments: @listener (the listener's address), @base (the served folder)\n");
    return 2;
}

class Printer : public CPageListener
{
public:
    std::vector<std::string> heard;
    std::int32_t OnPageMessage(const char *name, std::intptr_t data) override
    {
        const std::string n = name;
        // Only a page call carries text; a failed navigation carries a frame.
        const bool text = n != "LoadComplete" && n != "InaccessiblePage";
        if (text && data)
            std::printf("notify: %s %s\n", name, reinterpret_cast<const char *>(data));
        else
            std::printf("notify: %s\n", name);
        std::fflush(stdout);
        heard.push_back(n);
        return 0;
    }
};

// mounts: "DIR" for the root or "/prefix=DIR".
bool serve(norvane::LoopbackServer *server, const std::vector<std::string> &mounts)
{
    for (const std::string &m : mounts) {
        const std::size_t eq = m.find('=');
        const bool prefixed = m.rfind("/", 0) == 0 && eq != std::string::npos;
        if (!server->mount(prefixed ? m.substr(0, eq) : "/", prefixed ? m.substr(eq + 1) : m))
            return false;
    }
    return server->start();
}

void pump(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(500);
    }
}

bool registerModule(const std::string &module)
{
    std::string step;
    const HRESULT hr = platform::registerServer(module, false, &step);
    if (FAILED(hr))
        std::fprintf(stderr, "norvane-container: registering %s failed: 0x%08X (%s)\n",
                     module.c_str(), unsigned(hr), step.c_str());
    return SUCCEEDED(hr);
}

// The parameter types of a method, from the control's type information; empty when it has none.
std::vector<VARTYPE> parameterTypes(IDispatch *disp, DISPID id)
{
    std::vector<VARTYPE> types;
    ComPtr<ITypeInfo> info;
    TYPEATTR *attr = nullptr;
    if (FAILED(disp->GetTypeInfo(0, 0x0409, info.put())) || FAILED(info->GetTypeAttr(&attr)))
        return types;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC *fd = nullptr;
        if (FAILED(info->GetFuncDesc(i, &fd)))
            continue;
        if (fd->memid == id)
            for (SHORT p = 0; p < fd->cParams; ++p)
                types.push_back(fd->lprgelemdescParam[p].tdesc.vt);
        info->ReleaseFuncDesc(fd);
    }
    info->ReleaseTypeAttr(attr);
    return types;
}

// One argument as the parameter wants it; without type information numbers go as VT_I4 and the
// listener's address as VT_UI8.
bool makeArgument(const std::string &text, VARTYPE type, VARIANT *v)
{
    VariantInit(v);
    char *end = nullptr;
    if (type == VT_EMPTY) {
        const long long n = std::strtoll(text.c_str(), &end, 0);
        if (!text.empty() && *end == 0) {
            v->vt = VT_I4;
            v->lVal = LONG(n);
        } else {
            v->vt = VT_BSTR;
            v->bstrVal = platform::allocBstr(text, CP_UTF8);
        }
        return true;
    }
    switch (type) {
    case VT_BSTR:
        v->vt = VT_BSTR;
        v->bstrVal = platform::allocBstr(text, CP_UTF8);
        return true;
    case VT_I4:
    case VT_INT:
        v->vt = VT_I4;
        v->lVal = LONG(std::strtol(text.c_str(), &end, 0));
        return !text.empty() && *end == 0;
    case VT_UI8:
        v->vt = VT_UI8;
        v->ullVal = std::strtoull(text.c_str(), &end, 0);
        return !text.empty() && *end == 0;
    case VT_I8:
        v->vt = VT_I8;
        v->llVal = std::strtoll(text.c_str(), &end, 0);
        return !text.empty() && *end == 0;
    case VT_BOOL:
        v->vt = VT_BOOL;
        v->boolVal = text == "0" || text == "false" ? VARIANT_FALSE : VARIANT_TRUE;
        return true;
    default:
        return false;
    }
}

std::string describe(const VARIANT &v)
{
    switch (v.vt) {
    case VT_EMPTY:
        return "(nothing)";
    case VT_I4:
        return std::to_string(v.lVal);
    case VT_UI8:
        return std::to_string(v.ullVal);
    case VT_BOOL:
        return v.boolVal ? "true" : "false";
    case VT_BSTR:
        return "\"" + platform::fromUtf16(platform::bstrText(v.bstrVal), CP_UTF8) + "\"";
    default:
        return "(type " + std::to_string(v.vt) + ")";
    }
}

struct Context
{
    IDispatch *control;
    Printer *listener;
    std::string base;
};

std::string substitute(const std::string &arg, const Context &c)
{
    if (arg == "@listener")
        return std::to_string(tessel::listenerAddress(c.listener));
    std::string out = arg;
    for (std::size_t at = out.find("@base"); at != std::string::npos; at = out.find("@base", at))
        out.replace(at, 5, c.base), at += c.base.size();
    return out;
}

bool callMethod(const Context &c, const std::string &name, const std::vector<std::string> &args)
{
    std::u16string wide = platform::toUtf16(name, CP_UTF8);
    LPOLESTR names[] = {wide.data()};
    DISPID id = 0;
    if (FAILED(c.control->GetIDsOfNames(IID_NULL, names, 1, 0x0409, &id))) {
        std::fprintf(stderr, "norvane-container: the control has no member %s\n", name.c_str());
        return false;
    }
    const std::vector<VARTYPE> types = parameterTypes(c.control, id);
    if (!types.empty() && types.size() != args.size()) {
        std::fprintf(stderr, "norvane-container: %s takes %zu argument(s), %zu given\n",
                     name.c_str(), types.size(), args.size());
        return false;
    }
    std::vector<VARIANT> values(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        const VARTYPE type = types.empty()
                                 ? (args[i] == "@listener" ? VARTYPE(VT_UI8) : VARTYPE(VT_EMPTY))
                                 : types[i];
        // Arguments go last to first.
        if (!makeArgument(substitute(args[i], c), type, &values[args.size() - 1 - i])) {
            std::fprintf(stderr, "norvane-container: argument %zu of %s is not a %s\n", i + 1,
                         name.c_str(), type == VT_BSTR ? "text" : "number");
            for (VARIANT &v : values)
                VariantClear(&v);
            return false;
        }
    }
    DISPPARAMS dp{values.data(), nullptr, UINT(values.size()), 0};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr
        = c.control->Invoke(id, IID_NULL, 0x0409, DISPATCH_METHOD, &dp, &result, nullptr, nullptr);
    for (VARIANT &v : values)
        VariantClear(&v);
    if (FAILED(hr)) {
        std::fprintf(stderr, "norvane-container: %s failed: 0x%08X\n", name.c_str(), unsigned(hr));
        return false;
    }
    std::printf("call: %s -> %s\n", name.c_str(), describe(result).c_str());
    std::fflush(stdout);
    VariantClear(&result);
    return true;
}

bool isStep(const std::string &word)
{
    return word == "call" || word == "wait" || word == "until" || word == "serve"
           || word == "picture";
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    int width = 800;
    int height = 600;
    std::string module;
    std::size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        if (args[i] == "--size" && i + 1 < args.size()) {
            if (std::sscanf(args[++i].c_str(), "%dx%d", &width, &height) != 2 || width <= 0
                || height <= 0)
                return usage();
        } else if (args[i] == "--register" && i + 1 < args.size()) {
            module = args[++i];
        } else {
            return usage();
        }
    }
    if (i >= args.size())
        return usage();
    const std::string progId = args[i++];

    CLSID clsid;
    if (!platform::clsidFromProgId(progId.c_str(), &clsid) && !module.empty()
        && !registerModule(module))
        return 1;

    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "NorvaneContainer";
    RegisterClassA(&wc);
    const HWND window
        = CreateWindowExA(0, "NorvaneContainer", progId.c_str(), WS_OVERLAPPED | WS_VISIBLE, 0, 0,
                          width, height, nullptr, nullptr, nullptr, nullptr);
    Printer listener;
    int rc = 0;
    {
        platform::AxHost ax;
        const HRESULT hr = ax.Create(progId.c_str(), window, CRect(0, 0, width, height));
        ComPtr<IDispatch> control;
        if (FAILED(hr) || FAILED(ax.QueryControl(IID_IDispatch, control.putVoid()))) {
            std::fprintf(stderr, "norvane-container: cannot create %s: 0x%08X\n", progId.c_str(),
                         unsigned(hr));
            DestroyWindow(window);
            return 1;
        }
        std::printf("created: %s\n", progId.c_str());
        std::unique_ptr<norvane::LoopbackServer> server;
        Context c{control.get(), &listener, {}};
        while (i < args.size() && rc == 0) {
            const std::string step = args[i++];
            std::vector<std::string> params;
            while (i < args.size() && !isStep(args[i]))
                params.push_back(args[i++]);
            if (step == "call" && !params.empty()) {
                const std::string name = params.front();
                params.erase(params.begin());
                rc = callMethod(c, name, params) ? 0 : 1;
            } else if (step == "wait" && params.size() == 1) {
                pump(std::atoi(params[0].c_str()));
            } else if (step == "until" && (params.size() == 1 || params.size() == 2)) {
                const int ms = params.size() == 2 ? std::atoi(params[1].c_str()) : 30000;
                QDeadlineTimer deadline(ms);
                auto heard = [&] {
                    for (const std::string &n : listener.heard)
                        if (n == params[0])
                            return true;
                    return false;
                };
                while (!heard() && !deadline.hasExpired())
                    pump(10);
                if (!heard()) {
                    std::fprintf(stderr, "norvane-container: no %s within %d ms\n",
                                 params[0].c_str(), ms);
                    rc = 3;
                }
            } else if (step == "serve" && !params.empty()) {
                server = std::make_unique<norvane::LoopbackServer>();
                if (!serve(server.get(), params)) {
                    std::fprintf(stderr, "norvane-container: cannot serve %s\n", params[0].c_str());
                    rc = 1;
                } else {
                    c.base = server->url();
                    std::printf("serving: %s at %s\n", params[0].c_str(), c.base.c_str());
                }
            } else if (step == "picture" && params.size() == 1) {
                QWidget *w = platform::win::widgetOf(window);
                const QPixmap picture = w ? w->grab() : QPixmap();
                if (picture.isNull() || !picture.save(QString::fromStdString(params[0]), "PNG")) {
                    std::fprintf(stderr, "norvane-container: cannot write %s\n", params[0].c_str());
                    rc = 1;
                } else {
                    std::printf("picture: %s\n", params[0].c_str());
                }
            } else {
                std::fprintf(stderr, "norvane-container: bad step \"%s\"\n", step.c_str());
                rc = 2;
            }
            std::fflush(stdout);
        }
        control = {};
        ax.Destroy();
    }
    DestroyWindow(window);
    CoFreeUnusedLibraries();
    return rc;
}
