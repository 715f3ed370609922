// SPDX-License-Identifier: MIT
// The version query against in-process upgrade servers over HTTP and HTTPS.
#include "cupgrade.h"
#include "debugtext.h"
#include "fakeupgradeserver.h"
#include "messagecapture.h"
#include "testcerts.h"
#include "versionquery.h"

#include <hestal/hestal.h>

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

using TestSupport::MessageCapture;

namespace {

const char kPrefix[] = "/api/v2";
const char kPath[] = "/upgrade/query";
// Not ASCII, so that the token is taken over UTF-8 bytes.
const char kKey[] = "k\xc3\xa9y-2024";

class QueryServers : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_certDir = std::make_unique<QTemporaryDir>();
        TestSupport::TestCertificates certs;
        ASSERT_TRUE(TestSupport::makeTestCertificates(s_certDir->path(), certs));
        CHttp::SetExtraCaFile(certs.caFile);
        s_http = std::make_unique<FakeUpgradeServer>(kPrefix, kKey);
        s_https = std::make_unique<FakeUpgradeServer>(kPrefix, kKey, certs.certFile.toStdString(),
                                                      certs.keyFile.toStdString());
        ASSERT_TRUE(s_http->start());
        ASSERT_TRUE(s_https->start());
    }

    static void TearDownTestSuite()
    {
        s_http.reset();
        s_https.reset();
        CHttp::SetExtraCaFile(QString());
        s_certDir.reset();
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_http && s_https);
        s_http->takeRequests();
        s_https->takeRequests();
    }

    static QString address(const FakeUpgradeServer &server)
    {
        return QString("127.0.0.1:%1").arg(server.port());
    }

    // A valid configuration whose current server carries that name and points at server.
    static ServerClusterInfo cluster(const QString &name, const FakeUpgradeServer &server,
                                     const QString &key = QString::fromUtf8(kKey))
    {
        ServerClusterInfo info;
        info.vecServer = {{"other", "192.0.2.1:1"}, {name, address(server)}};
        info.nCurrServer = 1;
        info.strPrefix = kPrefix;
        info.strPath = kPath;
        info.strKey = key;
        return info;
    }

    static std::unique_ptr<QTemporaryDir> s_certDir;
    static std::unique_ptr<FakeUpgradeServer> s_http;
    static std::unique_ptr<FakeUpgradeServer> s_https;

    CUpgrade m_engine;
    MessageCapture m_messages;
};

std::unique_ptr<QTemporaryDir> QueryServers::s_certDir;
std::unique_ptr<FakeUpgradeServer> QueryServers::s_http;
std::unique_ptr<FakeUpgradeServer> QueryServers::s_https;

// ---- Reading the answer ----

struct Expected
{
    QString id;
    QString url = "u";
    QString icon = "i";
    QString desc;
    qint64 date = 0;
    double size = 0.0;
    QString version;
};

struct AnswerCase
{
    const char *name;
    std::string body;
    QString warning; // empty: the query succeeds
    std::vector<Expected> modules;
};

void PrintTo(const AnswerCase &c, std::ostream *os)
{
    *os << c.name;
}

// An element with the members that must not be empty, and extra members after them.
std::string element(const std::string &extra = {})
{
    return R"({"ID":"a","OutUrl":"u","IconUrl":"i")" + (extra.empty() ? "" : "," + extra) + "}";
}

std::string answer(const std::string &elements)
{
    return R"({"retcode":0,"value":{"upgrade":[)" + elements + "]}}";
}

Expected module(const QString &id = "a")
{
    Expected e;
    e.id = id;
    return e;
}

Expected addressed(const QString &id, const QString &url, const QString &icon)
{
    Expected e = module(id);
    e.url = url;
    e.icon = icon;
    return e;
}

Expected withDate(qint64 date)
{
    Expected e = module();
    e.date = date;
    return e;
}

Expected withSize(double size)
{
    Expected e = module();
    e.size = size;
    return e;
}

Expected withDesc(const QString &desc)
{
    Expected e = module();
    e.desc = desc;
    return e;
}

const char kFormat[] = "json format error failed!";
const char kParse[] = "parse json failed!";
const char kRetcode[] = "get json error failed!";
constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

const AnswerCase kAnswers[] = {
    // The top level and "retcode".
    {"EmptyObject", "{}", "", {}},
    {"TopLevelArray", "[1,2]", "", {}},
    {"TopLevelString", "\"text\"", "", {}},
    {"RetcodeZeroAndEmptyList", answer(""), "", {}},
    {"NoRetcode", R"({"value":{"upgrade":[)" + element() + "]}}", "", {module()}},
    {"RetcodeOne", R"({"retcode":1,"value":{"upgrade":[)" + element() + "]}}", kRetcode, {}},
    {"RetcodeNegative", R"({"retcode":-7})", kRetcode, {}},
    {"RetcodeAsString",
     R"({"retcode":"1","value":{"upgrade":[)" + element() + "]}}",
     "",
     {module()}},
    {"RetcodeAsReal", R"({"retcode":1.5})", "", {}},
    {"RetcodeAsWholeReal", R"({"retcode":1.0})", "", {}},
    {"RetcodeBeyond32Bits", R"({"retcode":4294967296})", "", {}},
    {"RetcodeAsBoolean", R"({"retcode":true})", "", {}},
    // "value" and "upgrade".
    {"ValueNull", R"({"value":null})", "", {}},
    {"ValueEmptyObject", R"({"value":{}})", "", {}},
    {"ValueArray", R"({"value":[]})", kFormat, {}},
    {"ValueString", R"({"value":"x"})", kFormat, {}},
    {"UpgradeNull", R"({"value":{"upgrade":null}})", "", {}},
    {"UpgradeObject", R"({"value":{"upgrade":{}}})", kFormat, {}},
    {"UpgradeNumber", R"({"value":{"upgrade":3}})", kFormat, {}},
    // Elements.
    {"ElementNumber", answer("5"), kFormat, {}},
    {"ElementNull", answer("null"), kFormat, {}},
    {"ElementArray", answer("[]"), kFormat, {}},
    {"TwoModulesInOrder",
     answer(R"({"ID":"b","OutUrl":"ob","IconUrl":"ib"},{"ID":"c","OutUrl":"oc","IconUrl":"ic"})"),
     "",
     {addressed("b", "ob", "ib"), addressed("c", "oc", "ic")}},
    {"BadElementAfterGoodOnes",
     answer(element() + "," + element() + ",7"),
     kFormat,
     {module(), module()}},
    {"NoId", answer(R"({"OutUrl":"u","IconUrl":"i"})"), kFormat, {}},
    {"EmptyId", answer(R"({"ID":"","OutUrl":"u","IconUrl":"i"})"), kFormat, {}},
    {"IdNumber", answer(R"({"ID":12,"OutUrl":"u","IconUrl":"i"})"), kFormat, {}},
    {"IdBoolean", answer(R"({"ID":true,"OutUrl":"u","IconUrl":"i"})"), "", {module("true")}},
    {"OutUrlBeforeUrl",
     answer(R"({"ID":"a","OutUrl":"u","Url":"in","IconUrl":"i"})"),
     "",
     {module()}},
    {"EmptyOutUrlTakesUrl",
     answer(R"({"ID":"a","OutUrl":"","Url":"in","IconUrl":"i"})"),
     "",
     {addressed("a", "in", "i")}},
    {"OutUrlNumberTakesUrl",
     answer(R"({"ID":"a","OutUrl":5,"Url":"in","IconUrl":"i"})"),
     "",
     {addressed("a", "in", "i")}},
    {"NoAddress", answer(R"({"ID":"a","OutUrl":"","IconUrl":"i"})"), kFormat, {}},
    {"NoIconUrlAfterAGoodModule",
     answer(element() + R"(,{"ID":"b","OutUrl":"u"})"),
     kFormat,
     {module()}},
    {"IconUrlObject", answer(R"({"ID":"a","OutUrl":"u","IconUrl":{}})"), kFormat, {}},
    // "ReleaseDate".
    {"DateInteger", answer(element(R"("ReleaseDate":20240601)")), "", {withDate(20240601)}},
    {"DateNegative", answer(element(R"("ReleaseDate":-15)")), "", {withDate(-15)}},
    {"DateRealIsCut", answer(element(R"("ReleaseDate":12.9)")), "", {withDate(12)}},
    {"DateNegativeRealIsCut", answer(element(R"("ReleaseDate":-3.7)")), "", {withDate(-3)}},
    {"DateTrue", answer(element(R"("ReleaseDate":true)")), "", {withDate(1)}},
    {"DateFalse", answer(element(R"("ReleaseDate":false)")), "", {withDate(0)}},
    {"DateString", answer(element(R"("ReleaseDate":"123")")), "", {withDate(0)}},
    {"DateNull", answer(element(R"("ReleaseDate":null)")), "", {withDate(0)}},
    {"DateArray", answer(element(R"("ReleaseDate":[1])")), "", {withDate(0)}},
    {"DateLargest", answer(element(R"("ReleaseDate":9223372036854775807)")), "", {withDate(kMax)}},
    {"DateSmallest",
     answer(element(R"("ReleaseDate":-9223372036854775808)")),
     "",
     {withDate(kMin)}},
    {"DateBeyondSignedRangeIsHeld",
     answer(element(R"("ReleaseDate":18446744073709551615)")),
     "",
     {withDate(kMax)}},
    {"DateHugeRealIsHeld", answer(element(R"("ReleaseDate":-1e300)")), "", {withDate(kMin)}},
    // "Size".
    {"SizeText", answer(element(R"("Size":"12.5")")), "", {withSize(12.5)}},
    {"SizeExponent", answer(element(R"("Size":"1e2")")), "", {withSize(100)}},
    {"SizeNumber", answer(element(R"("Size":12.5)")), "", {withSize(0)}},
    {"SizeNotANumber", answer(element(R"("Size":"big")")), "", {withSize(0)}},
    {"SizeNotFinite", answer(element(R"("Size":"nan")")), "", {withSize(0)}},
    // Text members.
    {"DescBoolean", answer(element(R"("Desc":false)")), "", {withDesc("false")}},
    {"DescNumber", answer(element(R"("Desc":3)")), "", {withDesc("")}},
    {"DescEscapes",
     answer(element(R"("Desc":"\u00fc\n\"q\"")")),
     "",
     {withDesc(QString::fromUtf8("\xc3\xbc\n\"q\""))}},
    {"DescWithNul",
     answer(element(R"("Desc":"a\u0000b")")),
     "",
     {withDesc(QString::fromUtf8("a\0b", 3))}},
    {"AllMembers",
     answer(R"({"ID":"m","OutUrl":"o","Url":"x","IconUrl":"ic","Desc":"d","ReleaseDate":9,)"
            R"("Size":"2.25","Version":"3.1","State":3,"Other":{"a":[1]}})"),
     "",
     {{"m", "o", "ic", "d", 9, 2.25, "3.1"}}},
    // Bodies that do not parse.
    {"NotJson", "not json", kParse, {}},
    {"EmptyBody", "", kParse, {}},
    {"CutShort", R"({"value":{"upgrade":[)", kParse, {}},
    {"NestedTooDeep", std::string(5000, '['), kParse, {}},
};

class VersionAnswer : public QueryServers, public ::testing::WithParamInterface<AnswerCase>
{};

TEST_P(VersionAnswer, IsReadByTheRules)
{
    const AnswerCase &c = GetParam();
    s_http->setAnswer(200, c.body);

    QVector<ModuleVersion> list(1);
    list[0].strId = "from before";
    EXPECT_EQ(m_engine.getVersionInfoFromServer(cluster("inter", *s_http), list),
              c.warning.isEmpty());
    EXPECT_EQ(m_messages.takeWarnings(),
              c.warning.isEmpty() ? QStringList() : QStringList{c.warning});
    EXPECT_EQ(m_messages.messagesWithLocation(), 0);
    EXPECT_EQ(s_http->takeRequests().size(), 1u);

    ASSERT_EQ(list.size(), static_cast<int>(c.modules.size()) + 1);
    EXPECT_EQ(list.at(0).strId, "from before");
    for (size_t i = 0; i < c.modules.size(); ++i) {
        const ModuleVersion &m = list.at(static_cast<int>(i) + 1);
        const Expected &e = c.modules[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(m.strId, e.id);
        EXPECT_EQ(m.strUrl, e.url);
        EXPECT_EQ(m.strIconUrl, e.icon);
        EXPECT_EQ(m.strDesc, e.desc);
        EXPECT_EQ(m.llReleaseDate, e.date);
        EXPECT_EQ(m.dSize, e.size);
        EXPECT_EQ(m.strVersion, e.version);
        EXPECT_EQ(m.nState, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, VersionAnswer, ::testing::ValuesIn(kAnswers),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- The request ----

struct SchemeCase
{
    const char *name;
    const char *serverName;
    bool https;
};

void PrintTo(const SchemeCase &c, std::ostream *os)
{
    *os << c.name;
}

class VersionScheme : public QueryServers, public ::testing::WithParamInterface<SchemeCase>
{};

TEST_P(VersionScheme, FollowsTheServerName)
{
    const SchemeCase &c = GetParam();
    FakeUpgradeServer &expected = c.https ? *s_https : *s_http;
    FakeUpgradeServer &other = c.https ? *s_http : *s_https;
    expected.setAnswer(200, answer(element()));

    QVector<ModuleVersion> list;
    EXPECT_TRUE(m_engine.getVersionInfoFromServer(cluster(c.serverName, expected), list));
    EXPECT_EQ(list.size(), 1);
    EXPECT_EQ(expected.takeRequests().size(), 1u);
    EXPECT_TRUE(other.takeRequests().empty());
    EXPECT_EQ(m_messages.takeWarnings(), QStringList());
}

const SchemeCase kSchemes[] = {
    {"Inter", "inter", false},          {"Test", "test", false}, {"InterCapital", "Inter", true},
    {"TestUpper", "TEST", true},        {"Cn", "cn", true},      {"Foreign", "foreign", true},
    {"InterWithSpace", "inter ", true},
};

INSTANTIATE_TEST_SUITE_P(Cases, VersionScheme, ::testing::ValuesIn(kSchemes),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(QueryServers, EveryRequestDrawsANewTailAndToken)
{
    s_https->setAnswer(200, "{}");
    QVector<ModuleVersion> list;
    const ServerClusterInfo info = cluster("foreign", *s_https);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(m_engine.getVersionInfoFromServer(info, list));

    const std::vector<FakeUpgradeServer::Request> requests = s_https->takeRequests();
    ASSERT_EQ(requests.size(), 3u);
    const QRegularExpression form(
        QString("^%1%2/(0|-?[1-9][0-9]{0,18})$")
            .arg(QRegularExpression::escape(kPrefix), QRegularExpression::escape(kPath)));
    for (const auto &r : requests) {
        EXPECT_TRUE(form.match(QString::fromStdString(r.path)).hasMatch()) << r.path;
        EXPECT_TRUE(
            QRegularExpression("^[0-9a-f]{32}$").match(QString::fromStdString(r.token)).hasMatch())
            << r.token;
        // The server accepted it, so this holds; spelt out for the reader.
        EXPECT_EQ(r.token, md5Hex(r.path.substr(sizeof kPrefix - 1) + kKey));
    }
    EXPECT_NE(requests[0].path, requests[1].path);
    EXPECT_NE(requests[1].path, requests[2].path);
    EXPECT_NE(requests[0].token, requests[1].token);
    EXPECT_EQ(m_messages.takeWarnings(), QStringList());
}

TEST_F(QueryServers, TransferErrorLogsTheAddressAndTheBody)
{
    s_http->setAnswer(200, answer(element()));
    QVector<ModuleVersion> list;
    // The server refuses a token made with another key.
    EXPECT_FALSE(m_engine.getVersionInfoFromServer(cluster("inter", *s_http, "wrong"), list));
    std::vector<FakeUpgradeServer::Request> requests = s_http->takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    const QString sent = "http://" + address(*s_http) + QString::fromStdString(requests[0].path);
    EXPECT_EQ(m_messages.takeWarnings(),
              QStringList{
                  message({"get ", quoted(sent), " failed!", " result is ", quoted("bad token")})});

    // An error status with an empty body logs the empty body.
    s_http->setAnswer(500, "");
    EXPECT_FALSE(m_engine.getVersionInfoFromServer(cluster("inter", *s_http), list));
    requests = s_http->takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(m_messages.takeWarnings(),
              QStringList{message(
                  {"get ",
                   quoted("http://" + address(*s_http) + QString::fromStdString(requests[0].path)),
                   " failed!", " result is ", quoted("")})});
    EXPECT_TRUE(list.isEmpty());
}

TEST_F(QueryServers, UnreachableServerLogsAnEmptyBody)
{
    // A port that was free a moment ago: nothing listens on it.
    int closedPort = -1;
    {
        FakeUpgradeServer gone("", "");
        ASSERT_TRUE(gone.start());
        closedPort = gone.port();
    }
    ServerClusterInfo info = cluster("inter", *s_http);
    info.vecServer[1].strSvrUrl = QString("127.0.0.1:%1").arg(closedPort);
    QVector<ModuleVersion> list;
    EXPECT_FALSE(m_engine.getVersionInfoFromServer(info, list));

    const QStringList warnings = m_messages.takeWarnings();
    ASSERT_EQ(warnings.size(), 1);
    const QString start
        = message({"get ",
                   quoted(QString("http://127.0.0.1:%1%2%3/").arg(closedPort).arg(kPrefix, kPath))})
              .chopped(1);
    EXPECT_TRUE(warnings[0].startsWith(start)) << warnings[0].toStdString();
    EXPECT_TRUE(warnings[0].endsWith(message({"\"", " failed!", " result is ", quoted("")})))
        << warnings[0].toStdString();
}

TEST_F(QueryServers, InvalidConfigurationSendsNothing)
{
    ServerClusterInfo info = cluster("inter", *s_http);
    info.strKey.clear();
    QVector<ModuleVersion> list;
    EXPECT_FALSE(m_engine.getVersionInfoFromServer(info, list));
    info = cluster("inter", *s_http);
    info.nCurrServer = 2;
    EXPECT_FALSE(m_engine.getVersionInfoFromServer(info, list));
    EXPECT_EQ(m_messages.takeWarnings(),
              (QStringList{"invalid ServerInfo something is empty", "Curr Server Info Invalid",
                           "invalid ServerInfo", "Curr Server Info Invalid"}));
    EXPECT_TRUE(s_http->takeRequests().empty());
}

TEST(VersionQueryPieces, TokenIsTheMd5OfPathAndKeyInLowercaseHex)
{
    // Known digests: the empty text, and a path followed by a key.
    EXPECT_EQ(VersionQuery::requestToken("", ""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(VersionQuery::requestToken("/upgrade/query/-12", "key").toStdString(),
              md5Hex("/upgrade/query/-12key"));
    EXPECT_EQ(VersionQuery::requestToken("/p", QString::fromUtf8(kKey)).toStdString(),
              md5Hex(std::string("/p") + kKey));
}

} // namespace
