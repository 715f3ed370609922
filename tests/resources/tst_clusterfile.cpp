// SPDX-License-Identifier: MIT
#include "cupgrade.h"
#include "upgradetypes.h"

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

const QString kClusterFile = QStringLiteral(":/Conf/Conf/System/UpgradeServerCluster.xml");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The attributes of the file as written: "Upgrade" under its own name, each server under its name.
QMap<QString, QMap<QString, QString>> attributesOf(const QByteArray &bytes)
{
    QMap<QString, QMap<QString, QString>> found;
    QXmlStreamReader reader(bytes);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        QMap<QString, QString> attributes;
        for (const QXmlStreamAttribute &a : reader.attributes())
            attributes.insert(a.name().toString(), a.value().toString());
        if (reader.name() == QLatin1String("Upgrade"))
            found.insert(QStringLiteral("Upgrade"), attributes);
        else if (reader.name() == QLatin1String("Server"))
            found.insert(attributes.value(QStringLiteral("name")), attributes);
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return found;
}

TEST(DefaultClusterFile, ReadsBackToItsPlainValuesWithForeignCurrent)
{
    ServerClusterInfo info;
    ASSERT_TRUE(CUpgrade::readServerClusterInfo(kClusterFile, info));
    EXPECT_TRUE(info.isValid());
    ASSERT_EQ(info.vecServer.size(), 3);
    EXPECT_EQ(info.vecServer.at(0).strName, QLatin1String("inter"));
    EXPECT_EQ(info.vecServer.at(1).strName, QLatin1String("cn"));
    EXPECT_EQ(info.vecServer.at(2).strName, QLatin1String("foreign"));
    EXPECT_EQ(info.nCurrServer, 2);

    const auto plain = attributesOf(
        readAll(QStringLiteral(NORVANE_RESOURCES_DIR "/source/UpgradeServerCluster.plain.xml")));
    ASSERT_TRUE(plain.contains(QStringLiteral("Upgrade")));
    const QMap<QString, QString> &upgrade = plain.value(QStringLiteral("Upgrade"));
    EXPECT_EQ(info.strKey, upgrade.value(QStringLiteral("key")));
    EXPECT_EQ(info.strPath, upgrade.value(QStringLiteral("path")));
    EXPECT_EQ(info.strPrefix, upgrade.value(QStringLiteral("prefix")));
    for (const ServerInfo &server : info.vecServer)
        EXPECT_EQ(server.strSvrUrl, plain.value(server.strName).value(QStringLiteral("svrurl")))
            << server.strName.toStdString();
}

TEST(DefaultClusterFile, KeepsItsTextFormatAndCipherLengths)
{
    const QByteArray bytes = readAll(kClusterFile);
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_TRUE(bytes.startsWith("<?xml version='1.0' encoding='UTF-8'?>\n"));
    EXPECT_FALSE(bytes.contains('\r'));
    // One element per line: no line opens a second element.
    for (const QByteArray &line : bytes.split('\n')) {
        int opened = 0;
        for (int i = 0; i + 1 < line.size(); ++i)
            opened += (line.at(i) == '<' && line.at(i + 1) != '/') ? 1 : 0;
        EXPECT_LE(opened, 1) << line.constData();
    }

    // One 16-byte block or two, as lowercase hexadecimal text.
    const auto written = attributesOf(bytes);
    const struct
    {
        const char *element;
        const char *attribute;
        int digits;
    } ciphers[] = {{"Upgrade", "key", 32},  {"Upgrade", "prefix", 32}, {"Upgrade", "path", 64},
                   {"inter", "svrurl", 32}, {"cn", "svrurl", 64},      {"foreign", "svrurl", 64}};
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]+$"));
    for (const auto &c : ciphers) {
        const QString value
            = written.value(QLatin1String(c.element)).value(QLatin1String(c.attribute));
        EXPECT_EQ(value.size(), c.digits) << c.element << " " << c.attribute;
        EXPECT_TRUE(hex.match(value).hasMatch()) << c.element << " " << c.attribute;
    }
}

} // namespace
