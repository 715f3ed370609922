// SPDX-License-Identifier: MIT
// Module resources, carried inside the module file itself (an ELF section ".platform_rsrc") and
// found by module, type and id. The module handle is the address the module is loaded at.
#pragma once

#include "types.h"

#include <string>
#include <utility>
#include <vector>

#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define IS_INTRESOURCE(p) ((((ULONG_PTR)(p)) >> 16) == 0)

#define RT_BITMAP MAKEINTRESOURCE(2)
#define RT_ICON MAKEINTRESOURCE(3)
#define RT_DIALOG MAKEINTRESOURCE(5)
#define RT_STRING MAKEINTRESOURCE(6)
#define RT_GROUP_ICON MAKEINTRESOURCE(14)
#define RT_VERSION MAKEINTRESOURCE(16)
#define RT_HTML MAKEINTRESOURCE(23)
#define RT_MANIFEST MAKEINTRESOURCE(24)

extern "C" {
// Type and name are numbers (MAKEINTRESOURCE) or names ("TYPELIB"); ERROR_RESOURCE_* through
// the module's last error when absent.
PLATFORM_EXPORT HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
PLATFORM_EXPORT HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
PLATFORM_EXPORT LPVOID LockResource(HGLOBAL hResData);
PLATFORM_EXPORT DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
// String resource uID into buffer (narrow, UTF-8), cut to cchBufferMax - 1; 0 when absent.
PLATFORM_EXPORT int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
// The file of a loaded module; 0 when hModule is not one.
PLATFORM_EXPORT DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
PLATFORM_EXPORT DWORD GetLastError();
PLATFORM_EXPORT void SetLastError(DWORD dwErrCode);
}
#define FindResource FindResourceA
#define LoadString LoadStringA
#define GetModuleFileName GetModuleFileNameA

namespace platform {

// One resource of a module file on disk (type and id as numbers or names, "#5" for 5).
// ERROR_SUCCESS, ERROR_RESOURCE_DATA_NOT_FOUND (no resources in the file, or a damaged table),
// ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_NAME_NOT_FOUND, ERROR_FILE_NOT_FOUND.
PLATFORM_EXPORT LONG readFileResource(const std::string &path, const std::string &type,
                                      const std::string &name, std::string *data);
PLATFORM_EXPORT std::string modulePath(HMODULE module);
// The resource table's binary form, as the build tool writes it.
struct ResourceEntry
{
    std::string type;
    std::string name;
    std::string data;
};
PLATFORM_EXPORT std::string encodeResources(const std::vector<ResourceEntry> &entries);
PLATFORM_EXPORT bool decodeResources(const std::string &blob, std::vector<ResourceEntry> *entries);
// A dialog resource: the template's frame and its items, as the resource compiler read them from
// the resource script (dialog units; class names "BUTTON", "STATIC", "EDIT" or the class given).
struct DialogItem
{
    std::string className;
    std::string text; // for an icon: its resource id ("#1") or name
    INT id = 0;
    SHORT x = 0, y = 0, cx = 0, cy = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
};
struct DialogTemplate
{
    bool extended = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    SHORT x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    std::string fontName;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::vector<DialogItem> items;
};
PLATFORM_EXPORT std::string encodeDialog(const DialogTemplate &dialog);
PLATFORM_EXPORT bool decodeDialog(const std::string &data, DialogTemplate *dialog);
// Dialog resource id of a loaded module.
PLATFORM_EXPORT bool loadDialog(HMODULE module, UINT id, DialogTemplate *dialog);

// A version resource: the fixed part, the string tables by their language-and-code-page name
// ("080403a8"), and the translations as (language, code page) pairs.
struct VersionInfo
{
    WORD fileVersion[4] = {};
    WORD productVersion[4] = {};
    DWORD fileFlagsMask = 0;
    DWORD fileFlags = 0;
    DWORD fileOS = 0;
    DWORD fileType = 0;
    DWORD fileSubtype = 0;
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> strings;
    std::vector<std::pair<WORD, WORD>> translations;
};
PLATFORM_EXPORT std::string encodeVersion(const VersionInfo &version);
PLATFORM_EXPORT bool decodeVersion(const std::string &data, VersionInfo *version);

// "#5" for MAKEINTRESOURCE(5), the text itself (upper case) for a name.
PLATFORM_EXPORT std::string resourceKey(LPCSTR nameOrId);

} // namespace platform
