// SPDX-License-Identifier: MIT
// The server cluster file: writing, reading back, and every way a read or a write fails.
#include "cupgrade.h"
#include "debugtext.h"
#include "messagecapture.h"
#include "testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <quistal/quistal.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using TestSupport::MessageCapture;
using ZorGUI::ZorDomNodeResolve;

namespace {

QString upgradeElement(const QString &key, const QString &path, const QString &prefix)
{
    return QString("<Upgrade key=\"%1\" path=\"%2\" prefix=\"%3\"/>").arg(key, path, prefix);
}

QString defaultUpgrade()
{
    return upgradeElement(cipherHex("k3y"), cipherHex("/upgrade/query"), cipherHex("/api"));
}

QString serverElement(const QString &name, const QString &url)
{
    return QString("<Server name=\"%1\" svrurl=\"%2\"/>").arg(name, url);
}

QString defaultServers()
{
    return "<Servers>" + serverElement("inter", cipherHex("127.0.0.1:8080"))
           + serverElement("cn", cipherHex("cn.example:443"))
           + serverElement("foreign", cipherHex("foreign.example")) + "</Servers>";
}

QString document(const QString &upgrade, const QString &currServer, const QString &servers)
{
    return "<?xml version='1.0' encoding='UTF-8'?>\n<UpgradeServer>" + upgrade + currServer
           + servers + "</UpgradeServer>\n";
}

QString currServer(const QString &name)
{
    return "<CurrServer>" + name + "</CurrServer>";
}

ServerClusterInfo validRecord()
{
    ServerClusterInfo info;
    info.vecServer = {{"inter", "127.0.0.1:8080"},
                      {"cn", QString::fromUtf8("cn.example:443/\xc3\xbc")},
                      {"foreign", "foreign.example"}};
    info.nCurrServer = 1;
    info.strKey = "s3cr3t key";
    info.strPath = QString::fromUtf8("/upgrade/\xe7\x89\x88\xe6\x9c\xac");
    info.strPrefix = "/api/v1";
    return info;
}

void expectSameRecord(const ServerClusterInfo &a, const ServerClusterInfo &b)
{
    EXPECT_EQ(a.nCurrServer, b.nCurrServer);
    EXPECT_EQ(a.strKey, b.strKey);
    EXPECT_EQ(a.strPath, b.strPath);
    EXPECT_EQ(a.strPrefix, b.strPrefix);
    ASSERT_EQ(a.vecServer.size(), b.vecServer.size());
    for (int i = 0; i < a.vecServer.size(); ++i) {
        EXPECT_EQ(a.vecServer.at(i).strName, b.vecServer.at(i).strName) << "server " << i;
        EXPECT_EQ(a.vecServer.at(i).strSvrUrl, b.vecServer.at(i).strSvrUrl) << "server " << i;
    }
}

class ClusterFile : public ::testing::Test
{
protected:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    MessageCapture m_messages;
};

TEST_F(ClusterFile, WrittenRecordReadsBackAndIsStoredEnciphered)
{
    const ServerClusterInfo written = validRecord();
    const QString file = path("cluster.xml");
    ASSERT_TRUE(CUpgrade::saveServerClusterInfo(written, file));

    ServerClusterInfo read;
    ASSERT_TRUE(CUpgrade::readServerClusterInfo(file, read));
    expectSameRecord(written, read);
    EXPECT_EQ(m_messages.takeWarnings(), QStringList());
    EXPECT_EQ(m_messages.messagesWithLocation(), 0);

    // The layout a reader elsewhere expects: plain names, enciphered lowercase hex values.
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.LoadXML(file));
    EXPECT_EQ(root.GetNodeName(), "UpgradeServer");
    EXPECT_EQ(root.FindChildByNodeName("CurrServer").GetNodeValue(), "cn");
    const QRegularExpression hex("^([0-9a-f]{32})+$");
    const ZorDomNodeResolve upgrade = root.FindChildByNodeName("Upgrade");
    for (const char *attribute : {"key", "path", "prefix"})
        EXPECT_TRUE(hex.match(upgrade.GetAttribute(attribute, QString())).hasMatch()) << attribute;
    EXPECT_EQ(upgrade.GetAttribute("key", QString()), cipherHex(written.strKey));
    const ZorDomNodeResolve servers = root.FindChildByNodeName("Servers");
    ASSERT_EQ(servers.GetChildNodeCount(), 3);
    for (int i = 0; i < 3; ++i) {
        const ZorDomNodeResolve server = servers.GetChild(i);
        EXPECT_EQ(server.GetNodeName(), "Server");
        EXPECT_EQ(server.GetAttribute("name", QString()), written.vecServer.at(i).strName);
        EXPECT_EQ(server.GetAttribute("svrurl", QString()),
                  cipherHex(written.vecServer.at(i).strSvrUrl));
    }
}

TEST_F(ClusterFile, LaterServerWithTheCurrentNameBecomesCurrent)
{
    const QString file = path("twice.xml");
    const QString servers = "<Servers>" + serverElement("cn", cipherHex("first.example"))
                            + serverElement("inter", cipherHex("127.0.0.1"))
                            + serverElement("cn", cipherHex("second.example")) + "</Servers>";
    ASSERT_TRUE(writeFile(file, document(defaultUpgrade(), currServer("cn"), servers).toUtf8()));

    ServerClusterInfo info;
    ASSERT_TRUE(CUpgrade::readServerClusterInfo(file, info));
    EXPECT_EQ(info.nCurrServer, 2);
    ASSERT_EQ(info.vecServer.size(), 3);
    EXPECT_EQ(info.vecServer.at(2).strSvrUrl, "second.example");
    EXPECT_EQ(info.strKey, "k3y");
    EXPECT_EQ(info.strPath, "/upgrade/query");
    EXPECT_EQ(info.strPrefix, "/api");
}

TEST_F(ClusterFile, ReadIntoAUsedRecordHoldsOnlyTheServersOfTheFile)
{
    const QString file = path("cluster.xml");
    ASSERT_TRUE(writeFile(
        file, document(defaultUpgrade(), currServer("inter"), defaultServers()).toUtf8()));

    ServerClusterInfo info = validRecord();
    ASSERT_TRUE(CUpgrade::readServerClusterInfo(file, info));
    ASSERT_EQ(info.vecServer.size(), 3);
    EXPECT_EQ(info.nCurrServer, 0);
    EXPECT_EQ(info.vecServer.at(0).strSvrUrl, "127.0.0.1:8080");
}

struct ReadFailureCase
{
    const char *name;
    std::function<QByteArray()> content; // null: no file at all
    std::function<QStringList(const QString &path)> warnings;
};

void PrintTo(const ReadFailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class ClusterFileReadFailure : public ClusterFile,
                               public ::testing::WithParamInterface<ReadFailureCase>
{};

TEST_P(ClusterFileReadFailure, FailsWithItsWarnings)
{
    const ReadFailureCase &c = GetParam();
    const QString file = path("cluster.xml");
    if (c.content) {
        ASSERT_TRUE(writeFile(file, c.content()));
    }

    ServerClusterInfo info;
    EXPECT_FALSE(CUpgrade::readServerClusterInfo(file, info));
    EXPECT_EQ(m_messages.takeWarnings(), c.warnings(file));
    EXPECT_EQ(m_messages.messagesWithLocation(), 0);
}

QByteArray doc(const QString &upgrade, const QString &curr, const QString &servers)
{
    return document(upgrade, curr, servers).toUtf8();
}

const ReadFailureCase kReadFailures[] = {
    {"NoFile", nullptr,
     [](const QString &p) {
         return QStringList{message({"load file ", quoted(p), " failed!"})};
     }},
    {"NotXml", [] { return QByteArray("<UpgradeServer><Upgrade"); },
     [](const QString &p) {
         return QStringList{message({"load file ", quoted(p), " failed!"})};
     }},
    {"NoUpgrade", [] { return doc("", currServer("cn"), defaultServers()); },
     [](const QString &p) {
         return QStringList{message({"get node Upgrade from file from ", quoted(p), " failed"})};
     }},
    {"NoPrefix",
     [] {
         return doc(
             QString("<Upgrade key=\"%1\" path=\"%2\"/>").arg(cipherHex("k"), cipherHex("/q")),
             currServer("cn"), defaultServers());
     },
     [](const QString &p) {
         return QStringList{
             "get node attribute name failed!",
             message({"get Node Upgrade Attribute prefix from ", quoted(p), " failed"})};
     }},
    {"EmptyKey",
     [] {
         return doc(upgradeElement("", cipherHex("/q"), cipherHex("/api")), currServer("cn"),
                    defaultServers());
     },
     [](const QString &p) {
         return QStringList{
             "get node attribute name failed!",
             message({"get Node Upgrade Attribute key from ", quoted(p), " failed"})};
     }},
    {"EmptyPath",
     [] {
         return doc(upgradeElement(cipherHex("k"), "", cipherHex("/api")), currServer("cn"),
                    defaultServers());
     },
     [](const QString &p) {
         return QStringList{
             "get node attribute name failed!",
             message({"get Node Upgrade Attribute path from ", quoted(p), " failed"})};
     }},
    {"NoCurrServer", [] { return doc(defaultUpgrade(), "", defaultServers()); },
     [](const QString &p) {
         return QStringList{message({"get node CurrServer from ", quoted(p), " failed"})};
     }},
    {"NoServers", [] { return doc(defaultUpgrade(), currServer("cn"), ""); },
     [](const QString &p) {
         return QStringList{message({"get node Servers from ", quoted(p), " failed"})};
     }},
    {"ServerWithoutName",
     [] {
         return doc(defaultUpgrade(), currServer("cn"),
                    "<Servers><Server svrurl=\"" + cipherHex("a") + "\"/></Servers>");
     },
     [](const QString &p) {
         return QStringList{
             message({"set Server node attribute name from ", quoted(p), " failed"})};
     }},
    {"CommentAmongServers",
     [] {
         return doc(defaultUpgrade(), currServer("cn"),
                    "<Servers><!-- old -->" + serverElement("cn", cipherHex("a")) + "</Servers>");
     },
     [](const QString &p) {
         return QStringList{message({"get node Server from ", quoted(p), " failed"})};
     }},
    {"EmptySvrUrl",
     [] {
         return doc(defaultUpgrade(), currServer("cn"),
                    "<Servers>" + serverElement("cn", "") + "</Servers>");
     },
     [](const QString &p) {
         return QStringList{
             "get node attribute name failed!",
             message({"set Server node attribute svrurl from ", quoted(p), " failed"})};
     }},
    {"UndecipherableCurrentSvrUrl",
     [] {
         return doc(defaultUpgrade(), currServer("cn"),
                    "<Servers>" + serverElement("cn", "00ff00ff") + "</Servers>");
     },
     [](const QString &p) {
         return QStringList{"invalid ServerInfo something is empty",
                            message({"Curr Server Info Invalid in ", quoted(p)})};
     }},
    {"NoServerWithTheCurrentName",
     [] { return doc(defaultUpgrade(), currServer("moon"), defaultServers()); },
     [](const QString &p) {
         return QStringList{"invalid ServerInfo",
                            message({"Curr Server Info Invalid in ", quoted(p)})};
     }},
    {"CurrentNameDiffersInCase",
     [] { return doc(defaultUpgrade(), currServer("CN"), defaultServers()); },
     [](const QString &p) {
         return QStringList{"invalid ServerInfo",
                            message({"Curr Server Info Invalid in ", quoted(p)})};
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, ClusterFileReadFailure, ::testing::ValuesIn(kReadFailures),
                         [](const auto &info) { return std::string(info.param.name); });

struct WriteFailureCase
{
    const char *name;
    std::function<void(ServerClusterInfo &)> spoil;
    QStringList warnings;
};

void PrintTo(const WriteFailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class ClusterFileWriteFailure : public ClusterFile,
                                public ::testing::WithParamInterface<WriteFailureCase>
{};

TEST_P(ClusterFileWriteFailure, WritesNothingAndKeepsAnExistingFile)
{
    const WriteFailureCase &c = GetParam();
    ServerClusterInfo info = validRecord();
    c.spoil(info);

    const QString fresh = path("fresh.xml");
    EXPECT_FALSE(CUpgrade::saveServerClusterInfo(info, fresh));
    EXPECT_FALSE(QFileInfo::exists(fresh));

    const QString existing = path("existing.xml");
    ASSERT_TRUE(writeFile(existing, "previous content"));
    EXPECT_FALSE(CUpgrade::saveServerClusterInfo(info, existing));
    EXPECT_EQ(readFile(existing), "previous content");

    EXPECT_EQ(m_messages.takeWarnings(), c.warnings + c.warnings);
}

const WriteFailureCase kWriteFailures[] = {
    {"CurrentIndexIsTheServerCount",
     [](ServerClusterInfo &i) { i.nCurrServer = i.vecServer.size(); },
     {"invalid ServerInfo", "current serverClusterInfo invaild!"}},
    {"NoCurrentServer",
     [](ServerClusterInfo &i) { i.nCurrServer = -1; },
     {"invalid ServerInfo", "current serverClusterInfo invaild!"}},
    {"NoServers",
     [](ServerClusterInfo &i) {
         i.vecServer.clear();
         i.nCurrServer = 0;
     },
     {"invalid ServerInfo", "current serverClusterInfo invaild!"}},
    {"EmptyKey",
     [](ServerClusterInfo &i) { i.strKey.clear(); },
     {"invalid ServerInfo something is empty", "current serverClusterInfo invaild!"}},
    {"EmptyPrefix",
     [](ServerClusterInfo &i) { i.strPrefix.clear(); },
     {"invalid ServerInfo something is empty", "current serverClusterInfo invaild!"}},
    {"EmptyPath",
     [](ServerClusterInfo &i) { i.strPath.clear(); },
     {"invalid ServerInfo something is empty", "current serverClusterInfo invaild!"}},
    {"EmptyCurrentName",
     [](ServerClusterInfo &i) { i.vecServer[1].strName.clear(); },
     {"invalid ServerInfo something is empty", "current serverClusterInfo invaild!"}},
    {"EmptyCurrentAddress",
     [](ServerClusterInfo &i) { i.vecServer[1].strSvrUrl.clear(); },
     {"invalid ServerInfo something is empty", "current serverClusterInfo invaild!"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, ClusterFileWriteFailure, ::testing::ValuesIn(kWriteFailures),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ClusterFile, FailedSaveReportsThePathAndLeavesTheTargetAlone)
{
    // A directory in the place of the file cannot be replaced by a document.
    const QString target = path("occupied");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("occupied"));
    ASSERT_TRUE(writeFile(target + "/inside.txt", "kept"));

    EXPECT_FALSE(CUpgrade::saveServerClusterInfo(validRecord(), target));
    EXPECT_EQ(m_messages.takeWarnings(), QStringList{message({"save Server Cluster Info to file ",
                                                              quoted(target), " failed!"})});
    EXPECT_EQ(readFile(target + "/inside.txt"), "kept");
}

TEST_F(ClusterFile, OtherServerWithoutAddressIsWrittenEmptyAndFailsTheReadBack)
{
    ServerClusterInfo info = validRecord();
    info.vecServer[2].strSvrUrl.clear();
    const QString file = path("cluster.xml");
    ASSERT_TRUE(CUpgrade::saveServerClusterInfo(info, file));

    ZorDomNodeResolve root;
    ASSERT_TRUE(root.LoadXML(file));
    const ZorDomNodeResolve third = root.FindChildByNodeName("Servers").GetChild(2);
    EXPECT_EQ(third.GetAttribute("svrurl", "absent"), "");

    ServerClusterInfo read;
    EXPECT_FALSE(CUpgrade::readServerClusterInfo(file, read));
    EXPECT_EQ(m_messages.takeWarnings(),
              (QStringList{
                  "get node attribute name failed!",
                  message({"set Server node attribute svrurl from ", quoted(file), " failed"})}));
    // What was read before the failing server stays in the record.
    EXPECT_EQ(read.vecServer.size(), 2);
    EXPECT_EQ(read.nCurrServer, 1);
}

TEST_F(ClusterFile, HelpersOnAMissingElementFail)
{
    ZorDomNodeResolve none;
    QString value = "unchanged";
    EXPECT_FALSE(CUpgrade::getNodeAttributeDecrypt(none, "key", value));
    EXPECT_EQ(value, "unchanged");
    EXPECT_FALSE(CUpgrade::setAttributeEncrypt(none, "key", "v"));
    EXPECT_FALSE(CUpgrade::setNodeAttributeEncrypt(none, "Upgrade", "key", "v"));
    EXPECT_FALSE(CUpgrade::setChildNodeValue(none, "CurrServer", "cn"));
    EXPECT_EQ(m_messages.takeWarnings(),
              (QStringList{"nameNode not exist!", "nameNode not exist!", "create node failed!",
                           "create node failed!"}));
}

TEST_F(ClusterFile, HelpersReuseTheFirstChildOfTheName)
{
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.CreateRootNode("UpgradeServer"));
    ASSERT_TRUE(CUpgrade::setNodeAttributeEncrypt(root, "Upgrade", "key", "one"));
    ASSERT_TRUE(CUpgrade::setNodeAttributeEncrypt(root, "Upgrade", "path", "two"));
    ASSERT_TRUE(CUpgrade::setNodeAttributeEncrypt(root, "Upgrade", "prefix", ""));
    ASSERT_TRUE(CUpgrade::setChildNodeValue(root, "CurrServer", "cn"));
    ASSERT_TRUE(CUpgrade::setChildNodeValue(root, "CurrServer", "foreign"));
    EXPECT_EQ(root.GetChildNodeCount(), 2);

    const ZorDomNodeResolve upgrade = root.FindChildByNodeName("Upgrade");
    QString key;
    QString path;
    ASSERT_TRUE(CUpgrade::getNodeAttributeDecrypt(upgrade, "key", key));
    ASSERT_TRUE(CUpgrade::getNodeAttributeDecrypt(upgrade, "path", path));
    EXPECT_EQ(key, "one");
    EXPECT_EQ(path, "two");
    // An empty value is stored empty, not enciphered.
    EXPECT_EQ(upgrade.GetAttribute("prefix", "absent"), "");
    EXPECT_EQ(root.FindChildByNodeName("CurrServer").GetNodeValue(), "foreign");
    EXPECT_EQ(m_messages.takeWarnings(), QStringList());
}

// The developer tool enciphers through the engine's own functions.
class ClusterTool : public ClusterFile
{
protected:
    int run(const QStringList &args, QByteArray *out = nullptr)
    {
        QProcess tool;
        tool.start(NORVANE_CLUSTERTOOL, args);
        if (!tool.waitForFinished(20000)) {
            tool.kill();
            tool.waitForFinished(5000);
            return -1;
        }
        if (out)
            *out = tool.readAllStandardOutput();
        return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    }
};

TEST_F(ClusterTool, EncodesPlainValuesAndDecodesThemBack)
{
    const QString plain = path("plain.xml");
    const QString out = path("cluster.xml");
    const QByteArray plainText
        = doc(upgradeElement("k3y", "/upgrade/query", "/api"), currServer("foreign"),
              "<Servers>" + serverElement("inter", "127.0.0.1:8080")
                  + serverElement("foreign", "upgrade.example.com") + "</Servers>");
    ASSERT_TRUE(writeFile(plain, plainText));
    ASSERT_EQ(run({"encode", plain, out}), 0);

    ServerClusterInfo info;
    ASSERT_TRUE(CUpgrade::readServerClusterInfo(out, info));
    EXPECT_EQ(info.strKey, "k3y");
    EXPECT_EQ(info.strPath, "/upgrade/query");
    EXPECT_EQ(info.strPrefix, "/api");
    EXPECT_EQ(info.nCurrServer, 1);
    ASSERT_EQ(info.vecServer.size(), 2);
    EXPECT_EQ(info.vecServer.at(0).strSvrUrl, "127.0.0.1:8080");
    EXPECT_FALSE(readFile(out).contains("upgrade.example.com"));
    EXPECT_TRUE(readFile(out).startsWith("<?xml version='1.0' encoding='UTF-8'?>"));

    QByteArray printed;
    ASSERT_EQ(run({"decode", out}, &printed), 0);
    EXPECT_TRUE(printed.contains("svrurl=\"upgrade.example.com\"")) << printed.constData();
    EXPECT_TRUE(printed.contains("key=\"k3y\"")) << printed.constData();
}

TEST_F(ClusterTool, RefusesADocumentTheEngineWouldNotRead)
{
    const QString plain = path("plain.xml");
    const QString out = path("cluster.xml");
    ASSERT_TRUE(writeFile(out, "previous"));
    ASSERT_TRUE(writeFile(plain, doc(upgradeElement("", "/q", "/api"), currServer("cn"),
                                     "<Servers>" + serverElement("cn", "a") + "</Servers>")));
    EXPECT_EQ(run({"encode", plain, out}), 1);
    EXPECT_EQ(readFile(out), "previous");
    EXPECT_EQ(run({"encode", plain}), 2);
}

} // namespace
