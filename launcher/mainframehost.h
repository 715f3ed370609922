// SPDX-License-Identifier: MIT
#pragma once

#include <string>

class QPluginLoader;

// What the main frame run asks the launcher to do next.
enum MainFrameResult {
    MainFrameLoadFailed = -1,
    MainFrameRestart = 1,
    MainFrameUpgrade = 2,
    MainFrameRunAgain = 3,
};

// Loads the main frame plug-in from the solutions directory through loader and runs it with
// "Norvane", followed by " " and argument when argument is not empty. Returns the run's result,
// or -1 when the plug-in cannot be loaded or does not offer the main frame interface. The
// plug-in stays loaded; the caller unloads it.
int loadMainFramePlugin(QPluginLoader *loader, std::string argument);
