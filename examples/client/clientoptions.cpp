// SPDX-License-Identifier: MIT
#include "clientoptions.h"

#include <hestal/hestal.h>

#include <QDir>

namespace Olvane {

const char *const kRestartsVariable = "OLVANE_RESTARTS";

namespace {

int boundedInt(const char *name, int fallback, int low, int high)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? qBound(low, value, high) : fallback;
}

} // namespace

ClientOptions ClientOptions::fromEnvironment()
{
    ClientOptions options;
    const QString unattended = qEnvironmentVariable("OLVANE_UNATTENDED");
    options.unattended = !unattended.isEmpty() && unattended != "0";
    options.transcriptFile = qEnvironmentVariable("OLVANE_TRANSCRIPT");
    options.picturesDir = qEnvironmentVariable("OLVANE_PICTURES");
    options.streamSeconds = boundedInt("OLVANE_STREAM_SECONDS", 6, 1, 600);
    options.cameras = boundedInt("OLVANE_CAMERAS", 32, 1, 256);
    options.restarts = boundedInt(kRestartsVariable, 0, 0, 1000);
    options.map = qEnvironmentVariable("OLVANE_MAP") != "0";
    options.solutionFile = qEnvironmentVariable("OLVANE_SOLUTION_FILE");
    if (options.solutionFile.isEmpty()) {
        // The launcher made the program directory the working directory.
        options.solutionFile
            = QDir::current().absoluteFilePath(QGetSolutionsDirPath() + "SolutionInfo.xml");
    }
    return options;
}

} // namespace Olvane
