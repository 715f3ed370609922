// SPDX-License-Identifier: MIT
// The class registry: a tree of keys with a default value and named values, kept in a SQLite
// database file. The file is named by the environment variable PLATFORM_REGISTRY; without it, a
// per-user file under the user's data directory. Text is narrow (UTF-8).
//
// Every write call is atomic on its own. A registration that makes several calls wraps them in a
// transaction scope (RegistryTransaction); scopes nest, and nothing of an outer scope reaches the
// file before its end, so a process that dies half-way leaves the old content whole. Another
// process's registration waits for ours (busy timeout) instead of failing.
#pragma once

#include "hresult.h"

#include <string>

typedef DWORD REGSAM;
typedef HKEY *PHKEY;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

extern "C" {
// Sub-key paths use backslashes; a null or empty path names the key itself. Results are Win32
// error codes: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no such key or value), ERROR_ACCESS_DENIED
// (a protected key), ERROR_BADDB (the file is damaged or not a registry), ERROR_CANTOPEN,
// ERROR_BUSY, ERROR_MORE_DATA, ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER.
PLATFORM_EXPORT LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                     DWORD dwOptions, REGSAM samDesired, void *lpSecurity,
                                     PHKEY phkResult, DWORD *lpdwDisposition);
PLATFORM_EXPORT LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
PLATFORM_EXPORT LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                   PHKEY phkResult);
PLATFORM_EXPORT LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
PLATFORM_EXPORT LONG RegCloseKey(HKEY hKey);
PLATFORM_EXPORT LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                    const BYTE *lpData, DWORD cbData);
// Sets the default value (REG_SZ) of a sub-key, creating the sub-key when needed.
PLATFORM_EXPORT LONG RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData,
                                  DWORD cbData);
// With a null lpData, only the type and size are given back. Strings come with their terminator.
PLATFORM_EXPORT LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD *lpReserved,
                                      DWORD *lpType, BYTE *lpData, DWORD *lpcbData);
PLATFORM_EXPORT LONG RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, LONG *lpcbData);
PLATFORM_EXPORT LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
// Deletes a key without sub-keys (ERROR_ACCESS_DENIED when it has some).
PLATFORM_EXPORT LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
// Deletes a sub-key with everything below it; with no sub-key, everything below hKey.
PLATFORM_EXPORT LONG RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);
// Sub-keys and values in name order (case-insensitive); ERROR_NO_MORE_ITEMS past the end.
PLATFORM_EXPORT LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD *lpcchName,
                                   DWORD *lpReserved, LPSTR lpClass, DWORD *lpcchClass,
                                   void *lpftLastWriteTime);
PLATFORM_EXPORT LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                   DWORD *lpcchValueName, DWORD *lpReserved, DWORD *lpType,
                                   BYTE *lpData, DWORD *lpcbData);

// ---- Beyond the usual calls
// Transaction scopes; the outermost one commits or rolls back the file. A scope belongs to its
// thread: other threads' registry calls wait until it ends.
PLATFORM_EXPORT LONG PlatformRegBeginTransaction();
PLATFORM_EXPORT LONG PlatformRegEndTransaction(BOOL bCommit);
// Denies (or allows again) every change to a key and to everything below it, as an access
// control entry would; the key must exist.
PLATFORM_EXPORT LONG PlatformRegProtectKey(HKEY hKey, LPCSTR lpSubKey, BOOL bDeny);
}

#define RegCreateKeyEx RegCreateKeyExA
#define RegCreateKey RegCreateKeyA
#define RegOpenKeyEx RegOpenKeyExA
#define RegOpenKey RegOpenKeyA
#define RegSetValueEx RegSetValueExA
#define RegSetValue RegSetValueA
#define RegQueryValueEx RegQueryValueExA
#define RegQueryValue RegQueryValueA
#define RegDeleteValue RegDeleteValueA
#define RegDeleteKey RegDeleteKeyA
#define RegDeleteTree RegDeleteTreeA
#define RegEnumKeyEx RegEnumKeyExA
#define RegEnumValue RegEnumValueA

namespace platform {

// The file in use (the variable, or the per-user default).
PLATFORM_EXPORT std::string registryPath();
// A sentence about the last failure of this thread's registry calls ("registry file ... is
// damaged: ..."), empty after a success.
PLATFORM_EXPORT std::string registryLastError();

// A key path under one of the roots, "HKEY_CLASSES_ROOT\\CLSID\\{...}", in the registry editor's
// export format: a bracketed line per key in name order, "@=" for the default value, "name"=
// for named values. ERROR_FILE_NOT_FOUND and nothing written when the key is missing.
PLATFORM_EXPORT LONG exportRegistryKey(HKEY root, const std::string &subKey, std::string *out);

// Writes as a unit: the scope commits when commit() was called, otherwise rolls back.
class PLATFORM_EXPORT RegistryTransaction
{
public:
    RegistryTransaction();
    ~RegistryTransaction();
    RegistryTransaction(const RegistryTransaction &) = delete;
    RegistryTransaction &operator=(const RegistryTransaction &) = delete;
    LONG status() const { return m_status; }
    void commit() { m_commit = true; }

private:
    LONG m_status;
    bool m_commit = false;
};

// Reads the default or a named string value of a key under root; false when absent.
PLATFORM_EXPORT bool regReadString(HKEY root, const std::string &subKey, const char *valueName,
                                   std::string *out);
// Creates the key and sets its default (valueName null) or named string value.
PLATFORM_EXPORT LONG regWriteString(HKEY root, const std::string &subKey, const char *valueName,
                                    const std::string &value);

} // namespace platform
