// SPDX-License-Identifier: MIT
// Controls and property pages as the class factory creates them. Only the object side lives here;
// the window side, drawing and activation build on these classes.
#pragma once

#include "objectfactory.h"

class PLATFORM_AFX_EXPORT COleControl : public CCmdTarget
{
    DECLARE_DYNAMIC(COleControl)
public:
    COleControl();
    ~COleControl() override;

    // What the framework asks the control about itself; each control class answers for itself.
    virtual HRESULT GetClassID(LPCLSID pclsid); // E_NOTIMPL
    virtual DWORD GetMiscStatus();              // 0
    // The CLSIDs of the control's property pages; count set to their number (none here).
    virtual const CLSID *GetPropPageIDs(ULONG &cPropPages);
    // The control's type library in the given locale, with a reference for the caller.
    virtual HRESULT GetTypeLib(LCID lcid, LPTYPELIB *ppTypeLib); // TYPE_E_LIBNOTREGISTERED
    // The dispatch interface the control's table implements (for GetTypeInfo); IID_NULL here.
    virtual void GetDispatchIID(IID *pIID);

    HRESULT GetDispatchTypeInfo(LCID lcid, ITypeInfo **ppTInfo) override;
};

class PLATFORM_AFX_EXPORT COlePropertyPage : public CCmdTarget
{
    DECLARE_DYNAMIC(COlePropertyPage)
public:
    COlePropertyPage(UINT idDlg, UINT idCaption);
    ~COlePropertyPage() override;

    UINT GetDialogId() const { return m_idDlg; }
    UINT GetCaptionId() const { return m_idCaption; }

protected:
    UINT m_idDlg;
    UINT m_idCaption;
};
