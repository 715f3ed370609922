// SPDX-License-Identifier: MIT
#include "rawnames.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QVector>

#include <functional>

#ifndef Q_OS_WIN
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace RawNames {

#ifdef Q_OS_WIN

// File names are UTF-16 there and Qt lists every one of them.
QString firstUnreadableName(const QString &, bool)
{
    return QString();
}

bool holdsFiles(const QString &root)
{
    QDirIterator it(root, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    return it.hasNext();
}

bool removeAll(const QString &path)
{
    QDir dir(path);
    return !dir.exists() || dir.removeRecursively();
}

#else

namespace {

using Visit = std::function<bool(const QByteArray &path, const QByteArray &name, bool isDir)>;

// Calls visit for each entry of dir with its raw path, its name and whether it is a folder (a
// link never is); stops when visit answers false and then answers false itself. The entries are
// read before the first visit, so that visit may remove them.
bool walk(const QByteArray &dir, const Visit &visit)
{
    QVector<QByteArray> names;
    if (DIR *handle = ::opendir(dir.constData())) {
        while (const dirent *entry = ::readdir(handle)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..") {
                names.append(name);
            }
        }
        ::closedir(handle);
    }
    for (const QByteArray &name : names) {
        const QByteArray path = dir + '/' + name;
        struct stat info;
        const bool isDir = ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
        if (!visit(path, name, isDir)) {
            return false;
        }
    }
    return true;
}

bool decodable(const QByteArray &name)
{
    return QFile::encodeName(QFile::decodeName(name)) == name;
}

} // namespace

QString firstUnreadableName(const QString &dir, bool recursive)
{
    QString found;
    Visit visit;
    visit = [&](const QByteArray &path, const QByteArray &name, bool isDir) {
        if (!decodable(name)) {
            found = QFile::decodeName(path);
            return false;
        }
        return !(recursive && isDir) || walk(path, visit);
    };
    walk(QFile::encodeName(dir), visit);
    return found;
}

bool holdsFiles(const QString &root)
{
    bool any = false;
    Visit visit;
    visit = [&](const QByteArray &path, const QByteArray &, bool isDir) {
        if (!isDir) {
            any = true;
            return false;
        }
        return walk(path, visit);
    };
    walk(QFile::encodeName(root), visit);
    return any;
}

bool removeAll(const QString &path)
{
    const QByteArray top = QFile::encodeName(path);
    struct stat info;
    if (::lstat(top.constData(), &info) != 0) {
        return errno == ENOENT;
    }
    if (S_ISDIR(info.st_mode)) {
        Visit visit;
        visit = [&](const QByteArray &entry, const QByteArray &, bool isDir) {
            if (isDir) {
                walk(entry, visit);
                ::rmdir(entry.constData());
            } else {
                ::unlink(entry.constData());
            }
            return true;
        };
        walk(top, visit);
        ::rmdir(top.constData());
    } else {
        ::unlink(top.constData());
    }
    return ::lstat(top.constData(), &info) != 0 && errno == ENOENT;
}

#endif

} // namespace RawNames
