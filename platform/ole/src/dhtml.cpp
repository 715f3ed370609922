// SPDX-License-Identifier: MIT
#include "platform/dhtml.h"

#include "platform/objectfactory.h"

#include <QByteArray>

IMPLEMENT_DYNAMIC(CDHtmlDialog, CDialog)

using platform::ComPtr;

namespace {

// The site a dialog gets when it asks for none of its own: it passes the browser's
// user-interface questions and script errors to the dialog.
class DHtmlSite : public COleControlSite
{
public:
    DHtmlSite(COleControlContainer *container, CDHtmlDialog *dialog)
        : COleControlSite(container)
        , m_dialog(dialog)
    {}
    CDHtmlDialog *m_dialog;

    BEGIN_INTERFACE_PART(DocHostUIHandler, IDocHostUIHandler)
    HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD id, POINT *pt, IUnknown *a,
                                              IDispatch *b) override
    {
        return outer()->m_dialog->ShowContextMenu(id, pt, a, b);
    }
    HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO *info) override
    {
        return outer()->m_dialog->GetHostInfo(info);
    }
    HRESULT STDMETHODCALLTYPE ShowUI(DWORD id, IOleInPlaceActiveObject *a, IOleCommandTarget *b,
                                     IOleInPlaceFrame *c, IOleInPlaceUIWindow *d) override
    {
        return outer()->m_dialog->ShowUI(id, a, b, c, d);
    }
    HRESULT STDMETHODCALLTYPE HideUI() override { return outer()->m_dialog->HideUI(); }
    HRESULT STDMETHODCALLTYPE UpdateUI() override { return outer()->m_dialog->UpdateUI(); }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL f) override
    {
        return outer()->m_dialog->EnableModeless(f);
    }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL f) override
    {
        return outer()->m_dialog->OnDocWindowActivate(f);
    }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL f) override
    {
        return outer()->m_dialog->OnFrameWindowActivate(f);
    }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT r, IOleInPlaceUIWindow *w, BOOL f) override
    {
        return outer()->m_dialog->ResizeBorder(r, w, f);
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG m, const GUID *g, DWORD id) override
    {
        return outer()->m_dialog->TranslateAccelerator(m, g, id);
    }
    HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR *key, DWORD dw) override
    {
        return outer()->m_dialog->GetOptionKeyPath(key, dw);
    }
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget *t, IDropTarget **out) override
    {
        return outer()->m_dialog->GetDropTarget(t, out);
    }
    HRESULT STDMETHODCALLTYPE GetExternal(IDispatch **out) override
    {
        return outer()->m_dialog->GetExternal(out);
    }
    HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD t, LPWSTR in, LPWSTR *out) override
    {
        return outer()->m_dialog->TranslateUrl(t, in, out);
    }
    HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject *d, IDataObject **out) override
    {
        return outer()->m_dialog->FilterDataObject(d, out);
    }
    DHtmlSite *outer();
    END_INTERFACE_PART(DocHostUIHandler)

    DECLARE_INTERFACE_MAP()
};

BEGIN_INTERFACE_MAP(DHtmlSite, COleControlSite)
INTERFACE_PART(DHtmlSite, IID_IDocHostUIHandler, DocHostUIHandler)
END_INTERFACE_MAP()
IMPLEMENT_NESTED_IUNKNOWN(DHtmlSite, DocHostUIHandler)

DHtmlSite *DHtmlSite::XDocHostUIHandler::outer()
{
    METHOD_PROLOGUE(DHtmlSite, DocHostUIHandler)
    return pThis;
}

} // namespace

BEGIN_INTERFACE_MAP(CDHtmlDialog, CDialog)
INTERFACE_PART(CDHtmlDialog, DIID_DWebBrowserEvents2, EventSink)
END_INTERFACE_MAP()
IMPLEMENT_NESTED_IUNKNOWN(CDHtmlDialog, EventSink)

CDHtmlDialog::CDHtmlDialog(UINT idTemplate, UINT idHtmlResource, CWnd *parent,
                           platform::ModuleState *module)
    : CDialog(idTemplate, parent, module)
    , m_nHtmlResID(idHtmlResource)
{}

CDHtmlDialog::~CDHtmlDialog()
{
    releaseBrowser();
    if (m_spExternalDisp)
        std::exchange(m_spExternalDisp, nullptr)->Release();
}

BOOL CDHtmlDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    EnableControlContainer();
    CRect client;
    GetClientRect(&client);
    m_pBrowserSite = m_pCtrlCont->CreateControl(CLSID_WebBrowser, WS_VISIBLE, client, kBrowserId);
    if (!m_pBrowserSite
        || FAILED(m_pBrowserSite->m_pObject->QueryInterface(
            IID_IWebBrowser2, reinterpret_cast<void **>(&m_pBrowserApp)))) {
        // Without its browser the dialog is of no use: both windows go.
        m_pBrowserSite = nullptr;
        DestroyWindow();
        return FALSE;
    }
    ComPtr<IConnectionPointContainer> points;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(m_pBrowserApp->QueryInterface(IID_IConnectionPointContainer, points.putVoid()))
        && SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put())))
        point->Advise(&m_xEventSink, &m_sinkCookie);
    // The start page is the module's HTML resource, shown as a page of its own.
    const std::string html = platform::moduleResource(m_pModule ? m_pModule->instance : nullptr,
                                                      RT_HTML, m_nHtmlResID);
    if (!html.empty()) {
        const QByteArray data = QByteArray::fromStdString(html).toPercentEncoding();
        Navigate(("data:text/html;charset=utf-8," + data.toStdString()).c_str());
    }
    return TRUE;
}

BOOL CDHtmlDialog::CreateControlSite(COleControlContainer *container, COleControlSite **site, UINT,
                                     REFCLSID)
{
    if (!site)
        return FALSE;
    *site = new DHtmlSite(container, this);
    return TRUE;
}

void CDHtmlDialog::OnSize(UINT type, int cx, int cy)
{
    CDialog::OnSize(type, cx, cy);
    if (m_pBrowserSite)
        m_pBrowserSite->MoveWindow(CRect(0, 0, cx, cy));
}

void CDHtmlDialog::OnDestroy()
{
    releaseBrowser();
    CDialog::OnDestroy();
}

void CDHtmlDialog::releaseBrowser()
{
    if (m_pBrowserApp) {
        ComPtr<IConnectionPointContainer> points;
        ComPtr<IConnectionPoint> point;
        if (m_sinkCookie
            && SUCCEEDED(
                m_pBrowserApp->QueryInterface(IID_IConnectionPointContainer, points.putVoid()))
            && SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put())))
            point->Unadvise(m_sinkCookie);
        m_sinkCookie = 0;
        std::exchange(m_pBrowserApp, nullptr)->Release();
    }
    if (m_pBrowserSite && m_pCtrlCont)
        m_pCtrlCont->DestroyControl(m_pBrowserSite);
    m_pBrowserSite = nullptr;
}

void CDHtmlDialog::Navigate(LPCSTR url, DWORD flags, LPCSTR targetFrameName, LPCSTR headers,
                            LPVOID postData, DWORD postDataLength)
{
    if (!m_pBrowserApp)
        return;
    VARIANT vFlags, vTarget, vPost, vHeaders;
    VariantInit(&vFlags);
    VariantInit(&vTarget);
    VariantInit(&vPost);
    VariantInit(&vHeaders);
    vFlags.vt = VT_I4;
    vFlags.lVal = LONG(flags);
    if (targetFrameName) {
        vTarget.vt = VT_BSTR;
        vTarget.bstrVal = platform::allocBstr(targetFrameName);
    }
    if (headers) {
        vHeaders.vt = VT_BSTR;
        vHeaders.bstrVal = platform::allocBstr(headers);
    }
    if (postData && postDataLength) {
        vPost.vt = VT_BSTR;
        vPost.bstrVal = SysAllocStringByteLen(static_cast<const char *>(postData), postDataLength);
    }
    BSTR bUrl = platform::allocBstr(url ? url : "");
    m_pBrowserApp->Navigate(bUrl, &vFlags, &vTarget, &vPost, &vHeaders);
    SysFreeString(bUrl);
    VariantClear(&vTarget);
    VariantClear(&vPost);
    VariantClear(&vHeaders);
}

void CDHtmlDialog::SetExternalDispatch(IDispatch *disp)
{
    if (disp)
        disp->AddRef();
    if (m_spExternalDisp)
        m_spExternalDisp->Release();
    m_spExternalDisp = disp;
}

HRESULT CDHtmlDialog::GetDHtmlDocument(IHTMLDocument2 **doc)
{
    if (!doc)
        return E_POINTER;
    *doc = nullptr;
    if (!m_pBrowserApp)
        return E_NOINTERFACE;
    ComPtr<IDispatch> disp;
    const HRESULT hr = m_pBrowserApp->get_Document(disp.put());
    if (FAILED(hr) || !disp)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    return disp->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void **>(doc));
}

void CDHtmlDialog::OnDocumentComplete(LPDISPATCH, LPCSTR) {}

BOOL CDHtmlDialog::OnNavigateError(LPDISPATCH, VARIANT *, VARIANT *, VARIANT *, VARIANT_BOOL *)
{
    return FALSE;
}

HRESULT CDHtmlDialog::ShowContextMenu(DWORD, POINT *, IUnknown *, IDispatch *)
{
    return S_FALSE;
}

HRESULT CDHtmlDialog::GetHostInfo(DOCHOSTUIINFO *info)
{
    if (!info)
        return E_POINTER;
    info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_THEME;
    return S_OK;
}

HRESULT CDHtmlDialog::ShowUI(DWORD, IOleInPlaceActiveObject *, IOleCommandTarget *,
                             IOleInPlaceFrame *, IOleInPlaceUIWindow *)
{
    return S_FALSE;
}

HRESULT CDHtmlDialog::HideUI()
{
    return E_NOTIMPL;
}

HRESULT CDHtmlDialog::UpdateUI()
{
    return E_NOTIMPL;
}

HRESULT CDHtmlDialog::EnableModeless(BOOL)
{
    return E_NOTIMPL;
}

HRESULT CDHtmlDialog::OnDocWindowActivate(BOOL)
{
    return E_NOTIMPL;
}

HRESULT CDHtmlDialog::OnFrameWindowActivate(BOOL)
{
    return E_NOTIMPL;
}

HRESULT CDHtmlDialog::ResizeBorder(LPCRECT, IOleInPlaceUIWindow *, BOOL)
{
    return E_NOTIMPL;
}

HRESULT CDHtmlDialog::TranslateAccelerator(LPMSG, const GUID *, DWORD)
{
    return S_FALSE;
}

HRESULT CDHtmlDialog::GetOptionKeyPath(LPOLESTR *key, DWORD)
{
    if (key)
        *key = nullptr;
    return E_NOTIMPL;
}

HRESULT CDHtmlDialog::GetDropTarget(IDropTarget *, IDropTarget **out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

HRESULT CDHtmlDialog::GetExternal(IDispatch **out)
{
    if (!out)
        return E_POINTER;
    *out = m_spExternalDisp;
    if (!*out)
        return E_NOTIMPL;
    (*out)->AddRef();
    return S_OK;
}

HRESULT CDHtmlDialog::TranslateUrl(DWORD, LPWSTR, LPWSTR *out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return S_FALSE;
}

HRESULT CDHtmlDialog::FilterDataObject(IDataObject *, IDataObject **out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return S_FALSE;
}

IMPLEMENT_NO_TYPE_INFO(CDHtmlDialog, EventSink)

namespace {
VARIANT *deref(VARIANT &v)
{
    return (v.vt & VT_BYREF) && (v.vt & VT_TYPEMASK) == VT_VARIANT ? v.pvarVal : &v;
}
} // namespace

HRESULT CDHtmlDialog::XEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params,
                                         VARIANT *result, EXCEPINFO *, UINT *)
{
    METHOD_PROLOGUE(CDHtmlDialog, EventSink)
    if (!params)
        return E_INVALIDARG;
    VARIANT *a = params->rgvarg;
    if (id == DISPID_DOCUMENTCOMPLETE && params->cArgs == 2) {
        const VARIANT *url = deref(a[0]);
        const std::string narrow = url->vt == VT_BSTR
                                       ? platform::fromUtf16(platform::bstrText(url->bstrVal))
                                       : std::string();
        pThis->OnDocumentComplete(a[1].pdispVal, narrow.c_str());
        return S_OK;
    }
    if (id == DISPID_NAVIGATEERROR && params->cArgs == 5) {
        const BOOL r = pThis->OnNavigateError(a[4].pdispVal, deref(a[3]), deref(a[2]), deref(a[1]),
                                              a[0].pboolVal);
        if (result) {
            VariantClear(result);
            result->vt = VT_BOOL;
            result->boolVal = r ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
}
