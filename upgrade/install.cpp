// SPDX-License-Identifier: MIT
#include "cupgrade.h"
#include "enginelog.h"
#include "rawnames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

CUpgrade::CopyFaultHook &copyFaultHook()
{
    static CUpgrade::CopyFaultHook hook;
    return hook;
}

bool faultInjected(CUpgrade::CopyStep step, int mode, const QString &path)
{
    const CUpgrade::CopyFaultHook &hook = copyFaultHook();
    return hook && hook(step, mode, path);
}

// Copies one file like QFile::copy (fails when the target exists, keeps the permissions), but
// without the flush to disk that QFile::copy does for every file, which made installing
// thousands of small files many times slower than a plain copy.
bool copyFile(const QString &from, const QString &to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        return false;
    }
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return false;
    }
    constexpr qint64 kChunk = 1 << 20;
    QByteArray buffer(static_cast<int>(std::min(kChunk, std::max<qint64>(in.size(), 1))),
                      Qt::Uninitialized);
    bool ok = true;
    for (;;) {
        const qint64 got = in.read(buffer.data(), buffer.size());
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        if (out.write(buffer.constData(), got) != got) {
            ok = false;
            break;
        }
    }
    ok = ok && out.flush() && out.setPermissions(in.permissions());
    out.close();
    if (!ok || out.error() != QFileDevice::NoError) {
        out.remove();
        return false;
    }
    return true;
}

QString nativeDirPath(const QString &path)
{
    QString native = QDir::toNativeSeparators(path);
    if (!native.endsWith(QDir::separator())) {
        native += QDir::separator();
    }
    return native;
}

} // namespace

void CUpgrade::setCopyFaultHook(CopyFaultHook hook)
{
    copyFaultHook() = std::move(hook);
}

bool CUpgrade::copyDir(const QString &srcDir, const QString &strDstDir, int mode,
                       CopyDirParam *pCopyDirParam)
{
    if (!QDir(srcDir).exists()) {
        UpgradeLog::warning() << "srcDir is Empty";
        return false;
    }
    const bool safe = mode == 1;
    const bool restore = mode == 2;
    if (safe && (pCopyDirParam == nullptr || pCopyDirParam->strBackupDir.isEmpty())) {
        UpgradeLog::warning()
            << "copy safety need pCopyDirParam and pCopyDirParam->strBackupDir can't be empty";
        return false;
    }

    const QString src = nativeDirPath(srcDir);
    const QString dst = nativeDirPath(strDstDir);
    if (!QDir(dst).exists()) {
        if (!QDir().mkpath(dst)) {
            UpgradeLog::warning() << "mkpath " << dst << "failed";
            return false;
        }
        if (safe) {
            pCopyDirParam->vecCopiedPath.append(dst);
        }
    }

    QString bak;
    QString realDst;
    if (safe) {
        bak = nativeDirPath(pCopyDirParam->strBackupDir);
        if (!QDir(bak).exists() && !QDir().mkpath(bak)) {
            UpgradeLog::warning() << "mkpath " << bak << "failed";
            return false;
        }
        realDst = QDir(dst).canonicalPath() + '/';
    }

    // The level above goes on with its own backup directory, whatever happened here.
    const auto leave = [&](bool result) {
        if (safe) {
            pCopyDirParam->strBackupDir = bak;
        }
        return result;
    };

    const QStringList names = QDir(srcDir).entryList(QDir::Files | QDir::Dirs | QDir::Drives
                                                         | QDir::Hidden | QDir::NoDotAndDotDot,
                                                     QDir::Unsorted);
    bool outcome = true;
    // Qt's listing leaves out names that the file-name encoding cannot carry; such an entry
    // would be skipped unseen, so it is refused like a file that cannot be copied.
    const QString unreadable = RawNames::firstUnreadableName(srcDir, false);
    if (!unreadable.isEmpty()) {
        UpgradeLog::warning() << "name " << unreadable << " is not valid in the file-name encoding";
        if (!restore) {
            return leave(false);
        }
        outcome = false;
    }
    for (const QString &name : names) {
        const QString s = src + name;
        const QString d = dst + name;
        const QFileInfo source(s);
        if (source.isFile() || source.isSymLink()) {
            const QString real = realDst + name;
            if (QFileInfo::exists(d)) {
                const QString backup = bak + name;
                const bool backUp = safe && !pCopyDirParam->setWrittenFile.contains(real);
                if (backUp
                    && (faultInjected(CopyStep::Backup, mode, backup) || !copyFile(d, backup))) {
                    UpgradeLog::warning() << "copy file to " << backup << "failed!";
                    return leave(false);
                }
                if (faultInjected(CopyStep::Remove, mode, d) || !QFile::remove(d)) {
                    UpgradeLog::warning() << "delete file " << d << "failed!";
                    if (restore) {
                        outcome = false;
                        continue;
                    }
                    if (backUp) {
                        if (QFileInfo::exists(d)) {
                            // The old file stays in place, so its backup must not be restored.
                            QFile::remove(backup);
                        } else {
                            UpgradeLog::warning()
                                << "File " << d << " is remove failed, but not exists";
                        }
                    }
                    return leave(false);
                }
                if (safe) {
                    pCopyDirParam->setWrittenFile.insert(real);
                }
            }
            if (!faultInjected(CopyStep::Copy, mode, d) && copyFile(s, d)) {
                if (safe) {
                    pCopyDirParam->vecCopiedPath.append(d);
                    pCopyDirParam->setWrittenFile.insert(real);
                }
                continue;
            }
            UpgradeLog::warning() << "copy file " << d << "failed!";
            if (restore) {
                outcome = false;
                continue;
            }
            return leave(false);
        }
        if (source.isDir()) {
            if (safe) {
                pCopyDirParam->strBackupDir = bak + name;
            }
            if (!copyDir(s, d, mode, pCopyDirParam)) {
                UpgradeLog::warning() << "copyDir " << s << " to " << d << "failed";
                if (restore) {
                    outcome = false;
                    continue;
                }
                return leave(false);
            }
        }
    }
    return leave(outcome);
}

void CUpgrade::rollBack(const CopyDirParam &param)
{
    for (auto it = param.vecCopiedPath.crbegin(); it != param.vecCopiedPath.crend(); ++it) {
        const QFileInfo info(*it);
        if (info.isFile()) {
            QFile::remove(*it);
        } else if (info.isDir()) {
            RawNames::removeAll(*it);
        }
    }
}

void CUpgrade::removeCreatedDirs(const CopyDirParam &param)
{
    // The restore walks the backup, which holds a directory for every level the copy entered,
    // also for the ones the copy created; those did not exist before and go again.
    for (auto it = param.vecCopiedPath.crbegin(); it != param.vecCopiedPath.crend(); ++it) {
        if (it->endsWith(QDir::separator()) && QFileInfo(*it).isDir()) {
            RawNames::removeAll(*it);
        }
    }
}

bool CUpgrade::backupLeftOver(const QString &backupDir)
{
    // A backup of folders alone (the one a download prepares, say) keeps nothing of value.
    if (!RawNames::holdsFiles(backupDir)) {
        return false;
    }
    UpgradeLog::warning() << "backup " << backupDir
                          << " holds the files of a failed installation; restore them first";
    return true;
}

UpgradeOpError CUpgrade::upgradeTmpDirToDstDir()
{
    UpgradeLog::debug() << "Upgrade Tmp Dir To DstDir";
    // The left-over backup of a failed restore may hold the only copy of replaced files.
    if (backupLeftOver(m_strBackupDir)) {
        return UpgradeOpWriteFileFailed;
    }
    RawNames::removeAll(m_strBackupDir);
    CopyDirParam param{m_strBackupDir, {}, {}};
    if (copyDir(m_strPacketDir, m_strAppDir, 1, &param)) {
        UpgradeLog::debug() << "copyDir success";
        removeTmpDir();
        return UpgradeOpSuccess;
    }

    UpgradeLog::warning() << "copyDir failed";
    rollBack(param);
    const bool restored = copyDir(m_strBackupDir, m_strAppDir, 2, nullptr);
    removeCreatedDirs(param);
    if (restored) {
        removeTmpDir();
    }
    return UpgradeOpWriteFileFailed;
}

UpgradeOpError CUpgrade::upgradeSolutionPacket(const QString &rootDir, const QString &solutionFile)
{
    const QFileInfo solution(solutionFile);
    if (!QFileInfo::exists(rootDir + "Tmp/Packet/" + solution.fileName())) {
        return UpgradeOpNoPacket;
    }
    const QString src = rootDir + "Tmp/Packet/";
    const QString dst = solution.absolutePath();
    const QString backup = rootDir + QDir::separator() + "Tmp/Backup/";

    if (backupLeftOver(backup)) {
        return UpgradeOpWriteFileFailed;
    }
    RawNames::removeAll(backup);
    CopyDirParam param{backup, {}, {}};
    UpgradeOpError result = UpgradeOpSuccess;
    if (copyDir(src, dst, 1, &param)) {
        UpgradeLog::debug() << "copyDir success";
    } else {
        UpgradeLog::warning() << "copyDir failed";
        rollBack(param);
        result = UpgradeOpWriteFileFailed;
        const bool restored = copyDir(backup, dst, 2, nullptr);
        removeCreatedDirs(param);
        if (!restored) {
            return result;
        }
    }

    if (!deleteTmpDir(rootDir)) {
        UpgradeLog::warning() << "Delete " << rootDir << "'s tmp dir failed!";
    }
    return result;
}

bool CUpgrade::deleteTmpDir(const QString &rootDir)
{
    const QString tmp = rootDir + "Tmp/";
    if (!RawNames::removeAll(tmp)) {
        UpgradeLog::warning() << "Delete " << tmp << " failed!";
        return false;
    }
    return true;
}
