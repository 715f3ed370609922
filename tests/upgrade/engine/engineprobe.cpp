// SPDX-License-Identifier: MIT
// A host of the engine that tests copy into a program directory of their own, so that the
// engine's paths (program file, extractor, temporary directory, installation target and the
// tool box two levels up) all lie where the test put them. It runs one job and prints every
// message and the result, one per line.
#include "cupgrade.h"

#include <sys/resource.h>

#include <QCoreApplication>
#include <QStringList>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

void printMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    std::printf("msg: %s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

int usage()
{
    std::fprintf(stderr,
                 "usage: probe toolbox <solution file>\n"
                 "       probe download <url> <size MB> [<url> <size MB>...]\n"
                 "       probe install [fail-step <k>] [fail-remove <name>] [fail-copy <name>]\n"
                 "                     [fail-restore <name>]\n"
                 "PROBE_FILE_SIZE_LIMIT=<bytes> limits the size of every file the probe writes.\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(&printMessage);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        return usage();
    }
    CUpgrade upgrade;
    // Written on the engine's thread and read after wait(); atomics make that hand-over visible to
    // the thread checker, which does not see inside Qt's wait.
    std::atomic<int> result{-1};
    QObject::connect(
        &upgrade, &CUpgrade::signalGetUpdateModuleVersionFinish, &upgrade,
        [&result](UpgradeOpError error) { result = error; }, Qt::DirectConnection);
    QObject::connect(
        &upgrade, &CUpgrade::signalGetUpgradePacketStatus, &upgrade,
        [&result](UpgradeOpError error, bool finished) {
            if (finished) {
                result = error;
            }
        },
        Qt::DirectConnection);
    QObject::connect(
        &upgrade, &CUpgrade::signalUpgradeFinish, &upgrade,
        [&result](UpgradeOpError error) { result = error; }, Qt::DirectConnection);

    // A file size limit cuts a write short, as a full disk does.
    const QByteArray limit = qgetenv("PROBE_FILE_SIZE_LIMIT");
    if (!limit.isEmpty()) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit bytes{limit.toULongLong(), limit.toULongLong()};
        if (setrlimit(RLIMIT_FSIZE, &bytes) != 0) {
            return 3;
        }
    }

    const QString job = args.at(0);
    if (job == "toolbox" && args.size() == 2) {
        CUpgrade::checkUpdate(args.at(1), &upgrade);
        const bool started = upgrade.isRunning() || upgrade.isFinished();
        upgrade.wait();
        std::printf("started %d\n", started ? 1 : 0);
        std::fflush(stdout);
        return 0;
    }
    if (job == "download" && args.size() >= 3 && args.size() % 2 == 1) {
        QVector<ModuleVersion> list;
        for (int i = 1; i + 1 < args.size(); i += 2) {
            ModuleVersion module;
            module.strUrl = args.at(i);
            module.dSize = args.at(i + 1).toDouble();
            list.append(module);
        }
        upgrade.setDownloadModuleVersion(list);
        upgrade.setRunMode(2);
    } else if (job == "install") {
        int failStep = 0;
        QString failRemove;
        QString failCopy;
        QString failRestore;
        for (int i = 1; i + 1 < args.size(); i += 2) {
            if (args.at(i) == "fail-step") {
                failStep = args.at(i + 1).toInt();
            } else if (args.at(i) == "fail-remove") {
                failRemove = args.at(i + 1);
            } else if (args.at(i) == "fail-copy") {
                failCopy = args.at(i + 1);
            } else if (args.at(i) == "fail-restore") {
                failRestore = args.at(i + 1);
            }
        }
        // Counts the file steps of the copy with backup; the restore fails only where asked.
        auto steps = std::make_shared<std::atomic<int>>(0);
        CUpgrade::setCopyFaultHook([steps, failStep, failRemove, failCopy, failRestore](
                                       CUpgrade::CopyStep step, int mode, const QString &path) {
            if (mode == 2) {
                return step == CUpgrade::CopyStep::Copy && !failRestore.isEmpty()
                       && path.endsWith('/' + failRestore);
            }
            if (mode != 1) {
                return false;
            }
            ++*steps;
            if (step == CUpgrade::CopyStep::Remove && !failRemove.isEmpty()
                && path.endsWith('/' + failRemove)) {
                return true;
            }
            if (step == CUpgrade::CopyStep::Copy && !failCopy.isEmpty()
                && path.endsWith('/' + failCopy)) {
                return true;
            }
            return *steps == failStep;
        });
        upgrade.setRunMode(3);
        upgrade.start();
        upgrade.wait();
        std::printf("steps %d\n", steps->load());
        std::printf("result %d\n", result.load());
        std::fflush(stdout);
        return 0;
    } else {
        return usage();
    }
    upgrade.start();
    upgrade.wait();
    std::printf("result %d\n", result.load());
    std::fflush(stdout);
    return 0;
}
