// SPDX-License-Identifier: MIT
#pragma once

#include "clientoptions.h"
#include "transcript.h"
#include "upgradetypes.h"

#include <QElapsedTimer>
#include <QObject>

class QTimer;

namespace Olvane {

class MainWindow;

// Results of an unattended run besides the launcher's restart (1): 0 when every step did what
// it should, kFailedJob plus the engine's result when a job failed, and these for the rest.
constexpr int kFailedJob = 100;
constexpr int kFailedStreams = 98;
constexpr int kFailedAfterRestart = 99;
constexpr int kFailedTimeOut = 97;
constexpr int kFailedPicture = 96;
constexpr int kFailedMap = 95;

// Drives the window by itself for scripts and CI: check, download, install and restart; after
// the restart, the new versions and then the stream view for a while. Each step goes into the
// transcript with its figures; the last line names the failing step when one failed.
class UnattendedRun : public QObject
{
    Q_OBJECT

public:
    UnattendedRun(const ClientOptions &options, MainWindow &window, QObject *parent = nullptr);

    void start();

signals:
    // The client's result for the launcher.
    void finished(int result);

private:
    void listModules(const QString &step);
    void onCheckFinished(UpgradeOpError error);
    void onDownloadProgress(int percent);
    void onDownloadFinished(UpgradeOpError error);
    void onInstallFinished(UpgradeOpError error);
    void runStreams();
    void endStreams();
    void runMap();
    void endMap();
    bool picture(const QString &name);
    void fail(const QString &step, const QString &why, int result);
    void jobFailed(const QString &step, UpgradeOpError error);
    void succeed(int result);

    ClientOptions m_options;
    MainWindow &m_window;
    Transcript m_transcript;
    QString m_step;
    QTimer *m_watchdog;
    bool m_done = false;
    int m_lastPercent = -1;
};

} // namespace Olvane
