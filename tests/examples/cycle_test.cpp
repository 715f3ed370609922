// SPDX-License-Identifier: MIT
// The whole unattended cycle: the built launcher runs the reference client in a program
// directory of its own, against the development upgrade server on loopback, reached under the
// bundled server's name with a certificate made for it. The first run checks, downloads and
// installs and asks for a restart; the fresh copy shows the new versions and the streams.
#include "cupgrade.h"
#include "testcerts.h"
#include "testsupport.h"

#include <sys/prctl.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

namespace {

using LauncherTest::copyFile;
using LauncherTest::readFile;
using LauncherTest::writeFile;

const char kHost[] = "upgrade.example.com";
constexpr int kRunMs = 60000;

// Every file under root: its relative path and the MD5 of its content, one line each.
QString treeDigest(const QString &root)
{
    QMap<QString, QByteArray> digest;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        digest.insert(QDir(root).relativeFilePath(path),
                      QCryptographicHash::hash(readFile(path), QCryptographicHash::Md5).toHex());
    }
    QStringList lines;
    for (auto it = digest.cbegin(); it != digest.cend(); ++it)
        lines << it.key() + " " + QString::fromLatin1(it.value());
    return lines.join('\n');
}

// An archive of the files (relative name, content), made with the extractor's own program.
bool makeArchive(const QString &archive, const QVector<QPair<QString, QByteArray>> &files)
{
    QTemporaryDir tree;
    QStringList names;
    for (const auto &file : files) {
        if (!writeFile(tree.filePath(file.first), file.second))
            return false;
        names << file.first;
    }
    QProcess zip;
    zip.setWorkingDirectory(tree.path());
    zip.start(SEVENZIP_EXE, QStringList{"a", "-bd", "-y", archive, "--"} + names);
    return zip.waitForFinished(30000) && zip.exitStatus() == QProcess::NormalExit
           && zip.exitCode() == 0;
}

// Waits, bounded, for a process the launcher started detached; this process is its reaper
// (see main), so its exit code comes here. -1 when it did not end in time.
int waitForExit(qint64 pid)
{
    for (int i = 0; i < 3000; ++i) {
        int status = 0;
        const pid_t reaped = waitpid(pid_t(pid), &status, WNOHANG);
        if (reaped == pid_t(pid))
            return WIFEXITED(status) ? qint8(WEXITSTATUS(status)) : -1;
        if (reaped < 0 && errno == ECHILD)
            return -1;
        QThread::msleep(20);
    }
    kill(pid_t(pid), SIGKILL);
    waitpid(pid_t(pid), nullptr, 0);
    return -1;
}

enum class Server { Sound, WrongKey };
enum class Packet { Archive, NotAnArchive };

struct CycleCase
{
    const char *name;
    Server server;
    Packet mapsPacket;
    int firstExit;
    int secondExit; // -1: no second run
    // Step names of the transcript in order, repeats of one step folded.
    QStringList steps;
    QString lastLine; // how the transcript ends (a prefix)
};

void PrintTo(const CycleCase &c, std::ostream *os)
{
    *os << c.name;
}

class Cycle : public ::testing::TestWithParam<CycleCase>
{
protected:
    void SetUp() override
    {
        m_prog = QDir(m_root.path()).filePath("Program");
        QDir().mkpath(m_prog + "/Solutions");
        ASSERT_TRUE(copyFile(NORVANE_PROGRAM, m_prog + "/Norvane"));
        ASSERT_TRUE(copyFile(OLVANE_PLUGIN, m_prog + "/Solutions/libOlvane.so"));
        ASSERT_TRUE(QFile::link(SEVENZIP_EXE, m_prog + "/7z"));
        ASSERT_TRUE(writeFile(m_prog + "/Solutions/SolutionInfo.xml", R"(<?xml version="1.0"?>
<Client>
 <SolutionS>
  <Solution id="Player" name="player"><Version>1.0</Version><ReleaseDate>20260101</ReleaseDate><State>1</State><Desc>Player</Desc><Size>1</Size></Solution>
  <Solution id="Maps" name="maps"><Version>1.0</Version><ReleaseDate>20260101</ReleaseDate><State>2</State><Desc>Maps</Desc><Size>1</Size></Solution>
 </SolutionS>
</Client>
)"));
        ASSERT_TRUE(writeFile(m_prog + "/Solutions/Player/player.conf", "1.0"));
        ASSERT_TRUE(writeFile(m_prog + "/Solutions/Maps/maps.conf", "1.0"));

        const QString packets = m_root.filePath("packets");
        ASSERT_TRUE(makeArchive(packets + "/Player-2.0.7z",
                                {{"Solutions/Player/player.conf", "2.0"},
                                 {"Solutions/Player/codecs/new.dat", QByteArray(70000, 'p')}}));
        if (GetParam().mapsPacket == Packet::Archive) {
            ASSERT_TRUE(
                makeArchive(packets + "/Maps-2.0.7z", {{"Solutions/Maps/maps.conf", "2.0"}}));
        } else {
            ASSERT_TRUE(writeFile(packets + "/Maps-2.0.7z", "this is not an archive\n"));
        }
        ASSERT_TRUE(writeFile(packets + "/manifest.json", R"({"modules": [
 {"id": "Player", "releaseDate": 20261201, "packet": "Player-2.0.7z", "version": "2.0"},
 {"id": "Maps", "releaseDate": 20261201, "packet": "Maps-2.0.7z", "version": "2.0"}]})"));
        ASSERT_TRUE(QDir().mkpath(m_root.filePath("certs")));
        ASSERT_TRUE(TestSupport::makeTestCertificates(m_root.filePath("certs"), m_certs, kHost));

        QStringList args{"--packets",     packets,    "--cert",    m_certs.certFile, "--key",
                         m_certs.keyFile, "--listen", "127.0.0.1", "--port",         "0"};
        if (GetParam().server == Server::WrongKey)
            args << "--query-key"
                 << "not-the-bundled-key";
        m_server.start(DEVSERVER, args);
        ASSERT_TRUE(m_server.waitForStarted(10000));
        for (int i = 0; i < 100 && !m_server.canReadLine(); ++i)
            m_server.waitForReadyRead(100);
        m_port = m_server.readLine().trimmed().toInt();
        ASSERT_GT(m_port, 0) << m_server.readAllStandardError().toStdString();
        m_before = treeDigest(m_prog);
    }

    void TearDown() override
    {
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    // Runs the launcher from another folder; its exit code, or -1 when it did not end in time.
    int runLauncher()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"HESTAL_SOLUTIONS_DIR", "OLVANE_RESTARTS", "OLVANE_SOLUTION_FILE"})
            env.remove(name);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        // The logs go beside the program directory, so that it holds only what was installed.
        env.insert("HESTAL_DEBUGLOG", m_root.filePath("debug.log"));
        env.insert("QRL_PRINTLOG", m_root.filePath("print.log"));
        env.insert("HESTAL_CA_FILE", m_certs.caFile);
        env.insert("HESTAL_CONNECT_TO", QString("%1:443:127.0.0.1:%2").arg(kHost).arg(m_port));
        env.insert("OLVANE_UNATTENDED", "1");
        env.insert("OLVANE_TRANSCRIPT", transcriptFile());
        env.insert("OLVANE_PICTURES", m_root.filePath("pictures"));
        env.insert("OLVANE_CAMERAS", "8");
        env.insert("OLVANE_STREAM_SECONDS", "6");
        // The map control has tests of its own; the cycle ends with the streams.
        env.insert("OLVANE_MAP", "0");
#if defined(__SANITIZE_ADDRESS__)
        // The offscreen platform leaks its screen at exit, which would change the exit code.
        env.insert("LSAN_OPTIONS", "suppressions=" NORVANE_LSAN_SUPPRESSIONS);
#endif
#if defined(__SANITIZE_THREAD__)
        env.insert("TSAN_OPTIONS",
                   env.value("TSAN_OPTIONS") + ":suppressions=" NORVANE_TSAN_SUPPRESSIONS);
#endif
        QProcess launcher;
        launcher.setProcessEnvironment(env);
        launcher.setWorkingDirectory(m_root.path());
        launcher.setStandardOutputFile(QProcess::nullDevice());
        launcher.setStandardErrorFile(m_root.filePath("launcher.err"));
        launcher.start(m_prog + "/Norvane", QStringList());
        if (!launcher.waitForFinished(kRunMs)) {
            launcher.kill();
            launcher.waitForFinished(5000);
            return -1;
        }
        return launcher.exitStatus() == QProcess::NormalExit ? qint8(launcher.exitCode()) : -1;
    }

    QString transcriptFile() const
    {
        return m_root.filePath("transcript.txt");
    }
    QStringList transcript() const
    {
        return QString::fromUtf8(readFile(transcriptFile())).split('\n', Qt::SkipEmptyParts);
    }

    // The fresh copy the launcher started: its process id from the transcript, then its end.
    int secondRunExit()
    {
        static const QRegularExpression started("^client: run 2 .*process (\\d+)");
        for (int i = 0; i < 500; ++i) {
            for (const QString &line : transcript()) {
                const QRegularExpressionMatch match = started.match(line);
                if (match.hasMatch())
                    return waitForExit(match.captured(1).toLongLong());
            }
            QThread::msleep(20);
        }
        return -1;
    }

    static QStringList stepsOf(const QStringList &lines)
    {
        QStringList steps;
        for (const QString &line : lines) {
            if (line.startsWith(' '))
                continue;
            const QString step = line.section(':', 0, 0);
            if (steps.isEmpty() || steps.last() != step)
                steps << step;
        }
        return steps;
    }

    QTemporaryDir m_root;
    QString m_prog;
    TestSupport::TestCertificates m_certs;
    QProcess m_server;
    int m_port = 0;
    QString m_before;
};

TEST_P(Cycle, RunsEveryStepAndLeavesTheProgramDirectoryAsItShould)
{
    const CycleCase &c = GetParam();
    const int first = runLauncher();
    EXPECT_EQ(first, c.firstExit) << readFile(transcriptFile()).toStdString()
                                  << readFile(m_root.filePath("launcher.err")).toStdString();
    // A restart always has its fresh copy waited for, expected or not.
    EXPECT_EQ(first == 1 ? secondRunExit() : -1, c.secondExit);
    const QStringList lines = transcript();
    EXPECT_EQ(stepsOf(lines).join(", ").toStdString(), c.steps.join(", ").toStdString())
        << lines.join('\n').toStdString();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().startsWith(c.lastLine)) << lines.last().toStdString();

    EXPECT_FALSE(QFileInfo::exists(m_prog + "/Tmp"));
    QVector<ModuleVersion> installed;
    ASSERT_TRUE(CUpgrade::getModuleVersionFromSolutionInfoFile(
        m_prog + "/Solutions/SolutionInfo.xml", installed));
    ASSERT_EQ(installed.size(), 2);
    if (c.secondExit < 0) {
        // Nothing installed: the program directory is as it was staged.
        EXPECT_EQ(treeDigest(m_prog).toStdString(), m_before.toStdString());
        return;
    }
    EXPECT_EQ(readFile(m_prog + "/Solutions/Player/player.conf"), "2.0");
    EXPECT_EQ(readFile(m_prog + "/Solutions/Player/codecs/new.dat"), QByteArray(70000, 'p'));
    EXPECT_EQ(readFile(m_prog + "/Solutions/Maps/maps.conf"), "2.0");
    for (const ModuleVersion &module : installed) {
        EXPECT_EQ(module.strVersion, "2.0") << module.strId.toStdString();
        EXPECT_EQ(module.llReleaseDate, 20261201);
    }
    // The modules keep their states; the installed file is the one the client wrote.
    EXPECT_EQ(installed.at(0).nState, 1);
    EXPECT_EQ(installed.at(1).nState, 2);
    for (const char *picture :
         {"modules-check.png", "modules-after-restart.png", "streams-opening.png", "streams.png"})
        EXPECT_TRUE(readFile(m_root.filePath("pictures/") + picture).startsWith("\x89PNG"))
            << picture;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Cycle,
    ::testing::Values(CycleCase{"Upgrades",
                                Server::Sound,
                                Packet::Archive,
                                1,
                                0,
                                {"client", "modules", "check", "picture", "download", "install",
                                 "restart", "client", "modules", "check", "picture", "upgraded",
                                 "streams", "picture", "streams", "done"},
                                "done: every step did what it should"},
                      CycleCase{"TokenRefused",
                                Server::WrongKey,
                                Packet::Archive,
                                104,
                                -1,
                                {"client", "modules", "picture", "failed"},
                                "failed: check: network failure"},
                      CycleCase{"PacketNotAnArchive",
                                Server::Sound,
                                Packet::NotAnArchive,
                                110,
                                -1,
                                {"client", "modules", "check", "picture", "download", "failed"},
                                "failed: download: a packet could not be unpacked"}),
    [](const ::testing::TestParamInfo<CycleCase> &info) { return info.param.name; });

} // namespace

int main(int argc, char **argv)
{
    // The launcher starts its fresh copy detached; as their reaper this process gets its exit
    // code, and nothing is left behind.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
