// SPDX-License-Identifier: MIT
#pragma once

#include "platform/oleidl.h"

namespace platform {

// A new HTML browser control, not yet in place: embed it through its IOleObject.
HRESULT createWebBrowser(REFIID iid, void **ppv);

} // namespace platform
