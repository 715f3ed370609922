// SPDX-License-Identifier: MIT
// Build-time compiler for the subset of interface definitions our controls use: one library
// with dispatch interfaces and coclasses. It writes the binary type library that the module
// carries as its TYPELIB resource, and a header with the identifiers and each dispatch
// interface's members (name, DISPID, result and parameter types), so that the code declares none
// of them a second time.
//
//   platform-idlc <file.idl> <out.tlb> <out.h>
#include "platform/typelib.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace {

struct Token
{
    enum Kind { Name, Number, String, Punct, End } kind;
    std::string text;
    int line;
};

class Lexer
{
public:
    explicit Lexer(std::string src)
        : m_src(std::move(src))
    {}

    // Text up to the closing parenthesis, for uuid(...) and version(...).
    std::string raw()
    {
        std::string out;
        while (m_pos < m_src.size() && m_src[m_pos] != ')')
            out.push_back(m_src[m_pos++]);
        while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back())))
            out.pop_back();
        while (!out.empty() && std::isspace(static_cast<unsigned char>(out.front())))
            out.erase(0, 1);
        return out;
    }

    Token next()
    {
        skip();
        if (m_pos >= m_src.size())
            return {Token::End, "", m_line};
        const char c = m_src[m_pos];
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            std::string s;
            while (
                m_pos < m_src.size()
                && (std::isalnum(static_cast<unsigned char>(m_src[m_pos])) || m_src[m_pos] == '_'))
                s.push_back(m_src[m_pos++]);
            return {Token::Name, s, m_line};
        }
        if (std::isdigit(static_cast<unsigned char>(c))
            || (c == '-' && m_pos + 1 < m_src.size()
                && std::isdigit(static_cast<unsigned char>(m_src[m_pos + 1])))) {
            std::string s(1, m_src[m_pos++]);
            while (
                m_pos < m_src.size()
                && (std::isalnum(static_cast<unsigned char>(m_src[m_pos])) || m_src[m_pos] == '.'))
                s.push_back(m_src[m_pos++]);
            return {Token::Number, s, m_line};
        }
        if (c == '"') {
            std::string s;
            ++m_pos;
            while (m_pos < m_src.size() && m_src[m_pos] != '"') {
                if (m_src[m_pos] == '\\' && m_pos + 1 < m_src.size())
                    ++m_pos;
                if (m_src[m_pos] == '\n')
                    ++m_line;
                s.push_back(m_src[m_pos++]);
            }
            if (m_pos >= m_src.size())
                throw std::runtime_error("line " + std::to_string(m_line)
                                         + ": unterminated string");
            ++m_pos;
            return {Token::String, s, m_line};
        }
        ++m_pos;
        return {Token::Punct, std::string(1, c), m_line};
    }

private:
    void skip()
    {
        while (m_pos < m_src.size()) {
            const char c = m_src[m_pos];
            if (c == '\n') {
                ++m_line;
                ++m_pos;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++m_pos;
            } else if (m_src.compare(m_pos, 2, "//") == 0 || c == '#') {
                // Comments and preprocessor lines (#include of the platform's own headers).
                while (m_pos < m_src.size() && m_src[m_pos] != '\n')
                    ++m_pos;
            } else if (m_src.compare(m_pos, 2, "/*") == 0) {
                const auto end = m_src.find("*/", m_pos + 2);
                for (std::size_t i = m_pos; i < std::min(end, m_src.size()); ++i)
                    m_line += m_src[i] == '\n';
                m_pos = end == std::string::npos ? m_src.size() : end + 2;
            } else {
                return;
            }
        }
    }

    std::string m_src;
    std::size_t m_pos = 0;
    int m_line = 1;
};

using Attrs = std::multimap<std::string, std::string>;

class Parser
{
public:
    explicit Parser(const std::string &src)
        : m_lex(src)
    {
        advance();
    }

    platform::TypeLibModel parse()
    {
        platform::TypeLibModel m;
        const Attrs attrs = attributes();
        expectName("library");
        m.name = name();
        m.libid = uuid(attrs);
        if (!has(attrs, "version"))
            fail("the library needs a version");
        const std::string v = attrs.find("version")->second;
        m.major = static_cast<WORD>(std::stoul(v.substr(0, v.find('.'))));
        m.minor = static_cast<WORD>(
            v.find('.') == std::string::npos ? 0 : std::stoul(v.substr(v.find('.') + 1)));
        m.lcid = has(attrs, "lcid")
                     ? static_cast<LCID>(std::stoul(attrs.find("lcid")->second, nullptr, 0))
                     : 0;
        m.helpString = value(attrs, "helpstring");
        m.helpFile = value(attrs, "helpfile");
        m.helpContext
            = has(attrs, "helpcontext")
                  ? static_cast<DWORD>(std::stoul(attrs.find("helpcontext")->second, nullptr, 0))
                  : 0;
        m.libFlags = (has(attrs, "control") ? LIBFLAG_FCONTROL : 0)
                     | (has(attrs, "hidden") ? LIBFLAG_FHIDDEN : 0)
                     | (has(attrs, "restricted") ? LIBFLAG_FRESTRICTED : 0);
        expect("{");
        while (!is("}")) {
            if (isName("importlib")) {
                advance();
                expect("(");
                m.imports.push_back(m_tok.kind == Token::String ? m_tok.text : macro(m_tok.text));
                advance();
                expect(")");
                expect(";");
                continue;
            }
            const Attrs typeAttrs = attributes();
            platform::TypeLibType t;
            t.guid = uuid(typeAttrs);
            t.helpString = value(typeAttrs, "helpstring");
            if (isName("dispinterface")) {
                advance();
                t.kind = TKIND_DISPATCH;
                t.name = name();
                t.flags
                    = TYPEFLAG_FDISPATCHABLE | (has(typeAttrs, "hidden") ? TYPEFLAG_FHIDDEN : 0);
                dispBody(&t);
            } else if (isName("coclass")) {
                advance();
                t.kind = TKIND_COCLASS;
                t.name = name();
                t.flags = (has(typeAttrs, "noncreatable") ? 0 : TYPEFLAG_FCANCREATE)
                          | (has(typeAttrs, "control") ? TYPEFLAG_FCONTROL : 0);
                coclassBody(&t);
            } else {
                fail("expected dispinterface or coclass, found '" + m_tok.text + "'");
            }
            m.types.push_back(std::move(t));
        }
        expect("}");
        if (is(";"))
            advance();
        if (m_tok.kind != Token::End)
            fail("text after the library");
        for (const platform::TypeLibType &t : m.types)
            for (const platform::TypeLibImpl &i : t.impls) {
                bool found = false;
                for (const platform::TypeLibType &o : m.types)
                    found = found || o.name == i.typeName;
                if (!found)
                    throw std::runtime_error(t.name + " names " + i.typeName
                                             + ", which the library does not define");
            }
        return m;
    }

private:
    void dispBody(platform::TypeLibType *t)
    {
        expect("{");
        expectName("properties");
        expect(":");
        if (!isName("methods"))
            fail("properties are not supported");
        advance();
        expect(":");
        while (!is("}")) {
            const Attrs a = attributes();
            platform::TypeLibFunc f;
            if (!has(a, "id"))
                fail("a method needs an id");
            const std::string id = a.find("id")->second;
            f.dispid = static_cast<DISPID>(std::isdigit(static_cast<unsigned char>(id[0]))
                                                   || id[0] == '-'
                                               ? std::stol(id, nullptr, 0)
                                               : std::stol(macro(id)));
            f.helpString = value(a, "helpstring");
            f.vtResult = type(true);
            f.name = name();
            expect("(");
            if (isName("void")) {
                advance();
            } else {
                while (!is(")")) {
                    attributes();
                    platform::TypeLibParam p;
                    p.vt = type(false);
                    p.name = name();
                    f.params.push_back(p);
                    if (is(","))
                        advance();
                    else if (!is(")"))
                        fail("expected , or )");
                }
            }
            expect(")");
            expect(";");
            for (const platform::TypeLibFunc &o : t->funcs)
                if (o.dispid == f.dispid || o.name == f.name)
                    fail("member " + f.name + " repeats a name or DISPID");
            t->funcs.push_back(f);
        }
        expect("}");
        expect(";");
    }

    void coclassBody(platform::TypeLibType *t)
    {
        expect("{");
        while (!is("}")) {
            const Attrs a = attributes();
            if (!isName("dispinterface") && !isName("interface"))
                fail("expected an interface of the coclass");
            advance();
            platform::TypeLibImpl impl;
            impl.typeName = name();
            impl.flags = (has(a, "default") ? IMPLTYPEFLAG_FDEFAULT : 0)
                         | (has(a, "source") ? IMPLTYPEFLAG_FSOURCE : 0);
            expect(";");
            t->impls.push_back(impl);
        }
        expect("}");
        expect(";");
    }

    VARTYPE type(bool result)
    {
        static const std::map<std::string, VARTYPE> types
            = {{"long", VT_I4},         {"LONG", VT_I4},           {"int", VT_I4},
               {"ULONG", VT_UI4},       {"BSTR", VT_BSTR},         {"ULONGLONG", VT_UI8},
               {"LONGLONG", VT_I8},     {"VARIANT_BOOL", VT_BOOL}, {"short", VT_I2},
               {"SHORT", VT_I2},        {"double", VT_R8},         {"DOUBLE", VT_R8},
               {"float", VT_R4},        {"VARIANT", VT_VARIANT},   {"IDispatch", VT_DISPATCH},
               {"IUnknown", VT_UNKNOWN}};
        const std::string n = name();
        if (n == "void") {
            if (!result)
                fail("void parameter");
            return VT_VOID;
        }
        auto it = types.find(n);
        if (it == types.end())
            fail("unsupported type " + n);
        if (it->second == VT_DISPATCH || it->second == VT_UNKNOWN)
            expect("*");
        return it->second;
    }

    Attrs attributes()
    {
        Attrs a;
        if (!is("["))
            return a;
        advance();
        while (!is("]")) {
            const std::string key = name();
            std::string val;
            if (is("(")) {
                if (key == "uuid" || key == "version") {
                    val = m_lex.raw();
                    advance();
                } else {
                    advance();
                    val = m_tok.text;
                    advance();
                }
                expect(")");
            }
            a.emplace(key, val);
            if (is(","))
                advance();
            else if (!is("]"))
                fail("expected , or ]");
        }
        advance();
        return a;
    }

    GUID uuid(const Attrs &a)
    {
        GUID g{};
        if (!has(a, "uuid") || !platform::guidFromString("{" + a.find("uuid")->second + "}", &g))
            fail("missing or malformed uuid");
        return g;
    }

    static bool has(const Attrs &a, const char *k) { return a.count(k) > 0; }
    static std::string value(const Attrs &a, const char *k)
    {
        auto it = a.find(k);
        return it == a.end() ? std::string() : it->second;
    }

    std::string macro(const std::string &n)
    {
        static const std::map<std::string, std::string> known = {{"STDOLE_TLB", "stdole2.tlb"},
                                                                 {"DISPID_ABOUTBOX", "-552"},
                                                                 {"DISPID_REFRESH", "-550"},
                                                                 {"DISPID_DOCLICK", "-551"}};
        auto it = known.find(n);
        if (it == known.end())
            fail("unknown name " + n);
        return it->second;
    }

    void advance() { m_tok = m_lex.next(); }
    bool is(const char *p) const { return m_tok.kind == Token::Punct && m_tok.text == p; }
    bool isName(const char *n) const { return m_tok.kind == Token::Name && m_tok.text == n; }
    void expect(const char *p)
    {
        if (!is(p))
            fail(std::string("expected '") + p + "', found '" + m_tok.text + "'");
        advance();
    }
    void expectName(const char *n)
    {
        if (!isName(n))
            fail(std::string("expected ") + n + ", found '" + m_tok.text + "'");
        advance();
    }
    std::string name()
    {
        if (m_tok.kind != Token::Name)
            fail("expected a name, found '" + m_tok.text + "'");
        std::string n = m_tok.text;
        advance();
        return n;
    }
    [[noreturn]] void fail(const std::string &what)
    {
        throw std::runtime_error("line " + std::to_string(m_tok.line) + ": " + what);
    }

    Lexer m_lex;
    Token m_tok{Token::End, "", 0};
};

std::string guidParts(const GUID &g)
{
    char buf[160];
    std::snprintf(
        buf, sizeof buf,
        "0x%08X, 0x%04X, 0x%04X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X",
        unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2],
        g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::string upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string header(const platform::TypeLibModel &m, const std::string &source)
{
    std::ostringstream h;
    const std::string lib = upper(m.name);
    h << "// Generated by platform-idlc from " << source << "; edit the .idl instead.\n"
      << "#pragma once\n\n#include \"platform/automation.h\"\n\n"
      << "PLATFORM_GUID(LIBID_" << m.name << ", " << guidParts(m.libid) << ");\n";
    for (const platform::TypeLibType &t : m.types)
        h << "PLATFORM_GUID(" << (t.kind == TKIND_COCLASS ? "CLSID_" : "DIID_") << t.name << ", "
          << guidParts(t.guid) << ");\n";
    h << "\n#define " << lib << "_VERSION_MAJOR " << m.major << "\n#define " << lib
      << "_VERSION_MINOR " << m.minor << "\n";
    for (const platform::TypeLibType &t : m.types) {
        if (t.kind != TKIND_DISPATCH)
            continue;
        std::string bare = t.name;
        while (!bare.empty() && bare[0] == '_')
            bare.erase(0, 1);
        h << "\n// Members of " << t.name << ": X(name, DISPID, result type, parameter types)\n"
          << "#define " << lib << "_" << upper(bare) << "_MEMBERS(X)";
        for (const platform::TypeLibFunc &f : t.funcs) {
            std::string vts = "\"";
            for (const platform::TypeLibParam &p : f.params) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02X", unsigned(p.vt));
                vts += buf;
                vts += "\" \"";
            }
            vts += "\"";
            h << " \\\n    X(" << f.name << ", " << f.dispid << ", "
              << (f.vtResult == VT_VOID ? 0 : f.vtResult) << ", " << vts << ")";
        }
        h << "\n";
    }
    return h.str();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: platform-idlc <file.idl> <out.tlb> <out.h>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "platform-idlc: cannot read %s\n", argv[1]);
        return 1;
    }
    std::stringstream src;
    src << in.rdbuf();
    try {
        const platform::TypeLibModel model = Parser(src.str()).parse();
        std::ofstream tlb(argv[2], std::ios::binary | std::ios::trunc);
        tlb << platform::encodeTypeLib(model);
        std::string source = argv[1];
        source = source.substr(source.find_last_of('/') + 1);
        std::ofstream h(argv[3], std::ios::trunc);
        h << header(model, source);
        if (!tlb || !h) {
            std::fprintf(stderr, "platform-idlc: cannot write the output\n");
            return 1;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 1;
    }
    return 0;
}
