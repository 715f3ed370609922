// SPDX-License-Identifier: MIT
#include <sys/wait.h>
#include <unistd.h>

#include <qrl/qrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

class PrintLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_'); // rows of a table are "Test/Row"
        dir = fs::temp_directory_path()
              / ("qrl_printlog_" + std::to_string(::getpid()) + "_" + name);
        fs::remove_all(dir);
        log = qrl::DPrintLog::instance();
        previousPath = log->FilePath();
        path = (dir / "sub" / "print.log").string();
        log->SetFilePath(path);
    }
    void TearDown() override
    {
        log->SetFilePath(previousPath);
        fs::remove_all(dir);
    }

    std::string contents() const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> result;
        std::istringstream in(contents());
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }

    fs::path dir;
    std::string path;
    std::string previousPath;
    qrl::DPrintLog *log = nullptr;
};

TEST_F(PrintLogTest, EntryCarriesLevelPlaceAndTheMessageVerbatim)
{
    EXPECT_EQ(qrl::DPrintLog::instance(), log);
    EXPECT_EQ(log->FilePath(), path);
    ASSERT_EQ(log->Log("viewer.cpp", 77, "void paint()", "", 5, "%s", "%s %n %%"), 0);
    const std::vector<std::string> entries = lines();
    ASSERT_EQ(entries.size(), 1u);
    const std::string &entry = entries.front();
    // A timestamp first: "YYYY-MM-DD hh:mm:ss.mmm".
    ASSERT_GE(entry.size(), 23u);
    EXPECT_EQ(entry[4], '-');
    EXPECT_EQ(entry[13], ':');
    EXPECT_EQ(entry[19], '.');
    EXPECT_NE(entry.find("[5]"), std::string::npos) << entry;
    EXPECT_NE(entry.find("viewer.cpp:77"), std::string::npos) << entry;
    EXPECT_NE(entry.find("void paint()"), std::string::npos) << entry;
    const std::string tail = ": %s %n %%";
    EXPECT_EQ(entry.compare(entry.size() - tail.size(), tail.size(), tail), 0) << entry;
}

struct FormatCase
{
    const char *name;
    const char *text;
    const char *format;
    std::string argument;
    std::string expectedTail;
};

// Test names show the row name, not the bytes of the row.
void PrintTo(const FormatCase &row, std::ostream *out)
{
    *out << row.name;
}

class PrintLogFormatTest : public PrintLogTest, public ::testing::WithParamInterface<FormatCase>
{};

TEST_P(PrintLogFormatTest, FormatsLikePrintf)
{
    const FormatCase &row = GetParam();
    ASSERT_EQ(log->Log(nullptr, 0, nullptr, row.text, 4, row.format, row.argument.c_str()), 0);
    const std::string written = contents();
    const std::string expected = row.expectedTail + "\n";
    ASSERT_GE(written.size(), expected.size());
    EXPECT_EQ(written.substr(written.size() - expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PrintLogFormatTest,
    ::testing::Values(FormatCase{"Substitution", "", "<%5s|%%>", "ab", ": <   ab|%>"},
                      FormatCase{"TextBeforeMessage", "ctx", "%s", "body", ": ctx body"},
                      FormatCase{"EmbeddedNewlineKept", "", "%s", "one\ntwo", ": one\ntwo"},
                      FormatCase{"EmptyMessage", "", "%s", "", ": "},
                      FormatCase{"LongerThanAnyBuffer", "", "%s", std::string(70000, 'x') + "end",
                                 ": " + std::string(70000, 'x') + "end"}),
    [](const ::testing::TestParamInfo<FormatCase> &info) { return info.param.name; });

TEST_F(PrintLogTest, NumbersAndNullPlaces)
{
    ASSERT_EQ(log->Log(nullptr, 3, nullptr, nullptr, 6, "%d-%x-%.2f", 42, 255, 1.5), 0);
    const std::string entry = lines().at(0);
    EXPECT_NE(entry.find("[6] :3 : 42-ff-1.50"), std::string::npos) << entry;
}

TEST_F(PrintLogTest, ConcurrentWritersLoseNoEntry)
{
    constexpr int kThreads = 8;
    constexpr int kEach = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < kEach; ++i)
                log->Log(__FILE__, __LINE__, __func__, "", 4, "writer %d entry %d end", t, i);
        });
    }
    for (std::thread &writer : writers)
        writer.join();

    const std::vector<std::string> entries = lines();
    ASSERT_EQ(entries.size(), std::size_t(kThreads * kEach));
    std::set<std::pair<int, int>> seen;
    for (const std::string &entry : entries) {
        int t = -1;
        int i = -1;
        const std::size_t at = entry.find("writer ");
        ASSERT_NE(at, std::string::npos) << entry;
        ASSERT_EQ(std::sscanf(entry.c_str() + at, "writer %d entry %d end", &t, &i), 2) << entry;
        ASSERT_EQ(entry.compare(entry.size() - 4, 4, " end"), 0) << entry; // whole, not torn
        seen.emplace(t, i);
    }
    EXPECT_EQ(seen.size(), std::size_t(kThreads * kEach));
}

TEST_F(PrintLogTest, AppendsAndFollowsANewPath)
{
    log->Log("a", 1, "f", "", 4, "%s", "first");
    log->SetFilePath(path); // same file again: appended, not truncated
    log->Log("a", 2, "f", "", 4, "%s", "second");
    EXPECT_EQ(lines().size(), 2u);

    const std::string other = (dir / "other.log").string();
    log->SetFilePath(other);
    log->Log("a", 3, "f", "", 4, "%s", "third");
    EXPECT_EQ(lines().size(), 2u);
    std::ifstream in(other);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_NE(line.find("third"), std::string::npos);
}

TEST_F(PrintLogTest, ReportsAFileThatCannotBeOpened)
{
    fs::create_directories(dir / "taken");
    log->SetFilePath((dir / "taken").string()); // a directory
    EXPECT_EQ(log->Log("a", 1, "f", "", 4, "%s", "lost"), -1);
}

// Runs the probe in cwd with QRL_PRINTLOG set to logPath, or unset when logPath is null.
int runProbe(const fs::path &cwd, const char *logPath, const char *text)
{
    // Everything the child needs is made before the fork: it only changes folder and execs.
    std::vector<std::string> environment;
    for (char **entry = environ; *entry; ++entry) {
        if (std::string(*entry).rfind("QRL_PRINTLOG=", 0) != 0)
            environment.emplace_back(*entry);
    }
    if (logPath)
        environment.push_back(std::string("QRL_PRINTLOG=") + logPath);
    std::vector<char *> envp;
    for (std::string &entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const std::string probe = PRINTLOG_PROBE;
    std::string argument = text;
    char *argv[] = {const_cast<char *>(probe.c_str()), argument.data(), nullptr};

    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(cwd.c_str()) == 0)
            ::execve(argv[0], argv, envp.data());
        ::_exit(121);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string readAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(PrintLogTest, WritesUnderTheWorkingDirectoryOrWhereTheEnvironmentSays)
{
    fs::create_directories(dir / "cwd");
    ASSERT_EQ(runProbe(dir / "cwd", nullptr, "by default"), 0);
    EXPECT_NE(readAll(dir / "cwd" / "Log" / "print.log").find(": by default\n"), std::string::npos);

    const fs::path chosen = dir / "elsewhere" / "mine.log";
    ASSERT_EQ(runProbe(dir / "cwd", chosen.c_str(), "as told"), 0);
    EXPECT_NE(readAll(chosen).find(": as told\n"), std::string::npos);
    EXPECT_EQ(readAll(dir / "cwd" / "Log" / "print.log").find("as told"), std::string::npos);
}

} // namespace
