// SPDX-License-Identifier: MIT
// The engine's helper processes end with the host that started them, also after the page's
// renderer was killed under a running host. The test adopts every orphan of the host (it is a
// subreaper), so a helper left behind is seen as its child.
#include "pageserver.h"

#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

extern char **environ;

namespace {

// Our descendants by the parent links in /proc (zombies are reaped on the way).
std::vector<pid_t> descendants()
{
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    std::map<pid_t, pid_t> parent;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields[0] != "Z")
            parent[pid] = fields[1].toInt();
    }
    std::vector<pid_t> found;
    for (const auto &p : parent) {
        for (pid_t up = p.second; up > 1; up = parent.count(up) ? parent[up] : 0) {
            if (up == getpid()) {
                found.push_back(p.first);
                break;
            }
        }
    }
    return found;
}

class ProcessTest : public ::testing::TestWithParam<const char *>
{};

TEST_P(ProcessTest, NoBrowserProcessOutlivesItsHost)
{
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    TestPages::PageServer server;
    server.add("/page.html", "<p>a page</p><iframe srcdoc='<p>frame</p>'></iframe>");
    const std::string url = server.url("/page.html").toStdString();
    std::vector<std::string> args{PROBE_PROGRAM, url, GetParam()};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t host = 0;
    ASSERT_EQ(posix_spawn(&host, PROBE_PROGRAM, nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(host, &status, 0), host);
    ASSERT_TRUE(WIFEXITED(status)) << "the host survived";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "step that failed in the host";
    // Helpers go within seconds of their host; a zygote has been seen to take 15.
    QDeadlineTimer deadline(30000);
    while (!descendants().empty() && !deadline.hasExpired())
        QThread::msleep(100);
    const std::vector<pid_t> left = descendants();
    for (pid_t p : left)
        ::kill(p, SIGKILL); // leave nothing behind, whatever the verdict
    EXPECT_TRUE(left.empty()) << left.size() << " processes outlived the host";
}

INSTANTIATE_TEST_SUITE_P(Hosts, ProcessTest, ::testing::Values("plain", "crash"));

} // namespace
