// SPDX-License-Identifier: MIT
// Globally unique identifiers: comparison, and text in braces
// ("{A31A557D-B3C0-46BB-B237-CA8B7E0C8EEC}").
#pragma once

#include "types.h"

#include <cstring>
#include <string>

struct GUID
{
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef GUID CATID;
typedef IID *LPIID;
typedef CLSID *LPCLSID;
typedef const GUID &REFGUID;
typedef const IID &REFIID;
typedef const CLSID &REFCLSID;
typedef const GUID &REFCATID;

inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b)
{
    return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b)
{
    return !IsEqualGUID(a, b);
}
inline bool operator<(REFGUID a, REFGUID b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
}

extern "C" PLATFORM_EXPORT const GUID GUID_NULL;
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL

// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case, 38 characters and a terminator)
// into buffer; returns the characters written including the terminator, 0 if cch is too small.
extern "C" PLATFORM_EXPORT int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cch);
// Reads the braced form only; anything else gives CO_E_CLASSSTRING (E_INVALIDARG for null).
extern "C" PLATFORM_EXPORT HRESULT IIDFromString(LPCOLESTR text, LPIID iid);

namespace platform {
// Narrow forms of the two calls above; the text is the braced form.
PLATFORM_EXPORT std::string guidToString(REFGUID guid);
PLATFORM_EXPORT bool guidFromString(const std::string &text, GUID *guid);
} // namespace platform

// A constant identifier from its text form at compile time would need a parser; we write the
// parts out, as the Windows sources do with their DEFINE_GUID lines.
#define PLATFORM_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                             \
    constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
