// SPDX-License-Identifier: MIT
// The control's property page; it edits no property.
#pragma once

#include "platform/framework.h"

class CTesselDllPropPage : public COlePropertyPage
{
    DECLARE_DYNCREATE(CTesselDllPropPage)
public:
    CTesselDllPropPage();

    class CTesselDllPropPageFactory : public COleObjectFactory
    {
    public:
        CTesselDllPropPageFactory();
        BOOL UpdateRegistry(BOOL bRegister) override;
    };
    static CTesselDllPropPageFactory factory;
    static const GUID guid;
};
