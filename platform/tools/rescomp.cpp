// SPDX-License-Identifier: MIT
// Build-time resource compiler for the subset of resource scripts our modules use: string
// tables, dialogs, files (icons, bitmaps, HTML, manifests, type libraries) and the version
// block. The Windows resource script stays the one source; this writes the resource table that
// the build puts into the module file.
//
//   platform-rescomp <file.rc> <out.res> [--file NAME=PATH]...
// --file replaces a file the script names (a type library made by the build, for example).
#include "platform/resources.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

struct Token
{
    enum Kind { Name, Number, String, Punct, End } kind;
    std::string text;
    bool lineStart;
    int line;
    std::size_t start = 0; // offset of the token in the script
};

const std::map<std::string, long> kBuiltins = {
    {"IDOK", 1},
    {"IDCANCEL", 2},
    {"IDC_STATIC", -1},
    {"VS_VERSION_INFO", 1},
    {"RT_MANIFEST", 24},
    {"WS_OVERLAPPED", 0},
    {"WS_POPUP", 0x80000000L},
    {"WS_CHILD", 0x40000000L},
    {"WS_VISIBLE", 0x10000000L},
    {"WS_DISABLED", 0x08000000L},
    {"WS_CAPTION", 0x00C00000L},
    {"WS_BORDER", 0x00800000L},
    {"WS_DLGFRAME", 0x00400000L},
    {"WS_VSCROLL", 0x00200000L},
    {"WS_HSCROLL", 0x00100000L},
    {"WS_SYSMENU", 0x00080000L},
    {"WS_THICKFRAME", 0x00040000L},
    {"WS_GROUP", 0x00020000L},
    {"WS_TABSTOP", 0x00010000L},
    {"WS_CLIPSIBLINGS", 0x04000000L},
    {"WS_CLIPCHILDREN", 0x02000000L},
    {"DS_ABSALIGN", 0x1},
    {"DS_SYSMODAL", 0x2},
    {"DS_3DLOOK", 0x4},
    {"DS_FIXEDSYS", 0x8},
    {"DS_SETFONT", 0x40},
    {"DS_MODALFRAME", 0x80},
    {"DS_CONTROL", 0x400},
    {"DS_CENTER", 0x800},
    {"DS_SHELLFONT", 0x48},
    {"WS_EX_DLGMODALFRAME", 0x1},
    {"WS_EX_TOPMOST", 0x8},
    {"WS_EX_TRANSPARENT", 0x20},
    {"WS_EX_TOOLWINDOW", 0x80},
    {"WS_EX_WINDOWEDGE", 0x100},
    {"WS_EX_CLIENTEDGE", 0x200},
    {"WS_EX_CONTROLPARENT", 0x10000},
    {"WS_EX_STATICEDGE", 0x20000},
    {"SS_LEFT", 0},
    {"SS_CENTER", 1},
    {"SS_RIGHT", 2},
    {"SS_ICON", 3},
    {"SS_NOTIFY", 0x100},
    {"BS_PUSHBUTTON", 0},
    {"BS_DEFPUSHBUTTON", 1},
    {"BS_GROUPBOX", 7},
    {"ES_LEFT", 0},
    {"ES_AUTOHSCROLL", 0x80},
    {"ES_MULTILINE", 0x4},
};

class Compiler
{
public:
    Compiler(std::map<std::string, std::string> files)
        : m_files(std::move(files))
    {}

    void load(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw std::runtime_error("cannot read " + path);
        std::stringstream ss;
        ss << in.rdbuf();
        m_dir = path.substr(0, path.find_last_of('/') + 1);
        m_src = preprocess(ss.str(), m_dir);
        m_pos = 0;
        m_line = 1;
        advance();
        while (m_tok.kind != Token::End)
            statement();
    }

    std::vector<platform::ResourceEntry> entries;

private:
    // Keeps #define values, drops other directives and the parts of the script that only the
    // resource editor reads.
    std::string preprocess(const std::string &src, const std::string &dir)
    {
        std::istringstream in(src);
        std::string line;
        std::string out;
        std::vector<bool> active{true};
        while (std::getline(in, line)) {
            std::string t = line;
            t.erase(0, t.find_first_not_of(" \t"));
            if (!t.empty() && t.back() == '\r')
                t.pop_back();
            if (t.rfind("#", 0) != 0) {
                out += active.back() ? line + "\n" : "\n";
                continue;
            }
            std::istringstream d(t.substr(1));
            std::string directive;
            d >> directive;
            if (directive == "ifdef" || directive == "ifndef") {
                std::string sym;
                d >> sym;
                const bool defined = m_symbols.count(sym) > 0;
                active.push_back(active.back() && (directive == "ifdef" ? defined : !defined));
            } else if (directive == "if") {
                active.push_back(active.back());
            } else if (directive == "else" && active.size() > 1) {
                const bool outer = active[active.size() - 2];
                active.back() = outer && !active.back();
            } else if (directive == "endif" && active.size() > 1) {
                active.pop_back();
            } else if (active.back() && directive == "define") {
                std::string sym;
                std::string value;
                d >> sym >> value;
                if (!value.empty())
                    m_symbols[sym] = number(value);
            } else if (active.back() && directive == "include") {
                std::string file;
                d >> file;
                if (file.size() > 2 && file.front() == '"') {
                    const std::string path = dir + file.substr(1, file.size() - 2);
                    std::ifstream inc(path);
                    if (!inc) {
                        // The platform's own headers of the Windows build are not ours to read.
                        out += "\n";
                        continue;
                    }
                    std::stringstream ss;
                    ss << inc.rdbuf();
                    preprocess(ss.str(), dir); // only its definitions matter
                }
            }
            out += "\n";
        }
        return out;
    }

    long number(const std::string &text)
    {
        if (text.empty())
            throw std::runtime_error("empty number");
        if (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-') {
            std::string t = text;
            if (!t.empty() && (t.back() == 'L' || t.back() == 'l'))
                t.pop_back();
            return std::stol(t, nullptr, 0);
        }
        auto it = m_symbols.find(text);
        if (it != m_symbols.end())
            return it->second;
        auto b = kBuiltins.find(text);
        if (b != kBuiltins.end())
            return b->second;
        fail("unknown name " + text);
    }

    // ---- tokens
    void advance()
    {
        bool lineStart = false;
        for (;;) {
            if (m_pos >= m_src.size()) {
                m_tok = {Token::End, "", true, m_line};
                return;
            }
            const char c = m_src[m_pos];
            if (c == '\n') {
                ++m_line;
                lineStart = true;
                ++m_pos;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++m_pos;
            } else if (m_src.compare(m_pos, 2, "//") == 0) {
                while (m_pos < m_src.size() && m_src[m_pos] != '\n')
                    ++m_pos;
            } else if (m_src.compare(m_pos, 2, "/*") == 0) {
                const auto end = m_src.find("*/", m_pos);
                for (std::size_t i = m_pos; i < std::min(end, m_src.size()); ++i)
                    m_line += m_src[i] == '\n';
                m_pos = end == std::string::npos ? m_src.size() : end + 2;
            } else {
                break;
            }
        }
        const char c = m_src[m_pos];
        m_tok.start = m_pos;
        m_tok.lineStart = lineStart;
        m_tok.line = m_line;
        if (c == '"') {
            std::string s;
            ++m_pos;
            for (;;) {
                if (m_pos >= m_src.size())
                    fail("unterminated string");
                char ch = m_src[m_pos++];
                if (ch == '"') {
                    if (m_pos < m_src.size() && m_src[m_pos] == '"') {
                        s.push_back('"');
                        ++m_pos;
                        continue;
                    }
                    break;
                }
                if (ch == '\\' && m_pos < m_src.size()) {
                    const char e = m_src[m_pos++];
                    ch = e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
                }
                s.push_back(ch);
            }
            m_tok.kind = Token::String;
            m_tok.text = s;
        } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
            std::string s;
            while (
                m_pos < m_src.size()
                && (std::isalnum(static_cast<unsigned char>(m_src[m_pos])) || m_src[m_pos] == '_'))
                s.push_back(m_src[m_pos++]);
            m_tok.kind
                = std::isdigit(static_cast<unsigned char>(s[0])) ? Token::Number : Token::Name;
            m_tok.text = s;
        } else {
            m_tok.kind = Token::Punct;
            m_tok.text = std::string(1, c);
            ++m_pos;
        }
    }

    bool isName(const char *n) const { return m_tok.kind == Token::Name && m_tok.text == n; }
    bool is(const char *p) const { return m_tok.kind == Token::Punct && m_tok.text == p; }
    void comma()
    {
        if (is(","))
            advance();
    }
    [[noreturn]] void fail(const std::string &what) const
    {
        throw std::runtime_error("line " + std::to_string(m_tok.line) + ": " + what);
    }
    std::string text()
    {
        if (m_tok.kind != Token::String)
            fail("expected a string");
        std::string s = m_tok.text;
        advance();
        return s;
    }
    // A value: numbers, names, NOT, | and parentheses, up to a comma or the line's end.
    long expr()
    {
        long v = term();
        while (is("|") || is("+")) {
            advance();
            v |= term();
        }
        return v;
    }
    long term()
    {
        if (isName("NOT")) {
            advance();
            return ~term();
        }
        if (is("(")) {
            advance();
            const long v = expr();
            if (!is(")"))
                fail("expected )");
            advance();
            return v;
        }
        if (is("-")) {
            advance();
            return -term();
        }
        if (m_tok.kind != Token::Name && m_tok.kind != Token::Number)
            fail("expected a value, found '" + m_tok.text + "'");
        const long v = number(m_tok.text);
        advance();
        return v;
    }
    // "NOT X" in an item's style removes bits that the control type sets.
    DWORD styleOn(DWORD base)
    {
        DWORD style = base;
        bool first = true;
        while (first || is("|")) {
            if (!first)
                advance();
            first = false;
            if (isName("NOT")) {
                advance();
                style &= ~static_cast<DWORD>(term());
            } else {
                style |= static_cast<DWORD>(term());
            }
        }
        return style;
    }
    bool atLineEnd() const { return m_tok.kind == Token::End || m_tok.lineStart; }
    bool beginOf() const { return isName("BEGIN") || is("{"); }
    bool endOf() const { return isName("END") || is("}"); }

    std::string idKey(const std::string &tokenText, Token::Kind kind)
    {
        if (kind == Token::Number || m_symbols.count(tokenText) || kBuiltins.count(tokenText))
            return "#" + std::to_string(number(tokenText));
        return platform::resourceKey(tokenText.c_str());
    }

    void add(const std::string &type, const std::string &name, std::string data)
    {
        for (const platform::ResourceEntry &e : entries)
            if (e.type == type && e.name == name)
                fail("resource " + type + " " + name + " defined twice");
        entries.push_back({type, name, std::move(data)});
    }

    std::string readFile(const std::string &name)
    {
        auto it = m_files.find(name);
        const std::string path = it != m_files.end() ? it->second : m_dir + name;
        std::ifstream in(path, std::ios::binary);
        if (!in)
            fail("cannot read " + path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    // ---- statements
    void statement()
    {
        if (isName("LANGUAGE")) {
            while (!atLineEnd() || isName("LANGUAGE"))
                advance();
            return;
        }
        if (isName("STRINGTABLE")) {
            advance();
            while (!beginOf())
                advance();
            advance();
            while (!endOf()) {
                const long id = expr();
                comma();
                add("#6", "#" + std::to_string(id), text());
            }
            advance();
            return;
        }
        const Token id = m_tok;
        advance();
        if (m_tok.kind != Token::Name && m_tok.kind != Token::Number)
            fail("expected a resource type after " + id.text);
        const std::string type = m_tok.text;
        advance();
        const std::string name = idKey(id.text, id.kind);
        static const std::map<std::string, std::string> fileTypes
            = {{"ICON", "#3"},         {"BITMAP", "#2"}, {"HTML", "#23"},
               {"RT_MANIFEST", "#24"}, {"24", "#24"},    {"TYPELIB", "TYPELIB"}};
        if (type == "DIALOG" || type == "DIALOGEX") {
            add("#5", name, platform::encodeDialog(dialog(type == "DIALOGEX")));
        } else if (type == "VERSIONINFO") {
            add("#16", name, platform::encodeVersion(version()));
        } else if (fileTypes.count(type) || m_tok.kind == Token::String) {
            const auto it = fileTypes.find(type);
            add(it != fileTypes.end() ? it->second : platform::resourceKey(type.c_str()), name,
                readFile(text()));
        } else {
            // Data only the resource editor uses (layouts, design information).
            block();
        }
    }

    // The text of a BEGIN ... END block, with everything before it, for the version block.
    std::string block()
    {
        const std::size_t start = m_tok.start;
        int depth = 0;
        for (;;) {
            if (m_tok.kind == Token::End)
                fail("block without END");
            if (beginOf())
                ++depth;
            if (endOf() && --depth == 0)
                break;
            advance();
        }
        const std::string raw = m_src.substr(start, m_tok.start + m_tok.text.size() - start);
        advance();
        return raw;
    }

    void fourParts(WORD *out)
    {
        for (int i = 0; i < 4; ++i) {
            if (i)
                comma();
            out[i] = static_cast<WORD>(expr());
        }
    }

    platform::VersionInfo version()
    {
        platform::VersionInfo v;
        while (!beginOf()) {
            const std::string field = m_tok.text;
            advance();
            if (field == "FILEVERSION")
                fourParts(v.fileVersion);
            else if (field == "PRODUCTVERSION")
                fourParts(v.productVersion);
            else if (field == "FILEFLAGSMASK")
                v.fileFlagsMask = static_cast<DWORD>(expr());
            else if (field == "FILEFLAGS")
                v.fileFlags = static_cast<DWORD>(expr());
            else if (field == "FILEOS")
                v.fileOS = static_cast<DWORD>(expr());
            else if (field == "FILETYPE")
                v.fileType = static_cast<DWORD>(expr());
            else if (field == "FILESUBTYPE")
                v.fileSubtype = static_cast<DWORD>(expr());
            else
                fail("unexpected '" + field + "' in a version block");
        }
        advance();
        while (!endOf()) {
            if (!isName("BLOCK"))
                fail("expected BLOCK in a version block");
            advance();
            const std::string kind = text();
            if (!beginOf())
                fail("expected BEGIN");
            advance();
            if (kind == "StringFileInfo") {
                while (!endOf()) {
                    if (!isName("BLOCK"))
                        fail("expected a string table BLOCK");
                    advance();
                    std::pair<std::string, std::vector<std::pair<std::string, std::string>>> table;
                    table.first = text();
                    if (!beginOf())
                        fail("expected BEGIN");
                    advance();
                    while (!endOf()) {
                        if (!isName("VALUE"))
                            fail("expected VALUE");
                        advance();
                        std::pair<std::string, std::string> kv;
                        kv.first = text();
                        comma();
                        kv.second = text();
                        table.second.push_back(kv);
                    }
                    advance();
                    v.strings.push_back(table);
                }
            } else if (kind == "VarFileInfo") {
                while (!endOf()) {
                    if (!isName("VALUE"))
                        fail("expected VALUE");
                    advance();
                    if (text() != "Translation")
                        fail("only Translation is known in VarFileInfo");
                    while (is(",")) {
                        advance();
                        const WORD lang = static_cast<WORD>(expr());
                        comma();
                        v.translations.emplace_back(lang, static_cast<WORD>(expr()));
                    }
                }
            } else {
                fail("unknown version block " + kind);
            }
            advance();
        }
        advance();
        return v;
    }

    platform::DialogTemplate dialog(bool extended)
    {
        platform::DialogTemplate d;
        d.extended = extended;
        d.x = static_cast<SHORT>(expr());
        comma();
        d.y = static_cast<SHORT>(expr());
        comma();
        d.cx = static_cast<SHORT>(expr());
        comma();
        d.cy = static_cast<SHORT>(expr());
        if (is(",")) {
            advance();
            expr(); // help id
        }
        d.style = 0x80880000; // WS_POPUP | WS_BORDER | WS_SYSMENU, as a script without STYLE says
        while (!beginOf()) {
            if (isName("STYLE")) {
                advance();
                d.style = static_cast<DWORD>(expr());
            } else if (isName("EXSTYLE")) {
                advance();
                d.exStyle = static_cast<DWORD>(expr());
            } else if (isName("CAPTION")) {
                advance();
                d.caption = text();
            } else if (isName("FONT")) {
                advance();
                d.pointSize = static_cast<WORD>(expr());
                comma();
                d.fontName = text();
                if (is(",")) {
                    advance();
                    d.weight = static_cast<WORD>(expr());
                    comma();
                    d.italic = static_cast<BYTE>(expr());
                    comma();
                    d.charset = static_cast<BYTE>(expr());
                }
            } else if (isName("LANGUAGE") || isName("MENU") || isName("CLASS")) {
                advance();
                while (!atLineEnd())
                    advance();
            } else {
                fail("unexpected '" + m_tok.text + "' in a dialog");
            }
        }
        advance();
        while (!endOf())
            d.items.push_back(item());
        advance();
        return d;
    }

    platform::DialogItem item()
    {
        constexpr DWORD child = 0x40000000 | 0x10000000; // WS_CHILD | WS_VISIBLE
        constexpr DWORD group = 0x00020000;
        constexpr DWORD tabstop = 0x00010000;
        platform::DialogItem i;
        const std::string kind = m_tok.text;
        advance();
        auto rect = [&](bool optionalSize) {
            i.x = static_cast<SHORT>(expr());
            comma();
            i.y = static_cast<SHORT>(expr());
            if (optionalSize && !is(","))
                return;
            comma();
            i.cx = static_cast<SHORT>(expr());
            comma();
            i.cy = static_cast<SHORT>(expr());
        };
        auto tail = [&](DWORD base) {
            i.style = base;
            if (is(",")) {
                advance();
                i.style = styleOn(base);
                if (is(",")) {
                    advance();
                    i.exStyle = static_cast<DWORD>(expr());
                }
            }
        };
        if (kind == "LTEXT" || kind == "RTEXT" || kind == "CTEXT" || kind == "PUSHBUTTON"
            || kind == "DEFPUSHBUTTON" || kind == "GROUPBOX") {
            i.text = text();
            comma();
            i.id = static_cast<INT>(expr());
            comma();
            rect(false);
            const bool isText = kind.size() == 5 && kind.substr(1) == "TEXT";
            i.className = isText ? "STATIC" : "BUTTON";
            DWORD base = child;
            if (isText)
                base |= group | (kind == "CTEXT" ? 1u : kind == "RTEXT" ? 2u : 0u);
            else if (kind == "GROUPBOX")
                base |= 7;
            else
                base |= tabstop | (kind == "DEFPUSHBUTTON" ? 1u : 0u);
            tail(base);
        } else if (kind == "ICON") {
            const Token icon = m_tok;
            advance();
            i.text = icon.kind == Token::String ? icon.text : idKey(icon.text, icon.kind);
            comma();
            i.id = static_cast<INT>(expr());
            comma();
            rect(true);
            i.className = "STATIC";
            tail(child | 3);
        } else if (kind == "EDITTEXT") {
            i.id = static_cast<INT>(expr());
            comma();
            rect(false);
            i.className = "EDIT";
            tail(child | tabstop | 0x00800000);
        } else if (kind == "CONTROL") {
            i.text = m_tok.kind == Token::String ? text() : std::to_string(term());
            comma();
            i.id = static_cast<INT>(expr());
            comma();
            i.className = m_tok.kind == Token::String ? text() : m_tok.text;
            if (m_tok.kind != Token::String && i.className == m_tok.text)
                advance();
            comma();
            i.style = styleOn(child);
            comma();
            rect(false);
            if (is(",")) {
                advance();
                i.exStyle = static_cast<DWORD>(expr());
            }
        } else {
            fail("unsupported dialog item " + kind);
        }
        return i;
    }

    std::map<std::string, std::string> m_files;
    std::map<std::string, long> m_symbols;
    std::string m_dir;
    std::string m_src;
    std::size_t m_pos = 0;
    int m_line = 1;
    Token m_tok{Token::End, "", true, 0};
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: platform-rescomp <file.rc> <out.res> [--file NAME=PATH]...\n");
        return 2;
    }
    std::map<std::string, std::string> files;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string arg = argv[i + 1];
        const auto eq = arg.find('=');
        if (std::string(argv[i]) != "--file" || eq == std::string::npos) {
            std::fprintf(stderr, "platform-rescomp: bad argument %s\n", argv[i]);
            return 2;
        }
        files[arg.substr(0, eq)] = arg.substr(eq + 1);
    }
    try {
        Compiler c(files);
        c.load(argv[1]);
        std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
        out << platform::encodeResources(c.entries);
        if (!out)
            throw std::runtime_error(std::string("cannot write ") + argv[2]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 1;
    }
    return 0;
}
