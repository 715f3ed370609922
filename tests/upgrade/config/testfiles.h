// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

// Small file helpers shared by the tests of this folder.
bool writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path);

// The lowercase hexadecimal cipher text of a value, as the cluster file stores it.
QString cipherHex(const QString &plain);
