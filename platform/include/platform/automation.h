// SPDX-License-Identifier: MIT
// Late-bound calls: length-prefixed 16-bit strings, tagged values, IDispatch, and the type
// information interfaces that describe what a dispatch interface offers.
#pragma once

#include "unknown.h"

#include <string>

// ---- BSTR: 16-bit characters, the byte length stored in the four bytes before the text, and a
// terminating zero after it. A null BSTR is the empty string.
typedef OLECHAR *BSTR;
typedef BSTR *LPBSTR;

extern "C" {
PLATFORM_EXPORT BSTR SysAllocString(const OLECHAR *psz);
PLATFORM_EXPORT BSTR SysAllocStringLen(const OLECHAR *pch, UINT cch);
PLATFORM_EXPORT BSTR SysAllocStringByteLen(const char *psz, UINT len);
PLATFORM_EXPORT INT SysReAllocString(BSTR *pbstr, const OLECHAR *psz);
PLATFORM_EXPORT void SysFreeString(BSTR bstr);
PLATFORM_EXPORT UINT SysStringLen(BSTR bstr);
PLATFORM_EXPORT UINT SysStringByteLen(BSTR bstr);
}

// ---- Code pages for narrow text. The ANSI code page is UTF-8 unless the process picks another.
#define CP_ACP 0u
#define CP_OEMCP 1u
#define CP_THREAD_ACP 3u
#define CP_UTF8 65001u

extern "C" {
// cbMultiByte / cchWideChar of -1: the input is zero-terminated and the terminator is converted
// too. A zero output size asks for the size needed. Returns 0 on failure.
PLATFORM_EXPORT int MultiByteToWideChar(UINT codePage, DWORD flags, const char *mb, int cbMultiByte,
                                        LPWSTR wide, int cchWideChar);
PLATFORM_EXPORT int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int cchWideChar,
                                        char *mb, int cbMultiByte, const char *defaultChar,
                                        BOOL *usedDefaultChar);
PLATFORM_EXPORT UINT GetACP();
// Process-wide ANSI code page, for tests of a narrow code page (0 goes back to UTF-8).
PLATFORM_EXPORT BOOL PlatformSetACP(UINT codePage);
}

namespace platform {
PLATFORM_EXPORT std::u16string toUtf16(const std::string &text, UINT codePage = CP_ACP);
PLATFORM_EXPORT std::string fromUtf16(const std::u16string &text, UINT codePage = CP_ACP);
// A new BSTR from narrow text in the given code page; the caller frees it.
PLATFORM_EXPORT BSTR allocBstr(const std::string &text, UINT codePage = CP_ACP);
inline std::u16string bstrText(BSTR b)
{
    return b ? std::u16string(b, SysStringLen(b)) : std::u16string();
}
} // namespace platform

// ---- VARIANT
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_USERDEFINED = 29,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0fff,
};

struct IDispatch;
struct VARIANT;

// The tag, three reserved words, then the value: 16 bytes on a 32-bit target, 24 on ours.
struct VARIANT
{
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union
    {
        LONGLONG llVal;
        ULONGLONG ullVal;
        LONG lVal;
        ULONG ulVal;
        INT intVal;
        UINT uintVal;
        SHORT iVal;
        USHORT uiVal;
        CHAR cVal;
        BYTE bVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown *punkVal;
        IDispatch *pdispVal;
        LONG *plVal;
        ULONGLONG *pullVal;
        LONGLONG *pllVal;
        SHORT *piVal;
        DOUBLE *pdblVal;
        VARIANT_BOOL *pboolVal;
        BSTR *pbstrVal;
        IUnknown **ppunkVal;
        IDispatch **ppdispVal;
        VARIANT *pvarVal;
        void *byref;
    };
};
typedef VARIANT VARIANTARG;
typedef VARIANT *LPVARIANT;
typedef VARIANT *LPVARIANTARG;

#define V_VT(v) ((v)->vt)
#define V_I4(v) ((v)->lVal)
#define V_UI4(v) ((v)->ulVal)
#define V_I8(v) ((v)->llVal)
#define V_UI8(v) ((v)->ullVal)
#define V_I2(v) ((v)->iVal)
#define V_R8(v) ((v)->dblVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_BSTR(v) ((v)->bstrVal)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_BYREF(v) ((v)->byref)
#define V_VARIANTREF(v) ((v)->pvarVal)
#define V_ERROR(v) ((v)->scode)

#define VARIANT_NOVALUEPROP 0x1
#define VARIANT_ALPHABOOL 0x2

extern "C" {
PLATFORM_EXPORT void VariantInit(VARIANTARG *pvarg);
// Frees what the value owns (string, interface reference) and leaves VT_EMPTY. A by-reference
// value owns nothing. DISP_E_BADVARTYPE for a tag we do not know.
PLATFORM_EXPORT HRESULT VariantClear(VARIANTARG *pvarg);
// Deep copy: a new string, a new interface reference. By-reference values copy the pointer.
PLATFORM_EXPORT HRESULT VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc);
// As VariantCopy, following one level of VT_BYREF.
PLATFORM_EXPORT HRESULT VariantCopyInd(VARIANT *pvarDest, const VARIANTARG *pvargSrc);
// Converts between empty, the integer types, VT_R8, VT_BOOL and VT_BSTR (decimal text), and
// between VT_UNKNOWN and VT_DISPATCH by QueryInterface. src may equal dest. Overflow gives
// DISP_E_OVERFLOW, text that is not a number DISP_E_TYPEMISMATCH; dest is unchanged on failure.
PLATFORM_EXPORT HRESULT VariantChangeType(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc,
                                          USHORT wFlags, VARTYPE vt);
}

// ---- IDispatch
#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_ABOUTBOX (-552)

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

// Arguments come last-first: rgvarg[0] is the last positional argument.
struct DISPPARAMS
{
    VARIANTARG *rgvarg;
    DISPID *rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO
{
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void *pvReserved;
    HRESULT(STDMETHODCALLTYPE *pfnDeferredFillIn)(EXCEPINFO *);
    SCODE scode;
};
typedef EXCEPINFO *LPEXCEPINFO;

struct ITypeInfo;
struct ITypeLib;

struct IDispatch : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *pctinfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo **ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *rgszNames, UINT cNames,
                                                    LCID lcid, DISPID *rgDispId)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid,
                                             WORD wFlags, DISPPARAMS *pDispParams,
                                             VARIANT *pVarResult, EXCEPINFO *pExcepInfo,
                                             UINT *puArgErr)
        = 0;

protected:
    ~IDispatch() = default;
};
typedef IDispatch *LPDISPATCH;

// ---- Type information
enum TYPEKIND {
    TKIND_ENUM = 0,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION,
    TKIND_MAX
};
enum FUNCKIND { FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum INVOKEKIND {
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8
};
enum CALLCONV { CC_FASTCALL = 0, CC_CDECL = 1, CC_STDCALL = 4 };
enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 };

#define TYPEFLAG_FAPPOBJECT 0x1
#define TYPEFLAG_FCANCREATE 0x2
#define TYPEFLAG_FLICENSED 0x4
#define TYPEFLAG_FPREDECLID 0x8
#define TYPEFLAG_FHIDDEN 0x10
#define TYPEFLAG_FCONTROL 0x20
#define TYPEFLAG_FDUAL 0x40
#define TYPEFLAG_FDISPATCHABLE 0x1000

#define LIBFLAG_FRESTRICTED 0x1
#define LIBFLAG_FCONTROL 0x2
#define LIBFLAG_FHIDDEN 0x4
#define LIBFLAG_FHASDISKIMAGE 0x8

#define IMPLTYPEFLAG_FDEFAULT 0x1
#define IMPLTYPEFLAG_FSOURCE 0x2

#define PARAMFLAG_NONE 0
#define PARAMFLAG_FIN 0x1
#define PARAMFLAG_FOUT 0x2

typedef DWORD HREFTYPE;

struct TYPEDESC
{
    VARTYPE vt;
};
struct PARAMDESC
{
    void *pparamdescex;
    USHORT wParamFlags;
};
struct ELEMDESC
{
    TYPEDESC tdesc;
    PARAMDESC paramdesc;
};

struct TYPEATTR
{
    GUID guid;
    LCID lcid;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
};

struct FUNCDESC
{
    MEMBERID memid;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    ELEMDESC *lprgelemdescParam;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
};

struct TLIBATTR
{
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

// The members a host needs to call an interface by name; indexes count from 0.
struct ITypeInfo : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR **ppTypeAttr) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC **ppFuncDesc) = 0;
    // Member name first, then the parameter names.
    virtual HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR *rgBstrNames, UINT cMaxNames,
                                               UINT *pcNames)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE *pRefType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT *pImplTypeFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR *rgszNames, UINT cNames,
                                                    MEMBERID *pMemId)
        = 0;
    // Calls pvInstance's IDispatch::Invoke after checking the member and its argument count.
    virtual HRESULT STDMETHODCALLTYPE Invoke(void *pvInstance, MEMBERID memid, WORD wFlags,
                                             DISPPARAMS *pDispParams, VARIANT *pVarResult,
                                             EXCEPINFO *pExcepInfo, UINT *puArgErr)
        = 0;
    // MEMBERID_NIL (-1) asks about the type itself. Any out pointer may be null.
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR *pBstrName,
                                                       BSTR *pBstrDocString, DWORD *pdwHelpContext,
                                                       BSTR *pBstrHelpFile)
        = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo **ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib **ppTLib, UINT *pIndex) = 0;
    virtual void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR *pTypeAttr) = 0;
    virtual void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC *pFuncDesc) = 0;

protected:
    ~ITypeInfo() = default;
};
typedef ITypeInfo *LPTYPEINFO;

#define MEMBERID_NIL DISPID_UNKNOWN

struct ITypeLib : IUnknown
{
    virtual UINT STDMETHODCALLTYPE GetTypeInfoCount() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo **ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND *pTKind) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo **ppTinfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR **ppTLibAttr) = 0;
    // index -1 asks about the library itself.
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR *pBstrName,
                                                       BSTR *pBstrDocString, DWORD *pdwHelpContext,
                                                       BSTR *pBstrHelpFile)
        = 0;
    virtual void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR *pTLibAttr) = 0;

protected:
    ~ITypeLib() = default;
};
typedef ITypeLib *LPTYPELIB;
