// SPDX-License-Identifier: MIT
#include "upgradetypes.h"

void registerUpgradeMetaTypes()
{
    qRegisterMetaType<UpgradeOpError>("UpgradeOpError");
    qRegisterMetaType<QVector<ModuleVersion>>("QVector<ModuleVersion>");
}
