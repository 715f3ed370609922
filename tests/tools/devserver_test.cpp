// SPDX-License-Identifier: MIT
// The development upgrade server as a person runs it: the real program on 127.0.0.1, port 0.
#include "cupgrade.h"
#include "testcerts.h"
#include "upgradetypes.h"
#include "versionquery.h"

#include <hestal/hestal.h>
#include <httplib.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

const QString kKey = QStringLiteral("dev-key");
const QString kPrefix = QStringLiteral("/api/v2");
const QString kPath = QStringLiteral("/upgrade/client/version");
const QString kQueryBase = kPrefix + kPath;
// Made up; only the connect-to map leads there.
const char kHost[] = "upgrade.norvane.test";

const char kManifest[] = R"({"modules": [
  {"id": "Player", "releaseDate": 20261201, "packet": "Player-2.1.7z", "version": "2.1.0",
   "desc": "Faster start", "icon": "player.png"},
  {"id": "Map", "releaseDate": -5, "packet": "Map Tiles.7z",
   "icon": "https://icons.example.com/map.png"},
  {"id": "Empty", "releaseDate": 9007199254740993, "packet": "Empty.7z"}
]})";

std::string randomBytes(size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

std::string toStd(const QString &text)
{
    return text.toStdString();
}

// The server program; whatever the test does, it does not outlive it.
class DevServerProcess
{
public:
    ~DevServerProcess() { stop(SIGTERM); }

    // True once the program printed the port it bound.
    bool start(const QStringList &args)
    {
        m_process.start(QStringLiteral(NORVANE_DEVSERVER), args);
        if (!m_process.waitForStarted(10000))
            return false;
        QElapsedTimer waited;
        waited.start();
        while (!m_process.canReadLine() && m_process.state() == QProcess::Running
               && waited.elapsed() < 10000)
            m_process.waitForReadyRead(100);
        bool ok = false;
        m_port = QString::fromLatin1(m_process.readLine()).trimmed().toInt(&ok);
        return ok && m_port > 0;
    }
    // For programs that should refuse to start: the exit code, or -1 when it kept running.
    int runToEnd(const QStringList &args)
    {
        m_process.start(QStringLiteral(NORVANE_DEVSERVER), args);
        if (m_process.waitForFinished(10000) && m_process.exitStatus() == QProcess::NormalExit)
            return m_process.exitCode();
        return -1;
    }
    // Sends the signal and waits; the exit code, or -1 when it crashed or had to be killed.
    int stop(int signal)
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(m_process.processId()), signal);
            if (!m_process.waitForFinished(10000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
                return -1;
            }
        }
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    QString errors()
    {
        m_errors += QString::fromUtf8(m_process.readAllStandardError());
        return m_errors;
    }
    int port() const { return m_port; }

private:
    QProcess m_process;
    int m_port = 0;
    QString m_errors;
};

class DevServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_packets = m_dir.filePath(QStringLiteral("packets"));
        ASSERT_TRUE(QDir().mkpath(m_packets));
        // Not a whole number of the server's 256 KiB blocks.
        writeFile(QStringLiteral("Player-2.1.7z"), randomBytes(700001, 1));
        writeFile(QStringLiteral("Map Tiles.7z"), randomBytes(1000, 2));
        writeFile(QStringLiteral("Empty.7z"), std::string());
        writeFile(QStringLiteral("player.png"), randomBytes(64, 3));
        writeFile(QStringLiteral("manifest.json"), kManifest);
        m_cluster = m_dir.filePath(QStringLiteral("cluster.xml"));
        writeCluster(QStringLiteral("inter"), QStringLiteral("127.0.0.1"));
    }

    void writeFile(const QString &name, const std::string &bytes)
    {
        QFile file(QDir(m_packets).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
    }
    std::string packet(const QString &name) const
    {
        QFile file(QDir(m_packets).filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "(unreadable)";
    }
    void writeCluster(const QString &serverName, const QString &address)
    {
        ServerClusterInfo info;
        info.vecServer = {{serverName, address}};
        info.nCurrServer = 0;
        info.strPrefix = kPrefix;
        info.strPath = kPath;
        info.strKey = kKey;
        ASSERT_TRUE(CUpgrade::saveServerClusterInfo(info, m_cluster));
    }
    QStringList arguments() const
    {
        return {QStringLiteral("--packets"), m_packets, QStringLiteral("--cluster"), m_cluster};
    }
    void startPlain() { ASSERT_TRUE(m_server.start(arguments())) << toStd(m_server.errors()); }

    httplib::Result get(const std::string &target, const httplib::Headers &headers = {})
    {
        httplib::Client client("127.0.0.1", m_server.port());
        client.set_connection_timeout(5);
        client.set_read_timeout(10);
        return client.Get(target.c_str(), headers);
    }
    // A version query for tail with the token the engine would send.
    httplib::Result query(qint64 tail = -4242)
    {
        const QString requestPath = kPath + '/' + QString::number(tail);
        return get(toStd(kPrefix + requestPath),
                   {{"token", toStd(VersionQuery::requestToken(requestPath, kKey))}});
    }
    QVector<ModuleVersion> offered()
    {
        QVector<ModuleVersion> modules;
        const auto answer = query();
        EXPECT_TRUE(answer && answer->status == 200);
        if (answer) {
            EXPECT_EQ(
                VersionQuery::readVersionAnswer(QString::fromStdString(answer->body), modules),
                VersionQuery::AnswerResult::Ok);
        }
        return modules;
    }

    QTemporaryDir m_dir;
    QString m_packets;
    QString m_cluster;
    DevServerProcess m_server;
};

TEST_F(DevServerTest, AnswerIsReadByTheEngineWithEveryModuleOfTheManifest)
{
    startPlain();
    const QVector<ModuleVersion> modules = offered();
    ASSERT_EQ(modules.size(), 3);
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(m_server.port());

    EXPECT_EQ(modules[0].strId, QStringLiteral("Player"));
    EXPECT_EQ(modules[0].strVersion, QStringLiteral("2.1.0"));
    EXPECT_EQ(modules[0].strDesc, QStringLiteral("Faster start"));
    EXPECT_EQ(modules[0].llReleaseDate, 20261201);
    EXPECT_NEAR(modules[0].dSize * 1024 * 1024, 700001, 1.0);
    EXPECT_EQ(modules[0].strUrl, base + QStringLiteral("/packets/Player-2.1.7z"));
    EXPECT_EQ(modules[0].strIconUrl, base + QStringLiteral("/packets/player.png"));

    EXPECT_EQ(modules[1].strId, QStringLiteral("Map"));
    EXPECT_EQ(modules[1].llReleaseDate, -5);
    EXPECT_EQ(modules[1].strUrl, base + QStringLiteral("/packets/Map%20Tiles.7z"));
    EXPECT_EQ(QUrl(modules[1].strUrl).fileName(), QStringLiteral("Map Tiles.7z"));
    EXPECT_EQ(modules[1].strIconUrl, QStringLiteral("https://icons.example.com/map.png"));

    // Beyond what a double holds exactly: the date must go through as an integer.
    EXPECT_EQ(modules[2].llReleaseDate, 9007199254740993LL);
    EXPECT_EQ(modules[2].dSize, 0.0);
    EXPECT_EQ(modules[2].strIconUrl, base + QStringLiteral("/icons/module.png"));
}

TEST_F(DevServerTest, PublicUrlIsTheBaseOfEveryAddressItServes)
{
    ASSERT_TRUE(
        m_server.start(arguments() + QStringList{"--public-url", "https://cdn.example.com/up/"}))
        << toStd(m_server.errors());
    const QVector<ModuleVersion> modules = offered();
    ASSERT_EQ(modules.size(), 3);
    EXPECT_EQ(modules[0].strUrl,
              QStringLiteral("https://cdn.example.com/up/packets/Player-2.1.7z"));
    EXPECT_EQ(modules[0].strIconUrl,
              QStringLiteral("https://cdn.example.com/up/packets/player.png"));
    EXPECT_EQ(modules[1].strIconUrl, QStringLiteral("https://icons.example.com/map.png"));
    EXPECT_EQ(modules[2].strIconUrl, QStringLiteral("https://cdn.example.com/up/icons/module.png"));
}

TEST_F(DevServerTest, PacketsAndIconsAreServedWholeAndByteIdentical)
{
    startPlain();
    const QVector<ModuleVersion> modules = offered();
    ASSERT_EQ(modules.size(), 3);
    for (const ModuleVersion &module : modules) {
        const auto answer = get(toStd(QUrl(module.strUrl).path(QUrl::FullyEncoded)));
        ASSERT_TRUE(answer) << toStd(module.strUrl);
        EXPECT_EQ(answer->status, 200);
        EXPECT_TRUE(answer->body == packet(QUrl(module.strUrl).fileName()))
            << toStd(module.strUrl) << ": " << answer->body.size() << " bytes";
    }
    const auto icon = get("/packets/player.png");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->body, packet(QStringLiteral("player.png")));
    const auto builtIn = get("/icons/module.png");
    ASSERT_TRUE(builtIn);
    EXPECT_EQ(builtIn->status, 200);
    EXPECT_EQ(builtIn->body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

struct TokenCase
{
    const char *name;
    // The header to send, made from the right token; empty: no header at all.
    std::function<std::string(const std::string &right)> header;
    int status;
};

class DevServerTokenTest : public DevServerTest, public ::testing::WithParamInterface<TokenCase>
{};

TEST_P(DevServerTokenTest, OnlyTheRightTokenGetsAnAnswer)
{
    startPlain();
    const QString requestPath = kPath + QStringLiteral("/77");
    const std::string right = toStd(VersionQuery::requestToken(requestPath, kKey));
    const std::string header = GetParam().header(right);
    httplib::Headers headers;
    if (GetParam().status != 403 || !header.empty())
        headers.emplace("token", header);
    const auto answer = get(toStd(kPrefix + requestPath), headers);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, GetParam().status);
    QVector<ModuleVersion> modules;
    const auto read
        = VersionQuery::readVersionAnswer(QString::fromStdString(answer->body), modules);
    EXPECT_EQ(read, GetParam().status == 200 ? VersionQuery::AnswerResult::Ok
                                             : VersionQuery::AnswerResult::ErrorCode);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, DevServerTokenTest,
    ::testing::Values(
        TokenCase{"right", [](const std::string &right) { return right; }, 200},
        TokenCase{"missing", [](const std::string &) { return std::string(); }, 403},
        TokenCase{"otherKey",
                  [](const std::string &) {
                      return toStd(VersionQuery::requestToken(kPath + "/77", "other"));
                  },
                  403},
        TokenCase{"otherNumber",
                  [](const std::string &) {
                      return toStd(VersionQuery::requestToken(kPath + "/78", kKey));
                  },
                  403},
        TokenCase{"withPrefix",
                  [](const std::string &) {
                      return toStd(VersionQuery::requestToken(kQueryBase + "/77", kKey));
                  },
                  403},
        TokenCase{
            "upperCase",
            [](const std::string &right) { return toStd(QString::fromStdString(right).toUpper()); },
            403},
        TokenCase{"cutShort", [](const std::string &right) { return right.substr(0, 31); }, 403}),
    [](const auto &info) { return std::string(info.param.name); });

class DevServerPathTest : public DevServerTest, public ::testing::WithParamInterface<const char *>
{};

TEST_P(DevServerPathTest, UnknownPathIsNotFound)
{
    startPlain();
    const QString requestPath = kPath + QStringLiteral("/1");
    const auto answer
        = get(GetParam(), {{"token", toStd(VersionQuery::requestToken(requestPath, kKey))}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 404);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DevServerPathTest,
    ::testing::Values("/", "/nothing", "/api/v2/upgrade/client/version",
                      "/api/v2/upgrade/client/version/", "/api/v2/upgrade/client/version/1/2",
                      "/api/v2/upgrade/client/version/x1", "/api/v2/upgrade/client/version/+1",
                      "/api/v2/upgrade/client/version/99999999999999999999",
                      "/upgrade/client/version/1", "/packets/", "/packets/manifest.json",
                      "/packets/Absent.7z", "/packets/..%2Fpackets%2FEmpty.7z",
                      "/packets/Player-2.1.7z/x", "/icons/other.png"));

TEST_F(DevServerTest, OverHttpsTheEngineReachesItByNameThroughTheConnectToMap)
{
    TestSupport::TestCertificates certs;
    ASSERT_TRUE(TestSupport::makeTestCertificates(m_dir.path(), certs, kHost));
    // An address with a port and a path of its own: both stay in what the engine asks for.
    writeCluster(QStringLiteral("foreign"), QStringLiteral("upgrade.norvane.test:8443/mirror"));
    ASSERT_TRUE(
        m_server.start(arguments() + QStringList{"--cert", certs.certFile, "--key", certs.keyFile}))
        << toStd(m_server.errors());
    qputenv("HESTAL_CONNECT_TO",
            QStringLiteral("upgrade.norvane.test:8443:127.0.0.1:%1").arg(m_server.port()).toUtf8());

    ServerClusterInfo info;
    ASSERT_TRUE(CUpgrade::readServerClusterInfo(m_cluster, info));
    CUpgrade engine;
    QVector<ModuleVersion> untrusted;
    const bool withoutCa = engine.getVersionInfoFromServer(info, untrusted);
    CHttp::SetExtraCaFile(certs.caFile);
    QVector<ModuleVersion> modules;
    const bool withCa = engine.getVersionInfoFromServer(info, modules);

    std::string downloaded;
    HTTP_ERROR download = HTTP_ERROR_INIT;
    if (!modules.isEmpty()) {
        CHttp http;
        http.InitData();
        DonwloadFileParam param{[](void *data, size_t size, size_t count, void *user) -> size_t {
                                    static_cast<std::string *>(user)->append(
                                        static_cast<const char *>(data), size * count);
                                    return size * count;
                                },
                                &downloaded, nullptr};
        download = http.DownloadFile(modules[0].strUrl, param);
    }
    CHttp::SetExtraCaFile(QString());
    qunsetenv("HESTAL_CONNECT_TO");

    EXPECT_FALSE(withoutCa);
    ASSERT_TRUE(withCa);
    ASSERT_EQ(modules.size(), 3);
    EXPECT_EQ(modules[0].strUrl,
              QStringLiteral("https://upgrade.norvane.test:8443/packets/Player-2.1.7z"));
    EXPECT_EQ(download, HTTP_ERROR_OK);
    EXPECT_TRUE(downloaded == packet(QStringLiteral("Player-2.1.7z")));
    ASSERT_EQ(m_server.stop(SIGTERM), 0);
    EXPECT_TRUE(
        m_server.errors().contains(QStringLiteral(" GET /mirror/api/v2/upgrade/client/version/")));
}

TEST_F(DevServerTest, EachRequestIsLoggedOnOneLine)
{
    startPlain();
    ASSERT_TRUE(get("/nothing"));
    ASSERT_TRUE(get(toStd(kQueryBase + "/5")));
    ASSERT_TRUE(query(6));
    ASSERT_TRUE(get("/packets/Map%20Tiles.7z"));
    // A manifest broken while the server runs: the parser's message spans lines.
    writeFile(QStringLiteral("manifest.json"), "{\"modules\": [\n{");
    const auto broken = query(7);
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->status, 500);
    ASSERT_EQ(m_server.stop(SIGTERM), 0);

    const QString errors = m_server.errors();
    const QString line = QStringLiteral(R"((?m)^\S+Z 127\.0\.0\.1:\d+ GET %1 %2 %3 \d+ms%4$)");
    const struct
    {
        QString target;
        int status;
        QString bytes;
        QString note; // a pattern
    } expected[] = {{"/nothing", 404, "\\d+", " unknown path"},
                    {kQueryBase + "/5", 403, "\\d+", " missing token"},
                    {kQueryBase + "/6", 200, "\\d+", " offered 3"},
                    {"/packets/Map%20Tiles.7z", 200, "1000", ""},
                    {kQueryBase + "/7", 500, "\\d+", " \\S*manifest\\.json: not JSON: .+"}};
    for (const auto &request : expected) {
        const QRegularExpression pattern(line.arg(QRegularExpression::escape(request.target))
                                             .arg(request.status)
                                             .arg(request.bytes, request.note));
        EXPECT_TRUE(pattern.match(errors).hasMatch()) << toStd(request.target) << "\n"
                                                      << toStd(errors);
    }
    // Nothing else but the server's own notes.
    const QRegularExpression requestLine(QStringLiteral("^\\S+Z 127\\.0\\.0\\.1:"));
    int requests = 0;
    for (const QString &text : errors.split('\n', Qt::SkipEmptyParts)) {
        if (requestLine.match(text).hasMatch())
            ++requests;
        else
            EXPECT_TRUE(text.startsWith(QStringLiteral("norvane-devserver: "))) << toStd(text);
    }
    EXPECT_EQ(requests, 5);
}

class DevServerSignalTest : public DevServerTest, public ::testing::WithParamInterface<int>
{};

TEST_P(DevServerSignalTest, StopsCleanlyWhileAClientKeepsItsConnection)
{
    startPlain();
    httplib::Client client("127.0.0.1", m_server.port());
    client.set_keep_alive(true);
    const auto answer = client.Get("/packets/Player-2.1.7z");
    ASSERT_TRUE(answer);
    EXPECT_EQ(m_server.stop(GetParam()), 0);
    EXPECT_TRUE(m_server.errors().contains(QStringLiteral("norvane-devserver: stopped")))
        << toStd(m_server.errors());
}

INSTANTIATE_TEST_SUITE_P(Signals, DevServerSignalTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto &info) { return info.param == SIGINT ? "INT" : "TERM"; });

struct StartCase
{
    const char *name;
    const char *manifest; // null: no manifest file
    QStringList extraArguments;
    int exitCode;
    const char *message;
};

class DevServerStartTest : public DevServerTest, public ::testing::WithParamInterface<StartCase>
{};

TEST_P(DevServerStartTest, RefusesToStartWithAClearMessage)
{
    const StartCase &c = GetParam();
    QFile::remove(QDir(m_packets).filePath(QStringLiteral("manifest.json")));
    if (c.manifest)
        writeFile(QStringLiteral("manifest.json"), c.manifest);
    QStringList args = arguments() + c.extraArguments;
    args.replaceInStrings(QStringLiteral("@dir"), m_dir.path());
    EXPECT_EQ(m_server.runToEnd(args), c.exitCode);
    EXPECT_TRUE(m_server.errors().contains(QString::fromUtf8(c.message)))
        << toStd(m_server.errors());
}

TEST_F(DevServerTest, APortInUseIsRefusedWithAClearMessage)
{
    startPlain();
    DevServerProcess second;
    const QString port = QString::number(m_server.port());
    EXPECT_EQ(second.runToEnd(arguments() + QStringList{"--port", port}), 1);
    EXPECT_TRUE(second.errors().contains(QStringLiteral("cannot bind 127.0.0.1 port ") + port))
        << toStd(second.errors());
}

const char kOneModule[] = R"({"modules": [{"id": "A", "releaseDate": 1, "packet": "Empty.7z"}]})";

INSTANTIATE_TEST_SUITE_P(
    Cases, DevServerStartTest,
    ::testing::Values(
        StartCase{"noManifest", nullptr, {}, 2, "manifest.json"},
        StartCase{"notJson", "{modules", {}, 2, "not JSON"},
        StartCase{"notAList", R"({"modules": {}})", {}, 2, "the array \"modules\""},
        StartCase{"noId",
                  R"({"modules": [{"releaseDate": 1, "packet": "Empty.7z"}]})",
                  {},
                  2,
                  "module 1 has no \"id\""},
        StartCase{"dateAsText",
                  R"({"modules": [{"id": "A", "releaseDate": "1", "packet": "Empty.7z"}]})",
                  {},
                  2,
                  "\"releaseDate\" is not a whole number"},
        StartCase{"dateWithFraction",
                  R"({"modules": [{"id": "A", "releaseDate": 1.5, "packet": "Empty.7z"}]})",
                  {},
                  2,
                  "\"releaseDate\" is not a whole number"},
        StartCase{"absentPacket",
                  R"({"modules": [{"id": "A", "releaseDate": 1, "packet": "Absent.7z"}]})",
                  {},
                  2,
                  "\"Absent.7z\" is not a file in"},
        StartCase{"packetOutside",
                  R"({"modules": [{"id": "A", "releaseDate": 1, "packet": "../cluster.xml"}]})",
                  {},
                  2,
                  "\"../cluster.xml\" is not a plain file name"},
        StartCase{
            "misspeltMember",
            R"({"modules": [{"id": "A", "releaseDate": 1, "packet": "Empty.7z", "Desc": ""}]})",
            {},
            2,
            "unknown member \"Desc\""},
        StartCase{"repeatedId",
                  R"({"modules": [{"id": "A", "releaseDate": 1, "packet": "Empty.7z"},
                                  {"id": "A", "releaseDate": 2, "packet": "Empty.7z"}]})",
                  {},
                  2,
                  "module 2 repeats the id \"A\""},
        StartCase{"certWithoutKey",
                  kOneModule,
                  {"--cert", "@dir/cert.pem"},
                  2,
                  "--cert and --key go together"},
        StartCase{"unreadableCert",
                  kOneModule,
                  {"--cert", "@dir/cert.pem", "--key", "@dir/key.pem"},
                  1,
                  "cannot use the certificate"},
        StartCase{
            "portOutOfRange", kOneModule, {"--port", "65536"}, 2, "--port must be 0 to 65535"},
        StartCase{"absentCluster",
                  kOneModule,
                  {"--cluster", "@dir/absent.xml"},
                  2,
                  "cannot read the server cluster file"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Every server here is on loopback; a proxy from the environment must not get in between.
    for (const char *name :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
        unsetenv(name);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
