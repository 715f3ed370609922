// SPDX-License-Identifier: MIT
#include "unattended.h"

#include "mainwindow.h"
#include "mapview.h"
#include "modulesview.h"
#include "streamsview.h"
#include "upgradetexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace Olvane {

namespace {

// Longer than any step of a sound run on loopback; a run that hangs ends with a named step.
constexpr int kWatchdogMs = 180000;

QString seconds(qint64 ms)
{
    return QString::number(ms / 1000.0, 'f', 2) + " s";
}

} // namespace

UnattendedRun::UnattendedRun(const ClientOptions &options, MainWindow &window, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_window(window)
    , m_transcript(options.transcriptFile)
    , m_watchdog(new QTimer(this))
{
    ModulesView *modules = window.modules();
    connect(modules, &ModulesView::checkFinished, this, &UnattendedRun::onCheckFinished);
    connect(modules, &ModulesView::downloadProgress, this, &UnattendedRun::onDownloadProgress);
    connect(modules, &ModulesView::downloadFinished, this, &UnattendedRun::onDownloadFinished);
    connect(modules, &ModulesView::installFinished, this, &UnattendedRun::onInstallFinished);
    m_watchdog->setSingleShot(true);
    connect(m_watchdog, &QTimer::timeout, this,
            [this] { fail(m_step, "no answer within the time allowed", kFailedTimeOut); });
}

void UnattendedRun::start()
{
    m_watchdog->start(kWatchdogMs);
    m_step = "client";
    m_transcript.line(m_step, QString("run %1 of the reference client, process %2%3")
                                  .arg(m_options.restarts + 1)
                                  .arg(QCoreApplication::applicationPid())
                                  .arg(m_options.restarts > 0 ? ", after a restart" : ""));
    m_window.showModules();
    listModules("modules");
    m_step = "check";
    if (!m_window.modules()->check())
        jobFailed(m_step, UpgradeOpReadSolutionFailed);
}

void UnattendedRun::listModules(const QString &step)
{
    const QVector<ModuleVersion> &installed = m_window.modules()->installed();
    m_transcript.line(step, QString("%1 installed, from %2")
                                .arg(installed.size())
                                .arg(QDir::toNativeSeparators(m_options.solutionFile)));
    for (const ModuleVersion &module : installed) {
        m_transcript.detail(QString("%1 %2 (released %3%4)")
                                .arg(module.strId, module.strVersion,
                                     formatReleaseDate(module.llReleaseDate),
                                     module.nState == 0 ? ", kept out of updates" : ""));
    }
}

void UnattendedRun::onCheckFinished(UpgradeOpError error)
{
    ModulesView *modules = m_window.modules();
    if (error != UpgradeOpSuccess) {
        picture(m_options.restarts > 0 ? "modules-after-restart.png" : "modules-check.png");
        jobFailed("check", error);
        return;
    }
    const QVector<ModuleVersion> &newer = modules->newer();
    m_transcript.line(
        "check", QString("success in %1: %2 offered, %3 newer%4")
                     .arg(seconds(modules->lastJobMs()))
                     .arg(modules->offered().size())
                     .arg(newer.size())
                     .arg(newer.isEmpty()
                              ? QString()
                              : " (" + formatMegabytes(ModulesView::totalMegabytes(newer)) + ")"));
    for (const ModuleVersion &offer : newer) {
        QString installedVersion;
        for (const ModuleVersion &module : modules->installed()) {
            if (module.strId == offer.strId)
                installedVersion = module.strVersion;
        }
        m_transcript.detail(QString("%1 %2 -> %3, %4")
                                .arg(offer.strId, installedVersion, offer.strVersion,
                                     formatMegabytes(offer.dSize)));
    }

    if (m_options.restarts > 0) {
        if (!picture("modules-after-restart.png"))
            return;
        if (!newer.isEmpty()) {
            fail("check", "newer versions are still on offer after the restart",
                 kFailedAfterRestart);
            return;
        }
        m_transcript.line("upgraded", "the new versions are in place");
        runStreams();
        return;
    }
    if (!picture("modules-check.png"))
        return;
    if (newer.isEmpty()) {
        m_transcript.line("check", "every module is up to date; nothing to install");
        runStreams();
        return;
    }
    m_step = "download";
    m_lastPercent = -1;
    m_transcript.line(m_step,
                      QString("%1 packet(s), %2")
                          .arg(modules->chosen().size())
                          .arg(formatMegabytes(ModulesView::totalMegabytes(modules->chosen()))));
    if (!modules->download())
        fail(m_step, "the download did not start", kFailedJob + UpgradeOpNoPacket);
}

void UnattendedRun::onDownloadProgress(int percent)
{
    m_lastPercent = percent;
    m_transcript.detail(QString("progress %1%").arg(percent));
}

void UnattendedRun::onDownloadFinished(UpgradeOpError error)
{
    ModulesView *modules = m_window.modules();
    if (error != UpgradeOpSuccess) {
        jobFailed("download", error);
        return;
    }
    m_transcript.detail("progress 100%");
    m_transcript.line("download",
                      QString("success in %1: %2 packet(s), %3, %4 file(s) unpacked")
                          .arg(seconds(modules->lastJobMs()))
                          .arg(modules->chosen().size())
                          .arg(formatMegabytes(ModulesView::totalMegabytes(modules->chosen())))
                          .arg(modules->waitingFiles()));
    m_step = "install";
    if (!modules->install()) {
        fail(m_step, "the installation did not start", kFailedJob + UpgradeOpNoPacket);
        return;
    }
    // Counted once the solution file with the new versions joined the packets.
    m_transcript.line(
        m_step, QString("%1 file(s) to put in place, with a backup").arg(modules->waitingFiles()));
}

void UnattendedRun::onInstallFinished(UpgradeOpError error)
{
    if (error != UpgradeOpSuccess) {
        jobFailed("install", error);
        return;
    }
    m_transcript.line("install",
                      QString("success in %1; \"Tmp\" removed: %2")
                          .arg(seconds(m_window.modules()->lastJobMs()))
                          .arg(QFileInfo::exists(QCoreApplication::applicationDirPath() + "/Tmp")
                                   ? "no"
                                   : "yes"));
    // The fresh copy the launcher starts inherits this, and so knows it came after a restart.
    qputenv(kRestartsVariable, QByteArray::number(m_options.restarts + 1));
    m_transcript.line("restart", "asking the launcher for a fresh copy (result 1)");
    succeed(1);
}

void UnattendedRun::runStreams()
{
    m_step = "streams";
    m_window.showStreams();
    StreamsView *streams = m_window.streams();
    if (!streams->start()) {
        fail(m_step, "the stream component did not start", kFailedStreams);
        return;
    }
    m_transcript.line(m_step, QString("%1 cameras opened through the stream component; watching "
                                      "for %2 s")
                                  .arg(streams->counts().tiles)
                                  .arg(m_options.streamSeconds));
    // A line each second, so that a person sees the tiles come up.
    auto *ticker = new QTimer(this);
    connect(ticker, &QTimer::timeout, this, [this, streams] {
        const StreamCounts c = streams->counts();
        m_transcript.detail(
            QString("%1 s: live %2, opening %3, slow %4, reconnecting %5, open failed %6; "
                    "events %7")
                .arg(streams->elapsedMs() / 1000)
                .arg(c.in(TileState::Live))
                .arg(c.in(TileState::Opening))
                .arg(c.in(TileState::Slow))
                .arg(c.in(TileState::Reconnecting))
                .arg(c.in(TileState::OpenFailed))
                .arg(c.events));
    });
    ticker->start(1000);
    // While the slow and the failing cameras are still on their way.
    QTimer::singleShot(1200, this, [this] { picture("streams-opening.png"); });
    QTimer::singleShot(m_options.streamSeconds * 1000, this, [this, ticker] {
        ticker->stop();
        endStreams();
    });
}

void UnattendedRun::endStreams()
{
    StreamsView *streams = m_window.streams();
    if (!picture("streams.png"))
        return;
    const StreamCounts seen = streams->counts();
    const bool closed = streams->stop(10000);
    const StreamCounts after = streams->counts();

    // What the cameras of the demo must have shown by now: every one that can come up is live,
    // each flaky one came up after a reopen, each slow one was reported slow first.
    int expectLive = 0;
    int expectReopened = 0;
    int expectSlow = 0;
    for (const Camera &camera : demoCameras(seen.tiles)) {
        expectLive += camera.kind != CameraKind::Offline;
        expectReopened += camera.kind == CameraKind::Flaky;
        expectSlow += camera.kind == CameraKind::Slow;
    }
    m_transcript.line("streams",
                      QString("after %1: live %2 of %3, reopened %4, reported slow %5, open "
                              "failed %6; %7 events, %8 taken off the window's thread")
                          .arg(seconds(streams->elapsedMs()))
                          .arg(seen.in(TileState::Live))
                          .arg(seen.tiles)
                          .arg(seen.reconnected)
                          .arg(seen.slow)
                          .arg(seen.in(TileState::OpenFailed))
                          .arg(after.events)
                          .arg(streams->eventsOffThread()));
    m_transcript.line("streams",
                      QString("closed %1 of %2")
                          .arg(after.in(TileState::Closed) + after.in(TileState::TimedOut))
                          .arg(after.tiles));
    QStringList wrong;
    if (seen.in(TileState::Live) < expectLive)
        wrong << QString("%1 live, %2 expected").arg(seen.in(TileState::Live)).arg(expectLive);
    if (seen.reconnected < expectReopened)
        wrong << QString("%1 reopened, %2 expected").arg(seen.reconnected).arg(expectReopened);
    if (seen.slow < expectSlow)
        wrong << QString("%1 slow, %2 expected").arg(seen.slow).arg(expectSlow);
    if (!closed)
        wrong << "not every stream was reported closed";
    if (streams->eventsOffThread() != 0 || streams->listener()->callsOnOwnThread() != 0)
        wrong << "listener calls reached the window's thread directly";
    if (!wrong.isEmpty()) {
        fail("streams", wrong.join("; "), kFailedStreams);
        return;
    }
    if (!m_options.map) {
        m_transcript.line("done", "every step did what it should (result 0)");
        succeed(0);
        return;
    }
    runMap();
}

// The map control in the "Map" view: the page loads, says it is ready, gets a marker per camera,
// one marker moves, and a click on another reaches the listener.
void UnattendedRun::runMap()
{
    m_step = "map";
    m_window.showMap();
    MapView *map = m_window.map();
    if (!map->start()) {
        fail(m_step, map->error(), kFailedMap);
        return;
    }
    m_transcript.line(m_step, "control TESSELDLL.TesselDllCtrl.1 hosted by its ProgID; page "
                                  + map->pageUrl());
    connect(map, &MapView::notified, this, [this, map](const QString &name, const QString &data) {
        m_transcript.detail("listener: " + name + (data.isEmpty() ? "" : " " + data));
        if (name == "initComplete") {
            m_transcript.detail(QString("%1 markers sent with CallJavaScritp; moving %2; "
                                        "clicking %3")
                                    .arg(m_window.streams()->counts().tiles)
                                    .arg(map->cameraId(0), map->cameraId(2)));
            map->runScript(QString("moveCamera('%1', 330, 300)").arg(map->cameraId(0)));
            map->clickCamera(2);
        } else if (name == "cameraClicked") {
            // Let the last markers draw before the picture.
            QTimer::singleShot(400, this, &UnattendedRun::endMap);
        }
    });
    QTimer::singleShot(30000, this, [this, map] {
        if (!m_done && !map->heard("cameraClicked"))
            fail("map", "the page did not report the marker click within 30 s", kFailedMap);
    });
}

void UnattendedRun::endMap()
{
    MapView *map = m_window.map();
    if (!picture("map.png"))
        return;
    QStringList missing;
    for (const char *name : {"LoadComplete", "initComplete", "cameraClicked"})
        if (!map->heard(name))
            missing << name;
    const int heard = map->notifications().size();
    map->stop();
    if (!missing.isEmpty()) {
        fail("map", "the listener did not hear " + missing.join(", "), kFailedMap);
        return;
    }
    m_transcript.line(
        "map", QString("the listener heard %1 notification(s); control released").arg(heard));
    m_transcript.line("done", "every step did what it should (result 0)");
    succeed(0);
}

bool UnattendedRun::picture(const QString &name)
{
    if (m_options.picturesDir.isEmpty())
        return true;
    const QString file = QDir(m_options.picturesDir).absoluteFilePath(name);
    if (!m_window.savePicture(file)) {
        fail("picture", "could not write " + QDir::toNativeSeparators(file), kFailedPicture);
        return false;
    }
    m_transcript.line("picture", QDir::toNativeSeparators(file));
    return true;
}

void UnattendedRun::jobFailed(const QString &step, UpgradeOpError error)
{
    fail(step, QString("%1 (result %2)").arg(describeResult(error)).arg(int(error)),
         kFailedJob + int(error));
}

void UnattendedRun::fail(const QString &step, const QString &why, int result)
{
    if (m_done)
        return;
    m_transcript.line("failed", step + ": " + why);
    m_done = true;
    m_watchdog->stop();
    emit finished(result);
}

void UnattendedRun::succeed(int result)
{
    if (m_done)
        return;
    m_done = true;
    m_watchdog->stop();
    emit finished(result);
}

} // namespace Olvane
