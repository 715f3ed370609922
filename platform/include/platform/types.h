// SPDX-License-Identifier: MIT
// Scalar types, handles and geometry of the object platform. The interfaces' "long" is 32 bits
// everywhere (the C++ long is 64 bits here), and text characters of the interfaces are 16 bits.
#pragma once

#include "platform_global.h"

#include <cstddef>
#include <cstdint>

typedef std::int32_t BOOL;
typedef std::int32_t INT;
typedef std::uint32_t UINT;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef std::int64_t LONGLONG;
typedef std::uint64_t ULONGLONG;
typedef std::uint32_t DWORD;
typedef std::uint16_t WORD;
typedef std::uint8_t BYTE;
typedef std::int16_t SHORT;
typedef std::uint16_t USHORT;
typedef char CHAR;
typedef float FLOAT;
typedef double DOUBLE;
typedef std::int32_t HRESULT;
typedef std::int32_t SCODE;
typedef std::uint32_t LCID;
typedef std::int32_t DISPID;
typedef DISPID MEMBERID;
typedef std::uint16_t VARTYPE;
typedef std::int16_t VARIANT_BOOL;
typedef std::uint32_t COLORREF;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t LRESULT;
typedef std::intptr_t INT_PTR;
typedef std::uintptr_t UINT_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t ULONG_PTR;
typedef std::uintptr_t DWORD_PTR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef char *LPTSTR; // narrow-character build
typedef const char *LPCTSTR;
typedef char TCHAR;
typedef char16_t OLECHAR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;
typedef char16_t WCHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)(a)) | ((DWORD)((WORD)(b))) << 16))
#define RGB(r, g, b)                                                                               \
    ((COLORREF)(((BYTE)(r)) | (((WORD)((BYTE)(g))) << 8) | (((DWORD)(BYTE)(b)) << 16)))

// Handles are opaque: each layer that hands one out keeps its own table behind it.
#define PLATFORM_DECLARE_HANDLE(name)                                                              \
    struct name##__;                                                                               \
    typedef struct name##__ *name
PLATFORM_DECLARE_HANDLE(HWND);
PLATFORM_DECLARE_HANDLE(HINSTANCE);
PLATFORM_DECLARE_HANDLE(HKEY);
PLATFORM_DECLARE_HANDLE(HDC);
PLATFORM_DECLARE_HANDLE(HBRUSH);
PLATFORM_DECLARE_HANDLE(HICON);
PLATFORM_DECLARE_HANDLE(HBITMAP);
PLATFORM_DECLARE_HANDLE(HMENU);
PLATFORM_DECLARE_HANDLE(HRSRC);
PLATFORM_DECLARE_HANDLE(HGLOBAL);
typedef HINSTANCE HMODULE;

struct RECT
{
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef RECT *LPRECT;
typedef const RECT *LPCRECT;

struct POINT
{
    LONG x;
    LONG y;
};
typedef POINT *LPPOINT;

struct SIZE
{
    LONG cx;
    LONG cy;
};
typedef SIZE *LPSIZE;

struct MSG
{
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG *LPMSG;

#define LOCALE_USER_DEFAULT ((LCID)0x0400)
#define LOCALE_SYSTEM_DEFAULT ((LCID)0x0800)
#define LOCALE_NEUTRAL ((LCID)0)
