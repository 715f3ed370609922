// SPDX-License-Identifier: MIT
#include "testfiles.h"

#include <hestal/hestal.h>

#include <QFile>

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString cipherHex(const QString &plain)
{
    QByteArray cipher;
    if (Hestal::AES_Encrypt(plain.toUtf8(), cipher) != Hestal::ERR_OK)
        return QString();
    return QString::fromLatin1(cipher.toHex());
}
