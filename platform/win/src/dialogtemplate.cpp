// SPDX-License-Identifier: MIT
// Extended dialog templates in their binary layout: 16-bit little-endian words, strings in UTF-16
// with a terminator, a name-or-ordinal field as 0 (none), 0xFFFF and an ordinal, or a string;
// items start on 4-byte boundaries.
#include "platform/automation.h"
#include "platform/windows.h"

#include <cstring>

namespace platform {

namespace {

class Writer
{
public:
    std::vector<std::uint8_t> bytes;
    void word(WORD w)
    {
        bytes.push_back(std::uint8_t(w & 0xFF));
        bytes.push_back(std::uint8_t(w >> 8));
    }
    void dword(DWORD d)
    {
        word(WORD(d & 0xFFFF));
        word(WORD(d >> 16));
    }
    void byte(BYTE b) { bytes.push_back(b); }
    void text(const std::string &s)
    {
        for (char16_t c : toUtf16(s, CP_UTF8))
            word(WORD(c));
        word(0);
    }
    void nameOrOrdinal(const std::string &s)
    {
        if (s.empty()) {
            word(0);
        } else if (s.size() > 1 && s[0] == '#') {
            word(0xFFFF);
            word(WORD(std::stoul(s.substr(1))));
        } else {
            text(s);
        }
    }
    void align4()
    {
        while (bytes.size() % 4)
            bytes.push_back(0);
    }
};

class Reader
{
public:
    Reader(const void *data, std::size_t size)
        : m_p(static_cast<const std::uint8_t *>(data))
        , m_size(size)
    {}
    bool ok = true;
    WORD word()
    {
        if (m_at + 2 > m_size) {
            ok = false;
            return 0;
        }
        const WORD w = WORD(m_p[m_at] | (m_p[m_at + 1] << 8));
        m_at += 2;
        return w;
    }
    DWORD dword()
    {
        const DWORD lo = word();
        return lo | (DWORD(word()) << 16);
    }
    BYTE byte()
    {
        if (m_at + 1 > m_size) {
            ok = false;
            return 0;
        }
        return m_p[m_at++];
    }
    std::string text()
    {
        std::u16string s;
        for (WORD c = word(); ok && c; c = word())
            s.push_back(char16_t(c));
        return fromUtf16(s, CP_UTF8);
    }
    std::string nameOrOrdinal()
    {
        if (m_at + 2 <= m_size && m_p[m_at] == 0xFF && m_p[m_at + 1] == 0xFF) {
            word();
            return "#" + std::to_string(word());
        }
        return text();
    }
    void align4() { m_at = (m_at + 3) & ~std::size_t(3); }
    void skip(std::size_t n) { m_at += n; }

private:
    const std::uint8_t *m_p;
    std::size_t m_size;
    std::size_t m_at = 0;
};

} // namespace

std::vector<std::uint8_t> buildDialogTemplate(const DialogTemplate &t)
{
    Writer w;
    w.word(1);
    w.word(0xFFFF);
    w.dword(0); // help id
    w.dword(t.exStyle);
    w.dword(t.style);
    w.word(WORD(t.items.size()));
    for (SHORT v : {t.x, t.y, t.cx, t.cy})
        w.word(WORD(v));
    w.nameOrOrdinal(""); // no menu
    w.nameOrOrdinal(""); // the dialog class
    w.text(t.caption);
    if (t.style & DS_SETFONT) {
        w.word(t.pointSize);
        w.word(t.weight);
        w.byte(t.italic);
        w.byte(t.charset);
        w.text(t.fontName);
    }
    for (const DialogItem &i : t.items) {
        w.align4();
        w.dword(0);
        w.dword(i.exStyle);
        w.dword(i.style);
        for (SHORT v : {i.x, i.y, i.cx, i.cy})
            w.word(WORD(v));
        w.dword(DWORD(i.id));
        w.nameOrOrdinal(i.className);
        w.nameOrOrdinal(i.text);
        w.word(0); // no creation data
    }
    return w.bytes;
}

bool parseDialogTemplate(const void *data, std::size_t size, DialogTemplate *out)
{
    if (!data || !out)
        return false;
    Reader r(data, size);
    if (r.word() != 1 || r.word() != 0xFFFF)
        return false;
    DialogTemplate t;
    t.extended = true;
    r.dword(); // help id
    t.exStyle = r.dword();
    t.style = r.dword();
    const WORD count = r.word();
    t.x = SHORT(r.word());
    t.y = SHORT(r.word());
    t.cx = SHORT(r.word());
    t.cy = SHORT(r.word());
    r.nameOrOrdinal(); // menu
    r.nameOrOrdinal(); // dialog class
    t.caption = r.text();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.word();
        t.weight = r.word();
        t.italic = r.byte();
        t.charset = r.byte();
        t.fontName = r.text();
    }
    for (WORD n = 0; n < count && r.ok; ++n) {
        r.align4();
        DialogItem i;
        r.dword(); // help id
        i.exStyle = r.dword();
        i.style = r.dword();
        i.x = SHORT(r.word());
        i.y = SHORT(r.word());
        i.cx = SHORT(r.word());
        i.cy = SHORT(r.word());
        i.id = INT(r.dword());
        i.className = r.nameOrOrdinal();
        i.text = r.nameOrOrdinal();
        r.skip(r.word());
        t.items.push_back(i);
    }
    if (!r.ok)
        return false;
    *out = std::move(t);
    return true;
}

SIZE dialogBaseUnits(WORD pointSize)
{
    // The platform's dialog font at 8 points on a 96 dpi screen averages 6 by 13 pixels; other
    // sizes scale with it. Fixed figures keep layouts the same on every machine.
    const WORD pt = pointSize ? pointSize : 8;
    return SIZE{LONG((6 * pt + 4) / 8), LONG((13 * pt + 4) / 8)};
}

} // namespace platform
