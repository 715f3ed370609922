// SPDX-License-Identifier: MIT
#pragma once

// The library is built with hidden symbols; only what carries this macro is visible to hosts.
#if defined(_WIN32)
#if defined(VARNEX_LIBRARY)
#define VARNEX_EXPORT __declspec(dllexport)
#else
#define VARNEX_EXPORT __declspec(dllimport)
#endif
#else
#define VARNEX_EXPORT __attribute__((visibility("default")))
#endif
