// SPDX-License-Identifier: MIT
// Each string is one block: four spare bytes (so that the text is 8-aligned), the byte length,
// the text, and a 16-bit zero.
#include "platform/automation.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t kHeader = 8;

BSTR allocBytes(const void *data, std::size_t bytes)
{
    if (bytes > std::numeric_limits<std::uint32_t>::max() - kHeader - sizeof(OLECHAR))
        return nullptr;
    auto *block = static_cast<char *>(std::malloc(kHeader + bytes + sizeof(OLECHAR) + 1));
    if (!block)
        return nullptr;
    const std::uint32_t len = static_cast<std::uint32_t>(bytes);
    std::memset(block, 0, kHeader);
    std::memcpy(block + kHeader - sizeof len, &len, sizeof len);
    if (data)
        std::memcpy(block + kHeader, data, bytes);
    else
        std::memset(block + kHeader, 0, bytes);
    // Zero after the text, also when an odd byte length leaves half a character.
    std::memset(block + kHeader + bytes, 0, sizeof(OLECHAR) + 1);
    return reinterpret_cast<BSTR>(block + kHeader);
}

} // namespace

extern "C" BSTR SysAllocStringLen(const OLECHAR *pch, UINT cch)
{
    return allocBytes(pch, std::size_t(cch) * sizeof(OLECHAR));
}

extern "C" BSTR SysAllocString(const OLECHAR *psz)
{
    if (!psz)
        return nullptr;
    UINT n = 0;
    while (psz[n])
        ++n;
    return SysAllocStringLen(psz, n);
}

extern "C" BSTR SysAllocStringByteLen(const char *psz, UINT len)
{
    return allocBytes(psz, len);
}

extern "C" INT SysReAllocString(BSTR *pbstr, const OLECHAR *psz)
{
    if (!pbstr)
        return FALSE;
    BSTR fresh = SysAllocString(psz);
    if (psz && !fresh)
        return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

extern "C" void SysFreeString(BSTR bstr)
{
    if (bstr)
        std::free(reinterpret_cast<char *>(bstr) - kHeader);
}

extern "C" UINT SysStringByteLen(BSTR bstr)
{
    if (!bstr)
        return 0;
    std::uint32_t len;
    std::memcpy(&len, reinterpret_cast<char *>(bstr) - sizeof len, sizeof len);
    return len;
}

extern "C" UINT SysStringLen(BSTR bstr)
{
    return SysStringByteLen(bstr) / sizeof(OLECHAR);
}
