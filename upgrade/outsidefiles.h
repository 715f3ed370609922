// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
#include <QString>

// Names of the outside files the launcher and the engine use, in this platform's form.
namespace OutsideFiles {

#ifdef Q_OS_WIN
inline const char *const kMainFramePlugin = "Olvane.dll";
inline const char *const kUpgradeTool = "Upgrade.exe";
inline const char *const kExtractor = "7z.exe";
inline const char *const kToolBox = "ToolBox.exe";
#else
inline const char *const kMainFramePlugin = "libOlvane.so";
inline const char *const kUpgradeTool = "Upgrade";
inline const char *const kExtractor = "7z";
inline const char *const kToolBox = "ToolBox";
#endif

// Separator between entries of "PATH".
inline QChar pathListSeparator()
{
    return QDir::listSeparator();
}

} // namespace OutsideFiles
