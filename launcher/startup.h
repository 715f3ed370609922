// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

// What the command line asks of the launcher.
struct LaunchOptions
{
    // The "ur" option's value; read, but nothing acts on it.
    int32_t upgradeResult = 1;
    // The word handed to the first main frame run: empty, or "crash".
    std::string pluginArgument;
};

// Fills options from QCoreApplication::arguments(). False when options is missing or the command
// line does not parse (an unknown option, "ur" without a value); options is then unchanged.
bool parseCommandLine(LaunchOptions *options);
// The same for an explicit argument list whose first entry is the program name.
bool parseCommandLine(LaunchOptions *options, const QStringList &arguments);

// Puts the solutions directory under the program directory in front of "PATH".
bool setLibrarySearchPath();

// The file name of the running program as the operating system reports it, however long;
// empty when it cannot be read. Read it at start-up: once the file is replaced, the name the
// system reports no longer leads to a program.
QString moduleFileName();
