// SPDX-License-Identifier: MIT
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace LauncherTest {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size();
}

bool copyFile(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    if (!QFile::copy(from, to))
        return false;
    return QFile::setPermissions(to, QFile::permissions(from));
}

} // namespace LauncherTest
