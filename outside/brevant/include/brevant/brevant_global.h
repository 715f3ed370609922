// SPDX-License-Identifier: MIT
#pragma once

#if defined(_WIN32)
#if defined(BREVANT_LIBRARY)
#define BREVANT_EXPORT __declspec(dllexport)
#else
#define BREVANT_EXPORT __declspec(dllimport)
#endif
#else
#define BREVANT_EXPORT __attribute__((visibility("default")))
#endif
