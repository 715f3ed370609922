// SPDX-License-Identifier: MIT
// Component category steps of the control's registration, each through the system's category
// manager.
#pragma once

#include "platform/comcat.h"

// Defines a category with its description (at most 127 characters are kept), LCID 0x0409.
HRESULT CreateComponentCategory(CATID catid, const OLECHAR *catDescription);
HRESULT RegisterCLSIDInCategory(REFCLSID clsid, CATID catid);
HRESULT UnRegisterCLSIDInCategory(REFCLSID clsid, CATID catid);
