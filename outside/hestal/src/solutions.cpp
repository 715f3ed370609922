// SPDX-License-Identifier: MIT
#include <hestal/hestal.h>

QString QGetSolutionsDirPath()
{
    if (qEnvironmentVariableIsSet("HESTAL_SOLUTIONS_DIR"))
        return qEnvironmentVariable("HESTAL_SOLUTIONS_DIR");
    return QStringLiteral("Solutions/");
}
