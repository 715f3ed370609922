// SPDX-License-Identifier: MIT
// The installation: copy with backup, restore, rollback and the two installations.
#include "cupgrade.h"
#include "enginetestkit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace EngineTest;

namespace {

// Sets a fault hook for the life of a test and removes it again.
class FaultHook
{
public:
    explicit FaultHook(CUpgrade::CopyFaultHook hook)
    {
        CUpgrade::setCopyFaultHook(std::move(hook));
    }
    ~FaultHook() { CUpgrade::setCopyFaultHook(nullptr); }
};

void writeTree(const QString &root, const QVector<QPair<QString, QByteArray>> &files)
{
    for (const auto &file : files) {
        writeFile(root + "/" + file.first, file.second);
    }
}

class CopyDir : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;
    QString m_src = m_dir.path() + "/src";
    QString m_dst = m_dir.path() + "/dst";
    QString m_bak = m_dir.path() + "/bak";
    MessageCapture m_log;
};

} // namespace

TEST_F(CopyDir, CopyWithBackupBacksUpReplacedFilesAndRecordsWhatItCreates)
{
    writeTree(m_dst, {{"old.txt", "old"}, {"exist/keep.txt", "keep"}, {"untouched", "u"}});
    writeTree(m_src, {{"old.txt", "new"},
                      {"new.txt", "n"},
                      {".hidden", "h"},
                      {"sub/deep/file.txt", "f"},
                      {"exist/inner.txt", "i"}});
    const QFileDevice::Permissions program = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                             | QFileDevice::ExeOwner | QFileDevice::ReadUser
                                             | QFileDevice::WriteUser | QFileDevice::ExeUser;
    ASSERT_TRUE(QFile::setPermissions(m_src + "/new.txt", program));
    CopyDirParam param{m_bak, {}, {}};
    ASSERT_TRUE(CUpgrade::copyDir(m_src, m_dst, 1, &param));

    EXPECT_EQ(readFile(m_dst + "/old.txt"), "new");
    EXPECT_EQ(QFile::permissions(m_dst + "/new.txt"), program);
    EXPECT_EQ(readFile(m_dst + "/sub/deep/file.txt"), "f");
    EXPECT_EQ(readFile(m_bak + "/old.txt"), "old");
    // Every level the copy entered has its backup directory, also where nothing was replaced.
    EXPECT_EQ(listTree(m_bak), QStringList({"exist/", "old.txt", "sub/", "sub/deep/"}));
    EXPECT_EQ(param.strBackupDir, m_bak + "/");

    const QString d = m_dst + "/";
    QStringList recorded = param.vecCopiedPath.toList();
    EXPECT_LT(recorded.indexOf(d + "sub/"), recorded.indexOf(d + "sub/deep/"));
    EXPECT_LT(recorded.indexOf(d + "sub/deep/"), recorded.indexOf(d + "sub/deep/file.txt"));
    recorded.sort();
    EXPECT_EQ(recorded,
              QStringList({d + ".hidden", d + "exist/inner.txt", d + "new.txt", d + "old.txt",
                           d + "sub/", d + "sub/deep/", d + "sub/deep/file.txt"}));
    EXPECT_TRUE(m_log.warnings().isEmpty());
}

TEST_F(CopyDir, ANewDestinationIsCreatedAndRecordedWithItsSeparator)
{
    writeTree(m_src, {{"a", "a"}});
    CopyDirParam param{m_bak, {}, {}};
    ASSERT_TRUE(CUpgrade::copyDir(m_src, m_dst + "/new/level", 1, &param));
    EXPECT_EQ(param.vecCopiedPath.first(), m_dst + "/new/level/");
    EXPECT_EQ(readFile(m_dst + "/new/level/a"), "a");
}

TEST_F(CopyDir, RefusesAMissingSourceAndACopyWithBackupWithoutABackupDirectory)
{
    const QString safety
        = "copy safety need pCopyDirParam and pCopyDirParam->strBackupDir can't be empty";
    CopyDirParam empty;
    struct Row
    {
        QString src;
        int mode;
        CopyDirParam *param;
        QString warning;
    };
    writeTree(m_src, {{"a", "a"}});
    for (const Row &row : {Row{m_dir.path() + "/none", 0, nullptr, "srcDir is Empty"},
                           Row{m_dir.path() + "/none", 1, nullptr, "srcDir is Empty"},
                           Row{m_src, 1, nullptr, safety}, Row{m_src, 1, &empty, safety}}) {
        m_log.clear();
        EXPECT_FALSE(CUpgrade::copyDir(row.src, m_dst, row.mode, row.param));
        EXPECT_EQ(m_log.warnings(), QStringList{row.warning});
        EXPECT_FALSE(QFileInfo::exists(m_dst));
    }
}

TEST_F(CopyDir, RestoreGoesOnPastAFailingFileAndPlainCopyStopsAtIt)
{
    writeTree(m_src, {{"a", "a"}, {"b", "b"}, {"c", "c"}, {"d", "d"}});
    writeTree(m_dst, {{"c", "old c"}});
    FaultHook hook([](CUpgrade::CopyStep step, int, const QString &path) {
        return step == CUpgrade::CopyStep::Copy && path.endsWith("/b");
    });

    EXPECT_FALSE(CUpgrade::copyDir(m_src, m_dst, 2, nullptr));
    EXPECT_EQ(listTree(m_dst), QStringList({"a", "c", "d"}));
    EXPECT_EQ(readFile(m_dst + "/c"), "c");
    EXPECT_EQ(m_log.warnings(), QStringList{"copy file  " + q(m_dst + "/b") + " failed!"});

    // The plain copy ends at the failing file: whatever was listed after it is not copied.
    QDir(m_dst).removeRecursively();
    m_log.clear();
    EXPECT_FALSE(CUpgrade::copyDir(m_src, m_dst, 0, nullptr));
    EXPECT_EQ(m_log.warnings().size(), 1);
    const QStringList names = QDir(m_src).entryList(QDir::Files, QDir::Unsorted);
    const QStringList copied = names.mid(0, names.indexOf("b"));
    QStringList sorted = copied;
    sorted.sort();
    EXPECT_EQ(listTree(m_dst), sorted);
}

TEST_F(CopyDir, RestoreReportsAFailingSubdirectoryAndGoesOn)
{
    writeTree(m_src, {{"x/bad", "1"}, {"x/good", "2"}, {"y/fine", "3"}});
    FaultHook hook([](CUpgrade::CopyStep step, int, const QString &path) {
        return step == CUpgrade::CopyStep::Copy && path.endsWith("/bad");
    });
    EXPECT_FALSE(CUpgrade::copyDir(m_src, m_dst, 2, nullptr));
    EXPECT_EQ(readFile(m_dst + "/x/good"), "2");
    EXPECT_EQ(readFile(m_dst + "/y/fine"), "3");
    EXPECT_EQ(m_log.warnings(), QStringList({"copy file  " + q(m_dst + "/x/bad") + " failed!",
                                             "copyDir  " + q(m_src + "/x") + "  to  "
                                                 + q(m_dst + "/x") + " failed"}));
}

TEST_F(CopyDir, AFileThatCannotBeDeletedKeepsItsContentAndLosesItsBackup)
{
    writeTree(m_dst, {{"in use", "running"}});
    writeTree(m_src, {{"in use", "new"}});
    FaultHook hook([](CUpgrade::CopyStep step, int, const QString &) {
        return step == CUpgrade::CopyStep::Remove;
    });
    CopyDirParam param{m_bak, {}, {}};
    EXPECT_FALSE(CUpgrade::copyDir(m_src, m_dst, 1, &param));
    EXPECT_EQ(readFile(m_dst + "/in use"), "running");
    EXPECT_FALSE(QFileInfo::exists(m_bak + "/in use"));
    EXPECT_TRUE(param.vecCopiedPath.isEmpty());
    EXPECT_EQ(m_log.warnings(), QStringList{"delete file  " + q(m_dst + "/in use") + " failed!"});
    EXPECT_EQ(param.strBackupDir, m_bak + "/");
}

TEST_F(CopyDir, AFileGoneDespiteAFailedDeleteKeepsItsBackup)
{
    writeTree(m_dst, {{"f", "old"}});
    writeTree(m_src, {{"f", "new"}});
    FaultHook hook([](CUpgrade::CopyStep step, int, const QString &path) {
        if (step != CUpgrade::CopyStep::Remove) {
            return false;
        }
        QFile::remove(path);
        return true;
    });
    CopyDirParam param{m_bak, {}, {}};
    EXPECT_FALSE(CUpgrade::copyDir(m_src, m_dst, 1, &param));
    EXPECT_EQ(readFile(m_bak + "/f"), "old");
    const QString d = q(m_dst + "/f");
    EXPECT_EQ(m_log.warnings(), QStringList({"delete file  " + d + " failed!",
                                             "File  " + d + "  is remove failed, but not exists"}));
}

TEST_F(CopyDir, AFailedBackupEndsTheCopyBeforeTheFileIsTouched)
{
    writeTree(m_dst, {{"sub/f", "old"}});
    writeTree(m_src, {{"sub/f", "new"}});
    FaultHook hook([](CUpgrade::CopyStep step, int, const QString &) {
        return step == CUpgrade::CopyStep::Backup;
    });
    CopyDirParam param{m_bak, {}, {}};
    EXPECT_FALSE(CUpgrade::copyDir(m_src, m_dst, 1, &param));
    EXPECT_EQ(readFile(m_dst + "/sub/f"), "old");
    EXPECT_EQ(m_log.warnings(), QStringList({"copy file to  " + q(m_bak + "/sub/f") + " failed!",
                                             "copyDir  " + q(m_src + "/sub") + "  to  "
                                                 + q(m_dst + "/sub") + " failed"}));
    EXPECT_EQ(param.strBackupDir, m_bak + "/");
}

namespace {

class SolutionPacket : public ::testing::Test
{
protected:
    void SetUp() override
    {
        writeTree(m_root, {{"Tmp/Packet/Solution.xml", "new solution"},
                           {"Tmp/Packet/extra.txt", "extra"},
                           {"Tmp/a.7z", "archive"}});
        writeTree(m_home, {{"Solution.xml", "old solution"}, {"other.txt", "other"}});
    }

    QTemporaryDir m_dir;
    QString m_root = m_dir.path() + "/root";
    QString m_home = m_dir.path() + "/home";
    QString m_solution = m_home + "/Solution.xml";
    MessageCapture m_log;
};

} // namespace

TEST_F(SolutionPacket, IsCopiedNextToTheSolutionFileAndTheTemporaryDirectoryGoes)
{
    EXPECT_EQ(CUpgrade::upgradeSolutionPacket(m_root + "/", m_solution), UpgradeOpSuccess);
    EXPECT_EQ(readFile(m_solution), "new solution");
    EXPECT_EQ(readFile(m_home + "/extra.txt"), "extra");
    EXPECT_FALSE(QFileInfo::exists(m_root + "/Tmp"));
    EXPECT_TRUE(m_log.contains("copyDir success"));
    EXPECT_TRUE(m_log.warnings().isEmpty());
}

TEST_F(SolutionPacket, WithoutTheSolutionFileInThePacketNothingIsTouched)
{
    QFile::remove(m_root + "/Tmp/Packet/Solution.xml");
    const QMap<QString, QByteArray> before = treeDigest(m_dir.path());
    EXPECT_EQ(CUpgrade::upgradeSolutionPacket(m_root + "/", m_solution), UpgradeOpNoPacket);
    EXPECT_EQ(treeDigest(m_dir.path()), before);
    EXPECT_TRUE(m_log.texts().isEmpty());
}

TEST_F(SolutionPacket, AFailedCopyIsRolledBackAndRestored)
{
    const QMap<QString, QByteArray> home = treeDigest(m_home);
    FaultHook hook([](CUpgrade::CopyStep step, int mode, const QString &path) {
        return mode == 1 && step == CUpgrade::CopyStep::Copy && path.endsWith("/Solution.xml");
    });
    EXPECT_EQ(CUpgrade::upgradeSolutionPacket(m_root + "/", m_solution), UpgradeOpWriteFileFailed);
    EXPECT_EQ(treeDigest(m_home), home);
    EXPECT_FALSE(QFileInfo::exists(m_root + "/Tmp")) << "the restore succeeded";
    EXPECT_TRUE(m_log.warnings().contains("copyDir failed"));
}

TEST_F(SolutionPacket, ALeftOverBackupStopsItAndIsKept)
{
    writeFile(m_root + "/Tmp/Backup/Solution.xml", "older solution");
    const QMap<QString, QByteArray> before = treeDigest(m_dir.path());
    EXPECT_EQ(CUpgrade::upgradeSolutionPacket(m_root + "/", m_solution), UpgradeOpWriteFileFailed);
    EXPECT_EQ(treeDigest(m_dir.path()), before);
    EXPECT_EQ(m_log.warnings(),
              QStringList{"backup  " + q(m_root + "//Tmp/Backup/")
                          + "  holds the files of a failed installation; restore them first"});
}

TEST(DeleteTmpDir, RemovesTheTemporaryDirectoryOfARootIfThere)
{
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    EXPECT_TRUE(CUpgrade::deleteTmpDir(root));
    writeFile(root + "Tmp/Packet/a", "a");
    writeFile(root + "keep", "k");
    EXPECT_TRUE(CUpgrade::deleteTmpDir(root));
    EXPECT_EQ(listTree(dir.path()), QStringList{"keep"});
}

namespace {

const QVector<QPair<QString, QByteArray>> kProgram{
    {"old.txt", "old"}, {"keep.txt", "keep"}, {"lib/old.so", "old lib"}, {".config", "c"}};

struct Installation
{
    const char *name;
    QVector<QPair<QString, QByteArray>> packet; // empty with packetDir false: no packet folder
    bool packetDir;
    QStringList args;
    int result;
    // Messages that must appear, in this order (others may come between).
    QStringList messages;
    bool tmpStays;
};

void PrintTo(const Installation &row, std::ostream *os)
{
    *os << row.name;
}

class InstallationTest : public ::testing::TestWithParam<Installation>
{};

bool inOrder(const QStringList &messages, const QStringList &expected)
{
    int at = 0;
    for (const QString &message : messages) {
        if (at < expected.size() && message == expected.at(at)) {
            ++at;
        }
    }
    return at == expected.size();
}

} // namespace

TEST_P(InstallationTest, LeavesTheProgramDirectoryAsBeforeOrUpdated)
{
    const Installation &row = GetParam();
    ProbeApp probe(true);
    const QString app = probe.app();
    writeTree(app, kProgram);
    writeFile(app + "/Tmp/a.7z", "archive");
    if (row.packetDir) {
        QDir().mkpath(app + "/Tmp/Packet");
    }
    writeTree(app + "/Tmp/Packet", row.packet);
    const QMap<QString, QByteArray> before = treeDigest(app, {"Tmp"});

    const QStringList lines = probe.run(QStringList{"install"} + row.args);
    EXPECT_EQ(resultOf(lines), row.result) << lines.join('\n').toStdString();
    EXPECT_TRUE(inOrder(messagesOf(lines), row.messages)) << lines.join('\n').toStdString();
    EXPECT_EQ(QFileInfo::exists(app + "/Tmp"), row.tmpStays);
    if (row.result == UpgradeOpSuccess) {
        for (const auto &file : row.packet) {
            EXPECT_EQ(readFile(app + "/" + file.first), file.second) << file.first.toStdString();
        }
    } else {
        EXPECT_EQ(treeDigest(app, {"Tmp"}), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Install, InstallationTest,
    ::testing::Values(Installation{"MissingPacketDirectory",
                                   {},
                                   false,
                                   {},
                                   UpgradeOpWriteFileFailed,
                                   {"Upgrade Tmp Dir To DstDir", "srcDir is Empty",
                                    "copyDir failed", "srcDir is Empty"},
                                   true},
                      Installation{"EmptyPacketDirectory",
                                   {},
                                   true,
                                   {},
                                   UpgradeOpSuccess,
                                   {"Upgrade Tmp Dir To DstDir", "copyDir success"},
                                   false},
                      Installation{"ReplacesAndAdds",
                                   {{"old.txt", "new"}, {"new.txt", "n"}, {"lib/new/deep.so", "d"}},
                                   true,
                                   {},
                                   UpgradeOpSuccess,
                                   {"copyDir success"},
                                   false},
                      Installation{"ReplaceAddAndAThirdFileFails",
                                   {{"old.txt", "new"}, {"new.txt", "n"}, {"third.txt", "3"}},
                                   true,
                                   {"fail-copy", "third.txt"},
                                   UpgradeOpWriteFileFailed,
                                   {"copyDir failed"},
                                   false},
                      Installation{
                          "NewSubdirectoryGoesOnRollback",
                          {{"fresh/a.txt", "a"}, {"fresh/inner/b.txt", "b"}, {"lib/old.so", "x"}},
                          true,
                          {"fail-copy", "old.so"},
                          UpgradeOpWriteFileFailed,
                          {"copyDir failed"},
                          false},
                      Installation{"FileThatCannotBeDeleted",
                                   {{"old.txt", "new"}, {"new.txt", "n"}},
                                   true,
                                   {"fail-remove", "old.txt"},
                                   UpgradeOpWriteFileFailed,
                                   {"copyDir failed"},
                                   false}),
    [](const ::testing::TestParamInfo<Installation> &info) {
        return std::string(info.param.name);
    });

namespace {

using Files = QVector<QPair<QString, QByteArray>>;

struct FaultEverywhere
{
    const char *name;
    Files program;
    // Folder links made in the program directory: link name, target relative to the link.
    QVector<QPair<QString, QString>> links;
    Files packet;
    // Single file steps of a clean run: backup, delete and copy for each file replaced, only
    // the copy for each one added.
    int steps;
};

void PrintTo(const FaultEverywhere &row, std::ostream *os)
{
    *os << row.name;
}

// New files, replaced files and new folders at several depths.
FaultEverywhere nestedFolders()
{
    FaultEverywhere row{"NestedFolders", {}, {}, {}, 6 * 3 + 15};
    const QStringList oldDirs{"", "d1/", "d1/d2/"};
    for (int i = 0; i < 9; ++i) {
        const QString name = oldDirs.at(i % 3) + QString("file%1.bin").arg(i);
        row.program.append({name, noise(1000 + i, 10 + i)});
        if (i < 6) {
            row.packet.append({name, noise(2000 + i, 100 + i)});
        }
    }
    const QStringList newDirs{"", "d1/", "n1/", "n1/n2/", "d1/d2/n3/"};
    for (int i = 0; i < 15; ++i) {
        row.packet.append(
            {newDirs.at(i % 5) + QString("new%1.bin").arg(i), noise(500 + i, 200 + i)});
    }
    return row;
}

// A folder link in the program directory: the packet reaches some files through both names.
// A file already backed up or written by this installation is not backed up again, so its
// second path takes two steps.
FaultEverywhere folderLink()
{
    return {"FolderLink",
            {{"lib/a.so", "old a"}, {"lib/b.so", "old b"}, {"top.txt", "old top"}},
            {{"lib2", "lib"}},
            {{"lib/a.so", "new a"},
             {"lib2/a.so", "new a"},
             {"lib2/b.so", "new b"},
             {"lib/c.so", "new c"},
             {"lib2/c.so", "new c"},
             {"lib2/d.so", "new d"},
             {"top.txt", "new top"}},
            (3 + 2) + 3 + (1 + 2) + 1 + 3};
}

class InstallRollback : public ::testing::TestWithParam<FaultEverywhere>
{};

} // namespace

// A fault at each single file step of the copy in turn must leave the program directory
// exactly as it was.
TEST_P(InstallRollback, AFaultAtAnyStepLeavesTheProgramDirectoryAsItWas)
{
    const FaultEverywhere &row = GetParam();
    const auto prepare = [&](ProbeApp &probe) {
        writeTree(probe.app(), row.program);
        for (const auto &link : row.links) {
            ASSERT_TRUE(QFile::link(link.second, probe.app() + "/" + link.first));
        }
        writeTree(probe.app() + "/Tmp/Packet", row.packet);
        writeFile(probe.app() + "/Tmp/m.7z", "archive");
    };

    {
        ProbeApp probe(true);
        prepare(probe);
        const QStringList lines = probe.run({"install"});
        ASSERT_EQ(resultOf(lines), 0) << lines.join('\n').toStdString();
        EXPECT_TRUE(lines.contains("steps " + QString::number(row.steps)))
            << lines.join('\n').toStdString();
        // Every packet file arrived; program files that no packet path reaches are unchanged.
        QStringList reached;
        for (const auto &file : row.packet) {
            const QString path = probe.app() + "/" + file.first;
            EXPECT_EQ(readFile(path), file.second) << file.first.toStdString();
            reached << QFileInfo(path).canonicalFilePath();
        }
        for (const auto &file : row.program) {
            const QString path = probe.app() + "/" + file.first;
            if (!reached.contains(QFileInfo(path).canonicalFilePath())) {
                EXPECT_EQ(readFile(path), file.second) << file.first.toStdString();
            }
        }
        EXPECT_FALSE(QFileInfo::exists(probe.app() + "/Tmp"));
    }

    for (int k = 1; k <= row.steps; ++k) {
        ProbeApp probe(true);
        prepare(probe);
        const QMap<QString, QByteArray> before = treeDigest(probe.app(), {"Tmp"});
        const QStringList lines = probe.run({"install", "fail-step", QString::number(k)});
        EXPECT_EQ(resultOf(lines), UpgradeOpWriteFileFailed) << "step " << k;
        EXPECT_EQ(treeDigest(probe.app(), {"Tmp"}), before) << "step " << k;
        EXPECT_FALSE(QFileInfo::exists(probe.app() + "/Tmp")) << "step " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Install, InstallRollback, ::testing::Values(nestedFolders(), folderLink()),
                         [](const ::testing::TestParamInfo<FaultEverywhere> &info) {
                             return std::string(info.param.name);
                         });

// After a failed installation whose restore failed too, "Tmp/Backup" holds the only copy of a
// replaced file. Neither a new installation nor a new download may delete it: both stop with a
// warning naming the folder and leave it as it is.
TEST(LeftOverBackup, IsKeptByTheNextInstallationAndDownload)
{
    ProbeApp probe(true);
    const QString app = probe.app();
    const QString backup = app + "/Tmp/Backup";
    writeTree(app, {{"old.txt", "old"}});
    writeTree(app + "/Tmp/Packet", {{"old.txt", "new"}, {"new.txt", "n"}});
    // The last of the four steps fails, whatever the order, after old.txt was backed up.
    QStringList lines = probe.run({"install", "fail-step", "4", "fail-restore", "old.txt"});
    ASSERT_EQ(resultOf(lines), UpgradeOpWriteFileFailed) << lines.join('\n').toStdString();
    ASSERT_FALSE(QFileInfo::exists(app + "/old.txt"));
    ASSERT_EQ(readFile(backup + "/old.txt"), "old");
    const QMap<QString, QByteArray> program = treeDigest(app);

    const QString warning
        = "backup  " + q(backup) + "  holds the files of a failed installation; restore them first";
    HttpServer server;
    server.put("p.7z", archiveOf({{"old.txt", "newer"}}).toStdString());
    struct Job
    {
        QStringList args;
        int result;
    };
    for (const Job &job :
         {Job{{"install"}, UpgradeOpWriteFileFailed},
          Job{{"download", server.url("/files/p.7z"), "0"}, UpgradeOpEnvCheckFailed}}) {
        lines = probe.run(job.args);
        EXPECT_EQ(resultOf(lines), job.result) << lines.join('\n').toStdString();
        EXPECT_TRUE(messagesOf(lines).contains(warning)) << lines.join('\n').toStdString();
        EXPECT_EQ(treeDigest(app), program) << job.args.join(' ').toStdString();
    }
    EXPECT_EQ(server.fetched("p.7z"), 0);
    {
        // An empty download list, which removes the temporary directory after any other result.
        MessageCapture log;
        CUpgrade upgrade;
        upgrade.setTmpDir(app + "/Tmp");
        EXPECT_EQ(upgrade.downloadUpgradePacket({}), UpgradeOpEnvCheckFailed);
        EXPECT_TRUE(log.warnings().contains(warning)) << log.texts().join('\n').toStdString();
    }
    EXPECT_EQ(treeDigest(app), program);
    EXPECT_EQ(readFile(backup + "/old.txt"), "old");

    // Once the old file is back, the backup counts for nothing: folders alone do not stop a job.
    ASSERT_TRUE(QFile::rename(backup + "/old.txt", app + "/old.txt"));
    lines = probe.run({"install"});
    EXPECT_EQ(resultOf(lines), UpgradeOpSuccess) << lines.join('\n').toStdString();
    EXPECT_EQ(readFile(app + "/old.txt"), "new");
}

// A packet entry whose name the file-name encoding cannot carry is refused where the copy meets
// it: the installation is rolled back and the temporary directory goes as after any failure.
TEST(InstallNames, ANameNotInTheFileNameEncodingIsRefusedAndRolledBack)
{
    if (nameDecodable(kBadName)) {
        GTEST_SKIP() << "the file-name encoding carries every name";
    }
    ProbeApp probe(true);
    const QString app = probe.app();
    writeTree(app, kProgram);
    writeTree(app + "/Tmp/Packet", {{"old.txt", "new"}, {"lib/new.so", "n"}, {"fresh/f", "f"}});
    ASSERT_TRUE(writeRawNamed(app + "/Tmp/Packet/lib", kBadName, "bad"));
    const QMap<QString, QByteArray> before = treeDigest(app, {"Tmp"});

    const QStringList lines = probe.run({"install"});
    EXPECT_EQ(resultOf(lines), UpgradeOpWriteFileFailed) << lines.join('\n').toStdString();
    EXPECT_EQ(messagesOf(lines).filter("is not valid in the file-name encoding").size(), 1)
        << lines.join('\n').toStdString();
    EXPECT_EQ(treeDigest(app, {"Tmp"}), before);
    EXPECT_FALSE(rawExists(app + "/lib", kBadName));
    EXPECT_FALSE(QFileInfo::exists(app + "/Tmp"));
}
