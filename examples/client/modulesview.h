// SPDX-License-Identifier: MIT
#pragma once

#include "cupgrade.h"

#include <QElapsedTimer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace Olvane {

// The "Modules" view: the installed modules from the solution information file and, after a
// check, what the upgrade server offers beside each. It drives the upgrade engine one job at a
// time (check, download, install) and shows each job's result in words.
class ModulesView : public QWidget
{
    Q_OBJECT

public:
    explicit ModulesView(const QString &solutionFile, QWidget *parent = nullptr);
    ~ModulesView() override;

    // Reads the installed modules anew; false (and result 8 shown) when the file is unreadable.
    bool reload();
    // Each starts one job and answers false when it could not (another job runs, nothing to do);
    // the outcome comes with the matching signal.
    bool check();
    bool download();
    bool install();

    const QVector<ModuleVersion> &installed() const { return m_installed; }
    const QVector<ModuleVersion> &offered() const { return m_offered; }
    const QVector<ModuleVersion> &newer() const { return m_newer; }
    // The newer modules whose box is ticked; what download fetches.
    QVector<ModuleVersion> chosen() const;
    static double totalMegabytes(const QVector<ModuleVersion> &modules);
    // Files unpacked and waiting in the packet folder.
    int waitingFiles() const;
    // Milliseconds the last job took.
    qint64 lastJobMs() const { return m_lastJobMs; }
    QString solutionFile() const { return m_solutionFile; }

signals:
    void checkFinished(UpgradeOpError error);
    void downloadProgress(int percent);
    void downloadFinished(UpgradeOpError error);
    void installFinished(UpgradeOpError error);
    // The installation succeeded and the client should start afresh to use it.
    void restartWanted();

private:
    void onCheckFinished(UpgradeOpError error, QVector<ModuleVersion> newer,
                         QVector<ModuleVersion> offered);
    void onPacketStatus(UpgradeOpError error, bool finished, int progress);
    void onUpgradeFinish(UpgradeOpError error);
    bool startJob(const QString &what);
    void endJob(UpgradeOpError error, const QString &what);
    bool prepareSolutionUpdate();
    void fillTable();
    void updateButtons();
    void showResult(const QString &what, UpgradeOpError error);

    QString m_solutionFile;
    CUpgrade m_engine;
    QVector<ModuleVersion> m_installed;
    QVector<ModuleVersion> m_offered;
    QVector<ModuleVersion> m_newer;
    bool m_downloaded = false;
    // New versions to write into a solution file that lies outside the program directory, once
    // the installation succeeded; empty when they travel inside the packet.
    QVector<ModuleVersion> m_solutionUpdates;
    bool m_busy = false;
    QElapsedTimer m_jobClock;
    qint64 m_lastJobMs = 0;

    QTreeWidget *m_table;
    QPushButton *m_checkButton;
    QPushButton *m_downloadButton;
    QPushButton *m_installButton;
    QProgressBar *m_progress;
    QLabel *m_result;
};

} // namespace Olvane
