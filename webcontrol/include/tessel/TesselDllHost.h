// SPDX-License-Identifier: MIT
// For hosts of the web map control: its ProgID and its four methods, called through the
// control's IDispatch by their DISPIDs as a host's wrapper class does. The dispatch stays the
// host's; the wrapper holds a reference while it has it.
#pragma once

#include "platform/automation.h"
#include "tessel/PageListener.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessel {

inline constexpr char kProgId[] = "TESSELDLL.TesselDllCtrl.1";

class CTesselDllHost
{
public:
    enum : DISPID { kAboutBox = -552, kCallJavaScritp = 1, kInit = 2, kAddLinster = 3 };

    explicit CTesselDllHost(IDispatch *control = nullptr) { attach(control); }
    ~CTesselDllHost() { attach(nullptr); }
    CTesselDllHost(const CTesselDllHost &) = delete;
    CTesselDllHost &operator=(const CTesselDllHost &) = delete;

    void attach(IDispatch *control)
    {
        if (control)
            control->AddRef();
        if (m_control)
            m_control->Release();
        m_control = control;
    }
    IDispatch *control() const { return m_control; }
    // The HRESULT of the last call.
    HRESULT lastResult() const { return m_hr; }

    // Text goes as UTF-8 here; the control receives it in its process's code page.
    std::int32_t CallJavaScritp(const std::string &script)
    {
        return call(kCallJavaScritp, {text(script)});
    }
    std::int32_t init(const std::string &url, std::int32_t type = 0,
                      const std::string &postData = {}, const std::string &header = {})
    {
        return call(kInit, {text(url), i4(type), text(postData), text(header)});
    }
    std::int32_t AddLinster(std::uint64_t address) { return call(kAddLinster, {ui8(address)}); }
    std::int32_t AddLinster(CPageListener *listener)
    {
        return AddLinster(listenerAddress(listener));
    }
    void AboutBox() { call(kAboutBox, {}); }

private:
    static VARIANT text(const std::string &s)
    {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = platform::allocBstr(s, CP_UTF8);
        return v;
    }
    static VARIANT i4(std::int32_t n)
    {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = n;
        return v;
    }
    static VARIANT ui8(std::uint64_t n)
    {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_UI8;
        v.ullVal = n;
        return v;
    }
    // Arguments go last to first; the result is the method's VT_I4, or 0.
    std::int32_t call(DISPID id, std::vector<VARIANT> args)
    {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        VARIANT result;
        VariantInit(&result);
        m_hr = E_POINTER;
        if (m_control) {
            DISPPARAMS dp{reversed.data(), nullptr, UINT(reversed.size()), 0};
            m_hr = m_control->Invoke(id, IID_NULL, 0x0409, DISPATCH_METHOD, &dp, &result, nullptr,
                                     nullptr);
        }
        for (VARIANT &v : reversed)
            VariantClear(&v);
        const std::int32_t value = result.vt == VT_I4 ? result.lVal : 0;
        VariantClear(&result);
        return value;
    }

    IDispatch *m_control = nullptr;
    HRESULT m_hr = S_OK;
};

} // namespace tessel
