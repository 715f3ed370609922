// SPDX-License-Identifier: MIT
#include "zorstyle.h"

namespace {

// Built when the library is loaded and released when it is unloaded; nothing reads it yet.
const QString styleKey("ZorStyle_Plugin");

// The records are what the library is for, yet nothing in it refers to them; this table keeps
// them when the linker drops unreferenced sections (the classes' vtables and all they import).
[[gnu::used, gnu::retain]] const QMetaObject *const records[]
    = {&ZORSTYLE::ZorStyle::staticMetaObject, &ZORSTYLE::ZorStylePlugin::staticMetaObject};

} // namespace
