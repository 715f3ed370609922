// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

namespace LauncherTest {

QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &data);
// Copies a file, making the folders on the way and keeping its permissions.
bool copyFile(const QString &from, const QString &to);

} // namespace LauncherTest
