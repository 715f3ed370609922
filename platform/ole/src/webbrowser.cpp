// SPDX-License-Identifier: MIT
// The HTML browser control on the engine: its COM face (browser, documents, windows, frames,
// events, embedding) and its use of the site's answers (user-interface handler, command target
// for script errors, ambient download control).
#include "webbrowser.h"

#include "platform/creation.h"
#include "platform/qtwindow.h"
#include "platform/wnd.h"
#include "webengine.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QWidget>

#include <cmath>
#include <map>
#include <memory>

using platform::ComPtr;
using platform::web::Engine;
using platform::web::EngineClient;
using platform::web::ExternalAnswer;
using platform::web::MenuKind;
using platform::web::ScriptResult;

namespace {

class WebBrowser;

BSTR toBstr(const QString &s)
{
    return SysAllocStringLen(reinterpret_cast<const OLECHAR *>(s.utf16()), UINT(s.size()));
}

QString fromBstr(BSTR b)
{
    return b ? QString::fromUtf16(b, int(SysStringLen(b))) : QString();
}

// A script value as a host's dispatch sees it, and back.
void toVariant(const QJsonValue &v, VARIANT *out)
{
    VariantInit(out);
    switch (v.type()) {
    case QJsonValue::Bool:
        out->vt = VT_BOOL;
        out->boolVal = v.toBool() ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case QJsonValue::Double: {
        const double d = v.toDouble();
        if (std::floor(d) == d && d >= -2147483648.0 && d <= 2147483647.0) {
            out->vt = VT_I4;
            out->lVal = LONG(d);
        } else {
            out->vt = VT_R8;
            out->dblVal = d;
        }
        break;
    }
    case QJsonValue::String:
        out->vt = VT_BSTR;
        out->bstrVal = toBstr(v.toString());
        break;
    case QJsonValue::Null:
        out->vt = VT_NULL;
        break;
    default:
        break;
    }
}

QJsonValue fromVariant(const VARIANT &v)
{
    switch (v.vt) {
    case VT_BOOL:
        return v.boolVal != VARIANT_FALSE;
    case VT_I2:
        return v.iVal;
    case VT_I4:
    case VT_INT:
        return v.lVal;
    case VT_UI4:
    case VT_UINT:
        return double(v.ulVal);
    case VT_I8:
        return double(v.llVal);
    case VT_R4:
        return double(v.fltVal);
    case VT_R8:
        return v.dblVal;
    case VT_BSTR:
        return fromBstr(v.bstrVal);
    case VT_NULL:
        return QJsonValue::Null;
    default:
        return QJsonValue(QJsonValue::Undefined);
    }
}

// Objects handed to the host for one frame: its browser face, its document, its window. Each
// keeps the control alive; the control keeps none of them.
class FrameObject : public CCmdTarget
{
public:
    FrameObject(WebBrowser *owner, QString frameId, bool top);
    ~FrameObject() override;
    WebBrowser *m_owner;
    QString m_frame;
    bool m_top;
};

class HtmlWindow;

class HtmlDocument : public FrameObject
{
public:
    using FrameObject::FrameObject;
    BEGIN_INTERFACE_PART(Document, IHTMLDocument2)
    DECLARE_IDISPATCH_METHODS()
    HRESULT STDMETHODCALLTYPE get_parentWindow(IHTMLWindow2 **p) override;
    HRESULT STDMETHODCALLTYPE get_URL(BSTR *p) override;
    END_INTERFACE_PART(Document)
    DECLARE_INTERFACE_MAP()
    QUrl m_url;
};

class HtmlWindow : public FrameObject
{
public:
    using FrameObject::FrameObject;
    BEGIN_INTERFACE_PART(Window, IHTMLWindow2)
    DECLARE_IDISPATCH_METHODS()
    HRESULT STDMETHODCALLTYPE execScript(BSTR code, BSTR language, VARIANT *ret) override;
    HRESULT STDMETHODCALLTYPE get_document(IHTMLDocument2 **p) override;
    END_INTERFACE_PART(Window)
    DECLARE_INTERFACE_MAP()
};

// A sub-frame's browser face, as DocumentComplete and NavigateError hand it out.
class FrameBrowser : public FrameObject
{
public:
    using FrameObject::FrameObject;
    BEGIN_INTERFACE_PART(Browser, IWebBrowser2)
    DECLARE_IDISPATCH_METHODS()
    DECLARE_IWEBBROWSER2_METHODS()
    END_INTERFACE_PART(Browser)
    DECLARE_INTERFACE_MAP()
    QUrl m_url;
};

class WebBrowser : public CCmdTarget, public EngineClient
{
public:
    WebBrowser() = default;
    ~WebBrowser() override { closeEngine(); }

    // The browser control's own window and engine, made at in-place activation.
    HWND m_hWnd = nullptr;
    std::unique_ptr<Engine> m_engine;
    IOleClientSite *m_site = nullptr;
    IDispatch *m_sink = nullptr;
    bool m_silent = false;
    bool m_dropTarget = true;
    bool m_inPlace = false;
    QUrl m_lastUrl;
    std::map<QString, QUrl> m_frameUrls;
    // Member ids the external object gave, kept while it stays the same object.
    IDispatch *m_idsOf = nullptr;
    std::map<QString, DISPID> m_ids;

    template <class I>
    ComPtr<I> siteInterface(REFIID iid) const
    {
        ComPtr<I> p;
        if (m_site)
            m_site->QueryInterface(iid, p.putVoid());
        return p;
    }

    void applyHostAnswers();
    HRESULT activate(HWND parent, LPCRECT pos);
    void deactivate();
    void closeEngine();
    HRESULT navigate(const QString &url);
    ComPtr<IDispatch> frameDispatch(const QString &frame, bool top);
    ComPtr<IDispatch> documentOf(const QString &frame, bool top);
    void fire(DISPID id, DISPPARAMS *params);

    // EngineClient
    ExternalAnswer externalCall(const QString &frame, const QString &member,
                                const QJsonArray &args) override;
    void frameLoaded(const QString &frame, bool top, const QUrl &url) override;
    void navigationFailed(const QString &frame, bool top, const QUrl &url, int status) override;
    bool scriptError(const QString &frame, const QString &message, int line,
                     const QString &source) override;
    bool engineContextMenu(MenuKind kind, QPoint at) override;
    void rendererGone(int exitCode) override;

    BEGIN_INTERFACE_PART(Browser, IWebBrowser2)
    DECLARE_IDISPATCH_METHODS()
    DECLARE_IWEBBROWSER2_METHODS()
    END_INTERFACE_PART(Browser)

    BEGIN_INTERFACE_PART(OleObject, IOleObject)
    DECLARE_IOLEOBJECT_METHODS()
    END_INTERFACE_PART(OleObject)

    BEGIN_INTERFACE_PART(InPlaceObject, IOleInPlaceObject)
    DECLARE_IOLEINPLACEOBJECT_METHODS()
    END_INTERFACE_PART(InPlaceObject)

    BEGIN_INTERFACE_PART(ConnectionPoints, IConnectionPointContainer)
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID, IConnectionPoint **) override;
    END_INTERFACE_PART(ConnectionPoints)

    // One connection point: the browser's events, to one sink at a time.
    BEGIN_INTERFACE_PART(Events, IConnectionPoint)
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID *) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown *, DWORD *) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override;
    END_INTERFACE_PART(Events)

    DECLARE_INTERFACE_MAP()
};

// ---- Frame objects

FrameObject::FrameObject(WebBrowser *owner, QString frameId, bool top)
    : m_owner(owner)
    , m_frame(std::move(frameId))
    , m_top(top)
{
    m_owner->ExternalAddRef();
}

FrameObject::~FrameObject()
{
    m_owner->ExternalRelease();
}

BEGIN_INTERFACE_MAP(HtmlDocument, CCmdTarget)
INTERFACE_PART(HtmlDocument, IID_IUnknown, Document)
INTERFACE_PART(HtmlDocument, IID_IDispatch, Document)
INTERFACE_PART(HtmlDocument, IID_IHTMLDocument2, Document)
END_INTERFACE_MAP()
IMPLEMENT_NESTED_IUNKNOWN(HtmlDocument, Document)

BEGIN_INTERFACE_MAP(HtmlWindow, CCmdTarget)
INTERFACE_PART(HtmlWindow, IID_IUnknown, Window)
INTERFACE_PART(HtmlWindow, IID_IDispatch, Window)
INTERFACE_PART(HtmlWindow, IID_IHTMLWindow2, Window)
END_INTERFACE_MAP()
IMPLEMENT_NESTED_IUNKNOWN(HtmlWindow, Window)

BEGIN_INTERFACE_MAP(FrameBrowser, CCmdTarget)
INTERFACE_PART(FrameBrowser, IID_IUnknown, Browser)
INTERFACE_PART(FrameBrowser, IID_IDispatch, Browser)
INTERFACE_PART(FrameBrowser, IID_IWebBrowser2, Browser)
END_INTERFACE_MAP()
IMPLEMENT_NESTED_IUNKNOWN(FrameBrowser, Browser)

// The late-bound face of these objects is not offered: hosts use their interfaces.
IMPLEMENT_NO_LATE_BINDING(HtmlDocument, Document)
IMPLEMENT_NO_LATE_BINDING(HtmlWindow, Window)
IMPLEMENT_NO_LATE_BINDING(FrameBrowser, Browser)
IMPLEMENT_NO_LATE_BINDING(WebBrowser, Browser)

HRESULT HtmlDocument::XDocument::get_parentWindow(IHTMLWindow2 **p)
{
    METHOD_PROLOGUE(HtmlDocument, Document)
    if (!p)
        return E_POINTER;
    auto *w = new HtmlWindow(pThis->m_owner, pThis->m_frame, pThis->m_top);
    *p = &w->m_xWindow; // the creator's reference goes to the caller
    return S_OK;
}

HRESULT HtmlDocument::XDocument::get_URL(BSTR *p)
{
    METHOD_PROLOGUE(HtmlDocument, Document)
    if (!p)
        return E_POINTER;
    *p = toBstr(pThis->m_url.toString());
    return S_OK;
}

HRESULT HtmlWindow::XWindow::execScript(BSTR code, BSTR language, VARIANT *ret)
{
    METHOD_PROLOGUE(HtmlWindow, Window)
    if (ret)
        VariantInit(ret);
    const QString lang = fromBstr(language);
    if (!lang.isEmpty() && lang.compare(QLatin1String("javascript"), Qt::CaseInsensitive) != 0
        && lang.compare(QLatin1String("jscript"), Qt::CaseInsensitive) != 0)
        return E_INVALIDARG;
    if (!pThis->m_owner->m_engine)
        return E_UNEXPECTED;
    switch (pThis->m_owner->m_engine->runScript(pThis->m_frame, fromBstr(code))) {
    case ScriptResult::Ran:
    case ScriptResult::Queued:
        return S_OK;
    case ScriptResult::NoFrame:
        // The document has gone, or lies in another origin than the top page.
        return E_ACCESSDENIED;
    case ScriptResult::Gone:
        return E_UNEXPECTED;
    case ScriptResult::Failed:
        break;
    }
    return DISP_E_EXCEPTION;
}

HRESULT HtmlWindow::XWindow::get_document(IHTMLDocument2 **p)
{
    METHOD_PROLOGUE(HtmlWindow, Window)
    if (!p)
        return E_POINTER;
    auto *d = new HtmlDocument(pThis->m_owner, pThis->m_frame, pThis->m_top);
    *p = &d->m_xDocument;
    return S_OK;
}

HRESULT FrameBrowser::XBrowser::Navigate(BSTR, VARIANT *, VARIANT *, VARIANT *, VARIANT *)
{
    return E_NOTIMPL;
}

HRESULT FrameBrowser::XBrowser::Stop()
{
    return E_NOTIMPL;
}

HRESULT FrameBrowser::XBrowser::get_Document(IDispatch **pp)
{
    METHOD_PROLOGUE(FrameBrowser, Browser)
    if (!pp)
        return E_POINTER;
    *pp = pThis->m_owner->documentOf(pThis->m_frame, false).detach();
    return *pp ? S_OK : S_FALSE;
}

HRESULT FrameBrowser::XBrowser::get_LocationURL(BSTR *p)
{
    METHOD_PROLOGUE(FrameBrowser, Browser)
    if (!p)
        return E_POINTER;
    *p = toBstr(pThis->m_url.toString());
    return S_OK;
}

HRESULT FrameBrowser::XBrowser::get_Silent(VARIANT_BOOL *p)
{
    METHOD_PROLOGUE(FrameBrowser, Browser)
    return pThis->m_owner->m_xBrowser.get_Silent(p);
}

HRESULT FrameBrowser::XBrowser::put_Silent(VARIANT_BOOL)
{
    return E_NOTIMPL;
}

HRESULT FrameBrowser::XBrowser::get_RegisterAsDropTarget(VARIANT_BOOL *p)
{
    METHOD_PROLOGUE(FrameBrowser, Browser)
    return pThis->m_owner->m_xBrowser.get_RegisterAsDropTarget(p);
}

HRESULT FrameBrowser::XBrowser::put_RegisterAsDropTarget(VARIANT_BOOL)
{
    return E_NOTIMPL;
}

HRESULT FrameBrowser::XBrowser::get_HWND(HWND *p)
{
    if (p)
        *p = nullptr;
    return E_NOTIMPL;
}

// ---- The control

BEGIN_INTERFACE_MAP(WebBrowser, CCmdTarget)
INTERFACE_PART(WebBrowser, IID_IUnknown, Browser)
INTERFACE_PART(WebBrowser, IID_IDispatch, Browser)
INTERFACE_PART(WebBrowser, IID_IWebBrowser2, Browser)
INTERFACE_PART(WebBrowser, IID_IOleObject, OleObject)
INTERFACE_PART(WebBrowser, IID_IOleWindow, InPlaceObject)
INTERFACE_PART(WebBrowser, IID_IOleInPlaceObject, InPlaceObject)
INTERFACE_PART(WebBrowser, IID_IConnectionPointContainer, ConnectionPoints)
END_INTERFACE_MAP()
IMPLEMENT_NESTED_IUNKNOWN(WebBrowser, Browser)
IMPLEMENT_NESTED_IUNKNOWN(WebBrowser, OleObject)
IMPLEMENT_NESTED_IUNKNOWN(WebBrowser, InPlaceObject)
IMPLEMENT_NESTED_IUNKNOWN(WebBrowser, ConnectionPoints)
IMPLEMENT_NESTED_IUNKNOWN(WebBrowser, Events)

LRESULT STDMETHODCALLTYPE browserWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    // The engine's view fills the control's window.
    if (msg == WM_SIZE) {
        if (QWidget *w = platform::win::widgetOf(hwnd))
            for (QWidget *child : w->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
                child->setGeometry(0, 0, LOWORD(lp), HIWORD(lp));
        return 0;
    }
    if (msg == WM_ERASEBKGND)
        return 1;
    return DefWindowProcA(hwnd, msg, wp, lp);
}

void WebBrowser::applyHostAnswers()
{
    if (!m_engine)
        return;
    // What the page may download, as the host's ambient property says; everything without it.
    platform::web::DownloadControl control;
    if (auto ambient = siteInterface<IDispatch>(IID_IDispatch)) {
        VARIANT v;
        VariantInit(&v);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        if (SUCCEEDED(ambient->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, LOCALE_USER_DEFAULT,
                                      DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr))
            && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4))) {
            const LONG f = v.lVal;
            control.images = f & DLCTL_DLIMAGES;
            // The engine cannot tell a video from a background sound: both must be allowed.
            control.media = (f & DLCTL_VIDEOS) && (f & DLCTL_BGSOUNDS);
            control.scripts = !(f & DLCTL_NO_SCRIPTS);
            control.noCache = f & (DLCTL_PRAGMA_NO_CACHE | DLCTL_RESYNCHRONIZE);
            if (f & DLCTL_SILENT)
                m_silent = true;
        }
        VariantClear(&v);
    }
    m_engine->setDownloadControl(control);
    m_engine->setSilent(m_silent);
    bool scrollBars = true;
    if (auto ui = siteInterface<IDocHostUIHandler>(IID_IDocHostUIHandler)) {
        DOCHOSTUIINFO info{};
        info.cbSize = sizeof info;
        if (SUCCEEDED(ui->GetHostInfo(&info)))
            scrollBars = !(info.dwFlags & DOCHOSTUIFLAG_SCROLL_NO);
    }
    m_engine->setScrollBars(scrollBars);
    // Drops navigate only while the browser is a drop target and the host gives no target of
    // its own (a host's target cannot be served by the engine, so drops are then refused).
    bool drops = m_dropTarget;
    if (drops) {
        if (auto ui = siteInterface<IDocHostUIHandler>(IID_IDocHostUIHandler)) {
            IDropTarget *target = nullptr;
            if (SUCCEEDED(ui->GetDropTarget(nullptr, &target)) && target) {
                reinterpret_cast<IUnknown *>(target)->Release();
                drops = false;
            }
        }
    }
    m_engine->setDropsAccepted(drops);
}

HRESULT WebBrowser::activate(HWND parent, LPCRECT pos)
{
    if (m_inPlace)
        return S_OK;
    auto site = siteInterface<IOleInPlaceSite>(IID_IOleInPlaceSite);
    if (!site)
        return E_NOINTERFACE;
    if (site->CanInPlaceActivate() != S_OK)
        return E_FAIL;
    RECT r{0, 0, 0, 0};
    RECT clip;
    if (pos)
        r = *pos;
    else
        site->GetWindowContext(&r, &clip);
    if (!parent)
        site->GetWindow(&parent);
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = browserWindowProc;
        wc.lpszClassName = "PlatformWebBrowser";
        return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
    m_hWnd = CreateWindowExA(0, "PlatformWebBrowser", "", WS_CHILD | WS_VISIBLE, r.left, r.top,
                             r.right - r.left, r.bottom - r.top, parent, nullptr, nullptr, nullptr);
    if (!m_hWnd)
        return E_FAIL;
    m_engine = std::make_unique<Engine>(platform::win::widgetOf(m_hWnd), this);
    m_engine->widget()->setGeometry(0, 0, r.right - r.left, r.bottom - r.top);
    m_engine->widget()->show();
    m_inPlace = true;
    applyHostAnswers();
    site->OnInPlaceActivate();
    return S_OK;
}

void WebBrowser::closeEngine()
{
    m_engine.reset();
    if (m_hWnd) {
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
}

void WebBrowser::deactivate()
{
    if (!m_inPlace)
        return;
    m_inPlace = false;
    closeEngine();
    if (auto site = siteInterface<IOleInPlaceSite>(IID_IOleInPlaceSite))
        site->OnInPlaceDeactivate();
}

HRESULT WebBrowser::navigate(const QString &url)
{
    if (!m_engine)
        return E_UNEXPECTED;
    // The host's answers hold from this navigation on, as the platform asks them per page.
    applyHostAnswers();
    m_frameUrls.clear();
    m_ids.clear();
    m_idsOf = nullptr;
    const QUrl u = QUrl::fromUserInput(url);
    if (!u.isValid())
        return E_INVALIDARG;
    m_lastUrl = u;
    m_engine->navigate(u);
    return S_OK;
}

ComPtr<IDispatch> WebBrowser::frameDispatch(const QString &frame, bool top)
{
    if (top)
        return ComPtr<IDispatch>(&m_xBrowser);
    auto *f = new FrameBrowser(this, frame, false);
    f->m_url = m_frameUrls.count(frame) ? m_frameUrls[frame] : QUrl();
    return ComPtr<IDispatch>::adopt(&f->m_xBrowser);
}

ComPtr<IDispatch> WebBrowser::documentOf(const QString &frame, bool top)
{
    if (!m_engine)
        return {};
    auto *d = new HtmlDocument(this, frame, top);
    d->m_url = m_frameUrls.count(frame) ? m_frameUrls[frame] : m_engine->url();
    return ComPtr<IDispatch>::adopt(&d->m_xDocument);
}

void WebBrowser::fire(DISPID id, DISPPARAMS *params)
{
    if (!m_sink)
        return;
    ComPtr<IDispatch> sink(m_sink);
    ComPtr<IUnknown> self(&m_xBrowser); // the sink may let the control go
    sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr, nullptr,
                 nullptr);
}

ExternalAnswer WebBrowser::externalCall(const QString &, const QString &member,
                                        const QJsonArray &args)
{
    ExternalAnswer answer;
    auto ui = siteInterface<IDocHostUIHandler>(IID_IDocHostUIHandler);
    if (!ui)
        return answer;
    ComPtr<IDispatch> external;
    if (FAILED(ui->GetExternal(external.put())) || !external)
        return answer;
    // The member is found by the host's own name lookup, with its own rule for case; its id is
    // asked once per name and object.
    if (m_idsOf != external.get()) {
        m_idsOf = external.get();
        m_ids.clear();
    }
    DISPID id = DISPID_UNKNOWN;
    auto known = m_ids.find(member);
    if (known != m_ids.end()) {
        id = known->second;
    } else {
        std::u16string name(reinterpret_cast<const char16_t *>(member.utf16()), member.size());
        LPOLESTR names[] = {name.data()};
        if (FAILED(external->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
            answer.status = ExternalAnswer::UnknownMember;
            answer.error
                = QStringLiteral("Object doesn't support property or method '%1'").arg(member);
            return answer;
        }
        m_ids[member] = id;
    }
    std::vector<VARIANT> argv(args.size());
    for (int i = 0; i < args.size(); ++i)
        toVariant(args.at(i), &argv[std::size_t(args.size() - 1 - i)]); // last argument first
    DISPPARAMS params{argv.data(), nullptr, UINT(argv.size()), 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO error{};
    const HRESULT hr = external->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT,
                                        DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &result,
                                        &error, nullptr);
    for (VARIANT &v : argv)
        VariantClear(&v);
    if (FAILED(hr)) {
        answer.status = ExternalAnswer::Failed;
        answer.error = error.bstrDescription ? fromBstr(error.bstrDescription)
                                             : QStringLiteral("window.external.%1 failed: 0x%2")
                                                   .arg(member)
                                                   .arg(quint32(hr), 8, 16, QLatin1Char('0'));
    } else {
        answer.status = ExternalAnswer::Ok;
        answer.value = fromVariant(result);
    }
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrDescription);
    SysFreeString(error.bstrHelpFile);
    VariantClear(&result);
    return answer;
}

void WebBrowser::frameLoaded(const QString &frame, bool top, const QUrl &url)
{
    m_frameUrls[frame] = url;
    ComPtr<IDispatch> disp = frameDispatch(frame, top);
    VARIANT urlValue;
    urlValue.vt = VT_BSTR;
    urlValue.bstrVal = toBstr(url.toString());
    VARIANT args[2];
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = disp.get();
    args[0].vt = VT_VARIANT | VT_BYREF;
    args[0].pvarVal = &urlValue;
    DISPPARAMS params{args, nullptr, 2, 0};
    fire(DISPID_DOCUMENTCOMPLETE, &params);
    VariantClear(&urlValue);
}

void WebBrowser::navigationFailed(const QString &frame, bool top, const QUrl &url, int status)
{
    ComPtr<IDispatch> disp = frameDispatch(frame, top);
    VARIANT urlValue, frameName, statusCode;
    urlValue.vt = VT_BSTR;
    urlValue.bstrVal = toBstr(url.toString());
    frameName.vt = VT_BSTR;
    frameName.bstrVal = SysAllocString(u"");
    statusCode.vt = VT_I4;
    statusCode.lVal = status > 0 ? status : LONG(INET_E_RESOURCE_NOT_FOUND);
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT args[5];
    args[4].vt = VT_DISPATCH;
    args[4].pdispVal = disp.get();
    args[3].vt = VT_VARIANT | VT_BYREF;
    args[3].pvarVal = &urlValue;
    args[2].vt = VT_VARIANT | VT_BYREF;
    args[2].pvarVal = &frameName;
    args[1].vt = VT_VARIANT | VT_BYREF;
    args[1].pvarVal = &statusCode;
    args[0].vt = VT_BOOL | VT_BYREF;
    args[0].pboolVal = &cancel;
    DISPPARAMS params{args, nullptr, 5, 0};
    fire(DISPID_NAVIGATEERROR, &params);
    // A cancelled navigation shows nothing more; otherwise the engine's error page stays.
    if (cancel != VARIANT_FALSE && top && m_engine)
        m_engine->stop();
    VariantClear(&urlValue);
    VariantClear(&frameName);
}

bool WebBrowser::scriptError(const QString &frame, const QString &, int, const QString &)
{
    // The host decides through its command target; without one, scripts go on and nothing is
    // shown (the engine has no error dialog to offer).
    auto target = siteInterface<IOleCommandTarget>(IID_IOleCommandTarget);
    if (!target)
        return true;
    ComPtr<IDispatch> doc = documentOf(frame, frame == m_engine->topFrameId());
    VARIANT in, out;
    VariantInit(&in);
    VariantInit(&out);
    in.vt = VT_UNKNOWN;
    in.punkVal = doc.get();
    const HRESULT hr = target->Exec(&CGID_DocHostCommandHandler, OLECMDID_SHOWSCRIPTERROR,
                                    OLECMDEXECOPT_DODEFAULT, &in, &out);
    const bool goOn = FAILED(hr) || out.vt != VT_BOOL || out.boolVal != VARIANT_FALSE;
    VariantClear(&out);
    return goOn;
}

bool WebBrowser::engineContextMenu(MenuKind kind, QPoint at)
{
    auto ui = siteInterface<IDocHostUIHandler>(IID_IDocHostUIHandler);
    if (!ui)
        return true;
    POINT pt{at.x(), at.y()};
    // S_OK: the host dealt with it, no menu; anything else: the engine's own menu.
    return ui->ShowContextMenu(DWORD(kind), &pt, nullptr, nullptr) != S_OK;
}

void WebBrowser::rendererGone(int)
{
    // The page is gone with its renderer: the host hears it as a failed navigation of the top
    // frame, and a later Navigate starts a new renderer.
    navigationFailed(m_engine ? m_engine->topFrameId() : QString(), true, m_lastUrl,
                     int(INET_E_DOWNLOAD_FAILURE));
}

HRESULT WebBrowser::XBrowser::Navigate(BSTR url, VARIANT *, VARIANT *targetFrame, VARIANT *postData,
                                       VARIANT *headers)
{
    METHOD_PROLOGUE(WebBrowser, Browser)
    // Post data, extra headers and a target frame need engine support this control lacks.
    auto present = [](const VARIANT *v) {
        return v && v->vt != VT_EMPTY && v->vt != VT_NULL
               && !(v->vt == VT_BSTR && SysStringLen(v->bstrVal) == 0);
    };
    if (present(postData) || present(headers) || present(targetFrame))
        return E_NOTIMPL;
    return pThis->navigate(fromBstr(url));
}

HRESULT WebBrowser::XBrowser::Stop()
{
    METHOD_PROLOGUE(WebBrowser, Browser)
    if (pThis->m_engine)
        pThis->m_engine->stop();
    return S_OK;
}

HRESULT WebBrowser::XBrowser::get_Document(IDispatch **pp)
{
    METHOD_PROLOGUE(WebBrowser, Browser)
    if (!pp)
        return E_POINTER;
    *pp = pThis->m_engine ? pThis->documentOf(pThis->m_engine->topFrameId(), true).detach()
                          : nullptr;
    return *pp ? S_OK : S_FALSE;
}

HRESULT WebBrowser::XBrowser::get_LocationURL(BSTR *p)
{
    METHOD_PROLOGUE(WebBrowser, Browser)
    if (!p)
        return E_POINTER;
    *p = toBstr(pThis->m_engine ? pThis->m_engine->url().toString() : QString());
    return S_OK;
}

HRESULT WebBrowser::XBrowser::get_Silent(VARIANT_BOOL *p)
{
    METHOD_PROLOGUE(WebBrowser, Browser)
    if (!p)
        return E_POINTER;
    *p = pThis->m_silent ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT WebBrowser::XBrowser::put_Silent(VARIANT_BOOL silent)
{
    METHOD_PROLOGUE(WebBrowser, Browser)
    pThis->m_silent = silent != VARIANT_FALSE;
    if (pThis->m_engine)
        pThis->m_engine->setSilent(pThis->m_silent);
    return S_OK;
}

HRESULT WebBrowser::XBrowser::get_RegisterAsDropTarget(VARIANT_BOOL *p)
{
    METHOD_PROLOGUE(WebBrowser, Browser)
    if (!p)
        return E_POINTER;
    *p = pThis->m_dropTarget ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT WebBrowser::XBrowser::put_RegisterAsDropTarget(VARIANT_BOOL reg)
{
    METHOD_PROLOGUE(WebBrowser, Browser)
    pThis->m_dropTarget = reg != VARIANT_FALSE;
    pThis->applyHostAnswers();
    return S_OK;
}

HRESULT WebBrowser::XBrowser::get_HWND(HWND *p)
{
    METHOD_PROLOGUE(WebBrowser, Browser)
    if (!p)
        return E_POINTER;
    *p = pThis->m_hWnd;
    return S_OK;
}

HRESULT WebBrowser::XOleObject::SetClientSite(IOleClientSite *site)
{
    METHOD_PROLOGUE(WebBrowser, OleObject)
    if (site)
        site->AddRef();
    if (pThis->m_site)
        pThis->m_site->Release();
    pThis->m_site = site;
    return S_OK;
}

HRESULT WebBrowser::XOleObject::GetClientSite(IOleClientSite **pp)
{
    METHOD_PROLOGUE(WebBrowser, OleObject)
    if (!pp)
        return E_POINTER;
    *pp = pThis->m_site;
    if (*pp)
        (*pp)->AddRef();
    return S_OK;
}

HRESULT WebBrowser::XOleObject::Close(DWORD)
{
    METHOD_PROLOGUE(WebBrowser, OleObject)
    pThis->deactivate();
    return S_OK;
}

HRESULT WebBrowser::XOleObject::DoVerb(LONG verb, LPMSG, IOleClientSite *, LONG, HWND parent,
                                       LPCRECT pos)
{
    METHOD_PROLOGUE(WebBrowser, OleObject)
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
        return pThis->activate(parent, pos);
    case OLEIVERB_HIDE:
        if (pThis->m_hWnd)
            ShowWindow(pThis->m_hWnd, SW_HIDE);
        return S_OK;
    default:
        return OLEOBJ_E_INVALIDVERB;
    }
}

HRESULT WebBrowser::XOleObject::GetUserClassID(CLSID *clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = CLSID_WebBrowser;
    return S_OK;
}

HRESULT WebBrowser::XOleObject::GetMiscStatus(DWORD, DWORD *status)
{
    if (!status)
        return E_POINTER;
    *status = 0;
    return S_OK;
}

HRESULT WebBrowser::XInPlaceObject::GetWindow(HWND *p)
{
    METHOD_PROLOGUE(WebBrowser, InPlaceObject)
    if (!p)
        return E_POINTER;
    *p = pThis->m_hWnd;
    return pThis->m_hWnd ? S_OK : E_FAIL;
}

HRESULT WebBrowser::XInPlaceObject::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

HRESULT WebBrowser::XInPlaceObject::InPlaceDeactivate()
{
    METHOD_PROLOGUE(WebBrowser, InPlaceObject)
    pThis->deactivate();
    return S_OK;
}

HRESULT WebBrowser::XInPlaceObject::UIDeactivate()
{
    return S_OK;
}

HRESULT WebBrowser::XInPlaceObject::SetObjectRects(LPCRECT pos, LPCRECT)
{
    METHOD_PROLOGUE(WebBrowser, InPlaceObject)
    if (!pos)
        return E_POINTER;
    if (!pThis->m_hWnd)
        return OLE_E_NOT_INPLACEACTIVE;
    MoveWindow(pThis->m_hWnd, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top,
               TRUE);
    return S_OK;
}

HRESULT WebBrowser::XConnectionPoints::FindConnectionPoint(REFIID iid, IConnectionPoint **pp)
{
    METHOD_PROLOGUE(WebBrowser, ConnectionPoints)
    if (!pp)
        return E_POINTER;
    *pp = nullptr;
    if (!IsEqualIID(iid, DIID_DWebBrowserEvents2))
        return CONNECT_E_NOCONNECTION;
    pThis->ExternalAddRef();
    *pp = &pThis->m_xEvents;
    return S_OK;
}

HRESULT WebBrowser::XEvents::GetConnectionInterface(IID *iid)
{
    if (!iid)
        return E_POINTER;
    *iid = DIID_DWebBrowserEvents2;
    return S_OK;
}

HRESULT WebBrowser::XEvents::Advise(IUnknown *sink, DWORD *cookie)
{
    METHOD_PROLOGUE(WebBrowser, Events)
    if (!sink || !cookie)
        return E_POINTER;
    if (pThis->m_sink)
        return CONNECT_E_ADVISELIMIT;
    // The sink answers the event interface, which is a dispatch interface.
    IDispatch *disp = nullptr;
    if (FAILED(sink->QueryInterface(DIID_DWebBrowserEvents2, reinterpret_cast<void **>(&disp)))
        && FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&disp))))
        return CONNECT_E_CANNOTCONNECT;
    pThis->m_sink = disp;
    *cookie = 1;
    return S_OK;
}

HRESULT WebBrowser::XEvents::Unadvise(DWORD cookie)
{
    METHOD_PROLOGUE(WebBrowser, Events)
    if (cookie != 1 || !pThis->m_sink)
        return CONNECT_E_NOCONNECTION;
    std::exchange(pThis->m_sink, nullptr)->Release();
    return S_OK;
}

} // namespace

namespace platform {

HRESULT createWebBrowser(REFIID iid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    auto *b = new WebBrowser;
    const HRESULT hr = b->ExternalQueryInterface(iid, ppv);
    b->ExternalRelease();
    return hr;
}

} // namespace platform

namespace {
// The browser control is a class of the platform: creation by its CLSID finds it everywhere.
const bool g_browserClass = [] {
    platform::registerBuiltinClass(CLSID_WebBrowser, platform::createWebBrowser);
    return true;
}();
} // namespace
