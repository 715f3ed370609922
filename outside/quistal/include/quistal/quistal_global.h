// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#if defined(QUISTAL_LIBRARY)
#define QUISTAL_EXPORT Q_DECL_EXPORT
#else
#define QUISTAL_EXPORT Q_DECL_IMPORT
#endif
