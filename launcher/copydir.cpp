// SPDX-License-Identifier: MIT
#include "copydir.h"

#include "launcherlog.h"
#include "rawnames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString withTrailingSeparator(const QString &path)
{
    QString native = QDir::toNativeSeparators(path);
    if (!native.endsWith(QDir::separator()))
        native += QDir::separator();
    return native;
}

} // namespace

bool copyDir(const QString &srcDir, const QString &strDstDir)
{
    QDir source(srcDir);
    if (!source.exists()) {
        LauncherLog::warning() << "srcDir is Empty";
        return false;
    }
    if (!QDir(strDstDir).exists() && !QDir().mkdir(strDstDir)) {
        LauncherLog::warning() << "mkdir strDstDir failed";
        return false;
    }

    // Qt's listing leaves out names that the file-name encoding cannot carry; such an entry would
    // stay behind unseen, so the copy stops before this folder instead.
    const QString unreadable = RawNames::firstUnreadableName(srcDir, false);
    if (!unreadable.isEmpty()) {
        LauncherLog::warning() << "name " << QDir::toNativeSeparators(unreadable)
                               << " is not valid in the file-name encoding";
        return false;
    }

    const QString srcPrefix = withTrailingSeparator(srcDir);
    const QString dstPrefix = withTrailingSeparator(strDstDir);
    const QFileInfoList entries = source.entryInfoList(QDir::Files | QDir::Dirs | QDir::Drives
                                                           | QDir::Hidden | QDir::NoDotAndDotDot,
                                                       QDir::Unsorted);

    for (const QFileInfo &entry : entries) {
        const QString srcPath = srcPrefix + entry.fileName();
        const QString dstPath = dstPrefix + entry.fileName();
        // Links come first so that a link to a directory is copied, never recursed into.
        if (entry.isFile() || entry.isSymLink()) {
            if (QFileInfo::exists(dstPath) || QFileInfo(dstPath).isSymLink()) {
                if (!QFile::remove(dstPath)) {
                    LauncherLog::warning() << "delete file " << dstPath << "failed!";
                    return false;
                }
            }
            if (!QFile::copy(srcPath, dstPath)) {
                LauncherLog::warning() << "copy file " << dstPath << "failed!";
                return false;
            }
        } else if (entry.isDir()) {
            if (!copyDir(srcPath, dstPath)) {
                LauncherLog::warning() << "copyDir " << srcPath << " to " << dstPath << "failed";
                return false;
            }
        }
    }

    // Only a complete copy removes the source: after a failure it still holds what was not
    // copied yet.
    source.removeRecursively();
    return true;
}
