// SPDX-License-Identifier: MIT
// Packets whose entries try to leave the packet directory: neither the download job nor the
// installation may write anything outside the temporary and program directories.
#include "cupgrade.h"
#include "enginetestkit.h"
#include "outsidefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace EngineTest;

namespace {

// Builds the archives of one row; outside is a folder next to the program directory.
using ArchiveMaker
    = std::function<QVector<QByteArray>(const QString &work, const QString &outside)>;

struct Hostile
{
    const char *name;
    ArchiveMaker make;
};

void PrintTo(const Hostile &row, std::ostream *os)
{
    *os << row.name;
}

QByteArray archiveAt(const QString &archive)
{
    return readFile(archive);
}

// Entries "../x" and "../../x2", stored with their paths as given.
QVector<QByteArray> dotDotEntries(const QString &work, const QString &)
{
    writeFile(work + "/w/a/x", "up one");
    writeFile(work + "/w/x2", "up two");
    QDir().mkpath(work + "/w/a/b");
    const QString archive = work + "/dotdot.7z";
    if (!make7z(archive, work + "/w/a/b", {"../x", "../../x2"}, {"-spf"})) {
        return {};
    }
    return {archiveAt(archive)};
}

// An entry with an absolute path into the folder outside; the file is gone again before the
// job runs, so that any write there shows.
QVector<QByteArray> absoluteEntry(const QString &work, const QString &outside)
{
    writeFile(outside + "/abs.txt", "absolute");
    const QString archive = work + "/absolute.7z";
    const bool made = make7z(archive, work, {outside + "/abs.txt"}, {"-spf"});
    QFile::remove(outside + "/abs.txt");
    if (!made) {
        return {};
    }
    return {archiveAt(archive)};
}

// A link named "link" to target, stored as a link, then "link/evil" as a plain file.
QVector<QByteArray> linkThenFile(const QString &work, const QString &target, bool twoArchives)
{
    QDir().mkpath(work + "/l");
    if (!QFile::link(target, work + "/l/link")) {
        return {};
    }
    writeFile(work + "/f/link/evil", "beneath the link");
    const QString first = work + "/link.7z";
    const QString second = twoArchives ? work + "/file.7z" : first;
    if (!make7z(first, work + "/l", {"link"}, {"-snl"})
        || !make7z(second, work + "/f", {"link/evil"})) {
        return {};
    }
    if (twoArchives) {
        return {archiveAt(first), archiveAt(second)};
    }
    return {archiveAt(first)};
}

class HostilePacket : public ::testing::TestWithParam<Hostile>
{};

} // namespace

TEST_P(HostilePacket, WritesNothingOutsideTheTemporaryAndProgramDirectories)
{
    ProbeApp probe(true);
    const QString outside = probe.root() + "/outside";
    QDir().mkpath(outside);
    QTemporaryDir work;
    const QVector<QByteArray> archives = GetParam().make(work.path(), outside);
    ASSERT_FALSE(archives.isEmpty());

    HttpServer server;
    QStringList download{"download"};
    for (int i = 0; i < archives.size(); ++i) {
        ASSERT_FALSE(archives.at(i).isEmpty());
        const std::string name = "p" + std::to_string(i) + ".7z";
        server.put(name, archives.at(i).toStdString());
        download << server.url(QString::fromStdString("/files/" + name)) << "0";
    }

    const QStringList downloaded = probe.run(download);
    const int downloadResult = resultOf(downloaded);
    EXPECT_TRUE(downloadResult == 0 || downloadResult == 10) << downloaded.join('\n').toStdString();
    QStringList escaped;
    for (const QString &path : listTree(probe.root())) {
        if (!path.startsWith("app/") && path != "outside/") {
            escaped << path;
        }
    }
    EXPECT_EQ(escaped, QStringList()) << "after the download job";

    const QStringList installed = probe.run({"install"});
    EXPECT_NE(resultOf(installed), -1) << installed.join('\n').toStdString();
    escaped.clear();
    for (const QString &path : listTree(probe.root())) {
        if (!path.startsWith("app/") && path != "outside/") {
            escaped << path;
        }
    }
    EXPECT_EQ(escaped, QStringList()) << "after the installation";
    // No link that leads out of the program directory was left in it.
    for (const QString &path : listTree(probe.app())) {
        const QFileInfo info(probe.app() + "/" + path);
        if (info.isSymLink() && path != OutsideFiles::kExtractor) {
            EXPECT_TRUE(QDir::cleanPath(info.symLinkTarget()).startsWith(probe.app() + "/"))
                << path.toStdString() << " -> " << info.symLinkTarget().toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Packets, HostilePacket,
    ::testing::Values(Hostile{"DotDotEntries", &dotDotEntries},
                      Hostile{"AbsolutePath", &absoluteEntry},
                      Hostile{"AbsoluteLinkToAFolderOutside",
                              [](const QString &work, const QString &outside) {
                                  return linkThenFile(work, outside, false);
                              }},
                      Hostile{"RelativeLinkToAFolderOutside",
                              [](const QString &work, const QString &) {
                                  // From Tmp/Packet of the program directory up to the folder
                                  // beside it.
                                  return linkThenFile(work, "../../../outside", false);
                              }},
                      Hostile{"LinkInOnePacketFileInTheNext",
                              [](const QString &work, const QString &) {
                                  return linkThenFile(work, "../../../outside", true);
                              }},
                      Hostile{"LinkToTheProgramDirectory",
                              [](const QString &work, const QString &) {
                                  return linkThenFile(work, "../..", false);
                              }}),
    [](const ::testing::TestParamInfo<Hostile> &info) { return std::string(info.param.name); });

namespace {

struct PacketLink
{
    const char *name;
    const char *target;
    bool accepted;
};

void PrintTo(const PacketLink &row, std::ostream *os)
{
    *os << row.name;
}

class PacketLinkTest : public ::testing::TestWithParam<PacketLink>
{};

} // namespace

// The extractor lets links within the output through (it drops those that point above it). A
// link to a folder would make later walks of the tree see a folder twice, and the installation
// could never copy it, so the unpacking refuses it; links to files stay.
TEST_P(PacketLinkTest, UnpackingRefusesLinksToFolders)
{
    QTemporaryDir work;
    writeFile(work.path() + "/in/real/f", "f");
    ASSERT_TRUE(QFile::link(GetParam().target, work.path() + "/in/link"));
    const QString archive = work.path() + "/a.7z";
    ASSERT_TRUE(make7z(archive, work.path() + "/in", {"real", "link"}, {"-snl"}));
    const QString out = work.path() + "/out";
    MessageCapture log;
    EXPECT_EQ(CUpgrade::do7z(SEVENZIP_EXE, archive, out), GetParam().accepted);
    if (!GetParam().accepted) {
        EXPECT_EQ(log.warnings(),
                  QStringList{"link  " + q(out + "/link") + "  to  "
                              + q(QFileInfo(out + "/link").symLinkTarget()) + "  refused"});
    } else {
        EXPECT_TRUE(log.warnings().isEmpty()) << log.warnings().join('\n').toStdString();
        EXPECT_EQ(readFile(out + "/link"), "f");
    }
}

INSTANTIATE_TEST_SUITE_P(Packets, PacketLinkTest,
                         ::testing::Values(PacketLink{"ToAFolderInside", "real", false},
                                           PacketLink{"ToAFileInside", "real/f", true}),
                         [](const ::testing::TestParamInfo<PacketLink> &info) {
                             return std::string(info.param.name);
                         });
