// SPDX-License-Identifier: MIT
#include "cupgrade.h"

#include "outsidefiles.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QProcess>

bool CUpgrade::startUpgradeTool(const QString &tmpDir)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString toolPath = appDir + QDir::separator() + "Upgrade/" + OutsideFiles::kUpgradeTool;
    const QString tmp = tmpDir.isEmpty() ? appDir + QDir::separator() + "Tmp" : tmpDir;
    const QStringList args{tmp, QCoreApplication::applicationFilePath()};

    if (QProcess::startDetached(toolPath, args)) {
        QCoreApplication::quit();
        return true;
    }
    qWarning() << "start upgrade failed!";
    return false;
}
