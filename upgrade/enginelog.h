// SPDX-License-Identifier: MIT
#pragma once

#include "upgradewarning.h"

#include <QDebug>
#include <QMessageLogger>

namespace UpgradeLog {

// Debug and information messages of the engine, like its warnings without a source location.
inline QDebug debug()
{
    return QMessageLogger().debug();
}

inline QDebug info()
{
    return QMessageLogger().info();
}

} // namespace UpgradeLog
