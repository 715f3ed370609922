// SPDX-License-Identifier: MIT
#include "platform/guid.h"

#include "platform/automation.h"

#include <cstdio>

extern "C" const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

namespace {

int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Reads "{8-4-4-4-12}" exactly; 38 characters, nothing before or after.
template <class Char>
bool parseBraced(const Char *s, std::size_t n, GUID *out)
{
    static const char layout[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (n != sizeof(layout) - 1)
        return false;
    std::uint8_t bytes[16];
    int nibble = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (layout[i] != 'X') {
            if (s[i] != static_cast<Char>(layout[i]))
                return false;
            continue;
        }
        const int d = hexDigit(static_cast<char16_t>(s[i]));
        if (d < 0)
            return false;
        if (nibble % 2 == 0)
            bytes[nibble / 2] = static_cast<std::uint8_t>(d << 4);
        else
            bytes[nibble / 2] |= static_cast<std::uint8_t>(d);
        ++nibble;
    }
    out->Data1 = (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16)
                 | (std::uint32_t(bytes[2]) << 8) | bytes[3];
    out->Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    out->Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i)
        out->Data4[i] = bytes[8 + i];
    return true;
}

} // namespace

namespace platform {

std::string guidToString(REFGUID g)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

bool guidFromString(const std::string &text, GUID *guid)
{
    return guid && parseBraced(text.data(), text.size(), guid);
}

} // namespace platform

extern "C" int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cch)
{
    const std::string s = platform::guidToString(guid);
    if (!buffer || cch < static_cast<int>(s.size()) + 1)
        return 0;
    for (std::size_t i = 0; i < s.size(); ++i)
        buffer[i] = static_cast<OLECHAR>(s[i]);
    buffer[s.size()] = 0;
    return static_cast<int>(s.size()) + 1;
}

extern "C" HRESULT IIDFromString(LPCOLESTR text, LPIID iid)
{
    if (!text || !iid)
        return E_INVALIDARG;
    std::size_t n = 0;
    while (text[n] && n < 64)
        ++n;
    GUID g;
    if (!parseBraced(text, n, &g))
        return CO_E_CLASSSTRING;
    *iid = g;
    return S_OK;
}
