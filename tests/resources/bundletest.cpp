// SPDX-License-Identifier: MIT
#include "bundletest.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QTextCodec>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace BundleTest {

QStringList editions()
{
    return {QStringLiteral("Norvane"), QStringLiteral("Alvero"), QStringLiteral("Brenna"),
            QStringLiteral("Cadrix"), QStringLiteral("Dornel")};
}

QStringList pluginListNames()
{
    return {QStringLiteral("Plugin.xml"),
            QStringLiteral("Plugin-Norvane.xml"),
            QStringLiteral("Plugin-Alvero.xml"),
            QStringLiteral("Plugin-Brenna.xml"),
            QStringLiteral("Plugin-Cadrix.xml"),
            QStringLiteral("Plugin_MAC.xml"),
            QStringLiteral("Plugin_Norvane_MAC.xml"),
            QStringLiteral("Plugin_Alvero_MAC.xml"),
            QStringLiteral("Plugin_Brenna_MAC.xml"),
            QStringLiteral("Plugin_Cadrix_MAC.xml")};
}

QStringList dictionaryNames()
{
    return {QStringLiteral("CarColorDictionary"),       QStringLiteral("NonVehicleColorDictionary"),
            QStringLiteral("ClothesColorDictionary"),   QStringLiteral("EmotionTypeDictionary"),
            QStringLiteral("CarNumColorDictionary"),    QStringLiteral("GlassesTypeDictionary"),
            QStringLiteral("BagTypeDictionary"),        QStringLiteral("PersonTypeDictionary"),
            QStringLiteral("FaceLibTypeDictionary"),    QStringLiteral("CarOrnamentDictionary"),
            QStringLiteral("NonVehicleTypeDictionary"), QStringLiteral("CarTypeDictionary"),
            QStringLiteral("CarBrandDictionary")};
}

QStringList expectedPaths()
{
    QStringList paths;
    const QString system = QStringLiteral(":/Conf/Conf/System/");
    for (const QString &name : pluginListNames())
        paths << system + name;
    paths << system + QStringLiteral("UpgradeServerCluster.xml")
          << system + QStringLiteral("BackupFileConfig.xml")
          << system + QStringLiteral("xls_head.txt");
    for (const QString &name : dictionaryNames())
        paths << QStringLiteral(":/xml/xml/") + name + QStringLiteral(".xml");
    for (const QString &edition : editions()) {
        const QString folder = QStringLiteral(":/SetupBase/SetupBase/Eng/") + edition;
        paths << folder + QStringLiteral("/P2PServer.xml")
              << folder + QStringLiteral("/SkyvaneServer.xml");
    }
    return paths;
}

namespace {
EarlyCheck &early()
{
    static EarlyCheck check;
    return check;
}
} // namespace

const EarlyCheck &earlyCheck()
{
    return early();
}

void runEarlyCheck()
{
    EarlyCheck &check = early();
    check.ran = true;
    check.applicationExisted = QCoreApplication::instance() != nullptr;
    for (const QString &path : expectedPaths()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.readAll().isEmpty())
            check.unreadable << path;
    }
    for (const QString &top :
         {QStringLiteral(":/Conf"), QStringLiteral(":/xml"), QStringLiteral(":/SetupBase")}) {
        QDirIterator it(top, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            check.listed << it.next();
    }
}

QByteArray resourceBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray sourceBytes(const QString &relativePath)
{
    QFile file(QStringLiteral(NORVANE_RESOURCES_DIR "/") + relativePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool Element::hasAttribute(const QString &key) const
{
    for (const auto &a : attributes) {
        if (a.first == key)
            return true;
    }
    return false;
}

QString Element::attribute(const QString &key) const
{
    for (const auto &a : attributes) {
        if (a.first == key)
            return a.second;
    }
    return {};
}

QStringList Element::attributeNames() const
{
    QStringList names;
    for (const auto &a : attributes)
        names << a.first;
    return names;
}

QString ParsedXml::path(int index) const
{
    QStringList parts;
    for (int i = index; i >= 0; i = elements.at(i).parent)
        parts.prepend(elements.at(i).name);
    return parts.join(QLatin1Char('/'));
}

QVector<int> ParsedXml::find(const QString &wanted) const
{
    QVector<int> found;
    for (int i = 0; i < elements.size(); ++i) {
        if (path(i) == wanted)
            found << i;
    }
    return found;
}

namespace {
ParsedXml parseWith(QXmlStreamReader &reader)
{
    ParsedXml parsed;
    QVector<int> open;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            Element element;
            element.name = reader.name().toString();
            for (const QXmlStreamAttribute &a : reader.attributes())
                element.attributes.append({a.qualifiedName().toString(), a.value().toString()});
            element.parent = open.isEmpty() ? -1 : open.last();
            parsed.elements.append(element);
            open.append(parsed.elements.size() - 1);
            break;
        }
        case QXmlStreamReader::EndElement:
            open.removeLast();
            break;
        case QXmlStreamReader::Comment:
            parsed.comments << reader.text().toString();
            break;
        case QXmlStreamReader::Characters:
            if (!reader.isWhitespace())
                parsed.onlyWhitespaceText = false;
            break;
        default:
            break;
        }
    }
    parsed.ok = !reader.hasError();
    parsed.error = reader.errorString();
    return parsed;
}
} // namespace

QStringList ParsedXml::rootChildNames() const
{
    QStringList names;
    for (const Element &e : elements) {
        if (e.parent == 0)
            names << e.name;
    }
    return names;
}

ParsedXml parseXml(const QByteArray &bytes)
{
    QXmlStreamReader reader(bytes);
    return parseWith(reader);
}

ParsedXml parseXml(const QString &text)
{
    QXmlStreamReader reader(text);
    return parseWith(reader);
}

QList<QByteArray> lines(const QByteArray &bytes)
{
    return bytes.split('\n');
}

bool isValidUtf8(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

bool indentedWithTabs(const QByteArray &bytes)
{
    for (const QByteArray &line : lines(bytes)) {
        for (char c : line) {
            if (c == '\t')
                continue;
            if (c == ' ')
                return false;
            break;
        }
    }
    return true;
}

} // namespace BundleTest

// The bundle has to be readable as soon as static initialisation is over, before any application
// object exists, so that check runs first and the tests report what it saw.
int main(int argc, char **argv)
{
    BundleTest::runEarlyCheck();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
