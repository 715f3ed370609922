// SPDX-License-Identifier: MIT
#pragma once

#include "upgradetypes.h"

#include <QFile>
#include <QSet>
#include <QString>
#include <QThread>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <functional>

namespace ZorGUI {
class ZorDomNodeResolve;
} // namespace ZorGUI

// The three values handed, in this order, to the HTTP client's setTimeOut.
struct HttpTimeOut
{
    int nConnectTimeOut = 20000;
    int nLowSpeedLimit = 512;
    int nLowSpeedTime = 20;
};

// State of one copy with backup: where the current level backs up replaced files, and every
// destination file copied and directory created, in order, so that a failed copy can be undone.
struct CopyDirParam
{
    QString strBackupDir;
    QVector<QString> vecCopiedPath;
    // Files this copy replaced or wrote, by their real paths (folder links resolved): a file
    // reached again through another path is not backed up again, since its backup, if it
    // needs one, already holds the content from before.
    QSet<QString> setWrittenFile;
};

// The upgrade engine. Its jobs run on its own thread; the launcher itself only uses the
// class-level hand-off to the upgrade tool.
class CUpgrade : public QThread
{
    Q_OBJECT

public:
    CUpgrade();
    ~CUpgrade() override;

    void setRunMode(int mode);
    void setLocalModuleVersion(const QVector<ModuleVersion> &list);
    void setDownloadModuleVersion(const QVector<ModuleVersion> &list);
    void setHttpTimeOut(const HttpTimeOut &timeOut);
    HttpTimeOut httpTimeOut() const { return m_httpTimeOut; }
    void setTmpDir(const QString &dir);
    void stopDownload();
    bool removeTmpDir();

    UpgradeOpError getUpdateModuleVersion(const QVector<ModuleVersion> &local,
                                          QVector<ModuleVersion> &needUpgrade,
                                          QVector<ModuleVersion> &server);

    static void checkUpdate(const QString &solutionFile, CUpgrade *upgrade);
    static bool isToolBoxExist();
    static void startGetUpdateModuleVersion(const QString &solutionFile, CUpgrade *upgrade);

    // Starts the staged upgrade tool detached and, when it started, asks the application to quit.
    static bool startUpgradeTool(const QString &tmpDir);

    // Download, extraction and the check before installing.
    UpgradeOpError downloadUpgradePacket(const QVector<ModuleVersion> &list);
    bool createTmpDirForUpgrade();
    static uint64_t downloadWriteCallback(const char *data, uint64_t size, uint64_t count,
                                          void *user);
    uint64_t onDownloadData(const char *data, uint64_t size, uint64_t count);
    static bool do7z(const QString &sevenZipPath, const QString &archive, const QString &outDir);
    bool testCanUpgrade();
    // The space rule of testCanUpgrade: remain free bytes hold twice size.
    static bool hasRoomFor(qint64 remain, qint64 size);
    static bool isAppWritable();
    static qint64 getDirSize(const QString &path, int &fileCount);
    static qint64 getRemainSize(const QString &path);

    // Installation with backup and rollback.
    static bool copyDir(const QString &srcDir, const QString &strDstDir, int mode,
                        CopyDirParam *pCopyDirParam);
    UpgradeOpError upgradeTmpDirToDstDir();
    static UpgradeOpError upgradeSolutionPacket(const QString &rootDir,
                                                const QString &solutionFile);
    static bool deleteTmpDir(const QString &rootDir);

    // Single file steps of copyDir that tests can make fail. A set hook is asked before each
    // step and the step fails when it answers true; nothing is set in normal runs.
    enum class CopyStep { Backup, Remove, Copy };
    using CopyFaultHook = std::function<bool(CopyStep step, int mode, const QString &path)>;
    static void setCopyFaultHook(CopyFaultHook hook);

    // Cluster file, solution file and version query.
    static bool readServerClusterInfo(const QString &file, ServerClusterInfo &info);
    static bool saveServerClusterInfo(const ServerClusterInfo &info, const QString &file);
    static bool getNodeAttributeDecrypt(const ZorGUI::ZorDomNodeResolve &node,
                                        const QString &attribute, QString &value);
    static bool setAttributeEncrypt(ZorGUI::ZorDomNodeResolve &node, const QString &attribute,
                                    const QString &value);
    static bool setNodeAttributeEncrypt(ZorGUI::ZorDomNodeResolve &parent, const QString &nodeName,
                                        const QString &attribute, const QString &value);
    static bool setChildNodeValue(ZorGUI::ZorDomNodeResolve &parent, const QString &nodeName,
                                  const QString &value);

    static bool getModuleVersionFromSolutionInfoFile(const QString &file,
                                                     QVector<ModuleVersion> &list);
    static bool getModuleVersionFromNode(const ZorGUI::ZorDomNodeResolve &node,
                                         ModuleVersion &module);
    static bool getUpdateModuleInfo(QVector<ModuleVersion> local,
                                    const QVector<ModuleVersion> &server,
                                    QVector<ModuleVersion> &needUpgrade);
    static bool updateModuleVersionToSolution(ZorGUI::ZorDomNodeResolve &solutions,
                                              const ModuleVersion &module);
    static bool updateSolutionInfoFile(const QString &source, const QString &target,
                                       const QVector<ModuleVersion> &list);
    static UpgradeOpError upgradeInfoToSolutionInfoFile(const QString &packetDir,
                                                        const QString &solutionFile);
    static bool writeSolutionInfoToPacket(const QString &solutionFile, const QString &rootDir,
                                          const QVector<ModuleVersion> &list);

    // Asks the current server of info for the modules on offer, with m_httpTimeOut.
    bool getVersionInfoFromServer(const ServerClusterInfo &info,
                                  QVector<ModuleVersion> &serverList);
    // End of cluster file, solution file and version query.

signals:
    void signalGetUpdateModuleVersionFinish(UpgradeOpError upgradeOpErr,
                                            QVector<ModuleVersion> vecNeedUpgrade,
                                            QVector<ModuleVersion> vecServerModuleVersion);
    void signalGetUpgradePacketStatus(UpgradeOpError upgradeOpErr, bool isFinished, int progess);
    void signalUpgradeFinish(UpgradeOpError upgradeOpErr);

protected:
    void run() override;

private:
    void initTmpSubDirs();
    static void rollBack(const CopyDirParam &param);
    static void removeCreatedDirs(const CopyDirParam &param);
    // Whether backupDir holds files left by an installation that could not restore them;
    // warns, naming the folder, when it does.
    static bool backupLeftOver(const QString &backupDir);

    QString m_strAppDir;
    QString m_strTmpDir;
    QString m_strServerClusterCfg;
    QString m_str7zPath;
    QString m_strPacketDir;
    QString m_strBackupDir;
    int m_nRunMode = 0;
    QVector<ModuleVersion> m_vecLocalModuleVersion;
    QVector<ModuleVersion> m_vecDownloadModuleVersion;
    // Raised from another thread while a download runs; never lowered.
    std::atomic<bool> m_bStop{false};
    QFile m_fileDownload;
    double m_dTotalSize = 0;
    double m_dDownloadedSize = 0;
    int m_nFinishedPacket = 0;
    int m_nPacketCount = 0;
    int m_nLastProgress = 0;
    HttpTimeOut m_httpTimeOut;
};
