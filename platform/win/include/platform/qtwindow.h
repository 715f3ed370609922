// SPDX-License-Identifier: MIT
// For the platform's own layers only (the browser control, embedding): the Qt widget behind a
// window handle, so that they can put their widgets into a window. Code written against the
// platform never sees a QWidget.
#pragma once

#include "platform/types.h"

#pragma GCC visibility push(default)

class QWidget;

namespace platform::win {

QWidget *widgetOf(HWND hwnd);
// Runs fn just before the window's widget goes (after WM_DESTROY, before WM_NCDESTROY).
void setDestroyHook(HWND hwnd, void (*fn)(void *), void *context);

} // namespace platform::win

#pragma GCC visibility pop
