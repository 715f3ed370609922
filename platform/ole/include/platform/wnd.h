// SPDX-License-Identifier: MIT
// The framework's window side: window objects over window handles with overridable message
// handlers, dialogs, geometry and drawing helpers, and interface tables that let a class (and
// the classes derived from it) answer interfaces through nested implementations.
#pragma once

#include "platform/cmdtarget.h"
#include "platform/objectfactory.h"
#include "platform/resources.h"
#include "platform/windows.h"

#include <cstddef>
#include <vector>

class COleControlContainer;
class COleControlSite;

// ---- Interface tables: a class lists the nested implementations it answers; a derived class
// extends its base's table; lookups fall back to the base class's own GetInterface.
namespace platform {

struct InterfaceEntry
{
    const IID *iid;
    std::ptrdiff_t offset; // of the nested implementation within the object
};

struct InterfaceTable
{
    LPUNKNOWN (*base)(CCmdTarget *self, REFIID iid);
    std::vector<InterfaceEntry> entries;
};

PLATFORM_AFX_EXPORT LPUNKNOWN findInterface(const InterfaceTable &table, CCmdTarget *self,
                                            REFIID iid);

} // namespace platform

#define DECLARE_INTERFACE_MAP()                                                                    \
public:                                                                                            \
    LPUNKNOWN GetInterface(REFIID iid) override;                                                   \
    static const platform::InterfaceTable &GetThisInterfaceTable();

#define BEGIN_INTERFACE_MAP(theClass, theBase)                                                     \
    LPUNKNOWN theClass::GetInterface(REFIID iid)                                                   \
    {                                                                                              \
        return platform::findInterface(GetThisInterfaceTable(), this, iid);                        \
    }                                                                                              \
    const platform::InterfaceTable &theClass::GetThisInterfaceTable()                              \
    {                                                                                              \
        using ThisClass = theClass;                                                                \
        static const platform::InterfaceTable table                                                \
        {                                                                                          \
            [](CCmdTarget *self, REFIID iid) {                                                     \
                return static_cast<ThisClass *>(self)->theBase::GetInterface(iid);                 \
            },                                                                                     \
            {

#define INTERFACE_PART(theClass, iid, localClass)                                                  \
    platform::InterfaceEntry{&iid,                                                                 \
                             static_cast<std::ptrdiff_t>(offsetof(theClass, m_x##localClass))},

#define END_INTERFACE_MAP()                                                                        \
    }                                                                                              \
    }                                                                                              \
    ;                                                                                              \
    return table;                                                                                  \
    }

// A nested implementation: its QueryInterface, AddRef and Release are the object's.
#define BEGIN_INTERFACE_PART(localClass, baseInterface)                                            \
    struct X##localClass : public baseInterface                                                    \
    {                                                                                              \
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **ppv) override;                 \
        ULONG STDMETHODCALLTYPE AddRef() override;                                                 \
        ULONG STDMETHODCALLTYPE Release() override;

#define END_INTERFACE_PART(localClass)                                                             \
    }                                                                                              \
    m_x##localClass;                                                                               \
    friend struct X##localClass;

// Inside a nested implementation's method: pThis is the object that holds it.
#define METHOD_PROLOGUE(theClass, localClass)                                                      \
    theClass *pThis = reinterpret_cast<theClass *>(reinterpret_cast<char *>(this)                  \
                                                   - offsetof(theClass, m_x##localClass));         \
    (void)pThis;

// The three IUnknown methods of a nested implementation, passed to the object.
#define IMPLEMENT_NESTED_IUNKNOWN(theClass, localClass)                                            \
    HRESULT theClass::X##localClass::QueryInterface(REFIID iid, void **ppv)                        \
    {                                                                                              \
        METHOD_PROLOGUE(theClass, localClass)                                                      \
        return pThis->ExternalQueryInterface(iid, ppv);                                            \
    }                                                                                              \
    ULONG theClass::X##localClass::AddRef()                                                        \
    {                                                                                              \
        METHOD_PROLOGUE(theClass, localClass)                                                      \
        return pThis->ExternalAddRef();                                                            \
    }                                                                                              \
    ULONG theClass::X##localClass::Release()                                                       \
    {                                                                                              \
        METHOD_PROLOGUE(theClass, localClass)                                                      \
        return pThis->ExternalRelease();                                                           \
    }

// The four IDispatch methods inside a nested implementation, and their bodies for objects that
// offer no late binding of their own (callers use the interface's methods directly).
#define DECLARE_IDISPATCH_METHODS()                                                                \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override;                                   \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override;                      \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override;    \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *,          \
                                     EXCEPINFO *, UINT *) override;

#define IMPLEMENT_NO_TYPE_INFO(theClass, localClass)                                               \
    HRESULT theClass::X##localClass::GetTypeInfoCount(UINT *n)                                     \
    {                                                                                              \
        if (!n)                                                                                    \
            return E_POINTER;                                                                      \
        *n = 0;                                                                                    \
        return S_OK;                                                                               \
    }                                                                                              \
    HRESULT theClass::X##localClass::GetTypeInfo(UINT, LCID, ITypeInfo **pp)                       \
    {                                                                                              \
        if (pp)                                                                                    \
            *pp = nullptr;                                                                         \
        return DISP_E_BADINDEX;                                                                    \
    }                                                                                              \
    HRESULT theClass::X##localClass::GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *)       \
    {                                                                                              \
        return DISP_E_UNKNOWNNAME;                                                                 \
    }

#define IMPLEMENT_NO_LATE_BINDING(theClass, localClass)                                            \
    IMPLEMENT_NO_TYPE_INFO(theClass, localClass)                                                   \
    HRESULT theClass::X##localClass::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *,   \
                                            EXCEPINFO *, UINT *)                                   \
    {                                                                                              \
        return DISP_E_MEMBERNOTFOUND;                                                              \
    }

// ---- Geometry and drawing
class CRect : public RECT
{
public:
    CRect()
        : RECT{0, 0, 0, 0}
    {}
    CRect(LONG l, LONG t, LONG r, LONG b)
        : RECT{l, t, r, b}
    {}
    CRect(const RECT &r)
        : RECT(r)
    {}
    LONG Width() const { return right - left; }
    LONG Height() const { return bottom - top; }
    bool IsRectEmpty() const { return Width() <= 0 || Height() <= 0; }
    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
};

class PLATFORM_AFX_EXPORT CBrush
{
public:
    explicit CBrush(COLORREF colour);
    ~CBrush();
    CBrush(const CBrush &) = delete;
    CBrush &operator=(const CBrush &) = delete;
    HBRUSH m_hBrush;
};

class PLATFORM_AFX_EXPORT CDC
{
public:
    explicit CDC(HDC dc = nullptr)
        : m_hDC(dc)
    {}
    HDC GetSafeHdc() const { return m_hDC; }
    void FillRect(LPCRECT rect, CBrush *brush) { ::FillRect(m_hDC, rect, brush->m_hBrush); }
    COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    HDC m_hDC;
};

// ---- Windows
class PLATFORM_AFX_EXPORT CWnd : public CCmdTarget
{
    DECLARE_DYNAMIC(CWnd)
public:
    CWnd();
    ~CWnd() override;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }
    // The window object that owns hwnd, if a framework object does.
    static CWnd *FromHandlePermanent(HWND hwnd);

    // Creates the window with the framework's own window class (className null) or another.
    BOOL CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, const RECT &rect,
                  CWnd *parent, UINT id, LPVOID param = nullptr);
    BOOL CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, const RECT &rect,
                  HWND parent, UINT id, LPVOID param = nullptr);
    virtual BOOL DestroyWindow();

    BOOL ShowWindow(int cmdShow) { return ::ShowWindow(m_hWnd, cmdShow); }
    void MoveWindow(int x, int y, int w, int h, BOOL repaint = TRUE)
    {
        ::MoveWindow(m_hWnd, x, y, w, h, repaint);
    }
    void MoveWindow(LPCRECT r, BOOL repaint = TRUE)
    {
        ::MoveWindow(m_hWnd, r->left, r->top, r->right - r->left, r->bottom - r->top, repaint);
    }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    void GetClientRect(LPRECT r) const { ::GetClientRect(m_hWnd, r); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc)
    {
        return ::SetTimer(m_hWnd, id, elapse, proc);
    }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    CWnd *GetParent() const { return FromHandlePermanent(::GetParent(m_hWnd)); }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0)
    {
        return ::SendMessageA(m_hWnd, msg, wp, lp);
    }

    // Every message of the window comes here first; the handlers below are called from it.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // The default handling of the message being handled.
    LRESULT Default();

    virtual int OnCreate(CREATESTRUCTA *cs);
    virtual void OnSize(UINT type, int cx, int cy);
    virtual void OnTimer(UINT_PTR id);
    virtual BOOL OnEraseBkgnd(CDC *dc);
    virtual void OnPaint();
    virtual void OnShowWindow(BOOL show, UINT status);
    virtual void OnClose();
    virtual void OnDestroy();
    virtual void OnNcDestroy();
    // After the window is gone; the object stays unless a class says otherwise.
    virtual void PostNcDestroy();

    // Control containment: the site for a control this window creates (the framework's own
    // site when this returns FALSE with no site), and the window's answers to ambient questions.
    virtual BOOL CreateControlSite(COleControlContainer *container, COleControlSite **site, UINT id,
                                   REFCLSID clsid);
    virtual BOOL OnAmbientProperty(COleControlSite *site, DISPID dispid, VARIANT *var);
    // Makes this window able to hold controls.
    void EnableControlContainer();
    COleControlContainer *m_pCtrlCont = nullptr;

protected:
    friend LRESULT STDMETHODCALLTYPE wndProcOf(HWND, UINT, WPARAM, LPARAM);
    friend struct WndRouting;
    struct Current
    {
        UINT msg;
        WPARAM wp;
        LPARAM lp;
        bool defaultAsked;
    };
    Current *m_current = nullptr;
    bool m_isDialog = false;
    void attach(HWND hwnd);
    void detach();
};

// Dialogs from the module's templates, modeless (Create) or modal (DoModal).
class PLATFORM_AFX_EXPORT CDialog : public CWnd
{
    DECLARE_DYNAMIC(CDialog)
public:
    // The module's templates are looked up in module (any module's when null).
    explicit CDialog(UINT idTemplate = 0, CWnd *parent = nullptr,
                     platform::ModuleState *module = AfxGetModuleState());
    ~CDialog() override;

    BOOL Create(UINT idTemplate, CWnd *parent = nullptr);
    BOOL CreateIndirect(const void *dialogTemplate, CWnd *parent = nullptr);
    virtual INT_PTR DoModal();
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    LRESULT DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    UINT m_nIDTemplate;
    CWnd *m_pParentWnd;
    platform::ModuleState *m_pModule;

protected:
    friend INT_PTR STDMETHODCALLTYPE dlgProcOf(HWND, UINT, WPARAM, LPARAM);
    const void *templateBytes(UINT id);
    std::vector<std::uint8_t> m_template;
};

namespace platform {

// Modules whose classes controls and pages may be made of (their factories are asked in turn).
PLATFORM_AFX_EXPORT void rememberModule(ModuleState *module);
PLATFORM_AFX_EXPORT const std::vector<ModuleState *> &rememberedModules();

// A resource of type type and id from module, or from the first module seen that has it when
// module is null; empty when none has it.
PLATFORM_AFX_EXPORT std::string moduleResource(HINSTANCE module, LPCSTR type, UINT id);
// A dialog template of a module (as above), in the binary form dialogs are made from.
PLATFORM_AFX_EXPORT std::vector<std::uint8_t> moduleDialog(HINSTANCE module, UINT id);

} // namespace platform
