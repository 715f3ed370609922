// SPDX-License-Identifier: MIT
// Type libraries: what an interface offers (members, DISPIDs, parameter types, help strings),
// built at build time from an .idl file into a small binary form that modules carry as their
// TYPELIB resource. Help strings are stored in a code page (936 by default), as the Windows
// build stores them.
#pragma once

#include "automation.h"

#include <string>
#include <vector>

namespace platform {

struct TypeLibParam
{
    std::string name;
    VARTYPE vt = VT_EMPTY;
};

struct TypeLibFunc
{
    std::string name;
    DISPID dispid = 0;
    VARTYPE vtResult = VT_VOID;
    std::vector<TypeLibParam> params;
    std::string helpString; // UTF-8 in memory
};

struct TypeLibImpl
{
    std::string typeName; // a type of the same library
    INT flags = 0;        // IMPLTYPEFLAG_*
};

struct TypeLibType
{
    TYPEKIND kind = TKIND_DISPATCH;
    std::string name;
    GUID guid{};
    std::string helpString;
    WORD flags = 0; // TYPEFLAG_*
    std::vector<TypeLibFunc> funcs;
    std::vector<TypeLibImpl> impls;
};

struct TypeLibModel
{
    std::string name;
    GUID libid{};
    WORD major = 0;
    WORD minor = 0;
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN64;
    WORD libFlags = 0;
    std::string helpString;
    std::string helpFile;
    DWORD helpContext = 0;
    std::vector<std::string> imports;
    UINT codePage = 936; // of the stored help strings
    std::vector<TypeLibType> types;
};

// The binary form; decode checks every length against the data (TYPE_E_INVDATAREAD when short,
// TYPE_E_UNSUPFORMAT when it is not a type library).
PLATFORM_EXPORT std::string encodeTypeLib(const TypeLibModel &model);
PLATFORM_EXPORT HRESULT decodeTypeLib(const std::string &data, TypeLibModel *model);

// An ITypeLib over a model.
PLATFORM_EXPORT HRESULT createTypeLib(const TypeLibModel &model, ITypeLib **ppLib);

} // namespace platform

typedef enum tagREGKIND { REGKIND_DEFAULT, REGKIND_REGISTER, REGKIND_NONE } REGKIND;

extern "C" {
// From a file: a module carrying TYPELIB resources (a trailing "\\N" picks resource N, else 1),
// or a type library file.
PLATFORM_EXPORT HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib **pptlib);
PLATFORM_EXPORT HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib **pptlib);
// Writes TypeLib\{LIBID}\major.minor (help string, FLAGS, HELPDIR, lcid\win64 = file) and
// Interface\{IID} for each dispatch interface, as one unit.
PLATFORM_EXPORT HRESULT RegisterTypeLib(ITypeLib *ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
// Removes what RegisterTypeLib wrote; TYPE_E_REGISTRYACCESS when the version is not registered.
PLATFORM_EXPORT HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                          SYSKIND syskind);
// The registered library: same major version, the highest minor at least wVerMinor.
PLATFORM_EXPORT HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                       ITypeLib **pptlib);
}
