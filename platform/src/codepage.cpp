// SPDX-License-Identifier: MIT
// Narrow text to and from 16-bit text. UTF-8 is done here; other code pages (936 and the like)
// go through Qt's codecs.
#include "platform/automation.h"

#include <QTextCodec>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

QTextCodec *codecFor(UINT codePage);

// A process may run with another ANSI code page, named by number in PLATFORM_ACP ("936"), as a
// machine set to that system locale would; anything unknown keeps UTF-8.
UINT initialCodePage()
{
    bool ok = false;
    const UINT cp = qEnvironmentVariable("PLATFORM_ACP").toUInt(&ok);
    return ok && cp != 0 && cp != CP_UTF8 && codecFor(cp) ? cp : CP_UTF8;
}

std::atomic<UINT> g_acp{initialCodePage()};

UINT resolve(UINT codePage)
{
    if (codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == CP_OEMCP)
        return g_acp.load();
    return codePage;
}

QTextCodec *codecFor(UINT codePage)
{
    if (codePage == 936)
        return QTextCodec::codecForName("GBK");
    return QTextCodec::codecForName(QByteArray("windows-") + QByteArray::number(codePage));
}

// Ill-formed input becomes U+FFFD, one per bad byte, as a lenient decoder does.
std::u16string utf8ToUtf16(const char *s, std::size_t n)
{
    std::u16string out;
    out.reserve(n);
    std::size_t i = 0;
    const auto *u = reinterpret_cast<const unsigned char *>(s);
    while (i < n) {
        const unsigned c = u[i];
        unsigned cp = 0xFFFD;
        std::size_t len = 1;
        unsigned need = 0;
        unsigned min = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            need = 1;
            cp = c & 0x1F;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            need = 2;
            cp = c & 0x0F;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            need = 3;
            cp = c & 0x07;
            min = 0x10000;
        } else {
            cp = 0xFFFD;
        }
        if (need) {
            bool ok = i + need < n;
            for (unsigned k = 1; ok && k <= need; ++k) {
                if ((u[i + k] & 0xC0) != 0x80)
                    ok = false;
                else
                    cp = (cp << 6) | (u[i + k] & 0x3F);
            }
            if (ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF))
                len = need + 1;
            else
                cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string utf16ToUtf8(const char16_t *s, std::size_t n, bool *lossy)
{
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
            if (lossy)
                *lossy = true;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

bool decode(UINT codePage, const char *s, std::size_t n, std::u16string *out)
{
    codePage = resolve(codePage);
    if (codePage == CP_UTF8) {
        *out = utf8ToUtf16(s, n);
        return true;
    }
    QTextCodec *codec = codecFor(codePage);
    if (!codec)
        return false;
    const QString text = codec->toUnicode(s, static_cast<int>(n));
    out->assign(reinterpret_cast<const char16_t *>(text.utf16()),
                static_cast<std::size_t>(text.size()));
    return true;
}

bool encode(UINT codePage, const char16_t *s, std::size_t n, std::string *out, bool *lossy)
{
    codePage = resolve(codePage);
    if (codePage == CP_UTF8) {
        *out = utf16ToUtf8(s, n, lossy);
        return true;
    }
    QTextCodec *codec = codecFor(codePage);
    if (!codec)
        return false;
    // What the code page cannot hold becomes '?', as on the platform; a NUL there would cut the
    // narrow string short.
    QTextCodec::ConverterState state;
    const QByteArray bytes = codec->fromUnicode(
        QString::fromUtf16(s, static_cast<int>(n)).constData(), static_cast<int>(n), &state);
    if (lossy && state.invalidChars > 0)
        *lossy = true;
    out->assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return true;
}

} // namespace

extern "C" UINT GetACP()
{
    return g_acp.load();
}

extern "C" BOOL PlatformSetACP(UINT codePage)
{
    if (codePage == 0 || codePage == CP_UTF8) {
        g_acp = CP_UTF8;
        return TRUE;
    }
    if (!codecFor(codePage))
        return FALSE;
    g_acp = codePage;
    return TRUE;
}

extern "C" int MultiByteToWideChar(UINT codePage, DWORD, const char *mb, int cbMultiByte,
                                   LPWSTR wide, int cchWideChar)
{
    if (!mb || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0)
        return 0;
    const std::size_t n = cbMultiByte == -1 ? std::strlen(mb) + 1 : std::size_t(cbMultiByte);
    std::u16string text;
    if (!decode(codePage, mb, n, &text))
        return 0;
    if (cchWideChar == 0)
        return static_cast<int>(text.size());
    if (!wide || text.size() > std::size_t(cchWideChar))
        return 0;
    std::copy(text.begin(), text.end(), wide);
    return static_cast<int>(text.size());
}

extern "C" int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int cchWideChar, char *mb,
                                   int cbMultiByte, const char *, BOOL *usedDefaultChar)
{
    if (!wide || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0)
        return 0;
    std::size_t n = 0;
    if (cchWideChar == -1) {
        while (wide[n])
            ++n;
        ++n;
    } else {
        n = std::size_t(cchWideChar);
    }
    std::string text;
    bool lossy = false;
    if (!encode(codePage, wide, n, &text, &lossy))
        return 0;
    if (usedDefaultChar)
        *usedDefaultChar = lossy ? TRUE : FALSE;
    if (cbMultiByte == 0)
        return static_cast<int>(text.size());
    if (!mb || text.size() > std::size_t(cbMultiByte))
        return 0;
    std::copy(text.begin(), text.end(), mb);
    return static_cast<int>(text.size());
}

namespace platform {

std::u16string toUtf16(const std::string &text, UINT codePage)
{
    std::u16string out;
    decode(codePage, text.data(), text.size(), &out);
    return out;
}

std::string fromUtf16(const std::u16string &text, UINT codePage)
{
    std::string out;
    encode(codePage, text.data(), text.size(), &out, nullptr);
    return out;
}

BSTR allocBstr(const std::string &text, UINT codePage)
{
    const std::u16string wide = toUtf16(text, codePage);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

} // namespace platform
