// SPDX-License-Identifier: MIT
#include "cupgrade.h"

#include "enginelog.h"
#include "outsidefiles.h"
#include "rawnames.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

CUpgrade::CUpgrade()
    : QThread(nullptr)
{
    registerUpgradeMetaTypes();
    m_strAppDir = QCoreApplication::applicationDirPath();
    m_str7zPath = m_strAppDir + QDir::separator() + OutsideFiles::kExtractor;
    m_strServerClusterCfg = kBundledServerClusterFile;
    m_strTmpDir = m_strAppDir + QDir::separator() + "Tmp";
    initTmpSubDirs();
}

CUpgrade::~CUpgrade()
{
    m_bStop = true;
    // A QThread destroyed while it runs takes the process down; the raised flag ends a download
    // at its next block, so waiting here is bounded by the job in hand.
    wait();
    m_dTotalSize = 0;
    m_dDownloadedSize = 0;
    m_nFinishedPacket = 0;
    m_nPacketCount = 0;
    m_nLastProgress = 0;
}

void CUpgrade::initTmpSubDirs()
{
    m_strPacketDir = m_strTmpDir + QDir::separator() + "Packet";
    m_strBackupDir = m_strTmpDir + QDir::separator() + "Backup";
}

void CUpgrade::setRunMode(int mode)
{
    m_nRunMode = mode;
}

void CUpgrade::setLocalModuleVersion(const QVector<ModuleVersion> &list)
{
    m_vecLocalModuleVersion = list;
}

void CUpgrade::setDownloadModuleVersion(const QVector<ModuleVersion> &list)
{
    m_vecDownloadModuleVersion = list;
}

void CUpgrade::setHttpTimeOut(const HttpTimeOut &timeOut)
{
    m_httpTimeOut = timeOut;
}

void CUpgrade::setTmpDir(const QString &dir)
{
    m_strTmpDir = dir;
    initTmpSubDirs();
}

void CUpgrade::stopDownload()
{
    m_bStop = true;
}

bool CUpgrade::removeTmpDir()
{
    return RawNames::removeAll(m_strTmpDir);
}

void CUpgrade::checkUpdate(const QString &solutionFile, CUpgrade *upgrade)
{
    if (isToolBoxExist()) {
        return;
    }
    startGetUpdateModuleVersion(solutionFile, upgrade);
}

bool CUpgrade::isToolBoxExist()
{
    QDir dir(QCoreApplication::applicationDirPath());
    if (!dir.cd("../../")) {
        return false;
    }
    return QFile::exists(dir.absolutePath() + QDir::separator() + OutsideFiles::kToolBox);
}

void CUpgrade::startGetUpdateModuleVersion(const QString &solutionFile, CUpgrade *upgrade)
{
    if (upgrade->isRunning()) {
        UpgradeLog::info() << "last upgrade is running now";
        return;
    }
    QVector<ModuleVersion> local;
    if (!getModuleVersionFromSolutionInfoFile(solutionFile, local)) {
        UpgradeLog::warning() << "getModuleVersionFromSolutionInfoFile from" << solutionFile
                              << " failed!";
        return;
    }
    upgrade->m_httpTimeOut = HttpTimeOut{5000, 512, 20};
    upgrade->m_nRunMode = 1;
    upgrade->m_vecLocalModuleVersion = local;
    upgrade->start();
}

void CUpgrade::run()
{
    switch (m_nRunMode) {
    case 1: {
        QVector<ModuleVersion> needUpgrade;
        QVector<ModuleVersion> server;
        const UpgradeOpError result
            = getUpdateModuleVersion(m_vecLocalModuleVersion, needUpgrade, server);
        emit signalGetUpdateModuleVersionFinish(result, needUpgrade, server);
        break;
    }
    case 2: {
        const UpgradeOpError result = downloadUpgradePacket(m_vecDownloadModuleVersion);
        emit signalGetUpgradePacketStatus(result, true, 100);
        break;
    }
    case 3:
        emit signalUpgradeFinish(upgradeTmpDirToDstDir());
        break;
    default:
        break;
    }
}

UpgradeOpError CUpgrade::getUpdateModuleVersion(const QVector<ModuleVersion> &local,
                                                QVector<ModuleVersion> &needUpgrade,
                                                QVector<ModuleVersion> &server)
{
    ServerClusterInfo info;
    if (!readServerClusterInfo(m_strServerClusterCfg, info)) {
        UpgradeLog::warning() << "read upgrade server cluster info from cfg failed";
        return UpgradeOpReadServerCfgFailed;
    }
    if (!getVersionInfoFromServer(info, server)) {
        UpgradeLog::warning() << "getVersionInfoFromServer failed";
        return UpgradeOpNetworkFailed;
    }
    needUpgrade.clear();
    getUpdateModuleInfo(local, server, needUpgrade);
    return UpgradeOpSuccess;
}

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
    // Without a source location, like every warning of the launcher's own flow.
    UpgradeLog::warning() << "start upgrade failed!";
    return false;
}
