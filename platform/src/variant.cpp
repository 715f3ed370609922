// SPDX-License-Identifier: MIT
#include "platform/automation.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool knownType(VARTYPE vt)
{
    switch (vt & VT_TYPEMASK) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_UNKNOWN:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return (vt & ~(VT_TYPEMASK | VT_BYREF)) == 0
               && ((vt & VT_TYPEMASK) != VT_VARIANT || (vt & VT_BYREF));
    default:
        return false;
    }
}

bool isInteger(VARTYPE vt)
{
    switch (vt) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_UINT:
    case VT_ERROR:
        return true;
    default:
        return false;
    }
}

// One level of VT_BYREF followed into a plain value, without taking ownership.
bool dereference(const VARIANT *src, VARIANT *plain)
{
    *plain = *src;
    if (!(src->vt & VT_BYREF))
        return true;
    if (!src->byref)
        return false;
    const VARTYPE vt = src->vt & VT_TYPEMASK;
    if (vt == VT_VARIANT)
        return dereference(src->pvarVal, plain) && !(src->pvarVal->vt & VT_BYREF);
    plain->vt = vt;
    plain->ullVal = 0;
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        std::memcpy(&plain->bVal, src->byref, 1);
        break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        std::memcpy(&plain->iVal, src->byref, 2);
        break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
        std::memcpy(&plain->lVal, src->byref, 4);
        break;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
        std::memcpy(&plain->llVal, src->byref, 8);
        break;
    case VT_BSTR:
        plain->bstrVal = *src->pbstrVal;
        break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        plain->punkVal = *src->ppunkVal;
        break;
    default:
        return false;
    }
    return true;
}

__int128 integerOf(const VARIANT &v)
{
    switch (v.vt) {
    case VT_I1:
        return v.cVal;
    case VT_UI1:
        return v.bVal;
    case VT_I2:
        return v.iVal;
    case VT_UI2:
        return v.uiVal;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
        return v.lVal;
    case VT_UI4:
    case VT_UINT:
        return v.ulVal;
    case VT_I8:
        return v.llVal;
    case VT_UI8:
        return v.ullVal;
    default:
        return 0;
    }
}

bool storeInteger(__int128 x, VARTYPE vt, VARIANT *out)
{
    auto fits = [x](__int128 lo, __int128 hi) {
        return x >= lo && x <= hi;
    };
    out->ullVal = 0;
    switch (vt) {
    case VT_I1:
        out->cVal = static_cast<CHAR>(x);
        return fits(-128, 127);
    case VT_UI1:
        out->bVal = static_cast<BYTE>(x);
        return fits(0, 255);
    case VT_I2:
        out->iVal = static_cast<SHORT>(x);
        return fits(-32768, 32767);
    case VT_UI2:
        out->uiVal = static_cast<USHORT>(x);
        return fits(0, 65535);
    case VT_I4:
    case VT_INT:
        out->lVal = static_cast<LONG>(x);
        return fits(INT32_MIN, INT32_MAX);
    case VT_UI4:
    case VT_UINT:
        out->ulVal = static_cast<ULONG>(x);
        return fits(0, UINT32_MAX);
    case VT_I8:
        out->llVal = static_cast<LONGLONG>(x);
        return fits(INT64_MIN, INT64_MAX);
    case VT_UI8:
        out->ullVal = static_cast<ULONGLONG>(x);
        return fits(0, UINT64_MAX);
    default:
        return false;
    }
}

std::string narrow(BSTR b)
{
    return platform::fromUtf16(platform::bstrText(b), CP_UTF8);
}

// Decimal text, with optional blanks around it, a sign, a fraction and an exponent.
bool parseNumber(BSTR b, bool *isInt, __int128 *i, double *d)
{
    std::string s = narrow(b);
    const auto first = s.find_first_not_of(" \t");
    const auto last = s.find_last_not_of(" \t");
    if (first == std::string::npos)
        return false;
    s = s.substr(first, last - first + 1);
    char *end = nullptr;
    errno = 0;
    if (s.find_first_of(".eE") == std::string::npos) {
        const bool neg = s[0] == '-';
        const unsigned long long mag
            = std::strtoull(neg || s[0] == '+' ? s.c_str() + 1 : s.c_str(), &end, 10);
        if (*end || errno == ERANGE
            || !(s.size() > 1 || std::isdigit(static_cast<unsigned char>(s[0]))))
            return false;
        if (s.size() > 1
            && !std::isdigit(static_cast<unsigned char>(s[neg || s[0] == '+' ? 1 : 0])))
            return false;
        *isInt = true;
        *i = neg ? -static_cast<__int128>(mag) : static_cast<__int128>(mag);
        return true;
    }
    *d = std::strtod(s.c_str(), &end);
    if (*end || errno == ERANGE || std::isnan(*d))
        return false;
    *isInt = false;
    return true;
}

BSTR textOf(const std::string &s)
{
    return platform::allocBstr(s, CP_UTF8);
}

HRESULT convert(const VARIANT &src, VARIANT *out, USHORT flags, VARTYPE vt)
{
    VariantInit(out);
    if (src.vt == VT_NULL)
        return vt == VT_NULL ? (out->vt = VT_NULL, S_OK) : DISP_E_TYPEMISMATCH;
    if (vt == VT_NULL)
        return DISP_E_TYPEMISMATCH;

    if (src.vt == VT_DISPATCH || src.vt == VT_UNKNOWN) {
        if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
            if (!src.punkVal) {
                out->vt = vt;
                return S_OK;
            }
            void *p = nullptr;
            const HRESULT hr
                = src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p);
            if (FAILED(hr))
                return DISP_E_TYPEMISMATCH;
            out->vt = vt;
            out->punkVal = static_cast<IUnknown *>(p);
            return S_OK;
        }
        // Other types come from the object's value property, unless the caller forbids it.
        if (src.vt != VT_DISPATCH || !src.pdispVal || (flags & VARIANT_NOVALUEPROP))
            return DISP_E_TYPEMISMATCH;
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT value;
        VariantInit(&value);
        HRESULT hr = src.pdispVal->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                                          DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
        if (FAILED(hr))
            return hr;
        if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN)
            hr = DISP_E_TYPEMISMATCH;
        else
            hr = convert(value, out, flags, vt);
        VariantClear(&value);
        return hr;
    }
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN)
        return DISP_E_TYPEMISMATCH;

    // Reduce the source to an integer, a double, or (for text) either of them.
    bool isInt = true;
    __int128 i = 0;
    double d = 0;
    if (src.vt == VT_EMPTY) {
        if (vt == VT_BSTR) {
            out->vt = VT_BSTR;
            out->bstrVal = textOf("");
            return out->bstrVal ? S_OK : E_OUTOFMEMORY;
        }
    } else if (src.vt == VT_BOOL) {
        i = src.boolVal ? -1 : 0;
        if (vt == VT_BSTR) {
            out->vt = VT_BSTR;
            out->bstrVal
                = textOf((flags & VARIANT_ALPHABOOL) ? (i ? "True" : "False") : (i ? "-1" : "0"));
            return out->bstrVal ? S_OK : E_OUTOFMEMORY;
        }
    } else if (isInteger(src.vt)) {
        i = integerOf(src);
    } else if (src.vt == VT_R8 || src.vt == VT_R4) {
        isInt = false;
        d = src.vt == VT_R8 ? src.dblVal : src.fltVal;
    } else if (src.vt == VT_BSTR) {
        if (vt == VT_BOOL) {
            const std::string s = narrow(src.bstrVal);
            if (strcasecmp(s.c_str(), "true") == 0 || strcasecmp(s.c_str(), "false") == 0) {
                out->vt = VT_BOOL;
                out->boolVal = strcasecmp(s.c_str(), "true") == 0 ? VARIANT_TRUE : VARIANT_FALSE;
                return S_OK;
            }
        }
        if (!parseNumber(src.bstrVal, &isInt, &i, &d))
            return DISP_E_TYPEMISMATCH;
    } else {
        return DISP_E_BADVARTYPE;
    }

    if (vt == VT_EMPTY)
        return S_OK;
    if (vt == VT_BSTR) {
        char buf[64];
        if (isInt) {
            const bool neg = i < 0;
            unsigned __int128 mag = neg ? -static_cast<unsigned __int128>(i) : i;
            char *p = buf + sizeof buf;
            *--p = 0;
            do {
                *--p = static_cast<char>('0' + int(mag % 10));
                mag /= 10;
            } while (mag);
            if (neg)
                *--p = '-';
            out->bstrVal = textOf(p);
        } else {
            std::snprintf(buf, sizeof buf, "%.15g", d);
            out->bstrVal = textOf(buf);
        }
        out->vt = VT_BSTR;
        return out->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    if (vt == VT_BOOL) {
        out->vt = VT_BOOL;
        out->boolVal = (isInt ? i != 0 : d != 0) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    if (vt == VT_R8 || vt == VT_R4) {
        const double value = isInt ? static_cast<double>(i) : d;
        out->vt = vt;
        if (vt == VT_R8)
            out->dblVal = value;
        else
            out->fltVal = static_cast<FLOAT>(value);
        return S_OK;
    }
    if (!isInteger(vt) || vt == VT_ERROR)
        return DISP_E_BADVARTYPE;
    if (!isInt) {
        // Halves go to the even neighbour, as the default rounding mode does.
        const double r = std::nearbyint(d);
        if (!(r >= -1.8e19 && r <= 1.9e19))
            return DISP_E_OVERFLOW;
        i = static_cast<__int128>(r);
    }
    if (!storeInteger(i, vt, out)) {
        out->ullVal = 0;
        return DISP_E_OVERFLOW;
    }
    out->vt = vt;
    return S_OK;
}

} // namespace

extern "C" void VariantInit(VARIANTARG *pvarg)
{
    if (!pvarg)
        return;
    std::memset(pvarg, 0, sizeof *pvarg);
    pvarg->vt = VT_EMPTY;
}

extern "C" HRESULT VariantClear(VARIANTARG *pvarg)
{
    if (!pvarg)
        return E_INVALIDARG;
    if (!knownType(pvarg->vt))
        return DISP_E_BADVARTYPE;
    if (!(pvarg->vt & VT_BYREF)) {
        if (pvarg->vt == VT_BSTR)
            SysFreeString(pvarg->bstrVal);
        else if ((pvarg->vt == VT_DISPATCH || pvarg->vt == VT_UNKNOWN) && pvarg->punkVal)
            pvarg->punkVal->Release();
    }
    VariantInit(pvarg);
    return S_OK;
}

extern "C" HRESULT VariantCopy(VARIANTARG *dest, const VARIANTARG *src)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (!knownType(src->vt))
        return DISP_E_BADVARTYPE;
    if (dest == src)
        return S_OK;
    VARIANT copy = *src;
    if (!(src->vt & VT_BYREF)) {
        if (src->vt == VT_BSTR && src->bstrVal) {
            copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char *>(src->bstrVal),
                                                 SysStringByteLen(src->bstrVal));
            if (!copy.bstrVal)
                return E_OUTOFMEMORY;
        } else if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal) {
            src->punkVal->AddRef();
        }
    }
    const HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *dest = copy;
    return S_OK;
}

extern "C" HRESULT VariantCopyInd(VARIANT *dest, const VARIANTARG *src)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (!knownType(src->vt))
        return DISP_E_BADVARTYPE;
    VARIANT plain;
    if (!dereference(src, &plain))
        return E_INVALIDARG;
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT hr = VariantCopy(&copy, &plain);
    if (FAILED(hr))
        return hr;
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

extern "C" HRESULT VariantChangeType(VARIANTARG *dest, const VARIANTARG *src, USHORT wFlags,
                                     VARTYPE vt)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (!knownType(src->vt))
        return DISP_E_BADVARTYPE;
    if ((vt & VT_BYREF) || !knownType(vt))
        return DISP_E_BADVARTYPE;
    VARIANT plain;
    if (!dereference(src, &plain))
        return E_INVALIDARG;
    VARIANT result;
    HRESULT hr;
    if (plain.vt == vt) {
        VariantInit(&result);
        hr = VariantCopy(&result, &plain);
    } else {
        hr = convert(plain, &result, wFlags, vt);
    }
    if (FAILED(hr))
        return hr;
    VariantClear(dest);
    *dest = result;
    return S_OK;
}
