// SPDX-License-Identifier: MIT
#include "bundletest.h"

#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>

#include <gtest/gtest.h>

using namespace BundleTest;

namespace {

QString editionFile(const QString &edition, const char *file)
{
    return QStringLiteral(":/SetupBase/SetupBase/Eng/") + edition + QLatin1Char('/')
           + QLatin1String(file);
}

// Host names only, under the names reserved for examples and tests.
bool isReservedHostName(const QString &host)
{
    static const QRegularExpression dns(QStringLiteral(
        "^([a-z0-9]([a-z0-9-]*[a-z0-9])?\\.)+(example\\.(com|net|org)|example|test)$"));
    return dns.match(host).hasMatch();
}

struct ServerList
{
    ParsedXml xml;
    QStringList hosts;    // as the reader yields them
    QStringList inLines;  // "ip" values in line order, read from the raw text
    QStringList comments; // trailing comments, one per server line ("" when none)
};

ServerList readServerList(const QString &path, const QString &root)
{
    ServerList list;
    const QByteArray bytes = resourceBytes(path);
    list.xml = parseXml(bytes);
    for (int i : list.xml.find(root + QStringLiteral("/Server")))
        list.hosts << list.xml.elements.at(i).attribute(QStringLiteral("ip"));
    static const QRegularExpression line(
        QStringLiteral("^\\t<Server ip=\"([^\"]*)\"/>( <!-- (.*) -->)?$"));
    for (const QByteArray &raw : lines(bytes)) {
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(raw));
        if (m.hasMatch()) {
            list.inLines << m.captured(1);
            list.comments << m.captured(3);
        }
    }
    return list;
}

// "a.b.c" with "uni" after its first label.
QString encryptedVariant(const QString &host)
{
    const int dot = host.indexOf(QLatin1Char('.'));
    return host.left(dot) + QStringLiteral(".uni") + host.mid(dot);
}

struct ServerListRow
{
    const char *edition;
    int p2pServers;
};

void PrintTo(const ServerListRow &row, std::ostream *os)
{
    *os << row.edition;
}

const ServerListRow kEditions[] = {
    {"Norvane", 3}, {"Alvero", 3}, {"Brenna", 2}, {"Cadrix", 3}, {"Dornel", 2},
};

class EditionServers : public ::testing::TestWithParam<ServerListRow>
{};

TEST_P(EditionServers, ListsYieldTheirServersInFileOrder)
{
    const QString edition = QLatin1String(GetParam().edition);
    const struct
    {
        const char *file;
        const char *root;
        int servers;
    } files[] = {{"P2PServer.xml", "P2PServer", GetParam().p2pServers},
                 {"SkyvaneServer.xml", "SkyvaneServer", 1}};
    for (const auto &f : files) {
        SCOPED_TRACE(f.file);
        const QString path = editionFile(edition, f.file);
        const QByteArray bytes = resourceBytes(path);
        ASSERT_FALSE(bytes.isEmpty());
        EXPECT_TRUE(bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"));
        EXPECT_FALSE(bytes.contains('\r'));
        EXPECT_TRUE(indentedWithTabs(bytes));

        const ServerList list = readServerList(path, QLatin1String(f.root));
        ASSERT_TRUE(list.xml.ok) << list.xml.error.toStdString();
        const Element &top = list.xml.elements.first();
        EXPECT_EQ(top.name, QLatin1String(f.root));
        EXPECT_EQ(top.attributeNames(), QStringList{QStringLiteral("version")});
        EXPECT_EQ(top.attribute(QStringLiteral("version")), QLatin1String("1.0"));
        EXPECT_EQ(list.xml.elements.size(), f.servers + 1);
        for (int i = 1; i < list.xml.elements.size(); ++i)
            EXPECT_EQ(list.xml.elements.at(i).attributeNames(), QStringList{QStringLiteral("ip")});
        EXPECT_EQ(list.hosts.size(), f.servers);
        EXPECT_EQ(list.hosts, list.inLines);
        for (const QString &host : list.hosts)
            EXPECT_TRUE(isReservedHostName(host)) << host.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Bundle, EditionServers, ::testing::ValuesIn(kEditions),
                         [](const ::testing::TestParamInfo<ServerListRow> &info) {
                             return std::string(info.param.edition);
                         });

TEST(ServerListRelations, P2PHostsFollowTheEditionPattern)
{
    QMap<QString, ServerList> p2p;
    for (const QString &edition : editions())
        p2p.insert(edition, readServerList(editionFile(edition, "P2PServer.xml"),
                                           QStringLiteral("P2PServer")));

    // A host and its encrypted variant.
    for (const char *edition : {"Brenna", "Dornel"}) {
        const QStringList &hosts = p2p.value(QLatin1String(edition)).hosts;
        ASSERT_EQ(hosts.size(), 2) << edition;
        EXPECT_EQ(hosts.at(1), encryptedVariant(hosts.at(0))) << edition;
    }
    const ServerList &brenna = p2p.value(QStringLiteral("Brenna"));
    EXPECT_TRUE(brenna.comments.at(0).contains(QLatin1String("unencrypted P2P domain")));
    EXPECT_TRUE(brenna.comments.at(1).contains(QLatin1String("encrypted P2P domain")));
    EXPECT_FALSE(brenna.comments.at(1).contains(QLatin1String("unencrypted")));

    // The first host of the Norvane list is the encrypted variant of some plain host name.
    const QStringList &norvane = p2p.value(QStringLiteral("Norvane")).hosts;
    ASSERT_FALSE(norvane.isEmpty());
    EXPECT_EQ(norvane.first().section(QLatin1Char('.'), 1, 1), QLatin1String("uni"));

    // Alvero has the Cadrix hosts in another order; one host is in these two and in Norvane's.
    const ServerList &cadrix = p2p.value(QStringLiteral("Cadrix"));
    const QStringList &alvero = p2p.value(QStringLiteral("Alvero")).hosts;
    EXPECT_NE(alvero, cadrix.hosts);
    EXPECT_EQ(QSet<QString>(alvero.begin(), alvero.end()),
              QSet<QString>(cadrix.hosts.begin(), cadrix.hosts.end()));
    int common = 0;
    for (const QString &host : cadrix.hosts)
        common += norvane.contains(host) ? 1 : 0;
    EXPECT_EQ(common, 1);

    // Each Cadrix line names its operator.
    for (const QString &comment : cadrix.comments)
        EXPECT_FALSE(comment.trimmed().isEmpty());
}

TEST(ServerListRelations, EveryEditionCarriesTheSameCloudServiceList)
{
    const QByteArray first = resourceBytes(editionFile(editions().first(), "SkyvaneServer.xml"));
    ASSERT_FALSE(first.isEmpty());
    for (const QString &edition : editions())
        EXPECT_TRUE(resourceBytes(editionFile(edition, "SkyvaneServer.xml")) == first)
            << edition.toStdString();
}

const QString kBackupList = QStringLiteral(":/Conf/Conf/System/BackupFileConfig.xml");

TEST(BackupList, KeepsItsTextFormat)
{
    const QByteArray bytes = resourceBytes(kBackupList);
    ASSERT_FALSE(bytes.isEmpty());
    const QList<QByteArray> all = lines(bytes);
    ASSERT_GE(all.size(), 8);
    EXPECT_EQ(all.at(0), QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>"));
    EXPECT_TRUE(all.at(1).isEmpty());
    for (int i = 2; i < 6; ++i)
        EXPECT_TRUE(all.at(i).startsWith("<!--") && all.at(i).endsWith("-->")) << "line " << i + 1;
    EXPECT_TRUE(all.at(6).isEmpty());
    EXPECT_EQ(all.at(7), QByteArray("<BackupFile>"));
    EXPECT_FALSE(bytes.contains('\r'));
    EXPECT_TRUE(isValidUtf8(bytes));
    EXPECT_TRUE(indentedWithTabs(bytes));
}

TEST(BackupList, EveryItemHasARelativePathAndAName)
{
    const ParsedXml xml = parseXml(resourceBytes(kBackupList));
    ASSERT_TRUE(xml.ok) << xml.error.toStdString();
    EXPECT_EQ(xml.elements.first().name, QLatin1String("BackupFile"));
    EXPECT_TRUE(xml.elements.first().attributes.isEmpty());
    EXPECT_TRUE(xml.onlyWhitespaceText);

    const QStringList sections = xml.rootChildNames();
    EXPECT_EQ(sections, QStringList({QStringLiteral("SystemSetting"), QStringLiteral("NormalData"),
                                     QStringLiteral("Folder")}));

    int items = 0;
    for (int i = 0; i < xml.elements.size(); ++i) {
        const Element &e = xml.elements.at(i);
        if (e.parent <= 0)
            continue;
        ++items;
        SCOPED_TRACE(xml.path(i).toStdString());
        EXPECT_EQ(e.name, QLatin1String("Item"));
        EXPECT_EQ(xml.elements.at(e.parent).parent, 0) << "nested deeper than a section";
        EXPECT_EQ(e.attributeNames(),
                  QStringList({QStringLiteral("path"), QStringLiteral("name")}));
        const QString path = e.attribute(QStringLiteral("path"));
        const QString name = e.attribute(QStringLiteral("name"));
        // Relative to the program folder, with forward slashes; "*" is the only wildcard.
        EXPECT_FALSE(path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('\\'))
                     || path.contains(QLatin1Char(':')))
            << path.toStdString();
        EXPECT_FALSE(name.isEmpty());
        EXPECT_FALSE(name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('?'))
                     || name.contains(QLatin1Char('[')))
            << name.toStdString();
    }
    EXPECT_GT(items, 0);
}

const QString kHeader = QStringLiteral(":/Conf/Conf/System/xls_head.txt");

TEST(SpreadsheetHeader, IsStoredInGbk)
{
    const QByteArray bytes = resourceBytes(kHeader);
    ASSERT_FALSE(bytes.isEmpty());
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    ASSERT_NE(gbk, nullptr);
    const QString songti = QStringLiteral(u"宋体");

    QTextCodec::ConverterState state;
    const QString asGbk = gbk->toUnicode(bytes.constData(), bytes.size(), &state);
    EXPECT_EQ(state.invalidChars, 0);
    EXPECT_EQ(asGbk.count(songti), 3);
    EXPECT_EQ(asGbk.count(QStringLiteral(u"常规")), 1);
    // Nothing else outside ASCII.
    QString rest = asGbk;
    rest.remove(songti).remove(QStringLiteral(u"常规"));
    for (QChar c : rest)
        ASSERT_LT(c.unicode(), 0x80) << "non-ASCII character " << c.unicode();

    EXPECT_FALSE(isValidUtf8(bytes));
    EXPECT_FALSE(QString::fromUtf8(bytes).contains(songti));
}

TEST(SpreadsheetHeader, IsOneHeadElement)
{
    const QByteArray bytes = resourceBytes(kHeader);
    EXPECT_TRUE(bytes.startsWith("<head>\n"));
    EXPECT_TRUE(bytes.endsWith("\n</head>"));
    EXPECT_FALSE(bytes.contains('\r'));

    const QString text = QTextCodec::codecForName("GBK")->toUnicode(bytes);
    const ParsedXml xml = parseXml(text);
    ASSERT_TRUE(xml.ok) << xml.error.toStdString();
    const QStringList children = xml.rootChildNames();
    EXPECT_EQ(xml.elements.first().name, QLatin1String("head"));
    EXPECT_EQ(children, QStringList({QStringLiteral("meta"), QStringLiteral("meta"),
                                     QStringLiteral("meta"), QStringLiteral("style")}));
    EXPECT_EQ(xml.elements.at(1).attribute(QStringLiteral("content")),
              QLatin1String("text/html; charset=utf-8"));

    // The spreadsheet program's blocks are comments to everybody else.
    int conditional = 0;
    for (const QString &comment : xml.comments)
        conditional += comment.startsWith(QLatin1String("[if gte mso 9]")) ? 1 : 0;
    EXPECT_EQ(conditional, 3);
}

TEST(SpreadsheetHeader, StyleRulesHangTogether)
{
    const QString text = QTextCodec::codecForName("GBK")->toUnicode(resourceBytes(kHeader));
    // Each mention of the font family comes with its generic family and character set.
    static const QRegularExpression font(QStringLiteral(
        u"font-family:宋体;\\n\\tmso-generic-font-family:auto;\\n\\tmso-font-charset:134;"));
    EXPECT_EQ(text.count(font), 3);

    // Rules are written "selector\n\t{property:value;...}".
    static const QRegularExpression rule(QStringLiteral("^(\\S+)\\n\\t\\{([^}]*)\\}"),
                                         QRegularExpression::MultilineOption);
    QMap<QString, QString> rules;
    QStringList order;
    for (auto it = rule.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        EXPECT_FALSE(rules.contains(m.captured(1))) << m.captured(1).toStdString();
        rules.insert(m.captured(1), m.captured(2));
        order << m.captured(1);
    }
    QStringList expected
        = {QStringLiteral("table"), QStringLiteral("@page"), QStringLiteral("tr"),
           QStringLiteral("col"),   QStringLiteral("br"),    QStringLiteral(".style0"),
           QStringLiteral("td")};
    for (int n = 24; n <= 46; ++n)
        expected << QStringLiteral(".xl%1").arg(n);
    expected << QStringLiteral("ruby") << QStringLiteral("rt");
    EXPECT_EQ(order, expected);

    for (int n = 24; n <= 46; ++n) {
        const QString body = rules.value(QStringLiteral(".xl%1").arg(n));
        SCOPED_TRACE(n);
        EXPECT_TRUE(body.startsWith(QLatin1String("mso-style-parent:style0;")));
        EXPECT_TRUE(body.contains(QLatin1String("white-space:normal;")));
        // Text cells show their value as text, shrink to fit and carry a pattern.
        if (body.contains(QLatin1String("mso-number-format:\"\\@\";"))) {
            EXPECT_TRUE(body.contains(QLatin1String("mso-text-control:shrinktofit;")));
            EXPECT_TRUE(body.contains(QLatin1String("mso-pattern:auto none;")));
        }
    }
    EXPECT_EQ(rules.value(QStringLiteral(".xl44")), rules.value(QStringLiteral(".xl46")));
    EXPECT_TRUE(
        rules.value(QStringLiteral("td")).startsWith(QLatin1String("mso-style-parent:style0;")));
    EXPECT_TRUE(rules.value(QStringLiteral("rt")).contains(QLatin1String("display:none;")));
}

} // namespace
