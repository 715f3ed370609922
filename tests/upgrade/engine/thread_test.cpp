// SPDX-License-Identifier: MIT
// The engine thread: meta types, signals, the check job and the run modes.
#include "cupgrade.h"
#include "enginetestkit.h"
#include "outsidefiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMetaMethod>
#include <QResource>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace EngineTest;

namespace {

const char *const kClusterResource = ":/Conf/Conf/System/UpgradeServerCluster.xml";

struct LocalModule
{
    const char *id;
    qint64 releaseDate;
    int state;
};

// A solution information file with the given installed modules.
QString writeSolutionFile(const QString &dir, const QVector<LocalModule> &modules)
{
    QString xml = "<?xml version='1.0' encoding='UTF-8'?>\n<Solution>\n<SolutionS>\n";
    for (const LocalModule &m : modules) {
        xml += QString("<Solution id=\"%1\" name=\"%1.7z\"><Version>1.0</Version>"
                       "<ReleaseDate>%2</ReleaseDate><State>%3</State><Desc>d</Desc>"
                       "<Size>1</Size></Solution>\n")
                   .arg(m.id)
                   .arg(m.releaseDate)
                   .arg(m.state);
    }
    xml += "</SolutionS>\n</Solution>\n";
    const QString path = dir + "/SolutionInfo.xml";
    writeFile(path, xml.toUtf8());
    return path;
}

std::string offered(const char *id, qint64 releaseDate, bool withIcon = true)
{
    std::string element = std::string("{\"ID\":\"") + id + "\",\"Url\":\"http://127.0.0.1/" + id
                          + ".7z\",\"ReleaseDate\":" + std::to_string(releaseDate)
                          + ",\"Size\":\"2\",\"Version\":\"2.0\",\"Desc\":\"new\"";
    if (withIcon) {
        element += ",\"IconUrl\":\"http://127.0.0.1/icon.png\"";
    }
    return element + "}";
}

std::string answerOf(const std::vector<std::string> &elements)
{
    std::string list;
    for (const std::string &e : elements) {
        list += (list.empty() ? "" : ",") + e;
    }
    return "{\"retcode\":0,\"value\":{\"upgrade\":[" + list + "]}}";
}

QStringList idsOf(const QVector<ModuleVersion> &list)
{
    QStringList ids;
    for (const ModuleVersion &m : list) {
        ids << m.strId;
    }
    return ids;
}

// Puts a server cluster file naming the test server at the resource path the engine reads,
// through a resource file made for this run.
class ClusterResource
{
public:
    explicit ClusterResource(const QString &serverAddress)
    {
        ServerClusterInfo info;
        info.vecServer = {{"cn", "127.0.0.1:1"}, {"test", serverAddress}};
        info.nCurrServer = 1;
        info.strPrefix = "/upgrade";
        info.strPath = "/query";
        info.strKey = "secret";
        m_ok = CUpgrade::saveServerClusterInfo(info, m_dir.path() + "/cluster.xml");
        writeFile(m_dir.path() + "/cluster.qrc",
                  "<RCC><qresource prefix=\"/Conf\"><file alias=\"Conf/System/"
                  "UpgradeServerCluster.xml\">cluster.xml</file></qresource></RCC>");
        m_rcc = m_dir.path() + "/cluster.rcc";
        m_ok = m_ok
               && runProgram(RCC_EXE, {"-binary", "-o", m_rcc, m_dir.path() + "/cluster.qrc"}) == 0
               && QResource::registerResource(m_rcc);
    }
    ~ClusterResource() { QResource::unregisterResource(m_rcc); }
    bool ok() const { return m_ok && QFile::exists(kClusterResource); }

private:
    QTemporaryDir m_dir;
    QString m_rcc;
    bool m_ok = false;
};

class CheckJob : public ::testing::Test
{
protected:
    void runCheck()
    {
        CUpgrade::startGetUpdateModuleVersion(m_solution, &m_upgrade);
        ASSERT_TRUE(m_end.wait(30000));
        QCoreApplication::processEvents();
        ASSERT_EQ(m_spy.count(), 1);
        ASSERT_EQ(m_queued.size(), 1);
    }
    UpgradeOpError error() const { return m_spy.at(0).at(0).value<UpgradeOpError>(); }
    QVector<ModuleVersion> needUpgrade() const
    {
        return m_spy.at(0).at(1).value<QVector<ModuleVersion>>();
    }
    QVector<ModuleVersion> server() const
    {
        return m_spy.at(0).at(2).value<QVector<ModuleVersion>>();
    }

    QTemporaryDir m_dir;
    MessageCapture m_log;
    HttpServer m_server;
    CUpgrade m_upgrade;
    JobEnd m_end{m_upgrade};
    QSignalSpy m_spy{&m_upgrade, &CUpgrade::signalGetUpdateModuleVersionFinish};
    // The same signal delivered queued to an object of this thread, as a host would get it.
    QObject m_receiver;
    QVector<std::tuple<UpgradeOpError, QStringList, QStringList>> m_queued;
    QString m_solution
        = writeSolutionFile(m_dir.path(), {{"A", 10, 1}, {"B", 10, 0}, {"C", 50, 1}});

    void SetUp() override
    {
        QObject::connect(&m_upgrade, &CUpgrade::signalGetUpdateModuleVersionFinish, &m_receiver,
                         [this](UpgradeOpError e, const QVector<ModuleVersion> &need,
                                const QVector<ModuleVersion> &srv) {
                             m_queued.append({e, idsOf(need), idsOf(srv)});
                         });
    }
};

} // namespace

TEST(EngineClass, RegistersItsMetaTypesAndDeclaresItsSignalsInOrder)
{
    CUpgrade upgrade;
    const int errorType = QMetaType::type("UpgradeOpError");
    ASSERT_NE(errorType, QMetaType::UnknownType);
    EXPECT_EQ(QMetaType::sizeOf(errorType), 4);
    EXPECT_NE(QMetaType::type("QVector<ModuleVersion>"), QMetaType::UnknownType);

    const QMetaObject *meta = upgrade.metaObject();
    ASSERT_EQ(meta->methodCount() - meta->methodOffset(), 3);
    const QStringList expected{
        "signalGetUpdateModuleVersionFinish(UpgradeOpError,QVector<ModuleVersion>,"
        "QVector<ModuleVersion>)",
        "signalGetUpgradePacketStatus(UpgradeOpError,bool,int)",
        "signalUpgradeFinish(UpgradeOpError)"};
    for (int i = 0; i < 3; ++i) {
        const QMetaMethod method = meta->method(meta->methodOffset() + i);
        EXPECT_EQ(method.methodType(), QMetaMethod::Signal);
        EXPECT_EQ(QString::fromLatin1(method.methodSignature()), expected.at(i));
    }
    EXPECT_EQ(meta->propertyCount(), meta->propertyOffset());

    const HttpTimeOut timeOut = upgrade.httpTimeOut();
    EXPECT_EQ(timeOut.nConnectTimeOut, 20000);
    EXPECT_EQ(timeOut.nLowSpeedLimit, 512);
    EXPECT_EQ(timeOut.nLowSpeedTime, 20);
}

TEST_F(CheckJob, UnreadableClusterFileGivesSixAndTwoEmptyLists)
{
    ASSERT_FALSE(QFile::exists(kClusterResource));
    runCheck();
    EXPECT_EQ(error(), UpgradeOpReadServerCfgFailed);
    EXPECT_TRUE(needUpgrade().isEmpty());
    EXPECT_TRUE(server().isEmpty());
    EXPECT_EQ(std::get<0>(m_queued.at(0)), UpgradeOpReadServerCfgFailed);
    EXPECT_EQ(m_log.warnings().last(), "read upgrade server cluster info from cfg failed");
    EXPECT_EQ(m_server.requests(), 0);
}

TEST_F(CheckJob, FailedQueryGivesFourWithTheModulesReadSoFar)
{
    ClusterResource cluster(QString("127.0.0.1:%1").arg(m_server.port()));
    ASSERT_TRUE(cluster.ok());
    m_server.answer("/upgrade/query/.*", 200,
                    answerOf({offered("A", 20), offered("C", 99), offered("X", 1, false)}));
    runCheck();
    EXPECT_EQ(error(), UpgradeOpNetworkFailed);
    EXPECT_TRUE(needUpgrade().isEmpty());
    EXPECT_EQ(idsOf(server()), QStringList({"A", "C"}));
    EXPECT_EQ(std::get<2>(m_queued.at(0)), QStringList({"A", "C"}));
    const QStringList warnings = m_log.warnings();
    ASSERT_GE(warnings.size(), 2);
    EXPECT_EQ(warnings.at(warnings.size() - 2), "json format error failed!");
    EXPECT_EQ(warnings.last(), "getVersionInfoFromServer failed");
}

TEST_F(CheckJob, GoodCheckReportsNewerModulesOfTakingPartInstalledOnes)
{
    ClusterResource cluster(QString("127.0.0.1:%1").arg(m_server.port()));
    ASSERT_TRUE(cluster.ok());
    m_server.answer(
        "/upgrade/query/.*", 200,
        answerOf({offered("A", 20), offered("B", 20), offered("C", 40), offered("D", 99)}));
    runCheck();
    EXPECT_EQ(error(), UpgradeOpSuccess);
    EXPECT_EQ(idsOf(needUpgrade()), QStringList({"A"}));
    EXPECT_EQ(needUpgrade().at(0).llReleaseDate, 20);
    EXPECT_EQ(idsOf(server()), QStringList({"A", "B", "C", "D"}));
    EXPECT_EQ(m_queued.at(0), std::make_tuple(UpgradeOpSuccess, QStringList({"A"}),
                                              QStringList({"A", "B", "C", "D"})));
    EXPECT_TRUE(m_log.warnings().isEmpty()) << m_log.warnings().join('\n').toStdString();
    EXPECT_EQ(m_server.requests(), 1);
}

TEST_F(CheckJob, TimeOutsOfACheckStayForLaterJobs)
{
    m_upgrade.setHttpTimeOut(HttpTimeOut{1, 2, 3});
    runCheck();
    for (int mode : {0, 2}) {
        m_upgrade.setRunMode(mode);
        m_upgrade.setTmpDir(m_dir.path() + "/Tmp");
        m_upgrade.start();
        ASSERT_TRUE(m_end.wait(30000));
        const HttpTimeOut timeOut = m_upgrade.httpTimeOut();
        EXPECT_EQ(timeOut.nConnectTimeOut, 5000);
        EXPECT_EQ(timeOut.nLowSpeedLimit, 512);
        EXPECT_EQ(timeOut.nLowSpeedTime, 20);
    }
}

TEST_F(CheckJob, SecondStartWhileAJobRunsOnlyLogs)
{
    ClusterResource cluster(QString("127.0.0.1:%1").arg(m_server.port()));
    ASSERT_TRUE(cluster.ok());
    // The server holds its answer until the test has tried the second start.
    std::mutex mutex;
    std::condition_variable cv;
    bool release = false;
    bool arrived = false;
    m_server.answer("/upgrade/query/.*", 200, answerOf({offered("A", 20)}));
    m_server.hold([&] {
        std::unique_lock<std::mutex> lock(mutex);
        arrived = true;
        cv.notify_all();
        cv.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
    });

    CUpgrade::startGetUpdateModuleVersion(m_solution, &m_upgrade);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return arrived; }));
    }
    ASSERT_TRUE(m_upgrade.isRunning());
    const QString other = writeSolutionFile(m_dir.path() + "/other", {{"A", 1, 1}});
    CUpgrade::startGetUpdateModuleVersion(other, &m_upgrade);
    EXPECT_EQ(m_log.texts().last(), "last upgrade is running now");
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(m_end.wait(30000));
    QCoreApplication::processEvents();
    ASSERT_EQ(m_spy.count(), 1);
    EXPECT_EQ(idsOf(needUpgrade()), QStringList({"A"}));
    EXPECT_EQ(m_server.requests(), 1);
}

TEST_F(CheckJob, UnreadableSolutionFileStartsNothing)
{
    const QString missing = m_dir.path() + "/missing.xml";
    CUpgrade::startGetUpdateModuleVersion(missing, &m_upgrade);
    EXPECT_FALSE(m_upgrade.isRunning());
    EXPECT_FALSE(m_upgrade.isFinished());
    EXPECT_EQ(m_spy.count(), 0);
    EXPECT_EQ(m_log.warnings().last(),
              "getModuleVersionFromSolutionInfoFile from " + q(missing) + "  failed!");
}

TEST(EngineModes, ModesWithoutAJobEmitNothing)
{
    for (int mode : {0, 4, -1}) {
        CUpgrade upgrade;
        QSignalSpy check(&upgrade, &CUpgrade::signalGetUpdateModuleVersionFinish);
        QSignalSpy download(&upgrade, &CUpgrade::signalGetUpgradePacketStatus);
        QSignalSpy install(&upgrade, &CUpgrade::signalUpgradeFinish);
        JobEnd end(upgrade);
        upgrade.setRunMode(mode);
        upgrade.start();
        ASSERT_TRUE(end.wait(10000));
        QCoreApplication::processEvents();
        EXPECT_EQ(check.count() + download.count() + install.count(), 0) << "mode " << mode;
    }
}

TEST(EngineModes, DestroyingARunningEngineStopsItsDownloadAndWaits)
{
    // The server trickles a large body; without the wait the destructor would abort the process.
    HttpServer server;
    server.put("big.7z", std::string(64 * 1024 * 1024, 'x'));
    QTemporaryDir dir;
    std::atomic<bool> ended{false};
    {
        CUpgrade upgrade;
        upgrade.setTmpDir(dir.path() + "/Tmp");
        ModuleVersion module;
        module.strUrl = server.url("/files/big.7z");
        module.dSize = 64;
        upgrade.setDownloadModuleVersion({module});
        upgrade.setRunMode(2);
        QObject::connect(
            &upgrade, &QThread::finished, &upgrade, [&ended] { ended = true; },
            Qt::DirectConnection);
        upgrade.start();
    }
    EXPECT_TRUE(ended);
}

// The tool box is looked for two levels above the program, so the engine runs from a copy of a
// small host program placed below a folder of the test's own.
TEST(EngineToolBox, ToolBoxTwoLevelsUpStartsNoCheck)
{
    QTemporaryDir root;
    const QString app = root.path() + "/a/b";
    QDir().mkpath(app);
    const QString probe = app + "/probe";
    ASSERT_TRUE(QFile::copy(ENGINE_PROBE, probe));
    const QString solution = writeSolutionFile(root.path(), {{"A", 1, 1}});
    const QStringList env{QString("LD_LIBRARY_PATH=") + TEST_BIN_DIR};

    struct Row
    {
        bool toolBox;
        QString started;
    };
    for (const Row &row : {Row{true, "started 0"}, Row{false, "started 1"}}) {
        if (row.toolBox) {
            writeFile(root.path() + "/" + OutsideFiles::kToolBox, "tool");
        } else {
            QFile::remove(root.path() + "/" + OutsideFiles::kToolBox);
        }
        QString out;
        ASSERT_EQ(runProgram(probe, {"toolbox", solution}, &out, env), 0) << out.toStdString();
        const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
        EXPECT_TRUE(lines.contains(row.started)) << out.toStdString();
        if (row.toolBox) {
            EXPECT_EQ(lines, QStringList{row.started}) << "a check with a tool box logs nothing";
        }
    }
}
