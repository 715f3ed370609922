// SPDX-License-Identifier: MIT
#include "cupgrade.h"
#include "enginelog.h"
#include "rawnames.h"

#include <hestal/hestal.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>
#include <QUrl>

#include <climits>

namespace {

// The client's write function takes untyped data; the engine's takes bytes.
size_t writeToEngine(void *data, size_t size, size_t count, void *user)
{
    return CUpgrade::downloadWriteCallback(static_cast<const char *>(data), size, count, user);
}

// The archive is stored under this name inside the temporary directory, so a name that would
// step out of it, or into a subdirectory, counts as no name at all.
QString archiveNameOf(const QString &url)
{
    const QString name = QUrl(url).fileName(QUrl::FullyDecoded);
    if (name == QLatin1String(".") || name == QLatin1String("..") || name.contains('/')
        || name.contains('\\')) {
        return QString();
    }
    return name;
}

bool isInside(const QString &path, const QString &root)
{
    return path == root || path.startsWith(root + '/');
}

// What the extractor left must stay inside its output directory: no link may lead out of it,
// and none may lead to a directory, since a link to a directory above it would make every
// later walk of the tree endless.
bool extractedLinksStayInside(const QString &outDir)
{
    const QString root = QFileInfo(outDir).canonicalFilePath();
    if (root.isEmpty()) {
        return false;
    }
    QDirIterator it(outDir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (!info.isSymLink()) {
            continue;
        }
        const QString target = info.canonicalFilePath();
        // The target of a dangling link is still where a later entry would land.
        const QString where = target.isEmpty() ? QDir::cleanPath(info.symLinkTarget()) : target;
        if (!isInside(where, root) || QFileInfo(where).isDir()) {
            UpgradeLog::warning() << "link " << info.filePath() << " to " << info.symLinkTarget()
                                  << " refused";
            return false;
        }
    }
    return true;
}

} // namespace

UpgradeOpError CUpgrade::downloadUpgradePacket(const QVector<ModuleVersion> &list)
{
    // The backup of a failed installation may hold the only copy of replaced files; this job
    // would remove it with the temporary directory, so it does not start.
    if (backupLeftOver(m_strBackupDir)) {
        return UpgradeOpEnvCheckFailed;
    }
    const auto fetchAll = [this, &list]() -> UpgradeOpError {
        if (list.isEmpty()) {
            UpgradeLog::warning() << "no module need update";
            return UpgradeOpNoPacket;
        }
        m_nFinishedPacket = 0;
        m_dDownloadedSize = 0;
        m_nPacketCount = list.size();
        m_dTotalSize = 0;
        for (const ModuleVersion &module : list) {
            m_dTotalSize += module.dSize * 1024 * 1024;
        }
        m_nLastProgress = 0;

        if (!createTmpDirForUpgrade()) {
            UpgradeLog::warning() << "createTmpDirForUpgrade failed";
            return UpgradeOpCreateDirFailed;
        }
        if (!QDir(m_strPacketDir).exists() && !QDir().mkpath(m_strPacketDir)) {
            UpgradeLog::warning() << "mkdir " << m_strPacketDir << " failed!";
            return UpgradeOpCreateDirFailed;
        }

        for (const ModuleVersion &module : list) {
            CHttp http;
            http.InitData();
            http.setTimeOut(m_httpTimeOut.nConnectTimeOut, m_httpTimeOut.nLowSpeedLimit,
                            m_httpTimeOut.nLowSpeedTime);

            const QString name = archiveNameOf(module.strUrl);
            if (name.isEmpty()) {
                return UpgradeOpNetworkFailed;
            }
            const QString archive = m_strTmpDir + QDir::separator() + name;

            if (m_fileDownload.isOpen()) {
                m_fileDownload.close();
            }
            m_fileDownload.setFileName(archive);
            // Unbuffered: each block goes straight into the file, without a copy of its own.
            if (!m_fileDownload.open(QIODevice::WriteOnly | QIODevice::Truncate
                                     | QIODevice::Unbuffered)) {
                return UpgradeOpWriteFileFailed;
            }
            const DonwloadFileParam param{&writeToEngine, this, nullptr};
            const HTTP_ERROR httpResult = http.DownloadFile(module.strUrl, param);
            if (m_fileDownload.isOpen()) {
                m_fileDownload.close();
            }
            if (httpResult != HTTP_ERROR_OK) {
                UpgradeLog::warning() << "get " << module.strUrl << " failed";
                return UpgradeOpNetworkFailed;
            }

            if (!do7z(m_str7zPath, archive, m_strPacketDir)) {
                UpgradeLog::warning()
                    << "do7z " << archive << " to " << m_strPacketDir << " failed!";
                return UpgradeOpUnpackFailed;
            }
            ++m_nFinishedPacket;
        }

        if (!testCanUpgrade()) {
            UpgradeLog::warning() << "test can upgrade failed!";
            return UpgradeOpEnvCheckFailed;
        }
        return UpgradeOpSuccess;
    };

    const UpgradeOpError result = fetchAll();
    if (result != UpgradeOpSuccess) {
        removeTmpDir();
    }
    return result;
}

bool CUpgrade::createTmpDirForUpgrade()
{
    if (m_strTmpDir.isEmpty()) {
        UpgradeLog::warning() << "tmp dir is null";
        return false;
    }
    return QDir().mkpath(m_strTmpDir);
}

uint64_t CUpgrade::downloadWriteCallback(const char *data, uint64_t size, uint64_t count,
                                         void *user)
{
    if (user == nullptr) {
        return 0;
    }
    return static_cast<CUpgrade *>(user)->onDownloadData(data, size, count);
}

uint64_t CUpgrade::onDownloadData(const char *data, uint64_t size, uint64_t count)
{
    if (m_bStop.load(std::memory_order_relaxed)) {
        return 0;
    }
    const uint64_t n = size * count;
    // A block written only in part (a full disk, a file size limit) would leave a cut archive.
    if (m_fileDownload.isOpen()
        && m_fileDownload.write(data, static_cast<qint64>(n)) != static_cast<qint64>(n)) {
        return 0;
    }
    m_dDownloadedSize += static_cast<double>(n);

    // Without declared sizes there is nothing to measure the progress against.
    if (m_dTotalSize > 0 && m_nPacketCount > 0) {
        double share
            = (m_nFinishedPacket / m_nPacketCount) * 20 + m_dDownloadedSize / m_dTotalSize * 80.0;
        // A server that declares far too little would push the value past what an int holds.
        if (share > INT_MAX) {
            share = INT_MAX;
        }
        const int progress = static_cast<int>(share);
        if (progress - m_nLastProgress > 5) {
            emit signalGetUpgradePacketStatus(UpgradeOpSuccess, false, progress);
            m_nLastProgress = progress;
        }
    }
    return n;
}

bool CUpgrade::do7z(const QString &sevenZipPath, const QString &archive, const QString &outDir)
{
    const QStringList args{"x", archive, "-o" + outDir, "-aoa"};
    QProcess process;
    process.start(sevenZipPath, args, QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        UpgradeLog::warning() << "7z " << args << " start failed! error is "
                              << process.errorString();
        return false;
    }
    // Nothing is ever typed in; a prompt (a password, say) then ends instead of waiting forever.
    process.closeWriteChannel();
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit) {
        UpgradeLog::warning() << "excute 7z " << args << " failed!";
        return false;
    }
    // The extractor ends normally with an error code when it rejects the archive (damaged,
    // cut, or no archive at all); what it left is incomplete.
    if (process.exitCode() != 0) {
        UpgradeLog::warning() << "excute 7z " << args << " failed! exit code is "
                              << process.exitCode();
        return false;
    }
    UpgradeLog::debug() << "excute 7z " << args << " finished!";
    // An entry that the file-name encoding cannot name would be skipped unseen by the
    // installation, so the packet is refused here.
    const QString unreadable = RawNames::firstUnreadableName(outDir, true);
    if (!unreadable.isEmpty()) {
        UpgradeLog::warning() << "name " << unreadable << " is not valid in the file-name encoding";
        return false;
    }
    return extractedLinksStayInside(outDir);
}

bool CUpgrade::testCanUpgrade()
{
    if (!isAppWritable()) {
        UpgradeLog::warning() << "app dir can not be write";
        return false;
    }
    UpgradeLog::debug() << "app dir can be write";

    int fileCount = 0;
    const qint64 size = getDirSize(m_strTmpDir, fileCount);
    UpgradeLog::debug() << fileCount << "files in directory, toatal size is " << size;

    const qint64 remain = getRemainSize(m_strAppDir);
    UpgradeLog::debug() << "RemainSize size is " << remain;
    if (!hasRoomFor(remain, size)) {
        UpgradeLog::warning() << "Driver space does not enough";
        return false;
    }

    if (!QDir(m_strBackupDir).exists() && !QDir().mkdir(m_strBackupDir)) {
        UpgradeLog::warning() << "mkdir " << m_strBackupDir << " failed!";
        return false;
    }
    return true;
}

bool CUpgrade::hasRoomFor(qint64 remain, qint64 size)
{
    // The backup can take as much again as the packets, so twice their size must be free.
    return remain >= 2 * size;
}

bool CUpgrade::isAppWritable()
{
    const QFileInfo app(QCoreApplication::applicationFilePath());
    return app.exists() && app.isWritable();
}

qint64 CUpgrade::getDirSize(const QString &path, int &fileCount)
{
    const QFileInfo info(path);
    if (info.isFile()) {
        fileCount = 1;
        return info.size();
    }
    if (!info.isDir()) {
        return 0;
    }
    const QDir dir(path);
    qint64 total = 0;
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Hidden, QDir::Unsorted);
    for (const QFileInfo &file : files) {
        total += file.size();
        ++fileCount;
    }
    // Linked directories are left out: a link to a folder above would never end.
    const QStringList subDirs = dir.entryList(
        QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Unsorted);
    for (const QString &name : subDirs) {
        const QString subPath = path + QDir::separator() + name;
        total += getDirSize(subPath, fileCount);
        UpgradeLog::debug() << subPath << " size is " << total;
    }
    return total;
}

qint64 CUpgrade::getRemainSize(const QString &path)
{
    const QStorageInfo storage(path);
    if (!storage.isValid()) {
        return 0;
    }
    return storage.bytesAvailable();
}
