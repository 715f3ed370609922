// SPDX-License-Identifier: MIT
#pragma once

#include <QDebug>
#include <QMessageLogger>

namespace LauncherLog {

// The launcher's warnings carry no source location, whatever the build defines.
inline QDebug warning()
{
    return QMessageLogger().warning();
}

} // namespace LauncherLog
