// SPDX-License-Identifier: MIT
#include "zorstyle.h"

#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QPluginLoader>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <string>

namespace {

const QString libraryPath = QStringLiteral(ZORSTYLEPLUGIN_PATH);

struct DynamicSymbol
{
    char type;    // nm's letter: U undefined, T/D/B strong, W/V weak, u unique, ...
    QString name; // demangled, with its version suffix such as "@Qt_5"
};

// Reads the library's dynamic symbol table with the toolchain's own nm.
QVector<DynamicSymbol> dynamicSymbols(const QString &filter)
{
    QProcess nm;
    nm.start(QStringLiteral(NORVANE_NM),
             {QStringLiteral("-D"), QStringLiteral("-C"), filter, libraryPath});
    QVector<DynamicSymbol> symbols;
    if (!nm.waitForFinished(30000) || nm.exitStatus() != QProcess::NormalExit
        || nm.exitCode() != 0) {
        ADD_FAILURE() << "nm failed: " << nm.readAllStandardError().toStdString();
        return symbols;
    }
    static const QRegularExpression line(
        QStringLiteral("^\\s*(?:[0-9a-fA-F]+\\s+)?(\\S)\\s+(.+)$"));
    const QStringList lines = QString::fromLocal8Bit(nm.readAllStandardOutput()).split('\n');
    for (const QString &text : lines) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch())
            symbols.append({match.captured(1).at(0).toLatin1(), match.captured(2)});
    }
    return symbols;
}

// True while the dynamic loader has the library mapped into this process.
bool isMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return maps.readAll().contains(QFileInfo(libraryPath).canonicalFilePath().toUtf8());
}

TEST(StylePluginLibrary, LoadsAndUnloadsSeveralTimes)
{
    ASSERT_TRUE(QFileInfo::exists(libraryPath)) << libraryPath.toStdString();
    ASSERT_FALSE(isMapped());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        QLibrary library(libraryPath);
        ASSERT_TRUE(library.load()) << library.errorString().toStdString();
        EXPECT_TRUE(library.isLoaded());
        EXPECT_TRUE(isMapped());
        // A symbol the loader cannot drop (a unique global, say) would keep it mapped here.
        ASSERT_TRUE(library.unload()) << library.errorString().toStdString();
        EXPECT_FALSE(library.isLoaded());
        EXPECT_FALSE(isMapped());
    }
}

TEST(StylePluginLibrary, ExportsNothingOfItsOwn)
{
    // Section markers the linker defines in every shared object.
    const QSet<QString> linkerMarkers
        = {QStringLiteral("_edata"), QStringLiteral("_end"), QStringLiteral("__bss_start"),
           QStringLiteral("_init"), QStringLiteral("_fini")};
    const QVector<DynamicSymbol> defined = dynamicSymbols(QStringLiteral("--defined-only"));
    ASSERT_FALSE(defined.isEmpty());
    for (const DynamicSymbol &symbol : defined) {
        SCOPED_TRACE(symbol.name.toStdString());
        if (linkerMarkers.contains(symbol.name))
            continue;
        // Otherwise only weak copies that the compiler emits of other libraries' inline code and
        // type information (the standard library's, or Qt's under the sanitizers) may appear.
        EXPECT_TRUE(symbol.type == 'W' || symbol.type == 'V') << "type " << symbol.type;
        EXPECT_FALSE(symbol.name.contains(QLatin1String("ZORSTYLE")));
        EXPECT_FALSE(symbol.name.startsWith(QLatin1String("qt_")));
    }
}

TEST(StylePluginLibrary, TakesFromQtOnlyTheKeyStringAndTheSuperclassRecords)
{
    QSet<QString> qtImports;
    for (const DynamicSymbol &symbol : dynamicSymbols(QStringLiteral("--undefined-only"))) {
        // Type information is also asked for by the sanitizers' type checks; a vtable coming
        // back would show through its functions instead.
        if (symbol.name.endsWith(QLatin1String("@Qt_5"))
            && !symbol.name.startsWith(QLatin1String("typeinfo for ")))
            qtImports.insert(symbol.name.chopped(5));
    }
    const QSet<QString> expected = {
        QStringLiteral("QProxyStyle::staticMetaObject"),
        QStringLiteral("QStylePlugin::staticMetaObject"),
        // Building the key from ASCII text and releasing it.
        QStringLiteral("QString::fromAscii_helper(char const*, int)"),
        QStringLiteral("QArrayData::deallocate(QArrayData*, unsigned long, unsigned long)"),
    };
    EXPECT_EQ(qtImports, expected) << QStringList(qtImports.values()).join('\n').toStdString();

    QFile file(libraryPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray image = file.readAll();
    for (const char *text : {"ZORSTYLE::ZorStyle", "ZORSTYLE::ZorStylePlugin", "ZorStyle_Plugin"})
        EXPECT_TRUE(image.contains(QByteArray(text, int(qstrlen(text)) + 1))) << text;
}

TEST(StylePluginLibrary, IsNoQtPlugin)
{
    QPluginLoader loader(libraryPath);
    EXPECT_TRUE(loader.metaData().isEmpty());
    EXPECT_FALSE(loader.load());
    EXPECT_EQ(loader.instance(), nullptr);

    QLibrary library(libraryPath);
    ASSERT_TRUE(library.load()) << library.errorString().toStdString();
    EXPECT_EQ(library.resolve("qt_plugin_instance"), nullptr);
    EXPECT_EQ(library.resolve("qt_plugin_query_metadata"), nullptr);
    EXPECT_TRUE(library.unload());
}

struct RecordCase
{
    const char *name;
    const QMetaObject *record;
    const char *className;
    const QMetaObject *superClass;
};

// Keeps the row name, not its bytes, in test listings.
void PrintTo(const RecordCase &row, std::ostream *os)
{
    *os << row.name;
}

class StyleRecords : public ::testing::TestWithParam<RecordCase>
{};

// The record's header starts with its revision; its flags are the thirteenth entry.
constexpr int revisionIndex = 0;
constexpr int flagsIndex = 12;

TEST_P(StyleRecords, NameTheClassAndItsBaseAndDeclareNothing)
{
    const QMetaObject &mo = *GetParam().record;
    EXPECT_STREQ(mo.className(), GetParam().className);
    EXPECT_EQ(mo.superClass(), GetParam().superClass);
    EXPECT_TRUE(mo.inherits(&QObject::staticMetaObject));

    EXPECT_EQ(mo.methodCount(), mo.methodOffset());
    EXPECT_EQ(mo.propertyCount(), mo.propertyOffset());
    EXPECT_EQ(mo.enumeratorCount(), mo.enumeratorOffset());
    EXPECT_EQ(mo.classInfoCount(), mo.classInfoOffset());
    EXPECT_EQ(mo.constructorCount(), 0);

    EXPECT_EQ(mo.d.data[revisionIndex], 8u);
    EXPECT_EQ(mo.d.data[flagsIndex], 0u);
    EXPECT_EQ(mo.d.relatedMetaObjects, nullptr);
    EXPECT_EQ(mo.d.extradata, nullptr);
    // The static meta-call exists and has nothing to dispatch.
    ASSERT_NE(mo.d.static_metacall, nullptr);
    mo.d.static_metacall(nullptr, QMetaObject::InvokeMetaMethod, 0, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    ZorStyle, StyleRecords,
    ::testing::Values(RecordCase{"ProxyStyle", &ZORSTYLE::ZorStyle::staticMetaObject,
                                 "ZORSTYLE::ZorStyle", &QProxyStyle::staticMetaObject},
                      RecordCase{"StylePlugin", &ZORSTYLE::ZorStylePlugin::staticMetaObject,
                                 "ZORSTYLE::ZorStylePlugin", &QStylePlugin::staticMetaObject}),
    [](const ::testing::TestParamInfo<RecordCase> &info) { return std::string(info.param.name); });

} // namespace
