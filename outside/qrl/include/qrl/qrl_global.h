// SPDX-License-Identifier: MIT
#pragma once

#if defined(_WIN32)
#if defined(QRL_LIBRARY)
#define QRL_EXPORT __declspec(dllexport)
#else
#define QRL_EXPORT __declspec(dllimport)
#endif
#else
#define QRL_EXPORT __attribute__((visibility("default")))
#endif

#if defined(__GNUC__) || defined(__clang__)
#define QRL_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QRL_PRINTF_FORMAT(fmt, args)
#endif
