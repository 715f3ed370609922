// SPDX-License-Identifier: MIT
// Export macro of the object services library.
#pragma once

#if defined(PLATFORM_COM_LIBRARY)
#define PLATFORM_EXPORT __attribute__((visibility("default")))
#else
#define PLATFORM_EXPORT
#endif

// Interfaces use the one calling convention of the target; kept as a name so that declarations
// read the same on every platform.
#define STDMETHODCALLTYPE
// Entry points of modules and of the platform are always visible from outside their module.
#define STDAPI extern "C" __attribute__((visibility("default"))) HRESULT
