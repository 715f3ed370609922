// SPDX-License-Identifier: MIT
// The web map control module: its application object and its identity.
#pragma once

#include "platform/framework.h"

class CTesselDllApp : public COleControlModule
{
public:
    BOOL InitInstance() override;
    int ExitInstance() override;
};

extern const GUID g_tlid;
extern const WORD g_wVerMajor;
extern const WORD g_wVerMinor;
