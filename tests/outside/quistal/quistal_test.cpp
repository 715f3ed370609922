// SPDX-License-Identifier: MIT
#include "qstringprint.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <quistal/quistal.h>

#include <gtest/gtest.h>

#include <string>

using ZorGUI::ZorDomNodeResolve;

namespace {

const QString kSampleFile = QStringLiteral(QUISTAL_SAMPLE_FILE);
const QString kSampleResource = QStringLiteral(":/quistal/sample.xml");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList childNames(const ZorDomNodeResolve &node)
{
    QStringList names;
    for (int i = 0; i < node.GetChildNodeCount(); ++i)
        names << node.GetChild(i).GetNodeName();
    return names;
}

struct SourceRow
{
    const char *name;
    QString path;
};

class XmlLoadTest : public ::testing::TestWithParam<SourceRow>
{};

TEST_P(XmlLoadTest, LoadsTheRootAndFindsChildrenByName)
{
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.LoadXML(GetParam().path));
    EXPECT_EQ(root.GetNodeName(), QStringLiteral("Root"));
    EXPECT_EQ(root.FindChildByNodeName(QStringLiteral("CurrServer")).GetNodeValue(),
              QStringLiteral("foreign"));
    // The first of two elements with the same name.
    const ZorDomNodeResolve servers = root.FindChildByNodeName(QStringLiteral("Servers"));
    EXPECT_EQ(childNames(servers),
              (QStringList{QStringLiteral("Server"), QStringLiteral("Server")}));
    EXPECT_EQ(servers.GetChild(1).GetAttribute(QStringLiteral("name"), QString()),
              QStringLiteral("cn"));
    // Direct children only.
    EXPECT_TRUE(root.FindChildByNodeName(QStringLiteral("Server")).GetNodeName().isEmpty());
    EXPECT_TRUE(root.FindChildByNodeName(QStringLiteral("Absent")).GetNodeName().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Sources, XmlLoadTest,
                         ::testing::Values(SourceRow{"file", kSampleFile},
                                           SourceRow{"resource", kSampleResource}),
                         [](const ::testing::TestParamInfo<SourceRow> &info) {
                             return std::string(info.param.name);
                         });

TEST(XmlNodeTest, ChildrenComeInDocumentOrderWithEmptyNamesForNonElements)
{
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.LoadXML(kSampleFile));
    ASSERT_EQ(root.GetChildNodeCount(), 6);
    EXPECT_EQ(childNames(root),
              (QStringList{QString(), QStringLiteral("Upgrade"), QStringLiteral("CurrServer"),
                           QStringLiteral("Servers"), QStringLiteral("Servers"), QString()}));
    EXPECT_TRUE(root.GetChild(-1).GetNodeName().isEmpty());
    EXPECT_TRUE(root.GetChild(6).GetNodeName().isEmpty());

    // A comment or text child is no element: it has no value, no children and takes no change.
    ZorDomNodeResolve comment = root.GetChild(0);
    EXPECT_TRUE(comment.GetNodeValue().isEmpty());
    EXPECT_EQ(comment.GetChildNodeCount(), 0);
    EXPECT_FALSE(comment.SetNodeValue(QStringLiteral("x")));
    EXPECT_FALSE(comment.SetAttribute(QStringLiteral("a"), QStringLiteral("b")));
    EXPECT_TRUE(comment.CreateChildNode(QStringLiteral("Child")).GetNodeName().isEmpty());
}

TEST(XmlNodeTest, AttributesFallBackToTheDefaultOnlyWhenAbsent)
{
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.LoadXML(kSampleFile));
    const ZorDomNodeResolve upgrade = root.FindChildByNodeName(QStringLiteral("Upgrade"));
    const QString fallback = QStringLiteral("fallback");
    EXPECT_EQ(upgrade.GetAttribute(QStringLiteral("key"), fallback), QStringLiteral("k1"));
    EXPECT_EQ(upgrade.GetAttribute(QStringLiteral("path"), fallback), QStringLiteral("p&q"));
    EXPECT_EQ(upgrade.GetAttribute(QStringLiteral("prefix"), fallback), QString());
    EXPECT_EQ(upgrade.GetAttribute(QStringLiteral("absent"), fallback), fallback);
    EXPECT_EQ(upgrade.GetAttribute(QStringLiteral("absent"), QString()), QString());
    EXPECT_EQ(ZorDomNodeResolve().GetAttribute(QStringLiteral("key"), fallback), fallback);
}

struct BadSourceRow
{
    const char *name;
    QByteArray content; // written to the file unless null
    QString path;       // used as it is when content is null
};

class XmlLoadFailureTest : public ::testing::TestWithParam<BadSourceRow>
{};

TEST_P(XmlLoadFailureTest, FailsAndKeepsTheHelperAsItWas)
{
    const BadSourceRow &row = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString path = row.path;
    if (!row.content.isNull()) {
        path = dir.filePath(QStringLiteral("bad.xml"));
        ASSERT_TRUE(writeFile(path, row.content));
    } else if (path == QStringLiteral("<dir>")) {
        path = dir.path();
    }

    ZorDomNodeResolve root;
    ASSERT_TRUE(root.LoadXML(kSampleFile));
    EXPECT_FALSE(root.LoadXML(path));
    EXPECT_EQ(root.GetNodeName(), QStringLiteral("Root"));

    ZorDomNodeResolve empty;
    EXPECT_FALSE(empty.LoadXML(path));
    EXPECT_TRUE(empty.GetNodeName().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Sources, XmlLoadFailureTest,
    ::testing::Values(
        BadSourceRow{"emptyPath", QByteArray(), QString()},
        BadSourceRow{"missingFile", QByteArray(), QStringLiteral("/nonexistent/a.xml")},
        BadSourceRow{"missingResource", QByteArray(), QStringLiteral(":/no/such.xml")},
        BadSourceRow{"directory", QByteArray(), QStringLiteral("<dir>")},
        BadSourceRow{"emptyFile", QByteArray(""), QString()},
        BadSourceRow{"notXml", QByteArray("key=value\n"), QString()},
        BadSourceRow{"unclosedElement", QByteArray("<Root><Child></Root>"), QString()},
        BadSourceRow{"declarationOnly", QByteArray("<?xml version=\"1.0\"?>"), QString()}),
    [](const ::testing::TestParamInfo<BadSourceRow> &info) {
        return std::string(info.param.name);
    });

TEST(XmlNodeTest, EmptyHelperFailsEverywhereWithoutCrashing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ZorDomNodeResolve empty;
    EXPECT_TRUE(empty.GetNodeName().isEmpty());
    EXPECT_TRUE(empty.GetNodeValue().isEmpty());
    EXPECT_EQ(empty.GetChildNodeCount(), 0);
    EXPECT_TRUE(empty.GetChild(0).GetNodeName().isEmpty());
    EXPECT_TRUE(empty.FindChildByNodeName(QStringLiteral("Root")).GetNodeName().isEmpty());
    EXPECT_TRUE(empty.CreateChildNode(QStringLiteral("Child")).GetNodeName().isEmpty());
    EXPECT_FALSE(empty.SetNodeValue(QStringLiteral("v")));
    EXPECT_FALSE(empty.SetAttribute(QStringLiteral("a"), QStringLiteral("v")));
    const QString target = dir.filePath(QStringLiteral("out.xml"));
    EXPECT_FALSE(empty.SaveXML(target));
    EXPECT_FALSE(QFile::exists(target));

    // A helper for a missing child is just as empty.
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.LoadXML(kSampleFile));
    ZorDomNodeResolve missing = root.FindChildByNodeName(QStringLiteral("Absent"));
    EXPECT_FALSE(missing.SetNodeValue(QStringLiteral("v")));
    EXPECT_TRUE(missing.CreateChildNode(QStringLiteral("Child")).GetNodeName().isEmpty());
    EXPECT_FALSE(missing.SaveXML(target));
}

TEST(XmlNodeTest, NewDocumentIsSavedIndentedWithDeclaration)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.CreateRootNode(QStringLiteral("UpgradeServer")));
    ZorDomNodeResolve upgrade = root.CreateChildNode(QStringLiteral("Upgrade"));
    ASSERT_EQ(upgrade.GetNodeName(), QStringLiteral("Upgrade"));
    ASSERT_TRUE(upgrade.SetAttribute(QStringLiteral("key"), QStringLiteral("00ff")));
    ASSERT_TRUE(
        root.CreateChildNode(QStringLiteral("CurrServer")).SetNodeValue(QStringLiteral("foreign")));
    ZorDomNodeResolve servers = root.CreateChildNode(QStringLiteral("Servers"));
    ASSERT_TRUE(servers.CreateChildNode(QStringLiteral("Server"))
                    .SetAttribute(QStringLiteral("name"), QStringLiteral("cn")));

    const QString path = dir.filePath(QStringLiteral("cluster.xml"));
    ASSERT_TRUE(root.SaveXML(path));
    EXPECT_EQ(readAll(path), QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                        "<UpgradeServer>\n"
                                        "    <Upgrade key=\"00ff\"/>\n"
                                        "    <CurrServer>foreign</CurrServer>\n"
                                        "    <Servers>\n"
                                        "        <Server name=\"cn\"/>\n"
                                        "    </Servers>\n"
                                        "</UpgradeServer>\n"));
}

struct ValueRow
{
    const char *name;
    QString value;
};

class XmlValueRoundTripTest : public ::testing::TestWithParam<ValueRow>
{};

TEST_P(XmlValueRoundTripTest, TextAndAttributeSurviveSaveAndLoad)
{
    const QString &value = GetParam().value;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.CreateRootNode(QStringLiteral("Solutions")));
    ZorDomNodeResolve item = root.CreateChildNode(QStringLiteral("Solution"));
    ASSERT_TRUE(item.SetAttribute(QStringLiteral("id"), value));
    ASSERT_TRUE(item.CreateChildNode(QStringLiteral("Version")).SetNodeValue(value));
    const QString path = dir.filePath(QStringLiteral("s.xml"));
    ASSERT_TRUE(root.SaveXML(path));

    ZorDomNodeResolve loaded;
    ASSERT_TRUE(loaded.LoadXML(path));
    const ZorDomNodeResolve back = loaded.FindChildByNodeName(QStringLiteral("Solution"));
    EXPECT_EQ(back.GetAttribute(QStringLiteral("id"), QStringLiteral("absent")), value);
    EXPECT_EQ(back.FindChildByNodeName(QStringLiteral("Version")).GetNodeValue(), value);
}

INSTANTIATE_TEST_SUITE_P(
    Values, XmlValueRoundTripTest,
    ::testing::Values(ValueRow{"plain", QStringLiteral("1.2.3")}, ValueRow{"empty", QString()},
                      ValueRow{"markup", QStringLiteral("<a href=\"x\">&amp; 'q'</a>")},
                      ValueRow{"nonAscii", QString::fromUtf8("\xe7\x89\x88\xe6\x9c\xac \xc3\xa9")},
                      ValueRow{"lineBreaksAndTabs", QStringLiteral("a\tb\nc\r\nd  e")},
                      ValueRow{"hexDigits", QStringLiteral("9f86d081884c7d659a2feaa0c55ad015")}),
    [](const ::testing::TestParamInfo<ValueRow> &info) { return std::string(info.param.name); });

TEST(XmlNodeTest, SaveAfterLoadKeepsTheDeclarationAndChanges)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.LoadXML(kSampleResource));
    ZorDomNodeResolve curr = root.FindChildByNodeName(QStringLiteral("CurrServer"));
    ASSERT_TRUE(curr.SetNodeValue(QStringLiteral("cn")));
    const QString path = dir.filePath(QStringLiteral("copy.xml"));
    // Saving through a child still writes the whole document.
    ASSERT_TRUE(curr.SaveXML(path));
    EXPECT_TRUE(readAll(path).startsWith("<?xml version='1.0' encoding='UTF-8'?>\n<Root>"));

    ZorDomNodeResolve loaded;
    ASSERT_TRUE(loaded.LoadXML(path));
    EXPECT_EQ(loaded.FindChildByNodeName(QStringLiteral("CurrServer")).GetNodeValue(),
              QStringLiteral("cn"));
    EXPECT_EQ(childNames(loaded).size(), 6);

    // A document read without a declaration is written without one.
    const QString bare = dir.filePath(QStringLiteral("bare.xml"));
    ASSERT_TRUE(writeFile(bare, "<Root><A/></Root>"));
    ZorDomNodeResolve bareRoot;
    ASSERT_TRUE(bareRoot.LoadXML(bare));
    ASSERT_TRUE(bareRoot.SaveXML(bare));
    EXPECT_EQ(readAll(bare), QByteArray("<Root>\n    <A/>\n</Root>\n"));
}

TEST(XmlNodeTest, CopiesReferToTheSameDocument)
{
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.LoadXML(kSampleFile));
    ZorDomNodeResolve copy = root;
    ZorDomNodeResolve upgrade = copy.FindChildByNodeName(QStringLiteral("Upgrade"));
    ASSERT_TRUE(upgrade.SetAttribute(QStringLiteral("key"), QStringLiteral("changed")));
    EXPECT_EQ(root.FindChildByNodeName(QStringLiteral("Upgrade"))
                  .GetAttribute(QStringLiteral("key"), QString()),
              QStringLiteral("changed"));
    ASSERT_EQ(copy.CreateChildNode(QStringLiteral("Added")).GetNodeName(), QStringLiteral("Added"));
    EXPECT_EQ(root.GetChildNodeCount(), 7);

    // Starting a new document moves only this helper; earlier copies keep the old one.
    ZorDomNodeResolve assigned;
    assigned = root;
    ASSERT_TRUE(assigned.CreateRootNode(QStringLiteral("Fresh")));
    EXPECT_EQ(assigned.GetChildNodeCount(), 0);
    EXPECT_EQ(root.GetNodeName(), QStringLiteral("Root"));
    EXPECT_EQ(root.GetChildNodeCount(), 7);
}

TEST(XmlNodeTest, SetNodeValueReplacesTheChildren)
{
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.LoadXML(kSampleFile));
    ZorDomNodeResolve servers = root.FindChildByNodeName(QStringLiteral("Servers"));
    ASSERT_TRUE(servers.SetNodeValue(QStringLiteral("flat")));
    EXPECT_EQ(servers.GetChildNodeCount(), 1);
    EXPECT_EQ(servers.GetNodeValue(), QStringLiteral("flat"));
    ASSERT_TRUE(servers.SetNodeValue(QString()));
    EXPECT_EQ(servers.GetChildNodeCount(), 0);
    EXPECT_TRUE(servers.GetNodeValue().isEmpty());
}

TEST(XmlNodeTest, NamesAndTextsThatXmlCannotHoldAreRefused)
{
    ZorDomNodeResolve root;
    for (const QString &bad : {QString(), QStringLiteral("1st"), QStringLiteral("two words"),
                               QStringLiteral("<x>"), QStringLiteral("a&b")}) {
        EXPECT_FALSE(root.CreateRootNode(bad)) << bad.toStdString();
    }
    EXPECT_TRUE(root.GetNodeName().isEmpty());
    ASSERT_TRUE(root.CreateRootNode(QStringLiteral("Root")));
    for (const QString &good : {QStringLiteral("ns:tag"), QStringLiteral("a-b.c_d9"),
                                QString::fromUtf8("\xc3\x9cnic\xc3\xb6"
                                                  "de")}) {
        EXPECT_EQ(root.CreateChildNode(good).GetNodeName(), good);
    }
    EXPECT_TRUE(root.CreateChildNode(QStringLiteral("bad name")).GetNodeName().isEmpty());
    EXPECT_FALSE(root.SetAttribute(QString(), QStringLiteral("v")));
    EXPECT_FALSE(root.SetAttribute(QStringLiteral("k"), QStringLiteral("bell\x07")));
    EXPECT_FALSE(root.SetNodeValue(QString(QChar(0xD800))));
    EXPECT_FALSE(root.SetNodeValue(QStringLiteral("nul") + QChar(0)));
    EXPECT_TRUE(root.SetNodeValue(QStringLiteral("tab\tnew\nline")));
}

TEST(XmlNodeTest, SaveToAnUnwritablePathFails)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.CreateRootNode(QStringLiteral("Root")));
    EXPECT_FALSE(root.SaveXML(QString()));
    EXPECT_FALSE(root.SaveXML(dir.filePath(QStringLiteral("missing/folder/out.xml"))));
    EXPECT_FALSE(root.SaveXML(dir.path()));
    EXPECT_TRUE(QDir(dir.path()).exists());
    EXPECT_FALSE(root.SaveXML(QStringLiteral(":/quistal/sample.xml")));
}

TEST(AppNameTest, TheLastNameGivenIsKept)
{
    ZorGUI::SetAppName(QStringLiteral("Norvane"));
    EXPECT_EQ(ZorGUI::AppName(), QStringLiteral("Norvane"));
    ZorGUI::SetAppName(QString());
    EXPECT_TRUE(ZorGUI::AppName().isEmpty());
}

} // namespace
