// SPDX-License-Identifier: MIT
// The solution information file: reading modules, the upgrade rule, updating and merging.
#include "cupgrade.h"
#include "debugtext.h"
#include "messagecapture.h"
#include "testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QVariant>
#include <quistal/quistal.h>

#include <gtest/gtest.h>

#include <vector>

using TestSupport::MessageCapture;
using ZorGUI::ZorDomNodeResolve;

namespace {

QString solutionElement(const QString &id, const QString &children, const QString &name = "pkg.7z")
{
    return QString("<Solution id=\"%1\" name=\"%2\">%3</Solution>").arg(id, name, children);
}

QString fullChildren(const QString &version, const QString &date, const QString &state,
                     const QString &desc = "d", const QString &size = "5")
{
    return QString("<Version>%1</Version><ReleaseDate>%2</ReleaseDate><State>%3</State>"
                   "<Desc>%4</Desc><Size>%5</Size>")
        .arg(version, date, state, desc, size);
}

QByteArray solutionFile(const QString &modules)
{
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Solution><SolutionS>" + modules
            + "</SolutionS></Solution>\n")
        .toUtf8();
}

ModuleVersion module(const QString &id, qint64 date, int state = 1, const QString &version = "v")
{
    ModuleVersion m;
    m.strId = id;
    m.llReleaseDate = date;
    m.nState = state;
    m.strVersion = version;
    return m;
}

class SolutionFile : public ::testing::Test
{
protected:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // The module element of that id as a helper, for looking at what was written.
    static ZorDomNodeResolve element(const QString &file, const QString &id)
    {
        ZorDomNodeResolve root;
        if (!root.LoadXML(file))
            return ZorDomNodeResolve();
        const ZorDomNodeResolve solutions = root.FindChildByNodeName("SolutionS");
        for (int i = 0; i < solutions.GetChildNodeCount(); ++i) {
            if (solutions.GetChild(i).GetAttribute("id", QString()) == id)
                return solutions.GetChild(i);
        }
        return ZorDomNodeResolve();
    }

    QTemporaryDir m_dir;
    MessageCapture m_messages;
};

// How each child of a module element reads.
struct NodeCase
{
    const char *name;
    QString element;
    bool ok;
    ModuleVersion expected;
};

void PrintTo(const NodeCase &c, std::ostream *os)
{
    *os << c.name;
}

ModuleVersion expected(const QString &id, const QString &version, const QString &url,
                       const QString &desc, qint64 date, double size, int state)
{
    ModuleVersion m;
    m.strId = id;
    m.strVersion = version;
    m.strUrl = url;
    m.strDesc = desc;
    m.llReleaseDate = date;
    m.dSize = size;
    m.nState = state;
    return m;
}

class SolutionNode : public SolutionFile, public ::testing::WithParamInterface<NodeCase>
{};

TEST_P(SolutionNode, ReadsByTheRules)
{
    const NodeCase &c = GetParam();
    const QString file = path("solution.xml");
    ASSERT_TRUE(writeFile(file, solutionFile(c.element)));
    ZorDomNodeResolve root;
    ASSERT_TRUE(root.LoadXML(file));

    ModuleVersion read;
    ASSERT_EQ(
        CUpgrade::getModuleVersionFromNode(root.FindChildByNodeName("SolutionS").GetChild(0), read),
        c.ok);
    EXPECT_EQ(m_messages.takeWarnings(), QStringList());
    if (!c.ok)
        return;
    EXPECT_EQ(read.strId, c.expected.strId);
    EXPECT_EQ(read.strVersion, c.expected.strVersion);
    EXPECT_EQ(read.strUrl, c.expected.strUrl);
    EXPECT_EQ(read.strDesc, c.expected.strDesc);
    EXPECT_EQ(read.llReleaseDate, c.expected.llReleaseDate);
    EXPECT_EQ(read.dSize, c.expected.dSize);
    EXPECT_EQ(read.nState, c.expected.nState);
    EXPECT_EQ(read.strIconUrl, QString());
}

const NodeCase kNodeCases[] = {
    {"AllChildren", solutionElement("m1", fullChildren("1.2.3", "20240101", "2", "base", "17")),
     true, expected("m1", "1.2.3", "pkg.7z", "base", 20240101, 17.0, 2)},
    {"NoChildren", solutionElement("m1", ""), true, expected("m1", "", "pkg.7z", "", 0, 0.0, 0)},
    {"NoId", "<Solution name=\"pkg.7z\">" + fullChildren("1", "1", "1") + "</Solution>", false, {}},
    {"EmptyId", solutionElement("", fullChildren("1", "1", "1")), false, {}},
    {"StateSeven", solutionElement("m", fullChildren("1", "1", "7")), true,
     expected("m", "1", "pkg.7z", "d", 1, 5.0, 0)},
    {"StateMinusOne", solutionElement("m", fullChildren("1", "1", "-1")), true,
     expected("m", "1", "pkg.7z", "d", 1, 5.0, 0)},
    {"StateNotANumber", solutionElement("m", fullChildren("1", "1", "x")), true,
     expected("m", "1", "pkg.7z", "d", 1, 5.0, 0)},
    {"StateThree", solutionElement("m", fullChildren("1", "1", "3")), true,
     expected("m", "1", "pkg.7z", "d", 1, 5.0, 3)},
    {"NegativeReleaseDate", solutionElement("m", fullChildren("1", "-42", "1")), true,
     expected("m", "1", "pkg.7z", "d", -42, 5.0, 1)},
    {"LargestReleaseDate", solutionElement("m", fullChildren("1", "9223372036854775807", "1")),
     true, expected("m", "1", "pkg.7z", "d", 9223372036854775807LL, 5.0, 1)},
    {"ReleaseDateNotANumber", solutionElement("m", fullChildren("1", "2024-01-01", "1")), true,
     expected("m", "1", "pkg.7z", "d", 0, 5.0, 1)},
    {"SizeWithFraction", solutionElement("m", fullChildren("1", "1", "1", "d", "1.5")), true,
     expected("m", "1", "pkg.7z", "d", 1, 0.0, 1)},
    {"SizeBeyond32Bits", solutionElement("m", fullChildren("1", "1", "1", "d", "4294967296")), true,
     expected("m", "1", "pkg.7z", "d", 1, 0.0, 1)},
    {"NegativeSize", solutionElement("m", fullChildren("1", "1", "1", "d", "-3")), true,
     expected("m", "1", "pkg.7z", "d", 1, -3.0, 1)},
};

INSTANTIATE_TEST_SUITE_P(Cases, SolutionNode, ::testing::ValuesIn(kNodeCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(SolutionFile, ReadsEveryModuleInOrderIntoAClearedList)
{
    const QString file = path("solution.xml");
    ASSERT_TRUE(writeFile(file, solutionFile(solutionElement("a", fullChildren("1", "10", "1"))
                                             + "<Module id=\"b\"><State>0</State></Module>")));
    QVector<ModuleVersion> list{module("stale", 1)};
    ASSERT_TRUE(CUpgrade::getModuleVersionFromSolutionInfoFile(file, list));
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.at(0).strId, "a");
    EXPECT_EQ(list.at(0).llReleaseDate, 10);
    EXPECT_EQ(list.at(1).strId, "b");

    ASSERT_TRUE(writeFile(file, solutionFile("")));
    ASSERT_TRUE(CUpgrade::getModuleVersionFromSolutionInfoFile(file, list));
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(m_messages.takeWarnings(), QStringList());
}

TEST_F(SolutionFile, ReadFailuresKeepWhatWasReadBefore)
{
    const QString file = path("solution.xml");
    QVector<ModuleVersion> list{module("stale", 1)};

    EXPECT_FALSE(CUpgrade::getModuleVersionFromSolutionInfoFile(file, list));
    EXPECT_EQ(m_messages.takeWarnings(),
              QStringList{message({"load file ", quoted(file), " failed!"})});
    EXPECT_EQ(list.size(), 1);

    ASSERT_TRUE(writeFile(file, "<Solution><Other/></Solution>"));
    EXPECT_FALSE(CUpgrade::getModuleVersionFromSolutionInfoFile(file, list));
    EXPECT_EQ(m_messages.takeWarnings(), QStringList{"get node SolutionS from file failed"});
    EXPECT_EQ(list.size(), 1);

    ASSERT_TRUE(
        writeFile(file, solutionFile(solutionElement("a", "") + solutionElement("b", "")
                                     + "<Solution name=\"x\"/>" + solutionElement("c", ""))));
    EXPECT_FALSE(CUpgrade::getModuleVersionFromSolutionInfoFile(file, list));
    EXPECT_EQ(m_messages.takeWarnings(), QStringList{"get Modul eVersion from file failed"});
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.at(1).strId, "b");

    ASSERT_TRUE(writeFile(file, solutionFile(solutionElement("a", "") + "<!-- note -->")));
    EXPECT_FALSE(CUpgrade::getModuleVersionFromSolutionInfoFile(file, list));
    EXPECT_EQ(m_messages.takeWarnings(), QStringList{"get node Resolution from file failed"});
    EXPECT_EQ(list.size(), 1);
}

// The upgrade rule: which offered modules an installed list needs.
struct RuleCase
{
    const char *name;
    QVector<ModuleVersion> local;
    QVector<ModuleVersion> server;
    std::vector<std::pair<QString, qint64>> needed; // id and release date, in order
};

void PrintTo(const RuleCase &c, std::ostream *os)
{
    *os << c.name;
}

class UpgradeRule : public ::testing::TestWithParam<RuleCase>
{};

TEST_P(UpgradeRule, ReportsOnlyStrictlyLaterOffersOfParticipatingModules)
{
    const RuleCase &c = GetParam();
    QVector<ModuleVersion> need{module("already there", 1)};
    EXPECT_TRUE(CUpgrade::getUpdateModuleInfo(c.local, c.server, need));
    ASSERT_EQ(need.size(), static_cast<int>(c.needed.size()) + 1);
    EXPECT_EQ(need.at(0).strId, "already there");
    for (size_t i = 0; i < c.needed.size(); ++i) {
        EXPECT_EQ(need.at(static_cast<int>(i) + 1).strId, c.needed[i].first) << i;
        EXPECT_EQ(need.at(static_cast<int>(i) + 1).llReleaseDate, c.needed[i].second) << i;
    }
}

const RuleCase kRuleCases[] = {
    {"LaterOffer", {module("a", 10)}, {module("a", 11)}, {{"a", 11}}},
    {"EqualDate", {module("a", 10)}, {module("a", 10)}, {}},
    {"EarlierOffer", {module("a", 10)}, {module("a", 9)}, {}},
    {"StateZeroStaysOut", {module("a", 10, 0)}, {module("a", 99)}, {}},
    {"StatesOneToThreeTakePart",
     {module("a", 1, 1), module("b", 1, 2), module("c", 1, 3)},
     {module("c", 2), module("b", 2), module("a", 2)},
     {{"a", 2}, {"b", 2}, {"c", 2}}},
    {"IdsDifferingInCase", {module("Core", 1)}, {module("core", 2)}, {}},
    {"OfferedTwice",
     {module("a", 1)},
     {module("a", 2), module("a", 1), module("a", 3)},
     {{"a", 2}, {"a", 3}}},
    {"NotInstalled", {module("a", 1)}, {module("b", 2)}, {}},
    {"NegativeDatesCompareSigned",
     {module("a", -5)},
     {module("a", 3), module("a", -6)},
     {{"a", 3}}},
    {"EmptyLists", {}, {}, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, UpgradeRule, ::testing::ValuesIn(kRuleCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(SolutionFile, UpdateWritesFourFieldsAndKeepsTheRest)
{
    const QString source = path("solution.xml");
    const QString target = path("updated.xml");
    ASSERT_TRUE(
        writeFile(source, solutionFile(solutionElement(
                              "a", fullChildren("1.0", "10", "2", "kept desc", "33"), "a.7z"))));

    ModuleVersion a = module("a", -20240101, 3, "2.0");
    a.strUrl = "ignored.7z";
    a.strDesc = "ignored";
    a.dSize = 99;
    ModuleVersion fresh = module("new", 7, 1, "0.1");
    fresh.strUrl = "new.7z";
    fresh.strDesc = "not written";
    ASSERT_TRUE(CUpgrade::updateSolutionInfoFile(source, target, {a, fresh}));
    EXPECT_EQ(m_messages.takeWarnings(), QStringList());

    const ZorDomNodeResolve updated = element(target, "a");
    EXPECT_EQ(updated.GetAttribute("name", QString()), "a.7z");
    EXPECT_EQ(updated.FindChildByNodeName("Version").GetNodeValue(), "2.0");
    EXPECT_EQ(updated.FindChildByNodeName("ReleaseDate").GetNodeValue(), "-20240101");
    EXPECT_EQ(updated.FindChildByNodeName("State").GetNodeValue(), "3");
    EXPECT_EQ(updated.FindChildByNodeName("Desc").GetNodeValue(), "kept desc");
    EXPECT_EQ(updated.FindChildByNodeName("Size").GetNodeValue(), "33");

    const ZorDomNodeResolve added = element(target, "new");
    EXPECT_EQ(added.GetNodeName(), "Solution");
    EXPECT_EQ(added.GetAttribute("name", "absent"), "absent");
    ASSERT_EQ(added.GetChildNodeCount(), 3);
    EXPECT_EQ(added.GetChild(0).GetNodeName(), "Version");
    EXPECT_EQ(added.GetChild(1).GetNodeName(), "ReleaseDate");
    EXPECT_EQ(added.GetChild(2).GetNodeName(), "State");
    EXPECT_EQ(added.GetChild(1).GetNodeValue(), "7");

    // The source was only read.
    EXPECT_EQ(element(source, "new").GetNodeName(), QString());
}

struct UpdateFailureCase
{
    const char *name;
    QString modules;
    QStringList warnings;
};

void PrintTo(const UpdateFailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class SolutionUpdateFailure : public SolutionFile,
                              public ::testing::WithParamInterface<UpdateFailureCase>
{};

TEST_P(SolutionUpdateFailure, LeavesTheFileUnchanged)
{
    const UpdateFailureCase &c = GetParam();
    const QString file = path("solution.xml");
    const QByteArray before
        = solutionFile(solutionElement("first", fullChildren("1", "1", "1")) + c.modules);
    ASSERT_TRUE(writeFile(file, before));

    // The first module updates fine in memory; the broken one stops the save.
    EXPECT_FALSE(CUpgrade::updateSolutionInfoFile(
        file, file, {module("first", 5), module("broken", 5), module("after", 5)}));
    EXPECT_EQ(m_messages.takeWarnings(), c.warnings);
    EXPECT_EQ(readFile(file), before);
}

const UpdateFailureCase kUpdateFailures[] = {
    {"NoState",
     solutionElement("broken", "<Version>1</Version><ReleaseDate>1</ReleaseDate>"),
     {"get ChildNode State faield",
      message({"update ModuleVersion To Solution ", quoted("broken")})}},
    {"NoVersion",
     solutionElement("broken", "<ReleaseDate>1</ReleaseDate><State>1</State>"),
     {"get ChildNode Version faield",
      message({"update ModuleVersion To Solution ", quoted("broken")})}},
    {"NoReleaseDate",
     solutionElement("broken", "<Version>1</Version><State>1</State>"),
     {"get ChildNode ReleaseDate faield",
      message({"update ModuleVersion To Solution ", quoted("broken")})}},
    {"CommentBeforeTheModule",
     "<!-- c -->" + solutionElement("broken", fullChildren("1", "1", "1")),
     {"get Node Solution faield",
      message({"update ModuleVersion To Solution ", quoted("broken")})}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SolutionUpdateFailure, ::testing::ValuesIn(kUpdateFailures),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(SolutionFile, UpdateReportsUnreadableSourceAndUnwritableTarget)
{
    const QString missing = path("missing.xml");
    EXPECT_FALSE(CUpgrade::updateSolutionInfoFile(missing, missing, {}));
    EXPECT_EQ(m_messages.takeWarnings(),
              QStringList{message({"load ", quoted(missing), " failed"})});

    const QString source = path("solution.xml");
    ASSERT_TRUE(writeFile(source, "<Solution/>"));
    EXPECT_FALSE(CUpgrade::updateSolutionInfoFile(source, source, {}));
    EXPECT_EQ(m_messages.takeWarnings(), QStringList{"get node SolutionS from file failed"});

    ASSERT_TRUE(writeFile(source, solutionFile("")));
    const QString target = path("no such dir/out.xml");
    EXPECT_FALSE(CUpgrade::updateSolutionInfoFile(source, target, {module("a", 1)}));
    EXPECT_EQ(m_messages.takeWarnings(),
              QStringList{message({"SaveXML file ", quoted(target), " failed"})});
}

class SolutionMerge : public SolutionFile
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(m_dir.path()).mkdir("packet"));
        m_installed = path("Solution.xml");
        m_packet = path("packet") + QDir::separator() + "Solution.xml";
    }

    QString m_installed;
    QString m_packet;
};

TEST_F(SolutionMerge, UpdatesKnownModulesAndAppendsUnknownOnes)
{
    ASSERT_TRUE(writeFile(
        m_installed,
        solutionFile(solutionElement("zero", fullChildren("1", "1", "0", "z", "1"), "z.7z")
                     + solutionElement("two", fullChildren("1", "1", "2"))
                     + solutionElement("three", fullChildren("1", "1", "3"))
                     + solutionElement("untouched", fullChildren("1", "1", "0")))));
    ASSERT_TRUE(writeFile(
        m_packet,
        solutionFile(
            solutionElement("zero", fullChildren("2", "20", "0", "new", "9"), "other.7z")
            + solutionElement("two", fullChildren("2", "20", "0"))
            + solutionElement("three", fullChildren("2", "-20", "1"))
            + solutionElement("unknown", fullChildren("5", "50", "2", "u", "8"), "u.7z"))));

    EXPECT_EQ(CUpgrade::upgradeInfoToSolutionInfoFile(path("packet"), m_installed),
              UpgradeOpSuccess);
    EXPECT_EQ(m_messages.takeWarnings(), QStringList());

    const ZorDomNodeResolve zero = element(m_installed, "zero");
    EXPECT_EQ(zero.FindChildByNodeName("Version").GetNodeValue(), "2");
    EXPECT_EQ(zero.FindChildByNodeName("ReleaseDate").GetNodeValue(), "20");
    EXPECT_EQ(zero.FindChildByNodeName("State").GetNodeValue(), "1");
    EXPECT_EQ(zero.FindChildByNodeName("Desc").GetNodeValue(), "z");
    EXPECT_EQ(zero.GetAttribute("name", QString()), "z.7z");
    EXPECT_EQ(element(m_installed, "two").FindChildByNodeName("State").GetNodeValue(), "2");
    const ZorDomNodeResolve three = element(m_installed, "three");
    EXPECT_EQ(three.FindChildByNodeName("State").GetNodeValue(), "3");
    EXPECT_EQ(three.FindChildByNodeName("ReleaseDate").GetNodeValue(), "-20");
    EXPECT_EQ(element(m_installed, "untouched").FindChildByNodeName("State").GetNodeValue(), "0");

    const ZorDomNodeResolve unknown = element(m_installed, "unknown");
    EXPECT_EQ(unknown.GetAttribute("name", "absent"), "absent");
    ASSERT_EQ(unknown.GetChildNodeCount(), 3);
    EXPECT_EQ(unknown.FindChildByNodeName("Version").GetNodeValue(), "5");
    EXPECT_EQ(unknown.FindChildByNodeName("ReleaseDate").GetNodeValue(), "50");
    EXPECT_EQ(unknown.FindChildByNodeName("State").GetNodeValue(), "2");

    QVector<ModuleVersion> list;
    ASSERT_TRUE(CUpgrade::getModuleVersionFromSolutionInfoFile(m_installed, list));
    ASSERT_EQ(list.size(), 5);
    EXPECT_EQ(list.at(4).strId, "unknown");
}

TEST_F(SolutionMerge, ReportsUnreadableAndUnwritableFiles)
{
    EXPECT_EQ(CUpgrade::upgradeInfoToSolutionInfoFile(path("packet"), m_installed),
              UpgradeOpReadSolutionFailed);
    EXPECT_EQ(m_messages.takeWarnings(),
              (QStringList{message({"load file ", quoted(m_packet), " failed!"}),
                           message({"getModuleVersionFromSolutionInfoFile from ", quoted(m_packet),
                                    " failed!"})}));

    ASSERT_TRUE(
        writeFile(m_packet, solutionFile(solutionElement("a", fullChildren("2", "2", "1")))));
    EXPECT_EQ(CUpgrade::upgradeInfoToSolutionInfoFile(path("packet"), m_installed),
              UpgradeOpReadSolutionFailed);
    EXPECT_EQ(m_messages.takeWarnings(),
              (QStringList{message({"load file ", quoted(m_installed), " failed!"}),
                           message({"getModuleVersionFromSolutionInfoFile from ",
                                    quoted(m_installed), " failed!"})}));

    const QByteArray before
        = solutionFile(solutionElement("a", "<Version>1</Version><ReleaseDate>1</ReleaseDate>"));
    ASSERT_TRUE(writeFile(m_installed, before));
    EXPECT_EQ(CUpgrade::upgradeInfoToSolutionInfoFile(path("packet"), m_installed),
              UpgradeOpWriteSolutionFailed);
    EXPECT_EQ(m_messages.takeWarnings(),
              (QStringList{"get ChildNode State faield",
                           message({"update ModuleVersion To Solution ", quoted("a")}),
                           message({"upgrade info to solution info file ", quoted(m_installed),
                                    " failed!"})}));
    EXPECT_EQ(readFile(m_installed), before);
}

TEST_F(SolutionFile, PacketCopyReplacesThePacketDirectory)
{
    const QString solution = path("Solution.xml");
    ASSERT_TRUE(
        writeFile(solution, solutionFile(solutionElement("a", fullChildren("1", "1", "1")))));
    const QString packetDir = m_dir.path() + QDir::separator() + "Tmp/Packet/";
    ASSERT_TRUE(QDir().mkpath(packetDir + "stale"));
    ASSERT_TRUE(writeFile(packetDir + "stale/old.bin", "old"));

    ASSERT_TRUE(CUpgrade::writeSolutionInfoToPacket(solution, m_dir.path(), {module("a", 9)}));
    EXPECT_FALSE(QFileInfo::exists(packetDir + "stale"));
    EXPECT_EQ(
        element(packetDir + "Solution.xml", "a").FindChildByNodeName("ReleaseDate").GetNodeValue(),
        "9");
    EXPECT_EQ(element(solution, "a").FindChildByNodeName("ReleaseDate").GetNodeValue(), "1");

    const QString missing = path("Missing.xml");
    EXPECT_FALSE(CUpgrade::writeSolutionInfoToPacket(missing, m_dir.path(), {}));
    EXPECT_EQ(m_messages.takeWarnings(),
              QStringList{message({"load ", quoted(missing), " failed"})});
}

} // namespace

namespace {

// Lists of modules and the result code cross threads in queued signals under these names.
TEST(UpgradeMetaTypes, AreKnownByTheirNames)
{
    registerUpgradeMetaTypes();
    const int listType = QMetaType::type("QVector<ModuleVersion>");
    ASSERT_NE(listType, QMetaType::UnknownType);
    EXPECT_EQ(listType, qMetaTypeId<QVector<ModuleVersion>>());
    const int errorType = QMetaType::type("UpgradeOpError");
    ASSERT_NE(errorType, QMetaType::UnknownType);
    EXPECT_EQ(QMetaType::sizeOf(errorType), 4);

    QVector<ModuleVersion> list{module("a", -3, 2, "1.0")};
    const QVariant copy(listType, &list);
    const auto back = copy.value<QVector<ModuleVersion>>();
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back.at(0).strId, "a");
    EXPECT_EQ(back.at(0).llReleaseDate, -3);
}

} // namespace
