// SPDX-License-Identifier: MIT
#include "platform/wnd.h"

#include "platform/olesite.h"

#include <algorithm>
#include <map>
#include <unordered_map>

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)
IMPLEMENT_DYNAMIC(CDialog, CWnd)

namespace platform {

LPUNKNOWN findInterface(const InterfaceTable &table, CCmdTarget *self, REFIID iid)
{
    for (const InterfaceEntry &e : table.entries)
        if (IsEqualIID(*e.iid, iid))
            return reinterpret_cast<LPUNKNOWN>(reinterpret_cast<char *>(self) + e.offset);
    return table.base(self, iid);
}

namespace {
std::vector<ModuleState *> &modules()
{
    static std::vector<ModuleState *> m;
    return m;
}
} // namespace

void rememberModule(ModuleState *module)
{
    if (module && std::find(modules().begin(), modules().end(), module) == modules().end())
        modules().push_back(module);
}

const std::vector<ModuleState *> &rememberedModules()
{
    return modules();
}

namespace {
template <class F>
bool inModules(HINSTANCE module, F tryOne)
{
    if (module)
        return tryOne(module);
    for (ModuleState *m : modules())
        if (m->instance && tryOne(m->instance))
            return true;
    return false;
}
} // namespace

std::string moduleResource(HINSTANCE module, LPCSTR type, UINT id)
{
    std::string data;
    inModules(module, [&](HINSTANCE h) {
        const HRSRC r = FindResourceA(h, MAKEINTRESOURCE(id), type);
        const HGLOBAL g = r ? LoadResource(h, r) : nullptr;
        const void *p = g ? LockResource(g) : nullptr;
        if (!p)
            return false;
        data.assign(static_cast<const char *>(p), SizeofResource(h, r));
        return true;
    });
    return data;
}

std::vector<std::uint8_t> moduleDialog(HINSTANCE module, UINT id)
{
    DialogTemplate t;
    if (!inModules(module, [&](HINSTANCE h) { return loadDialog(h, id, &t); }))
        return {};
    return buildDialogTemplate(t);
}

} // namespace platform

CBrush::CBrush(COLORREF colour)
    : m_hBrush(CreateSolidBrush(colour))
{}

CBrush::~CBrush()
{
    DeleteObject(m_hBrush);
}

// ---- Window objects and their handles

namespace {

std::unordered_map<HWND, CWnd *> &permanent()
{
    static std::unordered_map<HWND, CWnd *> m;
    return m;
}

// The object whose window is being made: its first messages come before CreateWindowEx returns.
CWnd *g_creating = nullptr;

const char kWndClass[] = "PlatformAfxWnd";

} // namespace

struct WndRouting
{
    static LRESULT route(CWnd *wnd, UINT msg, WPARAM wp, LPARAM lp)
    {
        CWnd::Current current{msg, wp, lp, false};
        CWnd::Current *outer = wnd->m_current;
        wnd->m_current = &current;
        const HWND hwnd = wnd->m_hWnd;
        // The object may go during WM_NCDESTROY (PostNcDestroy); nothing of it is used after.
        const LRESULT r = wnd->WindowProc(msg, wp, lp);
        if (msg == WM_NCDESTROY)
            return r;
        if (CWnd::FromHandlePermanent(hwnd) == wnd)
            wnd->m_current = outer;
        return r;
    }
};

LRESULT STDMETHODCALLTYPE wndProcOf(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    CWnd *wnd = CWnd::FromHandlePermanent(hwnd);
    if (!wnd && g_creating) {
        wnd = std::exchange(g_creating, nullptr);
        wnd->attach(hwnd);
    }
    if (!wnd)
        return DefWindowProcA(hwnd, msg, wp, lp);
    return WndRouting::route(wnd, msg, wp, lp);
}

CWnd::CWnd() = default;

CWnd::~CWnd()
{
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
    detach();
    if (m_pCtrlCont) {
        m_pCtrlCont->DestroyAll();
        m_pCtrlCont->ExternalRelease();
        m_pCtrlCont = nullptr;
    }
}

CWnd *CWnd::FromHandlePermanent(HWND hwnd)
{
    auto it = permanent().find(hwnd);
    return it == permanent().end() ? nullptr : it->second;
}

void CWnd::attach(HWND hwnd)
{
    m_hWnd = hwnd;
    permanent()[hwnd] = this;
}

void CWnd::detach()
{
    if (m_hWnd) {
        auto it = permanent().find(m_hWnd);
        if (it != permanent().end() && it->second == this)
            permanent().erase(it);
    }
    m_hWnd = nullptr;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                    const RECT &rect, CWnd *parent, UINT id, LPVOID param)
{
    return CreateEx(exStyle, className, windowName, style, rect, parent ? parent->m_hWnd : nullptr,
                    id, param);
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                    const RECT &rect, HWND parent, UINT id, LPVOID param)
{
    static bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = wndProcOf;
        wc.lpszClassName = kWndClass;
        return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
    g_creating = this;
    const HWND h
        = CreateWindowExA(exStyle, className ? className : kWndClass, windowName, style, rect.left,
                          rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                          reinterpret_cast<HMENU>(std::uintptr_t(id)), nullptr, param);
    g_creating = nullptr;
    if (!h) {
        detach();
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_CREATE:
        return OnCreate(reinterpret_cast<CREATESTRUCTA *>(lp));
    case WM_SIZE:
        OnSize(UINT(wp), LOWORD(lp), HIWORD(lp));
        return 0;
    case WM_TIMER:
        OnTimer(wp);
        return 0;
    case WM_ERASEBKGND: {
        CDC dc(reinterpret_cast<HDC>(wp));
        return OnEraseBkgnd(&dc);
    }
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_SHOWWINDOW:
        OnShowWindow(BOOL(wp), UINT(lp));
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_NCDESTROY:
        OnNcDestroy();
        return 0;
    default:
        return DefWindowProc(msg, wp, lp);
    }
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    return ::DefWindowProcA(m_hWnd, msg, wp, lp);
}

LRESULT CWnd::Default()
{
    if (!m_current)
        return 0;
    m_current->defaultAsked = true;
    return DefWindowProc(m_current->msg, m_current->wp, m_current->lp);
}

int CWnd::OnCreate(CREATESTRUCTA *)
{
    return int(Default());
}

void CWnd::OnSize(UINT, int, int)
{
    Default();
}

void CWnd::OnTimer(UINT_PTR)
{
    Default();
}

BOOL CWnd::OnEraseBkgnd(CDC *)
{
    return BOOL(Default());
}

void CWnd::OnPaint()
{
    Default();
}

void CWnd::OnShowWindow(BOOL, UINT)
{
    Default();
}

void CWnd::OnClose()
{
    Default();
}

void CWnd::OnDestroy()
{
    // Controls go with the window that holds them.
    if (m_pCtrlCont)
        m_pCtrlCont->DestroyAll();
    Default();
}

void CWnd::OnNcDestroy()
{
    Default();
    detach();
    PostNcDestroy();
}

void CWnd::PostNcDestroy() {}

BOOL CWnd::CreateControlSite(COleControlContainer *, COleControlSite **, UINT, REFCLSID)
{
    return FALSE;
}

BOOL CWnd::OnAmbientProperty(COleControlSite *, DISPID dispid, VARIANT *var)
{
    // A host's controls run in user mode; other ambients are not known here.
    if (dispid == DISPID_AMBIENT_USERMODE && var) {
        var->vt = VT_BOOL;
        var->boolVal = VARIANT_TRUE;
        return TRUE;
    }
    return FALSE;
}

void CWnd::EnableControlContainer()
{
    if (!m_pCtrlCont)
        m_pCtrlCont = new COleControlContainer(this);
}

// ---- Dialogs

INT_PTR STDMETHODCALLTYPE dlgProcOf(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    CWnd *wnd = CWnd::FromHandlePermanent(hwnd);
    if (!wnd && msg == WM_INITDIALOG && g_creating) {
        wnd = std::exchange(g_creating, nullptr);
        static_cast<CDialog *>(wnd)->attach(hwnd);
    }
    if (!wnd)
        return FALSE;
    if (msg == WM_INITDIALOG)
        return static_cast<CDialog *>(wnd)->OnInitDialog();
    CWnd::Current current{msg, wp, lp, false};
    CWnd::Current *outer = static_cast<CDialog *>(wnd)->m_current;
    static_cast<CDialog *>(wnd)->m_current = &current;
    const LRESULT r = wnd->WindowProc(msg, wp, lp);
    if (msg == WM_NCDESTROY || CWnd::FromHandlePermanent(hwnd) != wnd)
        return TRUE;
    static_cast<CDialog *>(wnd)->m_current = outer;
    // Messages the object left to the default go on to the dialog manager's handling.
    if (current.defaultAsked)
        return FALSE;
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, r);
    return TRUE;
}

CDialog::CDialog(UINT idTemplate, CWnd *parent, platform::ModuleState *module)
    : m_nIDTemplate(idTemplate)
    , m_pParentWnd(parent)
    , m_pModule(module)
{
    m_isDialog = true;
    platform::rememberModule(module);
}

CDialog::~CDialog()
{
    // The window goes while the object is still a dialog, so its last messages find one.
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
}

const void *CDialog::templateBytes(UINT id)
{
    m_template = platform::moduleDialog(m_pModule ? m_pModule->instance : nullptr, id);
    return m_template.empty() ? nullptr : m_template.data();
}

BOOL CDialog::Create(UINT idTemplate, CWnd *parent)
{
    m_nIDTemplate = idTemplate;
    const void *t = templateBytes(idTemplate);
    return t ? CreateIndirect(t, parent) : FALSE;
}

BOOL CDialog::CreateIndirect(const void *dialogTemplate, CWnd *parent)
{
    if (parent)
        m_pParentWnd = parent;
    g_creating = this;
    const HWND h = CreateDialogIndirectParamA(
        m_pModule ? m_pModule->instance : nullptr, static_cast<LPCDLGTEMPLATEA>(dialogTemplate),
        m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr, dlgProcOf, 0);
    g_creating = nullptr;
    if (!h) {
        detach();
        return FALSE;
    }
    return TRUE;
}

INT_PTR CDialog::DoModal()
{
    const void *t = templateBytes(m_nIDTemplate);
    if (!t)
        return -1;
    g_creating = this;
    const INT_PTR r = DialogBoxIndirectParamA(
        m_pModule ? m_pModule->instance : nullptr, static_cast<LPCDLGTEMPLATEA>(t),
        m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr, dlgProcOf, 0);
    g_creating = nullptr;
    return r;
}

void CDialog::EndDialog(int result)
{
    ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog()
{
    return TRUE;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

LRESULT CDialog::DefWindowProc(UINT, WPARAM, LPARAM)
{
    // The dialog manager's own handling follows once the object's procedure returns.
    return 0;
}

LRESULT CDialog::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_COMMAND && LOWORD(wp) == IDOK) {
        OnOK();
        return 0;
    }
    if (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL) {
        OnCancel();
        return 0;
    }
    return CWnd::WindowProc(msg, wp, lp);
}
