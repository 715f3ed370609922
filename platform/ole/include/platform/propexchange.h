// SPDX-License-Identifier: MIT
// Property exchange: one routine of a control saves, loads or resets its state, depending on
// the exchange it is given.
#pragma once

#include "platform/oleidl.h"

#include <string>

class PLATFORM_AFX_EXPORT CPropExchange
{
public:
    virtual ~CPropExchange() = default;
    BOOL IsLoading() const { return m_bLoading; }
    DWORD GetVersion() const { return m_dwVersion; }
    // The stamp written with the state, read back (or the default when absent) on loading.
    virtual BOOL ExchangeVersion(DWORD &dwVersionLoaded, DWORD dwVersionDefault, BOOL bConvert);
    // One property: pv holds a value of type vt (VT_I4, VT_BOOL, VT_BSTR as std::string).
    virtual BOOL ExchangeProp(LPCSTR name, VARTYPE vt, void *pv, const void *pvDefault) = 0;

protected:
    BOOL m_bLoading = FALSE;
    DWORD m_dwVersion = 0;
};

// Through a host's property bag (loading or saving), and the defaults only (resetting).
class PLATFORM_AFX_EXPORT CPropBagExchange : public CPropExchange
{
public:
    CPropBagExchange(IPropertyBag *bag, BOOL loading);
    BOOL ExchangeProp(LPCSTR name, VARTYPE vt, void *pv, const void *pvDefault) override;

private:
    IPropertyBag *m_bag;
};

class PLATFORM_AFX_EXPORT CResetPropExchange : public CPropExchange
{
public:
    CResetPropExchange() { m_bLoading = TRUE; }
    BOOL ExchangeProp(LPCSTR name, VARTYPE vt, void *pv, const void *pvDefault) override;
};

PLATFORM_AFX_EXPORT BOOL PX_Long(CPropExchange *pPX, LPCSTR name, LONG &value, LONG def);
PLATFORM_AFX_EXPORT BOOL PX_Bool(CPropExchange *pPX, LPCSTR name, BOOL &value, BOOL def);
PLATFORM_AFX_EXPORT BOOL PX_String(CPropExchange *pPX, LPCSTR name, std::string &value,
                                   const std::string &def);
