// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#if defined(HESTAL_LIBRARY)
#define HESTAL_EXPORT Q_DECL_EXPORT
#else
#define HESTAL_EXPORT Q_DECL_IMPORT
#endif
