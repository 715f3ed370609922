// SPDX-License-Identifier: MIT
// Export macro of the control framework library.
#pragma once

#if defined(PLATFORM_AFX_LIBRARY)
#define PLATFORM_AFX_EXPORT __attribute__((visibility("default")))
#else
#define PLATFORM_AFX_EXPORT
#endif

// Functions that must stay inside the module that calls them (each module has its own state).
#define PLATFORM_MODULE_LOCAL __attribute__((visibility("hidden")))
