// SPDX-License-Identifier: MIT
#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>

// Result of every job of the upgrade engine; travels in queued signals.
enum UpgradeOpError {
    UpgradeOpSuccess = 0,
    UpgradeOpNoPacket = 2,
    UpgradeOpEnvCheckFailed = 3,
    UpgradeOpNetworkFailed = 4,
    UpgradeOpCreateDirFailed = 5,
    UpgradeOpReadServerCfgFailed = 6,
    UpgradeOpWriteFileFailed = 7,
    UpgradeOpReadSolutionFailed = 8,
    UpgradeOpWriteSolutionFailed = 9,
    UpgradeOpUnpackFailed = 10,
};
Q_DECLARE_METATYPE(UpgradeOpError)

// One module: installed (from the solution information file) or offered (from the server).
// llReleaseDate orders versions; strVersion is only shown, never compared.
struct ModuleVersion
{
    QString strId;
    QString strVersion;
    QString strUrl;
    QString strDesc;
    qint64 llReleaseDate = 0;
    double dSize = 0.0;
    int nState = 0;
    QString strIconUrl;
};
// QVector<ModuleVersion> is known to the meta-type system through this declaration.
Q_DECLARE_METATYPE(ModuleVersion)

// One upgrade server of the cluster file, its address deciphered.
struct ServerInfo
{
    QString strName;
    QString strSvrUrl;
};

// The server cluster file in the launcher's resource bundle, the one a check reads.
constexpr char kBundledServerClusterFile[] = ":/Conf/Conf/System/UpgradeServerCluster.xml";

// The deciphered server cluster configuration.
struct ServerClusterInfo
{
    int nCurrServer = -1;
    QVector<ServerInfo> vecServer;
    QString strPrefix;
    QString strPath;
    QString strKey;

    bool isValid() const;
};

// Registers "UpgradeOpError" and "QVector<ModuleVersion>" so that both cross threads in queued
// signals. Safe to call more than once.
void registerUpgradeMetaTypes();
