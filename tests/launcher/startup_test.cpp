// SPDX-License-Identifier: MIT
#include "outsidefiles.h"
#include "startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

struct CommandLineCase
{
    const char *name;
    QStringList arguments;
    bool parses;
    int32_t upgradeResult;
    std::string pluginArgument;
};

void PrintTo(const CommandLineCase &c, std::ostream *os)
{
    *os << c.name;
}

class CommandLine : public ::testing::TestWithParam<CommandLineCase>
{};

TEST_P(CommandLine, FillsTheOptions)
{
    const CommandLineCase &c = GetParam();
    LaunchOptions options;

    EXPECT_EQ(parseCommandLine(&options, c.arguments), c.parses);

    EXPECT_EQ(options.upgradeResult, c.upgradeResult);
    EXPECT_EQ(options.pluginArgument, c.pluginArgument);
}

const CommandLineCase kCommandLineCases[] = {
    {"ProgramNameOnly", {"Norvane"}, true, 1, ""},
    {"NoArgumentsAtAll", {}, true, 1, ""},
    {"CrashOneDash", {"Norvane", "-crash"}, true, 1, "crash"},
    {"CrashTwoDashes", {"Norvane", "--crash"}, true, 1, "crash"},
    {"UpgradeResult", {"Norvane", "-ur", "3"}, true, 3, ""},
    {"UpgradeResultWithEquals", {"Norvane", "--ur=12"}, true, 12, ""},
    {"UpgradeResultHidesCrash", {"Norvane", "-crash", "-ur", "3"}, true, 3, ""},
    {"UpgradeResultNotANumber", {"Norvane", "-ur", "x7"}, true, 0, ""},
    {"UpgradeResultNegative", {"Norvane", "-ur=-4"}, true, -4, ""},
    {"PositionalArgumentsIgnored", {"Norvane", "file.txt", "-crash", "more"}, true, 1, "crash"},
    {"UnknownOptionChangesNothing", {"Norvane", "-crash", "-bogus"}, false, 1, ""},
    {"ShortFormIsNoOption", {"Norvane", "-c"}, false, 1, ""},
    {"UpgradeResultWithoutValue", {"Norvane", "-crash", "-ur"}, false, 1, ""},
    {"CrashTakesNoValue", {"Norvane", "--crash=yes"}, false, 1, ""},
};

INSTANTIATE_TEST_SUITE_P(Startup, CommandLine, ::testing::ValuesIn(kCommandLineCases),
                         [](const ::testing::TestParamInfo<CommandLineCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(Startup, CommandLineNeedsOptionsToFill)
{
    EXPECT_FALSE(parseCommandLine(nullptr, {"Norvane", "-crash"}));
    EXPECT_FALSE(parseCommandLine(nullptr));
}

// Restores "PATH" and the solutions directory override when a test is done with them.
class LibrarySearchPath : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_hadPath = qEnvironmentVariableIsSet("PATH");
        m_path = qgetenv("PATH");
    }
    void TearDown() override
    {
        if (m_hadPath)
            qputenv("PATH", m_path);
        else
            qunsetenv("PATH");
        qunsetenv("HESTAL_SOLUTIONS_DIR");
    }

    static QByteArray entry(const QString &solutions)
    {
        return (QCoreApplication::applicationDirPath() + QDir::separator() + solutions)
            .toLocal8Bit();
    }
    static QByteArray separator()
    {
        return QByteArray(1, OutsideFiles::pathListSeparator().toLatin1());
    }

private:
    bool m_hadPath = false;
    QByteArray m_path;
};

TEST_F(LibrarySearchPath, SolutionsDirectoryComesFirst)
{
    qputenv("PATH", "/usr/local/bin:/usr/bin");

    EXPECT_TRUE(setLibrarySearchPath());

    EXPECT_EQ(qgetenv("PATH"), entry("Solutions/") + separator() + "/usr/local/bin:/usr/bin");
}

TEST_F(LibrarySearchPath, UnsetOrEmptyPathGetsTheEntryAndASeparator)
{
    for (bool unset : {true, false}) {
        if (unset)
            qunsetenv("PATH");
        else
            qputenv("PATH", "");

        EXPECT_TRUE(setLibrarySearchPath());

        EXPECT_EQ(qgetenv("PATH"), entry("Solutions/") + separator()) << "unset: " << unset;
    }
}

TEST_F(LibrarySearchPath, SolutionsPathIsJoinedAsItStands)
{
    qputenv("HESTAL_SOLUTIONS_DIR", "Solutions");
    qputenv("PATH", "/bin");

    EXPECT_TRUE(setLibrarySearchPath());

    EXPECT_EQ(qgetenv("PATH"), entry("Solutions") + separator() + "/bin");
}

TEST(Startup, ModuleFileNameIsTheRunningProgram)
{
    const QString name = moduleFileName();
    ASSERT_FALSE(name.isEmpty());
    EXPECT_EQ(QFileInfo(name).canonicalFilePath(),
              QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
}

} // namespace
