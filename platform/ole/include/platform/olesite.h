// SPDX-License-Identifier: MIT
// Control containment on the host side: a container per window that holds controls, and one
// site per control. The site is the control's client site and in-place site and answers its
// ambient questions through the window; a derived site adds interfaces to the site's table.
#pragma once

#include "platform/oleidl.h"
#include "platform/wnd.h"

#include <vector>

class PLATFORM_AFX_EXPORT COleControlContainer : public CCmdTarget
{
    DECLARE_DYNAMIC(COleControlContainer)
public:
    explicit COleControlContainer(CWnd *wnd);
    ~COleControlContainer() override;

    // Creates a control of class clsid as a child of the container's window, in place active,
    // at rect, with the given id; asks the window for the site first. nullptr on failure.
    COleControlSite *CreateControl(REFCLSID clsid, DWORD style, const RECT &rect, UINT id);
    COleControlSite *FindItem(UINT id) const;
    // Ends one control (deactivates, closes and releases it) or all of them.
    void DestroyControl(COleControlSite *site);
    void DestroyAll();

    CWnd *m_pWnd;
    std::vector<COleControlSite *> m_sites;
};

class PLATFORM_AFX_EXPORT COleControlSite : public CCmdTarget
{
    DECLARE_DYNAMIC(COleControlSite)
public:
    explicit COleControlSite(COleControlContainer *container);
    ~COleControlSite() override;

    // Makes the object, hands it this site and activates it in place.
    HRESULT CreateControl(REFCLSID clsid, DWORD style, const RECT &rect, UINT id);
    // Moves the control within the container's window.
    void MoveWindow(const RECT &rect);
    void ShowWindow(int cmdShow);
    // Deactivates and closes the control and lets it go.
    void DestroyControl();

    COleControlContainer *m_pCtrlCont;
    UINT m_nID = 0;
    HWND m_hWnd = nullptr; // the control's own window, once in place active
    CRect m_rect;
    IOleObject *m_pObject = nullptr;
    IOleInPlaceObject *m_pInPlaceObject = nullptr;
    bool m_inPlaceActive = false;
    bool m_uiActive = false;

    BEGIN_INTERFACE_PART(OleClientSite, IOleClientSite)
    HRESULT STDMETHODCALLTYPE SaveObject() override;
    HRESULT STDMETHODCALLTYPE ShowObject() override;
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL fShow) override;
    END_INTERFACE_PART(OleClientSite)

    BEGIN_INTERFACE_PART(OleInPlaceSite, IOleInPlaceSite)
    HRESULT STDMETHODCALLTYPE GetWindow(HWND *phwnd) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override;
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override;
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override;
    HRESULT STDMETHODCALLTYPE OnUIActivate() override;
    HRESULT STDMETHODCALLTYPE GetWindowContext(LPRECT pos, LPRECT clip) override;
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override;
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT pos) override;
    END_INTERFACE_PART(OleInPlaceSite)

    // Ambient properties: the control asks with a property get on the site's IDispatch.
    BEGIN_INTERFACE_PART(AmbientProps, IDispatch)
    DECLARE_IDISPATCH_METHODS()
    END_INTERFACE_PART(AmbientProps)

    DECLARE_INTERFACE_MAP()

private:
    void releaseControl();
};

namespace platform {

// How controls are made from a class id: the class factories of the modules seen so far (a
// program's own classes need no registration), then the class registry (CoCreateInstance), which
// also knows the platform's own browser control.
PLATFORM_AFX_EXPORT HRESULT createObject(REFCLSID clsid, REFIID iid, void **ppv);
// A ProgID of a class of the modules seen so far, of the platform ("Shell.Explorer.2"), or of
// the class registry; or a CLSID in braces.
PLATFORM_AFX_EXPORT bool clsidFromProgId(const char *progId, CLSID *clsid);

// The container helper: puts a control into a window of the host's, as the platform's own
// helpers do: creation by ProgID or CLSID text, the embedding handshake, resizing, the end.
class PLATFORM_AFX_EXPORT AxHost
{
public:
    AxHost();
    ~AxHost();
    AxHost(const AxHost &) = delete;
    AxHost &operator=(const AxHost &) = delete;

    HRESULT Create(const char *progIdOrClsid, HWND parent, const RECT &rect,
                   platform::ModuleState *module = AfxGetModuleState());
    // The control, with a reference added, as interface iid.
    HRESULT QueryControl(REFIID iid, void **ppv) const;
    void Resize(const RECT &rect);
    void Destroy();
    HWND ControlWindow() const;
    COleControlSite *Site() const;

private:
    struct Holder;
    Holder *d;
};

} // namespace platform
