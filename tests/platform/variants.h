// SPDX-License-Identifier: MIT
// Tagged values for the tests; the caller clears them.
#pragma once

#include "platform/automation.h"

template <class T>
VARIANT makeVariant(VARTYPE vt, T VARIANT::*member, T value)
{
    VARIANT x;
    VariantInit(&x);
    x.vt = vt;
    x.*member = value;
    return x;
}

inline VARIANT i4(LONG v)
{
    return makeVariant(VT_I4, &VARIANT::lVal, v);
}
inline VARIANT ui8(ULONGLONG v)
{
    return makeVariant(VT_UI8, &VARIANT::ullVal, v);
}
inline VARIANT r8(double v)
{
    return makeVariant(VT_R8, &VARIANT::dblVal, v);
}
inline VARIANT boolean(bool b)
{
    return makeVariant(VT_BOOL, &VARIANT::boolVal, b ? VARIANT_TRUE : VARIANT_FALSE);
}
inline VARIANT str(const char *s)
{
    return makeVariant(VT_BSTR, &VARIANT::bstrVal, platform::allocBstr(s));
}
