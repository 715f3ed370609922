// SPDX-License-Identifier: MIT
// Runs the built launcher in a program directory of its own, with stand-ins for the main frame
// plug-in and the upgrade tool, and checks what it ran, started and returned.
#include "outsidefiles.h"
#include "testsupport.h"

#include <sys/prctl.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

namespace {

using LauncherTest::copyFile;
using LauncherTest::readFile;
using LauncherTest::writeFile;

constexpr int kPollMs = 10;
constexpr int kPollRounds = 1500; // 15 s at most for a detached process to finish its work

const QByteArray kBasePath = "/usr/local/bin:/usr/bin:/bin";

enum class Plugin { MainFrame, Missing, NoInterface };
enum class Tool { None, Staged, Installed };

// Waits, with a bound, until a process that the launcher started detached has ended. This
// process is their reaper (see main), so they are collected here and nothing is left behind.
bool waitForExit(qint64 pid)
{
    for (int i = 0; i < kPollRounds; ++i) {
        int status = 0;
        const pid_t reaped = waitpid(pid_t(pid), &status, WNOHANG);
        if (reaped == pid_t(pid))
            return true;
        if (reaped < 0 && kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            return true;
        QThread::msleep(kPollMs);
    }
    return false;
}

// One program directory with the launcher, the stand-ins and their records.
class ProgramDir
{
public:
    explicit ProgramDir(bool longPath)
    {
        m_dir = m_tmp.path();
        if (longPath) {
            // Deeper than any 256-byte buffer can hold.
            m_dir += "/" + QString(120, 'p') + "/" + QString(120, 'q');
        }
        QDir().mkpath(m_dir);
        m_dir = QFileInfo(m_dir).canonicalFilePath();
        copyFile(QString::fromLocal8Bit(NORVANE_PROGRAM), program());
    }

    QString path() const { return m_dir; }
    QString program() const { return m_dir + "/Norvane"; }
    QString file(const QString &relative) const { return m_dir + "/" + relative; }

    void stagePlugin(Plugin plugin)
    {
        const QString target = file(QString("Solutions/") + OutsideFiles::kMainFramePlugin);
        if (plugin == Plugin::MainFrame) {
            ASSERT_TRUE(copyFile(NORVANE_STANDIN_MAINFRAME, target));
        } else if (plugin == Plugin::NoInterface) {
            ASSERT_TRUE(copyFile(NORVANE_STANDIN_NOINTERFACE, target));
        }
    }

    // The upgrade tool in one of its two places, with a marker that tells the copies apart.
    void stageTool(const QString &folder, const QByteArray &marker)
    {
        ASSERT_TRUE(
            copyFile(NORVANE_STANDIN_UPGRADETOOL, file(folder + "/" + OutsideFiles::kUpgradeTool)));
        ASSERT_TRUE(writeFile(file(folder + "/marker.txt"), marker));
        ASSERT_TRUE(writeFile(file(folder + "/.hidden"), marker));
    }

    // replaceAt: the 1-based run that replaces the launcher's file before it returns, or 0.
    void script(const QVector<int> &results, int replaceAt = 0)
    {
        QByteArray text;
        for (int i = 0; i < results.size(); ++i)
            text += QByteArray::number(results[i]) + (i + 1 == replaceAt ? " replace\n" : "\n");
        ASSERT_TRUE(writeFile(file("mainframe-script.txt"), text));
    }

    QVector<QJsonObject> runs() const
    {
        QVector<QJsonObject> result;
        const QList<QByteArray> lines = readFile(file("mainframe-record.jsonl")).split('\n');
        for (const QByteArray &line : lines) {
            if (!line.isEmpty())
                result << QJsonDocument::fromJson(line).object();
        }
        return result;
    }

    // Waits for the runs of a restarted instance and for that instance to end.
    QVector<QJsonObject> waitForRuns(int count) const
    {
        for (int i = 0; i < kPollRounds && runs().size() < count; ++i)
            QThread::msleep(kPollMs);
        return runs();
    }

    QJsonObject waitForUpgradeRecord() const
    {
        const QString path = file("Upgrade/upgrade-record.json");
        for (int i = 0; i < kPollRounds && !QFileInfo::exists(path); ++i)
            QThread::msleep(kPollMs);
        return QJsonDocument::fromJson(readFile(path)).object();
    }

private:
    QTemporaryDir m_tmp;
    QString m_dir;
};

struct LaunchResult
{
    bool finished;
    int exitCode;
    QByteArray output;
};

LaunchResult launch(const ProgramDir &dir, const QStringList &arguments,
                    const QString &solutionsDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("PATH", QString::fromLatin1(kBasePath));
    for (const char *name :
         {"HESTAL_SOLUTIONS_DIR", "HESTAL_DEBUGLOG", "QRL_PRINTLOG", "NORVANE_STANDIN_DIR"})
        env.remove(name);
    if (!solutionsDir.isNull())
        env.insert("HESTAL_SOLUTIONS_DIR", solutionsDir);
#if defined(__SANITIZE_ADDRESS__)
    // The offscreen platform leaks its screen at exit, which would change the exit code.
    env.insert("LSAN_OPTIONS", "suppressions=" NORVANE_LSAN_SUPPRESSIONS);
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":fast_unwind_on_malloc=0");
#endif

    // Started from elsewhere: the launcher must move into its program directory by itself.
    QTemporaryDir elsewhere;
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(elsewhere.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(dir.program(), arguments);
    const bool finished = process.waitForFinished(30000);
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    return {finished && process.exitStatus() == QProcess::NormalExit, process.exitCode(),
            process.readAll()};
}

struct LaunchCase
{
    const char *name;
    QStringList arguments;
    QVector<int> script;
    int exitCode;
    // Texts of the runs inside the started launcher, in order.
    QStringList texts;
    // A new instance was started and ran once (with the plain name).
    bool restarted = false;
    Tool tool = Tool::None;     // which copy of the upgrade tool must have been started
    Tool provided = Tool::None; // which copies are there: None, Staged (and installed), Installed
    Plugin plugin = Plugin::MainFrame;
    QString solutionsDir = QString();
    bool longPath = false;
    int replaceProgramAtRun = 0;
};

void PrintTo(const LaunchCase &c, std::ostream *os)
{
    *os << c.name;
}

class Launcher : public ::testing::TestWithParam<LaunchCase>
{};

TEST_P(Launcher, RunsAndActsOnTheResult)
{
    const LaunchCase &c = GetParam();
    ProgramDir dir(c.longPath);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    if (c.longPath) {
        ASSERT_GT(dir.program().toLocal8Bit().size(), 255);
    }
    dir.stagePlugin(c.plugin);
    dir.script(c.script, c.replaceProgramAtRun);
    if (c.provided == Tool::Staged || c.provided == Tool::Installed)
        dir.stageTool("Upgrade", "installed");
    if (c.provided == Tool::Staged)
        dir.stageTool("Tmp/Packet/Upgrade", "staged");

    const LaunchResult result = launch(dir, c.arguments, c.solutionsDir);
    ASSERT_TRUE(result.finished) << result.output.toStdString();
    EXPECT_EQ(result.exitCode, c.exitCode & 0xff) << result.output.toStdString();

    const QVector<QJsonObject> runs = dir.waitForRuns(c.texts.size() + (c.restarted ? 1 : 0));
    ASSERT_EQ(runs.size(), c.texts.size() + (c.restarted ? 1 : 0));

    // Every run sees the program directory as its working directory and the solutions
    // directory at the front of "PATH".
    const QString solutions = c.solutionsDir.isNull() ? "Solutions/" : c.solutionsDir;
    const QString entry = dir.path() + "/" + solutions + OutsideFiles::pathListSeparator();
    const qint64 launcherPid = runs.isEmpty() ? 0 : runs[0]["pid"].toVariant().toLongLong();
    for (int i = 0; i < c.texts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(runs[i]["text"].toString(), c.texts[i]);
        EXPECT_EQ(runs[i]["pid"].toVariant().toLongLong(), launcherPid);
        EXPECT_EQ(runs[i]["cwd"].toString(), dir.path());
        EXPECT_EQ(runs[i]["path"].toString(), entry + kBasePath);
    }
    if (c.restarted) {
        const QJsonObject restart = runs.last();
        EXPECT_NE(restart["pid"].toVariant().toLongLong(), launcherPid);
        EXPECT_EQ(restart["text"].toString(), "Norvane");
        // Started from the program file with no arguments of its own.
        EXPECT_EQ(restart["arguments"].toArray(), QJsonArray{dir.program()});
        EXPECT_EQ(restart["path"].toString(), entry + entry + kBasePath);
        EXPECT_TRUE(waitForExit(restart["pid"].toVariant().toLongLong()));
    }

    // No run beyond those expected took a result from the script.
    QByteArray rest;
    for (int i = runs.size(); i < c.script.size(); ++i)
        rest += QByteArray::number(c.script[i]) + (i + 1 < c.script.size() ? "\n" : "");
    EXPECT_EQ(readFile(dir.file("mainframe-script.txt")).trimmed(), rest);

    const QString toolRecord = dir.file("Upgrade/upgrade-record.json");
    if (c.tool == Tool::None) {
        EXPECT_FALSE(QFileInfo::exists(toolRecord));
    } else {
        const QJsonObject record = dir.waitForUpgradeRecord();
        ASSERT_FALSE(record.isEmpty());
        EXPECT_EQ(record["program"].toString(), dir.file("Upgrade/") + OutsideFiles::kUpgradeTool);
        EXPECT_EQ(record["arguments"].toArray(), (QJsonArray{dir.file("Tmp"), dir.program()}));
        EXPECT_EQ(record["cwd"].toString(), dir.path());
        EXPECT_EQ(readFile(dir.file("Upgrade/marker.txt")),
                  c.tool == Tool::Staged ? "staged" : "installed");
        EXPECT_TRUE(QFileInfo::exists(dir.file("Upgrade/.hidden")));
        EXPECT_TRUE(waitForExit(record["pid"].toVariant().toLongLong()));
    }
    if (c.provided == Tool::Staged) {
        EXPECT_FALSE(QFileInfo::exists(dir.file("Tmp/Packet/Upgrade")));
    }

    // The debug log ran from start-up to shutdown, also when the plug-in failed.
    const QByteArray debugLog = readFile(dir.file("Log/debug.log"));
    EXPECT_TRUE(debugLog.contains("debug log started")) << debugLog.toStdString();
    EXPECT_TRUE(debugLog.contains("debug log stopped")) << debugLog.toStdString();
    // The filter is in place for every run: the plug-in's own warning reaches the print log
    // and the previous handler (standard error), the framework's noise neither.
    const QByteArray printLog = readFile(dir.file("Log/print.log"));
    EXPECT_EQ(printLog.count("main frame run: "), runs.size()) << printLog.toStdString();
    for (const QString &text : c.texts)
        EXPECT_TRUE(result.output.contains("main frame run: " + text.toUtf8()));
    EXPECT_FALSE(printLog.contains("framework noise"));
    EXPECT_FALSE(result.output.contains("framework noise")) << result.output.toStdString();
    // The launcher's own warnings carry no source location, so its filter drops them.
    for (const char *own : {"load plugin", "qobject_cast plugin", "srcDir is Empty",
                            "start upgrade failed!", "copy file", "delete file"}) {
        EXPECT_FALSE(printLog.contains(own)) << printLog.toStdString();
        EXPECT_FALSE(result.output.contains(own)) << result.output.toStdString();
    }
}

LaunchCase replacingProgramAt(int run, LaunchCase c)
{
    c.replaceProgramAtRun = run;
    return c;
}

const LaunchCase kLaunchCases[] = {
    {"NoArguments", {}, {0}, 0, {"Norvane"}},
    {"CrashOneDash", {"-crash"}, {0}, 0, {"Norvane crash"}},
    {"CrashTwoDashes", {"--crash"}, {0}, 0, {"Norvane crash"}},
    {"UpgradeResultHidesCrash", {"-ur", "3", "-crash"}, {0}, 0, {"Norvane"}},
    {"UnknownOptionDropsCrash", {"-crash", "-bogus"}, {0}, 0, {"Norvane"}},
    {"UpgradeResultWithoutValue", {"-crash", "-ur"}, {0}, 0, {"Norvane"}},
    {"OtherResultIsTheExitCode", {"extra"}, {42}, 42, {"Norvane"}},
    {"RestartStartsANewInstance", {"-crash"}, {1, 0}, 1, {"Norvane crash"}, true},
    {"UpgradeStagesAndHandsOver",
     {"-crash"},
     {2},
     2,
     {"Norvane crash"},
     false,
     Tool::Staged,
     Tool::Staged},
    {"RunAgainThenRestart", {"-crash"}, {3, 1, 0}, 1, {"Norvane crash", "Norvane"}, true},
    {"RunAgainThenUpgrade",
     {"-crash"},
     {3, 2},
     2,
     {"Norvane crash", "Norvane"},
     false,
     Tool::Staged,
     Tool::Staged},
    // The script's third result stays unused: there is no third run and no restart.
    {"RunAgainTwice", {}, {3, 3, 1}, 3, {"Norvane", "Norvane"}},
    {"RunAgainThenOther", {}, {3, 0}, 0, {"Norvane", "Norvane"}},
    {"MissingPlugin", {"-crash"}, {1}, -1, {}, false, Tool::None, Tool::None, Plugin::Missing},
    {"RootWithoutInterface", {}, {1}, -1, {}, false, Tool::None, Tool::None, Plugin::NoInterface},
    {"SolutionsPathWithoutSeparator",
     {},
     {1},
     -1,
     {},
     false,
     Tool::None,
     Tool::None,
     Plugin::MainFrame,
     "Solutions"},
    {"MissingStagedToolStartsTheInstalledOne",
     {},
     {2},
     2,
     {"Norvane"},
     false,
     Tool::Installed,
     Tool::Installed},
    {"MissingUpgradeTool", {}, {2}, 2, {"Norvane"}},
    {"LongProgramPathRestart",
     {},
     {1, 0},
     1,
     {"Norvane"},
     true,
     Tool::None,
     Tool::None,
     Plugin::MainFrame,
     QString(),
     true},
    {"LongProgramPathRunAgainThenRestart",
     {},
     {3, 1, 0},
     1,
     {"Norvane", "Norvane"},
     true,
     Tool::None,
     Tool::None,
     Plugin::MainFrame,
     QString(),
     true},
    // An upgrade of the launcher replaced its file during the second run.
    replacingProgramAt(
        2, {"ReplacedProgramRunAgainThenRestart", {}, {3, 1, 0}, 1, {"Norvane", "Norvane"}, true}),
    {"LongProgramPathUpgrade",
     {},
     {3, 2},
     2,
     {"Norvane", "Norvane"},
     false,
     Tool::Staged,
     Tool::Staged,
     Plugin::MainFrame,
     QString(),
     true},
};

INSTANTIATE_TEST_SUITE_P(EndToEnd, Launcher, ::testing::ValuesIn(kLaunchCases),
                         [](const ::testing::TestParamInfo<LaunchCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace

int main(int argc, char **argv)
{
    // Processes that the launcher starts detached are orphaned at once; as their reaper this
    // test can wait for each of them and leaves none behind.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
