// SPDX-License-Identifier: MIT
#pragma once

#include <QDebug>
#include <QMessageLogger>

namespace UpgradeLog {

// A warning stream without a source location, whatever the build defines: the launcher's
// message filter tells the engine's own messages apart by exactly that.
inline QDebug warning()
{
    return QMessageLogger().warning();
}

} // namespace UpgradeLog
