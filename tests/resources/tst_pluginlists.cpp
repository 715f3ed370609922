// SPDX-License-Identifier: MIT
#include "bundletest.h"

#include <QMap>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

using namespace BundleTest;

namespace {

const QString kLive[] = {QStringLiteral("RealMonitorUI"), QStringLiteral("PlayBackUI")};
const QString kMonitor = QStringLiteral("MonitorUI");

enum class State { Absent, Commented, Enabled };

struct PluginListRow
{
    const char *file;
    bool mac;
    State live;    // "RealMonitorUI" and "PlayBackUI"
    State monitor; // "MonitorUI"
};

void PrintTo(const PluginListRow &row, std::ostream *os)
{
    *os << row.file;
}

const PluginListRow kPluginLists[] = {
    {"Plugin.xml", false, State::Absent, State::Enabled},
    {"Plugin-Norvane.xml", false, State::Absent, State::Enabled},
    {"Plugin-Alvero.xml", false, State::Absent, State::Enabled},
    {"Plugin-Cadrix.xml", false, State::Absent, State::Enabled},
    {"Plugin-Brenna.xml", false, State::Enabled, State::Commented},
    {"Plugin_MAC.xml", true, State::Commented, State::Enabled},
    {"Plugin_Norvane_MAC.xml", true, State::Commented, State::Enabled},
    {"Plugin_Alvero_MAC.xml", true, State::Commented, State::Enabled},
    {"Plugin_Cadrix_MAC.xml", true, State::Commented, State::Enabled},
    {"Plugin_Brenna_MAC.xml", true, State::Enabled, State::Commented},
};

QByteArray listBytes(const char *file)
{
    return resourceBytes(QStringLiteral(":/Conf/Conf/System/") + QLatin1String(file));
}

// One plug-in as a reader of the list sees it.
struct Plugin
{
    QString section;
    QVector<QPair<QString, QString>> attributes;
    QStringList children;
    bool operator==(const Plugin &o) const
    {
        return section == o.section && attributes == o.attributes && children == o.children;
    }
};

QVector<Plugin> pluginsOf(const ParsedXml &xml)
{
    QVector<Plugin> plugins;
    QMap<int, int> byElement;
    for (int i = 0; i < xml.elements.size(); ++i) {
        const Element &e = xml.elements.at(i);
        if (e.name == QLatin1String("Plugin")) {
            byElement.insert(i, plugins.size());
            plugins.append({xml.elements.at(e.parent).name, e.attributes, {}});
        } else if (e.name == QLatin1String("Child") && byElement.contains(e.parent)) {
            plugins[byElement.value(e.parent)].children << e.attribute(QStringLiteral("id"));
        }
    }
    return plugins;
}

QString idOf(const Plugin &p)
{
    for (const auto &a : p.attributes) {
        if (a.first == QLatin1String("id"))
            return a.second;
    }
    return {};
}

// The library name without its platform form, so lists of two platforms can be compared.
QVector<Plugin> withPlainNames(QVector<Plugin> plugins)
{
    static const QRegularExpression form(QStringLiteral("^(lib)?(.*)\\.(dll|dylib)$"));
    for (Plugin &p : plugins) {
        for (auto &a : p.attributes) {
            if (a.first == QLatin1String("name"))
                a.second = form.match(a.second).captured(2);
        }
    }
    return plugins;
}

QVector<Plugin> without(QVector<Plugin> plugins, const QStringList &ids)
{
    plugins.erase(std::remove_if(plugins.begin(), plugins.end(),
                                 [&](const Plugin &p) { return ids.contains(idOf(p)); }),
                  plugins.end());
    return plugins;
}

// Entries of the user-interface section in line order, commented ones included.
QVector<QPair<QString, bool>> uiLines(const QByteArray &bytes)
{
    static const QRegularExpression entry(QStringLiteral("^\\t\\t(<!--)?<Plugin id=\"([^\"]+)\""));
    QVector<QPair<QString, bool>> found;
    bool inUi = false;
    for (const QByteArray &raw : lines(bytes)) {
        const QString line = QString::fromUtf8(raw);
        if (line == QLatin1String("\t<UIPlugin>"))
            inUi = true;
        else if (line == QLatin1String("\t</UIPlugin>"))
            inUi = false;
        const QRegularExpressionMatch m = entry.match(line);
        if (inUi && m.hasMatch())
            found.append({m.captured(2), m.capturedLength(1) > 0});
    }
    return found;
}

class PluginList : public ::testing::TestWithParam<PluginListRow>
{};

TEST_P(PluginList, KeepsItsTextFormat)
{
    const QByteArray bytes = listBytes(GetParam().file);
    ASSERT_FALSE(bytes.isEmpty());
    const QList<QByteArray> all = lines(bytes);
    ASSERT_GE(all.size(), 4);
    EXPECT_EQ(all.at(0), QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>"));
    EXPECT_EQ(all.at(1), QByteArray());
    EXPECT_EQ(all.at(2), QByteArray("<Plugins>"));
    EXPECT_FALSE(bytes.contains('\r'));
    EXPECT_TRUE(isValidUtf8(bytes));
    EXPECT_TRUE(indentedWithTabs(bytes));

    // One entry is written as an empty element; the others have an end tag.
    static const QRegularExpression emptyPlugin(QStringLiteral("<Plugin [^>]*/>"));
    QStringList empties;
    for (auto it = emptyPlugin.globalMatch(QString::fromUtf8(bytes)); it.hasNext();)
        empties << it.next().captured(0);
    ASSERT_EQ(empties.size(), 1);
    EXPECT_TRUE(empties.first().startsWith(QLatin1String("<Plugin id=\"EmapUI\"")));
}

TEST_P(PluginList, ReadsAsWellFormedPluginEntries)
{
    const PluginListRow &row = GetParam();
    const ParsedXml xml = parseXml(listBytes(row.file));
    ASSERT_TRUE(xml.ok) << xml.error.toStdString();
    ASSERT_FALSE(xml.elements.isEmpty());
    EXPECT_EQ(xml.elements.first().name, QLatin1String("Plugins"));
    EXPECT_TRUE(xml.elements.first().attributes.isEmpty());
    EXPECT_TRUE(xml.onlyWhitespaceText);

    const QStringList sections = xml.rootChildNames();
    EXPECT_EQ(sections, QStringList({QStringLiteral("UIPlugin"), QStringLiteral("SkinPlugin")}));

    const QMap<int, QString> groupOfType
        = {{0, QStringLiteral("Video")},   {1, QStringLiteral("AccessControl")},
           {2, QStringLiteral("General")}, {3, QStringLiteral("Maintenance")},
           {4, QStringLiteral("Guide")},   {-1, QStringLiteral("Maintenance")}};
    const QStringList uiAttributes
        = {QStringLiteral("id"), QStringLiteral("type"), QStringLiteral("name"),
           QStringLiteral("index"), QStringLiteral("resolutionName")};
    const QStringList skinAttributes = {QStringLiteral("id"), QStringLiteral("name")};

    QSet<QString> ids;
    QSet<int> indexes;
    for (int i = 0; i < xml.elements.size(); ++i) {
        const Element &e = xml.elements.at(i);
        const QString path = xml.path(i);
        SCOPED_TRACE(path.toStdString() + " " + e.attribute(QStringLiteral("id")).toStdString());
        if (path == QLatin1String("Plugins/UIPlugin/Plugin")) {
            EXPECT_EQ(e.attributeNames(), uiAttributes);
            bool typeOk = false, indexOk = false;
            const int type = e.attribute(QStringLiteral("type")).toInt(&typeOk);
            const int index = e.attribute(QStringLiteral("index")).toInt(&indexOk);
            EXPECT_TRUE(typeOk && indexOk);
            EXPECT_TRUE(groupOfType.contains(type));
            EXPECT_EQ(e.attribute(QStringLiteral("resolutionName")), groupOfType.value(type));
            EXPECT_FALSE(indexes.contains(index));
            indexes.insert(index);
            const QString name = e.attribute(QStringLiteral("name"));
            const bool platformForm = row.mac ? name.startsWith(QLatin1String("lib"))
                                                    && name.endsWith(QLatin1String(".dylib"))
                                              : !name.startsWith(QLatin1String("lib"))
                                                    && name.endsWith(QLatin1String(".dll"));
            EXPECT_TRUE(platformForm) << name.toStdString();
        } else if (path == QLatin1String("Plugins/SkinPlugin/Plugin")) {
            EXPECT_EQ(e.attributeNames(), skinAttributes);
            const QString name = e.attribute(QStringLiteral("name"));
            EXPECT_TRUE(!name.startsWith(QLatin1String("lib"))
                        && name.endsWith(row.mac ? ".dylib" : ".dll"));
        } else if (path == QLatin1String("Plugins/UIPlugin/Plugin/Child")) {
            EXPECT_EQ(e.attributeNames(), QStringList{QStringLiteral("id")});
            continue;
        } else {
            EXPECT_TRUE(e.parent <= 0) << "unexpected element";
            continue;
        }
        const QString id = e.attribute(QStringLiteral("id"));
        EXPECT_FALSE(id.isEmpty());
        EXPECT_FALSE(ids.contains(id));
        ids.insert(id);
    }
}

TEST_P(PluginList, ChildrenNameEnabledPluginsOfTheSameList)
{
    const QVector<Plugin> plugins = pluginsOf(parseXml(listBytes(GetParam().file)));
    QSet<QString> enabledUi;
    for (const Plugin &p : plugins) {
        if (p.section == QLatin1String("UIPlugin"))
            enabledUi.insert(idOf(p));
    }
    int groups = 0;
    for (const Plugin &p : plugins) {
        if (p.children.isEmpty())
            continue;
        ++groups;
        for (const QString &child : p.children) {
            EXPECT_TRUE(enabledUi.contains(child)) << child.toStdString();
            EXPECT_NE(child, idOf(p));
        }
    }
    EXPECT_GT(groups, 0);
}

TEST_P(PluginList, CommentedOutPluginsAreInvisibleToTheReader)
{
    const PluginListRow &row = GetParam();
    const QByteArray bytes = listBytes(row.file);
    const ParsedXml xml = parseXml(bytes);
    QSet<QString> entries;
    for (const Plugin &p : pluginsOf(xml))
        entries.insert(idOf(p));

    // Each comment holds one whole entry, and the reader does not see it.
    QSet<QString> commented;
    for (const QString &comment : xml.comments) {
        const ParsedXml inner = parseXml(comment);
        ASSERT_TRUE(inner.ok) << comment.toStdString();
        ASSERT_EQ(inner.elements.size(), 1);
        EXPECT_EQ(inner.elements.first().name, QLatin1String("Plugin"));
        const QString id = inner.elements.first().attribute(QStringLiteral("id"));
        EXPECT_FALSE(entries.contains(id)) << id.toStdString();
        commented.insert(id);
    }

    auto stateOf = [&](const QString &id) {
        return entries.contains(id) ? State::Enabled
                                    : (commented.contains(id) ? State::Commented : State::Absent);
    };
    for (const QString &id : kLive)
        EXPECT_EQ(stateOf(id), row.live) << id.toStdString();
    EXPECT_EQ(stateOf(kMonitor), row.monitor);
    EXPECT_EQ(commented.size(),
              (row.live == State::Commented ? 2 : 0) + (row.monitor == State::Commented ? 1 : 0));

    // Where the live view and playback entries appear at all, they lead the list.
    const auto order = uiLines(bytes);
    if (row.live != State::Absent) {
        ASSERT_GE(order.size(), 2);
        EXPECT_EQ(order.at(0).first, kLive[0]);
        EXPECT_EQ(order.at(1).first, kLive[1]);
    }
}

INSTANTIATE_TEST_SUITE_P(Bundle, PluginList, ::testing::ValuesIn(kPluginLists),
                         [](const ::testing::TestParamInfo<PluginListRow> &info) {
                             return QString::fromLatin1(info.param.file)
                                 .remove(QStringLiteral(".xml"))
                                 .replace(QLatin1Char('-'), QLatin1Char('_'))
                                 .toStdString();
                         });

TEST(PluginListVariants, EditionsShareTheContentOfTheirPlatformDefault)
{
    const QByteArray windows = listBytes("Plugin.xml");
    const QByteArray mac = listBytes("Plugin_MAC.xml");
    ASSERT_FALSE(windows.isEmpty());
    ASSERT_FALSE(mac.isEmpty());
    EXPECT_TRUE(listBytes("Plugin-Norvane.xml") == windows);
    EXPECT_TRUE(listBytes("Plugin-Alvero.xml") == windows);
    EXPECT_TRUE(listBytes("Plugin-Cadrix.xml") == windows + '\t');
    for (const char *file :
         {"Plugin_Norvane_MAC.xml", "Plugin_Alvero_MAC.xml", "Plugin_Cadrix_MAC.xml"})
        EXPECT_TRUE(listBytes(file) == mac) << file;
}

TEST(PluginListVariants, BrennaSwapsMonitorForLiveViewAndPlayback)
{
    const QStringList live = {kLive[0], kLive[1]};
    for (const auto &pair : {std::make_pair("Plugin.xml", "Plugin-Brenna.xml"),
                             std::make_pair("Plugin_MAC.xml", "Plugin_Brenna_MAC.xml")}) {
        SCOPED_TRACE(pair.second);
        const QVector<Plugin> standard = pluginsOf(parseXml(listBytes(pair.first)));
        const QVector<Plugin> brenna = pluginsOf(parseXml(listBytes(pair.second)));
        EXPECT_EQ(without(standard, {kMonitor}), without(brenna, live));
    }
}

TEST(PluginListVariants, PlatformsDifferOnlyInLibraryNames)
{
    for (const auto &pair : {std::make_pair("Plugin.xml", "Plugin_MAC.xml"),
                             std::make_pair("Plugin-Brenna.xml", "Plugin_Brenna_MAC.xml")}) {
        SCOPED_TRACE(pair.first);
        const QVector<Plugin> windows = withPlainNames(pluginsOf(parseXml(listBytes(pair.first))));
        const QVector<Plugin> mac = withPlainNames(pluginsOf(parseXml(listBytes(pair.second))));
        EXPECT_EQ(windows, mac);
    }
}

} // namespace
