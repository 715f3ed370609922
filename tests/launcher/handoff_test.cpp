// SPDX-License-Identifier: MIT
#include "copydir.h"
#include "cupgrade.h"
#include "messagecapture.h"
#include "outsidefiles.h"
#include "testsupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using LauncherTest::readFile;
using LauncherTest::writeFile;
using TestSupport::MessageCapture;

// Quoted as Qt's debug stream quotes a path.
QString quoted(const QString &path)
{
    return '"' + QDir::toNativeSeparators(path) + '"';
}

class CopyDir : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        src = m_tmp.path() + "/src";
        dst = m_tmp.path() + "/dst";
    }

    QTemporaryDir m_tmp;
    QString src;
    QString dst;
    MessageCapture capture;
};

TEST_F(CopyDir, ReplacesFilesMergesTreesAndRemovesTheSource)
{
    ASSERT_TRUE(writeFile(src + "/a.txt", "new a"));
    ASSERT_TRUE(writeFile(src + "/sub/b.txt", "new b"));
    ASSERT_TRUE(writeFile(src + "/sub/deeper/c.txt", "new c"));
    ASSERT_TRUE(writeFile(dst + "/a.txt", "old a, longer than the new one"));
    ASSERT_TRUE(writeFile(dst + "/sub/b.txt", "old b"));
    ASSERT_TRUE(writeFile(dst + "/keep.txt", "untouched"));
    ASSERT_TRUE(QFile::setPermissions(src + "/a.txt",
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    EXPECT_TRUE(copyDir(src, dst));

    EXPECT_EQ(readFile(dst + "/a.txt"), "new a");
    EXPECT_EQ(readFile(dst + "/sub/b.txt"), "new b");
    EXPECT_EQ(readFile(dst + "/sub/deeper/c.txt"), "new c");
    EXPECT_EQ(readFile(dst + "/keep.txt"), "untouched");
    // A staged program must stay runnable once copied.
    EXPECT_TRUE(QFileInfo(dst + "/a.txt").isExecutable());
    EXPECT_FALSE(QFileInfo::exists(src));
    EXPECT_TRUE(capture.texts().isEmpty()) << capture.texts().join('\n').toStdString();
}

TEST_F(CopyDir, CopiesHiddenEntries)
{
    ASSERT_TRUE(writeFile(src + "/.hidden", "h"));
    ASSERT_TRUE(writeFile(src + "/.hiddendir/inner", "i"));

    EXPECT_TRUE(copyDir(src, dst));

    EXPECT_EQ(readFile(dst + "/.hidden"), "h");
    EXPECT_EQ(readFile(dst + "/.hiddendir/inner"), "i");
    EXPECT_FALSE(QFileInfo::exists(src));
}

TEST_F(CopyDir, EmptySourceCreatesTheDestinationAndIsRemoved)
{
    ASSERT_TRUE(QDir().mkpath(src));

    EXPECT_TRUE(copyDir(src, dst));

    EXPECT_TRUE(QFileInfo(dst).isDir());
    EXPECT_TRUE(QDir(dst).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_FALSE(QFileInfo::exists(src));
}

TEST_F(CopyDir, LinkToFileIsCopiedAsAFile)
{
    ASSERT_TRUE(writeFile(m_tmp.path() + "/outside.txt", "target"));
    ASSERT_TRUE(QDir().mkpath(src));
    ASSERT_TRUE(QFile::link(m_tmp.path() + "/outside.txt", src + "/link.txt"));

    EXPECT_TRUE(copyDir(src, dst));

    EXPECT_FALSE(QFileInfo(dst + "/link.txt").isSymLink());
    EXPECT_EQ(readFile(dst + "/link.txt"), "target");
    EXPECT_EQ(readFile(m_tmp.path() + "/outside.txt"), "target");
}

TEST_F(CopyDir, MissingSourceFailsAndCreatesNothing)
{
    EXPECT_FALSE(copyDir(src, dst));

    EXPECT_EQ(capture.texts(), QStringList{"srcDir is Empty"});
    EXPECT_FALSE(QFileInfo::exists(dst));
}

TEST_F(CopyDir, DestinationThatCannotBeMadeLeavesTheSource)
{
    ASSERT_TRUE(writeFile(src + "/a.txt", "a"));

    EXPECT_FALSE(copyDir(src, m_tmp.path() + "/no/such/parent"));

    EXPECT_EQ(capture.texts(), QStringList{"mkdir strDstDir failed"});
    EXPECT_EQ(readFile(src + "/a.txt"), "a");
}

TEST_F(CopyDir, UndeletableDestinationStopsTheCopy)
{
    ASSERT_TRUE(writeFile(src + "/a.txt", "a"));
    // A non-empty folder where the file should go cannot be deleted as a file, not even by root.
    ASSERT_TRUE(writeFile(dst + "/a.txt/inside", "in the way"));

    EXPECT_FALSE(copyDir(src, dst));

    EXPECT_EQ(capture.texts(), QStringList{"delete file  " + quoted(dst + "/a.txt") + " failed!"});
    EXPECT_EQ(readFile(dst + "/a.txt/inside"), "in the way");
    // Nothing of the source is lost after a partial copy.
    EXPECT_EQ(readFile(src + "/a.txt"), "a");
}

TEST_F(CopyDir, LinkToDirectoryIsNotFollowed)
{
    ASSERT_TRUE(writeFile(m_tmp.path() + "/elsewhere/file.txt", "e"));
    ASSERT_TRUE(QDir().mkpath(src));
    ASSERT_TRUE(QFile::link(m_tmp.path() + "/elsewhere", src + "/dirlink"));

    EXPECT_FALSE(copyDir(src, dst));

    EXPECT_EQ(capture.texts(), QStringList{"copy file  " + quoted(dst + "/dirlink") + " failed!"});
    EXPECT_FALSE(QFileInfo::exists(dst + "/dirlink/file.txt"));
    EXPECT_TRUE(QFileInfo(src + "/dirlink").isSymLink());
    EXPECT_EQ(readFile(m_tmp.path() + "/elsewhere/file.txt"), "e");
}

TEST_F(CopyDir, FailureInASubfolderIsReportedAtEachLevel)
{
    ASSERT_TRUE(writeFile(m_tmp.path() + "/elsewhere/file.txt", "e"));
    ASSERT_TRUE(QDir().mkpath(src + "/sub"));
    ASSERT_TRUE(QFile::link(m_tmp.path() + "/elsewhere", src + "/sub/dirlink"));

    EXPECT_FALSE(copyDir(src, dst));

    const QStringList expected{
        "copy file  " + quoted(dst + "/sub/dirlink") + " failed!",
        "copyDir  " + quoted(src + "/sub") + "  to  " + quoted(dst + "/sub") + " failed",
    };
    EXPECT_EQ(capture.texts(), expected);
    EXPECT_TRUE(QFileInfo(src + "/sub/dirlink").isSymLink());
}

// A name the file-name encoding cannot carry would be left behind unseen: the copy refuses it
// before copying anything of its folder, and the source keeps it.
TEST_F(CopyDir, ANameNotInTheFileNameEncodingStopsTheCopyAndStaysInTheSource)
{
    const QByteArray bad("bad\xff\xfe.so");
    if (QFile::encodeName(QFile::decodeName(bad)) == bad)
        GTEST_SKIP() << "the file-name encoding carries every name";
    ASSERT_TRUE(writeFile(src + "/a.txt", "a"));
    ASSERT_TRUE(writeFile(src + "/sub/b.txt", "b"));
    const QByteArray rawPath = QFile::encodeName(src) + "/sub/" + bad;
    const int fd = ::open(rawPath.constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);

    EXPECT_FALSE(copyDir(src, dst));

    ASSERT_EQ(capture.texts().size(), 2) << capture.texts().join('\n').toStdString();
    EXPECT_TRUE(
        capture.texts().at(0).startsWith("name  \"" + QDir::toNativeSeparators(src) + "/sub/bad"))
        << capture.texts().at(0).toStdString();
    EXPECT_TRUE(capture.texts().at(0).endsWith("  is not valid in the file-name encoding"));
    EXPECT_FALSE(QFileInfo::exists(dst + "/sub/b.txt"));
    EXPECT_EQ(::access(rawPath.constData(), F_OK), 0);
    EXPECT_EQ(readFile(src + "/sub/b.txt"), "b");
}

TEST_F(CopyDir, AcceptsTrailingSeparators)
{
    ASSERT_TRUE(writeFile(src + "/a.txt", "a"));

    EXPECT_TRUE(copyDir(src + "/", dst + "//"));

    EXPECT_EQ(readFile(dst + "/a.txt"), "a");
}

} // namespace

namespace {

TEST(UpgradeHandOff, MissingToolIsReported)
{
    const QString tool
        = QCoreApplication::applicationDirPath() + "/Upgrade/" + OutsideFiles::kUpgradeTool;
    if (QFileInfo::exists(tool))
        GTEST_SKIP() << "an upgrade tool is installed beside the tests";
    MessageCapture capture;

    EXPECT_FALSE(CUpgrade::startUpgradeTool(QString()));
    EXPECT_FALSE(CUpgrade::startUpgradeTool("/elsewhere/Tmp"));

    EXPECT_EQ(capture.texts(), QStringList({"start upgrade failed!", "start upgrade failed!"}));
    EXPECT_FALSE(capture.messages()[0].hasLocation);
}

} // namespace
