// SPDX-License-Identifier: MIT
// The download job: transfer, progress, extraction and the check before installing.
#include "cupgrade.h"
#include "enginetestkit.h"
#include "outsidefiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace EngineTest;

namespace {

struct Status
{
    int error;
    bool finished;
    int progress;
};

ModuleVersion moduleOf(const QString &url, double sizeMb)
{
    ModuleVersion module;
    module.strId = "M";
    module.strUrl = url;
    module.dSize = sizeMb;
    return module;
}

double megabytes(qint64 bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

class DownloadJob : public ::testing::Test
{
protected:
    void SetUp() override { m_upgrade.setTmpDir(m_tmp); }

    void run(const QVector<ModuleVersion> &list)
    {
        m_upgrade.setDownloadModuleVersion(list);
        m_upgrade.setRunMode(2);
        m_upgrade.start();
        ASSERT_TRUE(m_end.wait(60000));
        QCoreApplication::processEvents();
        for (const QList<QVariant> &args : m_spy) {
            m_status.append(
                {args.at(0).value<UpgradeOpError>(), args.at(1).toBool(), args.at(2).toInt()});
        }
        ASSERT_FALSE(m_status.isEmpty());
        ASSERT_TRUE(m_status.last().finished);
        ASSERT_EQ(m_status.last().progress, 100);
        for (int i = 0; i + 1 < m_status.size(); ++i) {
            ASSERT_FALSE(m_status.at(i).finished);
            ASSERT_EQ(m_status.at(i).error, 0);
        }
    }
    int result() const { return m_status.last().error; }
    QVector<int> intermediate() const
    {
        QVector<int> values;
        for (int i = 0; i + 1 < m_status.size(); ++i) {
            values << m_status.at(i).progress;
        }
        return values;
    }

    QTemporaryDir m_dir;
    QString m_tmp = m_dir.path() + "/Tmp";
    QString m_packet = m_tmp + "/Packet";
    MessageCapture m_log;
    HttpServer m_server;
    CUpgrade m_upgrade;
    JobEnd m_end{m_upgrade};
    QSignalSpy m_spy{&m_upgrade, &CUpgrade::signalGetUpgradePacketStatus};
    QVector<Status> m_status;
};

} // namespace

TEST_F(DownloadJob, TwoPacketsAreFetchedUnpackedAndReportedInStepsOfMoreThanFivePoints)
{
    const QByteArray first = archiveOf({{"bin/a.dat", noise(900000, 1)}, {"top.txt", "one"}});
    const QByteArray second = archiveOf({{"bin/b.dat", noise(700000, 2)}, {".hidden", "two"}});
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    m_server.put("first.7z", first.toStdString());
    m_server.put("second.7z", second.toStdString());

    run({moduleOf(m_server.url("/files/first.7z"), megabytes(first.size())),
         moduleOf(m_server.url("/files/second.7z"), megabytes(second.size()))});
    ASSERT_EQ(result(), UpgradeOpSuccess) << m_log.texts().join('\n').toStdString();

    // The received bytes climb to exactly the declared total, so the values climb towards 80.
    const QVector<int> values = intermediate();
    ASSERT_GE(values.size(), 5);
    int last = 0;
    for (int value : values) {
        EXPECT_GT(value - last, 5);
        last = value;
    }
    EXPECT_LE(last, 80);
    EXPECT_GT(last, 74);

    EXPECT_EQ(readFile(m_packet + "/top.txt"), "one");
    EXPECT_EQ(readFile(m_packet + "/.hidden"), "two");
    EXPECT_EQ(readFile(m_packet + "/bin/a.dat"), noise(900000, 1));
    EXPECT_EQ(readFile(m_packet + "/bin/b.dat"), noise(700000, 2));
    EXPECT_EQ(readFile(m_tmp + "/first.7z"), first);
    EXPECT_EQ(readFile(m_tmp + "/second.7z"), second);
    EXPECT_TRUE(QDir(m_tmp + "/Backup").exists());
    EXPECT_TRUE(QDir(m_tmp + "/Backup").isEmpty());
    EXPECT_TRUE(m_log.contains("app dir can be write"));
    EXPECT_TRUE(m_log.warnings().isEmpty()) << m_log.warnings().join('\n').toStdString();
}

TEST_F(DownloadJob, ProgressIsSignalledOnlyForRisesOfMoreThanFivePoints)
{
    // 5 MiB declared, so one point is 65536 bytes; the archive itself is far below one point.
    const QByteArray archive = archiveOf({{"f.txt", "x"}});
    m_server.put("p.7z", archive.toStdString());
    run({moduleOf(m_server.url("/files/p.7z"), 5)});
    ASSERT_EQ(result(), UpgradeOpSuccess);
    EXPECT_TRUE(intermediate().isEmpty());

    // After the job every packet counts as finished (20 points); the file is closed, so later
    // blocks are only counted.
    m_spy.clear();
    const char block[1] = {0};
    EXPECT_EQ(m_upgrade.onDownloadData(block, 1, 0), 0u);
    EXPECT_EQ(m_upgrade.onDownloadData(block, 65536, 5), 65536u * 5);
    EXPECT_EQ(m_upgrade.onDownloadData(block, 65536, 1), 65536u);
    ASSERT_EQ(m_spy.count(), 2);
    EXPECT_EQ(m_spy.at(0).at(2).toInt(), 20);
    EXPECT_EQ(m_spy.at(1).at(2).toInt(), 26) << "25 is exactly five points above 20";
    for (const QList<QVariant> &args : m_spy) {
        EXPECT_FALSE(args.at(1).toBool());
    }

    EXPECT_EQ(CUpgrade::downloadWriteCallback(block, 1, 1, nullptr), 0u);
    EXPECT_EQ(CUpgrade::downloadWriteCallback(block, 1, 1, &m_upgrade), 1u);
    m_upgrade.stopDownload();
    EXPECT_EQ(CUpgrade::downloadWriteCallback(block, 1, 1, &m_upgrade), 0u);
    EXPECT_EQ(m_upgrade.onDownloadData(block, 65536, 100), 0u);
    EXPECT_EQ(m_spy.count(), 2);
}

TEST_F(DownloadJob, DeclaredSizesOfZeroGiveOnlyTheFinalSignal)
{
    const QByteArray archive = archiveOf({{"big.dat", noise(600000, 3)}});
    m_server.put("p.7z", archive.toStdString());
    run({moduleOf(m_server.url("/files/p.7z"), 0)});
    EXPECT_EQ(result(), UpgradeOpSuccess);
    EXPECT_TRUE(intermediate().isEmpty());
    EXPECT_EQ(readFile(m_packet + "/big.dat"), noise(600000, 3));
}

TEST_F(DownloadJob, EmptyListGivesTwoAndRemovesTheTemporaryDirectory)
{
    writeFile(m_tmp + "/old.7z", "left over");
    run({});
    EXPECT_EQ(result(), UpgradeOpNoPacket);
    EXPECT_EQ(m_log.warnings(), QStringList{"no module need update"});
    EXPECT_FALSE(QFileInfo::exists(m_tmp));
}

TEST_F(DownloadJob, TwoPacketsOfOneFileNameAreUnpackedInTurn)
{
    const QByteArray first = archiveOf({{"same.txt", "first"}, {"only1.txt", "1"}});
    const QByteArray second = archiveOf({{"same.txt", "second"}, {"only2.txt", "2"}});
    m_server.put("a/p.7z", first.toStdString());
    m_server.put("b/p.7z", second.toStdString());
    run({moduleOf(m_server.url("/files/a/p.7z"), 0), moduleOf(m_server.url("/files/b/p.7z"), 0)});
    ASSERT_EQ(result(), UpgradeOpSuccess);
    EXPECT_EQ(readFile(m_packet + "/same.txt"), "second");
    EXPECT_EQ(readFile(m_packet + "/only1.txt"), "1");
    EXPECT_EQ(readFile(m_packet + "/only2.txt"), "2");
    EXPECT_EQ(readFile(m_tmp + "/p.7z"), second);
}

namespace {

struct Unpackable
{
    const char *name;
    // The body served for the packet; work is a scratch folder.
    std::function<QByteArray(const QString &work)> body;
    // The warning that comes before the one of do7z.
    const char *reason;
};

void PrintTo(const Unpackable &row, std::ostream *os)
{
    *os << row.name;
}

class UnpackableTest : public DownloadJob, public ::testing::WithParamInterface<Unpackable>
{};

} // namespace

// What cannot be unpacked whole fails the job with ten, and nothing of it is left to install.
TEST_P(UnpackableTest, GivesTenAndFetchesNothingAfter)
{
    QTemporaryDir work;
    const QByteArray body = GetParam().body(work.path());
    if (body.isNull()) {
        GTEST_SKIP() << "this case cannot be shown here";
    }
    m_server.put("p.7z", body.toStdString());
    m_server.put("next.7z", archiveOf({{"n.txt", "n"}}).toStdString());
    run({moduleOf(m_server.url("/files/p.7z"), 0), moduleOf(m_server.url("/files/next.7z"), 0)});
    EXPECT_EQ(result(), UpgradeOpUnpackFailed);
    const QStringList warnings = m_log.warnings();
    ASSERT_EQ(warnings.size(), 2) << warnings.join('\n').toStdString();
    EXPECT_TRUE(warnings.at(0).contains(QRegularExpression(GetParam().reason)))
        << warnings.at(0).toStdString();
    EXPECT_EQ(warnings.at(1), "do7z  " + q(m_tmp + "/p.7z") + "  to  " + q(m_packet) + "  failed!");
    EXPECT_FALSE(QFileInfo::exists(m_tmp));
    EXPECT_EQ(m_server.fetched("next.7z"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Download, UnpackableTest,
    ::testing::Values(
        Unpackable{"NotAnArchive", [](const QString &) { return QByteArray("not an archive"); },
                   "^excute 7z  .* failed! exit code is  2$"},
        Unpackable{"EmptyBody", [](const QString &) { return QByteArray(""); },
                   "^excute 7z  .* failed! exit code is  2$"},
        Unpackable{"Damaged",
                   [](const QString &) {
                       const QByteArray whole = archiveOf({{"a.bin", noise(4000, 7)}});
                       return whole.left(whole.size() - 100);
                   },
                   "^excute 7z  .* failed! exit code is  2$"},
        // An entry whose name the file-name encoding cannot carry would be invisible to every
        // later step, so it is refused where it first appears.
        Unpackable{"NameNotInTheFileNameEncoding",
                   [](const QString &work) {
                       if (nameDecodable(kBadName) || !writeRawNamed(work + "/t", kBadName, "raw")
                           || !writeFile(work + "/t/good.txt", "good")
                           || runProgram("tar", {"cf", work + "/p.tar", "-C", work + "/t", "."})
                                  != 0) {
                           return QByteArray();
                       }
                       return readFile(work + "/p.tar");
                   },
                   "^name  .*  is not valid in the file-name encoding$"}),
    [](const ::testing::TestParamInfo<Unpackable> &info) { return std::string(info.param.name); });

// A file size limit (or a full disk) lets a block be written only in part: the block is refused,
// the transfer fails, and the cut archive is never unpacked.
TEST(DownloadInProgramDir, ABlockWrittenInPartFailsTheTransfer)
{
    ProbeApp probe(true);
    HttpServer server;
    const QByteArray archive = archiveOf({{"big.bin", noise(300000, 3)}});
    ASSERT_FALSE(archive.isEmpty());
    server.put("p.7z", archive.toStdString());
    const QString url = server.url("/files/p.7z");
    const QStringList lines
        = probe.run({"download", url, "0"}, nullptr,
                    {"PROBE_FILE_SIZE_LIMIT=" + QString::number(archive.size() - 1)});
    EXPECT_TRUE(lines.contains("result 4")) << lines.join('\n').toStdString();
    const QStringList messages = messagesOf(lines);
    EXPECT_TRUE(messages.contains("get  " + q(url) + "  failed")) << lines.join('\n').toStdString();
    EXPECT_TRUE(messages.filter("excute 7z").isEmpty()) << lines.join('\n').toStdString();
    EXPECT_FALSE(QFileInfo::exists(probe.app() + "/Tmp"));
}

namespace {

struct FailedTransfer
{
    const char *name;
    // Builds the address; may start a server kept in the holder.
    std::function<QString(HttpServer &, std::unique_ptr<CutShortServer> &)> address;
    bool stopFirst;
};

void PrintTo(const FailedTransfer &row, std::ostream *os)
{
    *os << row.name;
}

class FailedTransferTest : public DownloadJob, public ::testing::WithParamInterface<FailedTransfer>
{};

} // namespace

TEST_P(FailedTransferTest, GivesFourWithItsWarningAndFetchesNothingAfter)
{
    std::unique_ptr<CutShortServer> cut;
    const QString url = GetParam().address(m_server, cut);
    m_server.put("next.7z", archiveOf({{"n.txt", "n"}}).toStdString());
    if (GetParam().stopFirst) {
        m_upgrade.stopDownload();
    }
    run({moduleOf(url, 1), moduleOf(m_server.url("/files/next.7z"), 1)});
    EXPECT_EQ(result(), UpgradeOpNetworkFailed);
    EXPECT_TRUE(intermediate().isEmpty());
    EXPECT_EQ(m_log.warnings(), QStringList{"get  " + q(url) + "  failed"});
    EXPECT_FALSE(QFileInfo::exists(m_tmp));
    EXPECT_EQ(m_server.fetched("next.7z"), 0) << "the packet after the failed one is not fetched";
}

INSTANTIATE_TEST_SUITE_P(
    Download, FailedTransferTest,
    ::testing::Values(FailedTransfer{"NotFound",
                                     [](HttpServer &server, std::unique_ptr<CutShortServer> &) {
                                         return server.url("/files/missing.7z");
                                     },
                                     false},
                      FailedTransfer{"CutShort",
                                     [](HttpServer &, std::unique_ptr<CutShortServer> &cut) {
                                         cut = std::make_unique<CutShortServer>();
                                         return cut->url("/short.7z");
                                     },
                                     false},
                      FailedTransfer{"RefusedAfterStop",
                                     [](HttpServer &server, std::unique_ptr<CutShortServer> &) {
                                         server.put("p.7z", std::string(200000, 'p'));
                                         return server.url("/files/p.7z");
                                     },
                                     true}),
    [](const ::testing::TestParamInfo<FailedTransfer> &info) { return info.param.name; });

namespace {

struct NoFileName
{
    const char *name;
    const char *path;
};

void PrintTo(const NoFileName &row, std::ostream *os)
{
    *os << row.name;
}

class NoFileNameTest : public DownloadJob, public ::testing::WithParamInterface<NoFileName>
{};

} // namespace

// An address whose decoded file name is empty, a dot name or holds a separator would put the
// archive outside the temporary directory or into a folder of it: no file name, no message.
TEST_P(NoFileNameTest, GivesFourWithoutAMessageAndWritesNothing)
{
    const QString url = m_server.url(GetParam().path);
    run({moduleOf(url, 1)});
    EXPECT_EQ(result(), UpgradeOpNetworkFailed);
    EXPECT_TRUE(m_log.warnings().isEmpty()) << m_log.warnings().join('\n').toStdString();
    EXPECT_EQ(m_server.requests(), 0);
    EXPECT_FALSE(QFileInfo::exists(m_tmp));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Download, NoFileNameTest,
                         ::testing::Values(NoFileName{"EndsInSlash", "/files/dir/"},
                                           NoFileName{"DotDot", "/files/%2e%2e"},
                                           NoFileName{"Dot", "/files/%2E"},
                                           NoFileName{"EncodedBackslash", "/files/..%5Cup.7z"}),
                         [](const ::testing::TestParamInfo<NoFileName> &info) {
                             return std::string(info.param.name);
                         });

TEST(DownloadChecks, SpaceRuleAndDirectorySize)
{
    struct Row
    {
        qint64 remain;
        qint64 size;
        bool room;
    };
    for (const Row &row : {Row{100, 50, true}, Row{99, 50, false}, Row{0, 0, true}, Row{1, 0, true},
                           Row{0, 1, false}}) {
        EXPECT_EQ(CUpgrade::hasRoomFor(row.remain, row.size), row.room)
            << row.remain << " free for " << row.size;
    }

    QTemporaryDir dir;
    writeFile(dir.path() + "/a", QByteArray(10, 'a'));
    writeFile(dir.path() + "/.h", QByteArray(5, 'h'));
    writeFile(dir.path() + "/sub/b", QByteArray(100, 'b'));
    writeFile(dir.path() + "/sub/.deep/c", QByteArray(1000, 'c'));
    // A linked folder leading back up is not followed.
    ASSERT_TRUE(QFile::link(dir.path(), dir.path() + "/sub/loop"));
    MessageCapture log;
    int count = 0;
    EXPECT_EQ(CUpgrade::getDirSize(dir.path(), count), 1115);
    EXPECT_EQ(count, 4);
    EXPECT_TRUE(log.contains(q(dir.path() + "/sub") + "  size is  1115"))
        << log.texts().join('\n').toStdString();
    count = 7;
    EXPECT_EQ(CUpgrade::getDirSize(dir.path() + "/sub/b", count), 100);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(CUpgrade::getDirSize(dir.path() + "/none", count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_GT(CUpgrade::getRemainSize(dir.path()), 0);
    EXPECT_TRUE(CUpgrade::isAppWritable());
}

TEST(DownloadInProgramDir, MissingExtractorGivesTenAndRemovesTheTemporaryDirectory)
{
    ProbeApp probe(false);
    HttpServer server;
    server.put("p.7z", archiveOf({{"f.txt", "f"}}).toStdString());
    const QStringList lines = probe.run({"download", server.url("/files/p.7z"), "0"});
    ASSERT_TRUE(lines.contains("result 10")) << lines.join('\n').toStdString();

    const QString tmp = probe.app() + "/Tmp";
    const QString archive = tmp + "/p.7z";
    const QString packet = tmp + "/Packet";
    const QString args = QString("(\"x\", %1, %2, \"-aoa\")").arg(q(archive), q("-o" + packet));
    const QStringList messages = messagesOf(lines);
    ASSERT_EQ(messages.size(), 2) << lines.join('\n').toStdString();
    EXPECT_TRUE(messages.at(0).startsWith("7z  " + args + "  start failed! error is  \""))
        << messages.at(0).toStdString();
    EXPECT_EQ(messages.at(1), "do7z  " + q(archive) + "  to  " + q(packet) + "  failed!");
    EXPECT_FALSE(QFileInfo::exists(tmp));
}

TEST(DownloadInProgramDir, UnwritableProgramFileGivesThreeAfterEveryPacket)
{
    ProbeApp probe(true);
    if (!probe.setImmutable(true)) {
        GTEST_SKIP() << "the file system cannot make a file unwritable for root";
    }
    HttpServer server;
    server.put("a.7z", archiveOf({{"a.txt", "a"}}).toStdString());
    server.put("b.7z", archiveOf({{"b.txt", "b"}}).toStdString());
    const QStringList lines
        = probe.run({"download", server.url("/files/a.7z"), "0", server.url("/files/b.7z"), "0"});
    ASSERT_TRUE(lines.contains("result 3")) << lines.join('\n').toStdString();
    const QStringList messages = messagesOf(lines);
    EXPECT_EQ(messages.filter(QRegularExpression("^excute 7z .* finished!$")).size(), 2);
    ASSERT_GE(messages.size(), 2);
    EXPECT_EQ(messages.at(messages.size() - 2), "app dir can not be write");
    EXPECT_EQ(messages.last(), "test can upgrade failed!");
    EXPECT_EQ(server.fetched("a.7z"), 1);
    EXPECT_EQ(server.fetched("b.7z"), 1);
    EXPECT_FALSE(QFileInfo::exists(probe.app() + "/Tmp"));
}
