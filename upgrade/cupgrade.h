// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QThread>

// The upgrade engine. Its jobs run on its own thread; the launcher itself only uses the
// class-level hand-off to the upgrade tool.
class CUpgrade : public QThread
{
    Q_OBJECT

public:
    // Starts the staged upgrade tool detached and, when it started, asks the application to quit.
    static bool startUpgradeTool(const QString &tmpDir);
};
