// SPDX-License-Identifier: MIT
// The resource table is a section of the module file that is not loaded with the code; we read
// it from the file through the ELF section headers, once per file version.
#include "platform/resources.h"

#include "platform/hresult.h"

#include <elf.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

namespace {

constexpr char kSection[] = ".platform_rsrc";
constexpr char kMagic[4] = {'P', 'R', 'S', 'C'};

thread_local DWORD t_lastError = 0;

struct Loaded
{
    std::vector<platform::ResourceEntry> entries;
    LONG status = ERROR_SUCCESS;
};

std::mutex g_cacheMutex;
// Keyed by path, size and modification time; entries stay while the process runs, so handles
// given out stay valid.
std::map<std::string, std::shared_ptr<Loaded>> g_cache;

void putU32(std::string *out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

bool getU32(const std::string &in, std::size_t *pos, std::uint32_t *v)
{
    if (in.size() - *pos < 4 || *pos > in.size())
        return false;
    *v = 0;
    for (int i = 0; i < 4; ++i)
        *v |= std::uint32_t(static_cast<unsigned char>(in[*pos + i])) << (8 * i);
    *pos += 4;
    return true;
}

bool getBytes(const std::string &in, std::size_t *pos, std::string *out)
{
    std::uint32_t n = 0;
    if (!getU32(in, pos, &n) || in.size() - *pos < n)
        return false;
    out->assign(in, *pos, n);
    *pos += n;
    return true;
}

// The section's bytes from an ELF64 file; false when the file has no such section.
LONG readSection(const std::string &path, std::string *data)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return ERROR_FILE_NOT_FOUND;
    const std::string file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    Elf64_Ehdr eh;
    if (file.size() < sizeof eh)
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    std::memcpy(&eh, file.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64
        || eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shstrndx >= eh.e_shnum)
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    auto header = [&](std::size_t i, Elf64_Shdr *sh) {
        const std::uint64_t off = eh.e_shoff + i * sizeof(Elf64_Shdr);
        if (eh.e_shoff > file.size() || off + sizeof(Elf64_Shdr) > file.size())
            return false;
        std::memcpy(sh, file.data() + off, sizeof *sh);
        return sh->sh_type == SHT_NOBITS
               || (sh->sh_offset <= file.size() && sh->sh_size <= file.size() - sh->sh_offset);
    };
    Elf64_Shdr names;
    if (!header(eh.e_shstrndx, &names))
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    for (std::size_t i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh;
        if (!header(i, &sh) || sh.sh_name >= names.sh_size)
            continue;
        const char *name = file.data() + names.sh_offset + sh.sh_name;
        const std::size_t room = names.sh_size - sh.sh_name;
        if (strnlen(name, room) == room || std::strcmp(name, kSection) != 0)
            continue;
        if (sh.sh_type == SHT_NOBITS)
            return ERROR_RESOURCE_DATA_NOT_FOUND;
        data->assign(file, sh.sh_offset, sh.sh_size);
        return ERROR_SUCCESS;
    }
    return ERROR_RESOURCE_DATA_NOT_FOUND;
}

std::shared_ptr<Loaded> load(const std::string &path)
{
    struct stat st
    {};
    if (::stat(path.c_str(), &st) != 0) {
        auto l = std::make_shared<Loaded>();
        l->status = ERROR_FILE_NOT_FOUND;
        return l;
    }
    const std::string key = path + "|" + std::to_string(st.st_size) + "|"
                            + std::to_string(st.st_mtim.tv_sec) + "."
                            + std::to_string(st.st_mtim.tv_nsec) + "|" + std::to_string(st.st_ino);
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    auto &slot = g_cache[key];
    if (!slot) {
        slot = std::make_shared<Loaded>();
        std::string blob;
        slot->status = readSection(path, &blob);
        if (slot->status == ERROR_SUCCESS && !platform::decodeResources(blob, &slot->entries))
            slot->status = ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    return slot;
}

std::string upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

LONG find(const std::string &path, const std::string &type, const std::string &name,
          const platform::ResourceEntry **out)
{
    const std::shared_ptr<Loaded> l = load(path);
    if (l->status != ERROR_SUCCESS)
        return l->status;
    bool typeSeen = false;
    for (const platform::ResourceEntry &e : l->entries) {
        if (e.type != type)
            continue;
        typeSeen = true;
        if (e.name == name) {
            *out = &e;
            return ERROR_SUCCESS;
        }
    }
    return typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
}

struct ModuleSearch
{
    ULONG_PTR base;
    std::string path;
    bool found = false;
};

int matchModule(struct dl_phdr_info *info, size_t, void *data)
{
    auto *s = static_cast<ModuleSearch *>(data);
    ElfW(Addr) lowest = ~ElfW(Addr)(0);
    for (int i = 0; i < info->dlpi_phnum; ++i)
        if (info->dlpi_phdr[i].p_type == PT_LOAD)
            lowest = std::min(lowest, info->dlpi_phdr[i].p_vaddr);
    if (lowest == ~ElfW(Addr)(0) || info->dlpi_addr + lowest != s->base)
        return 0;
    s->found = true;
    s->path = info->dlpi_name ? info->dlpi_name : "";
    return 1;
}

} // namespace

namespace platform {

std::string encodeResources(const std::vector<ResourceEntry> &entries)
{
    std::string out(kMagic, sizeof kMagic);
    putU32(&out, 1);
    putU32(&out, static_cast<std::uint32_t>(entries.size()));
    for (const ResourceEntry &e : entries) {
        for (const std::string *s : {&e.type, &e.name, &e.data}) {
            putU32(&out, static_cast<std::uint32_t>(s->size()));
            out += *s;
        }
    }
    return out;
}

bool decodeResources(const std::string &blob, std::vector<ResourceEntry> *entries)
{
    std::size_t pos = sizeof kMagic;
    std::uint32_t version = 0;
    std::uint32_t count = 0;
    if (blob.size() < sizeof kMagic || std::memcmp(blob.data(), kMagic, sizeof kMagic) != 0
        || !getU32(blob, &pos, &version) || version != 1 || !getU32(blob, &pos, &count))
        return false;
    std::vector<ResourceEntry> out;
    for (std::uint32_t i = 0; i < count; ++i) {
        ResourceEntry e;
        if (!getBytes(blob, &pos, &e.type) || !getBytes(blob, &pos, &e.name)
            || !getBytes(blob, &pos, &e.data))
            return false;
        out.push_back(std::move(e));
    }
    *entries = std::move(out);
    return true;
}

namespace {

void putText(std::string *out, const std::string &s)
{
    putU32(out, static_cast<std::uint32_t>(s.size()));
    *out += s;
}

} // namespace

std::string encodeDialog(const DialogTemplate &d)
{
    std::string out = "PDLG";
    for (std::uint32_t v :
         {std::uint32_t(d.extended), d.style, d.exStyle, std::uint32_t(d.x), std::uint32_t(d.y),
          std::uint32_t(d.cx), std::uint32_t(d.cy), std::uint32_t(d.pointSize),
          std::uint32_t(d.weight), std::uint32_t(d.italic), std::uint32_t(d.charset)})
        putU32(&out, v);
    putText(&out, d.caption);
    putText(&out, d.fontName);
    putU32(&out, static_cast<std::uint32_t>(d.items.size()));
    for (const DialogItem &i : d.items) {
        putText(&out, i.className);
        putText(&out, i.text);
        for (std::uint32_t v : {std::uint32_t(i.id), std::uint32_t(i.x), std::uint32_t(i.y),
                                std::uint32_t(i.cx), std::uint32_t(i.cy), i.style, i.exStyle})
            putU32(&out, v);
    }
    return out;
}

bool decodeDialog(const std::string &data, DialogTemplate *dialog)
{
    if (data.compare(0, 4, "PDLG") != 0 || !dialog)
        return false;
    std::size_t pos = 4;
    std::uint32_t v[11];
    for (std::uint32_t &x : v)
        if (!getU32(data, &pos, &x))
            return false;
    DialogTemplate d;
    d.extended = v[0] != 0;
    d.style = v[1];
    d.exStyle = v[2];
    d.x = static_cast<SHORT>(v[3]);
    d.y = static_cast<SHORT>(v[4]);
    d.cx = static_cast<SHORT>(v[5]);
    d.cy = static_cast<SHORT>(v[6]);
    d.pointSize = static_cast<WORD>(v[7]);
    d.weight = static_cast<WORD>(v[8]);
    d.italic = static_cast<BYTE>(v[9]);
    d.charset = static_cast<BYTE>(v[10]);
    std::uint32_t n = 0;
    if (!getBytes(data, &pos, &d.caption) || !getBytes(data, &pos, &d.fontName)
        || !getU32(data, &pos, &n) || n > data.size())
        return false;
    for (std::uint32_t k = 0; k < n; ++k) {
        DialogItem i;
        std::uint32_t w[7];
        if (!getBytes(data, &pos, &i.className) || !getBytes(data, &pos, &i.text))
            return false;
        for (std::uint32_t &x : w)
            if (!getU32(data, &pos, &x))
                return false;
        i.id = static_cast<INT>(w[0]);
        i.x = static_cast<SHORT>(w[1]);
        i.y = static_cast<SHORT>(w[2]);
        i.cx = static_cast<SHORT>(w[3]);
        i.cy = static_cast<SHORT>(w[4]);
        i.style = w[5];
        i.exStyle = w[6];
        d.items.push_back(std::move(i));
    }
    *dialog = std::move(d);
    return true;
}

std::string encodeVersion(const VersionInfo &v)
{
    std::string out = "PVER";
    for (int i = 0; i < 4; ++i)
        putU32(&out, v.fileVersion[i]);
    for (int i = 0; i < 4; ++i)
        putU32(&out, v.productVersion[i]);
    for (DWORD x : {v.fileFlagsMask, v.fileFlags, v.fileOS, v.fileType, v.fileSubtype})
        putU32(&out, x);
    putU32(&out, static_cast<std::uint32_t>(v.strings.size()));
    for (const auto &table : v.strings) {
        putText(&out, table.first);
        putU32(&out, static_cast<std::uint32_t>(table.second.size()));
        for (const auto &kv : table.second) {
            putText(&out, kv.first);
            putText(&out, kv.second);
        }
    }
    putU32(&out, static_cast<std::uint32_t>(v.translations.size()));
    for (const auto &t : v.translations) {
        putU32(&out, t.first);
        putU32(&out, t.second);
    }
    return out;
}

bool decodeVersion(const std::string &data, VersionInfo *version)
{
    if (data.compare(0, 4, "PVER") != 0 || !version)
        return false;
    std::size_t pos = 4;
    VersionInfo v;
    std::uint32_t x = 0;
    for (WORD *w :
         {&v.fileVersion[0], &v.fileVersion[1], &v.fileVersion[2], &v.fileVersion[3],
          &v.productVersion[0], &v.productVersion[1], &v.productVersion[2], &v.productVersion[3]}) {
        if (!getU32(data, &pos, &x))
            return false;
        *w = static_cast<WORD>(x);
    }
    for (DWORD *d : {&v.fileFlagsMask, &v.fileFlags, &v.fileOS, &v.fileType, &v.fileSubtype})
        if (!getU32(data, &pos, d))
            return false;
    std::uint32_t tables = 0;
    if (!getU32(data, &pos, &tables) || tables > data.size())
        return false;
    for (std::uint32_t t = 0; t < tables; ++t) {
        std::pair<std::string, std::vector<std::pair<std::string, std::string>>> table;
        std::uint32_t n = 0;
        if (!getBytes(data, &pos, &table.first) || !getU32(data, &pos, &n) || n > data.size())
            return false;
        for (std::uint32_t i = 0; i < n; ++i) {
            std::pair<std::string, std::string> kv;
            if (!getBytes(data, &pos, &kv.first) || !getBytes(data, &pos, &kv.second))
                return false;
            table.second.push_back(std::move(kv));
        }
        v.strings.push_back(std::move(table));
    }
    std::uint32_t n = 0;
    if (!getU32(data, &pos, &n) || n > data.size())
        return false;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t lang = 0;
        std::uint32_t cp = 0;
        if (!getU32(data, &pos, &lang) || !getU32(data, &pos, &cp))
            return false;
        v.translations.emplace_back(static_cast<WORD>(lang), static_cast<WORD>(cp));
    }
    *version = std::move(v);
    return true;
}

bool loadDialog(HMODULE module, UINT id, DialogTemplate *dialog)
{
    HRSRC r = FindResourceA(module, MAKEINTRESOURCE(id), RT_DIALOG);
    return r && decodeDialog(reinterpret_cast<ResourceEntry *>(r)->data, dialog);
}

std::string resourceKey(LPCSTR nameOrId)
{
    if (IS_INTRESOURCE(nameOrId))
        return "#" + std::to_string(static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(nameOrId)));
    if (nameOrId[0] == '#')
        return "#" + std::to_string(std::strtoul(nameOrId + 1, nullptr, 10));
    return upper(nameOrId);
}

std::string modulePath(HMODULE module)
{
    ModuleSearch s{reinterpret_cast<ULONG_PTR>(module), {}};
    if (!module)
        return {};
    dl_iterate_phdr(matchModule, &s);
    if (!s.found)
        return {};
    if (s.path.empty()) {
        // The program itself.
        char buf[4096];
        const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0)
            return {};
        s.path.assign(buf, static_cast<std::size_t>(n));
    }
    return s.path;
}

LONG readFileResource(const std::string &path, const std::string &type, const std::string &name,
                      std::string *data)
{
    const ResourceEntry *e = nullptr;
    const LONG err = find(path, type, name, &e);
    if (err == ERROR_SUCCESS && data)
        *data = e->data;
    return err;
}

} // namespace platform

extern "C" DWORD GetLastError()
{
    return t_lastError;
}

extern "C" void SetLastError(DWORD dwErrCode)
{
    t_lastError = dwErrCode;
}

extern "C" DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    const std::string path = platform::modulePath(hModule);
    if (path.empty() || !lpFilename || nSize == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::size_t n = std::min<std::size_t>(path.size(), nSize - 1);
    std::memcpy(lpFilename, path.data(), n);
    lpFilename[n] = 0;
    if (n < path.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    return static_cast<DWORD>(n);
}

extern "C" HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType)
{
    const std::string path = platform::modulePath(hModule);
    if (path.empty() || !lpName || !lpType) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const platform::ResourceEntry *e = nullptr;
    const LONG err = find(path, platform::resourceKey(lpType), platform::resourceKey(lpName), &e);
    if (err != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(err));
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<platform::ResourceEntry *>(e));
}

extern "C" HGLOBAL LoadResource(HMODULE, HRSRC hResInfo)
{
    return reinterpret_cast<HGLOBAL>(hResInfo);
}

extern "C" LPVOID LockResource(HGLOBAL hResData)
{
    if (!hResData)
        return nullptr;
    auto *e = reinterpret_cast<platform::ResourceEntry *>(hResData);
    return const_cast<char *>(e->data.data());
}

extern "C" DWORD SizeofResource(HMODULE, HRSRC hResInfo)
{
    if (!hResInfo)
        return 0;
    return static_cast<DWORD>(reinterpret_cast<platform::ResourceEntry *>(hResInfo)->data.size());
}

extern "C" int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax)
{
    if (!lpBuffer || cchBufferMax <= 0)
        return 0;
    lpBuffer[0] = 0;
    HRSRC r = FindResourceA(hInstance, MAKEINTRESOURCE(uID), RT_STRING);
    if (!r)
        return 0;
    const auto *e = reinterpret_cast<platform::ResourceEntry *>(r);
    const std::size_t n = std::min<std::size_t>(e->data.size(), std::size_t(cchBufferMax - 1));
    std::memcpy(lpBuffer, e->data.data(), n);
    lpBuffer[n] = 0;
    return static_cast<int>(n);
}
