// SPDX-License-Identifier: MIT
#include "modulesview.h"

#include "upgradetexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace Olvane {

namespace {

enum Column { ColModule, ColDesc, ColInstalled, ColReleased, ColOffered, ColSize, ColCount };

// The engine's own layout under the program directory.
QString packetDir()
{
    const QString sep = QDir::separator();
    return QCoreApplication::applicationDirPath() + sep + "Tmp" + sep + "Packet";
}

const ModuleVersion *findById(const QVector<ModuleVersion> &list, const QString &id)
{
    for (const ModuleVersion &module : list) {
        if (module.strId == id)
            return &module;
    }
    return nullptr;
}

} // namespace

ModulesView::ModulesView(const QString &solutionFile, QWidget *parent)
    : QWidget(parent)
    , m_solutionFile(solutionFile)
    , m_table(new QTreeWidget(this))
    , m_checkButton(new QPushButton(tr("Check for updates"), this))
    , m_downloadButton(new QPushButton(tr("Download"), this))
    , m_installButton(new QPushButton(tr("Install"), this))
    , m_progress(new QProgressBar(this))
    , m_result(new QLabel(this))
{
    // The engine reports from its own thread; these connections queue onto ours.
    connect(&m_engine, &CUpgrade::signalGetUpdateModuleVersionFinish, this,
            &ModulesView::onCheckFinished, Qt::QueuedConnection);
    connect(&m_engine, &CUpgrade::signalGetUpgradePacketStatus, this, &ModulesView::onPacketStatus,
            Qt::QueuedConnection);
    connect(&m_engine, &CUpgrade::signalUpgradeFinish, this, &ModulesView::onUpgradeFinish,
            Qt::QueuedConnection);

    m_table->setColumnCount(ColCount);
    m_table->setHeaderLabels({tr("Module"), tr("Description"), tr("Installed"), tr("Released"),
                              tr("On offer"), tr("Size")});
    m_table->setRootIsDecorated(false);
    m_table->setAlternatingRowColors(true);
    m_table->header()->setStretchLastSection(false);
    m_table->header()->setSectionResizeMode(ColDesc, QHeaderView::Stretch);
    for (int column : {ColModule, ColInstalled, ColReleased, ColOffered, ColSize})
        m_table->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);

    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setFormat(tr("idle"));
    m_result->setWordWrap(true);
    m_result->setMinimumHeight(m_result->fontMetrics().height() * 2);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_checkButton);
    buttons->addWidget(m_downloadButton);
    buttons->addWidget(m_installButton);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    auto *source
        = new QLabel(tr("Installed modules from %1")
                         .arg(QDir::toNativeSeparators(QFileInfo(solutionFile).fileName())),
                     this);
    layout->addWidget(source);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    layout->addWidget(m_progress);
    layout->addWidget(m_result);

    connect(m_checkButton, &QPushButton::clicked, this, [this] { check(); });
    connect(m_downloadButton, &QPushButton::clicked, this, [this] { download(); });
    connect(m_installButton, &QPushButton::clicked, this, [this] { install(); });
    connect(m_table, &QTreeWidget::itemChanged, this, [this] { updateButtons(); });

    reload();
}

ModulesView::~ModulesView()
{
    // The engine must not go while its thread runs.
    m_engine.stopDownload();
    m_engine.wait();
}

bool ModulesView::reload()
{
    QVector<ModuleVersion> installed;
    const bool ok = CUpgrade::getModuleVersionFromSolutionInfoFile(m_solutionFile, installed);
    m_installed = ok ? installed : QVector<ModuleVersion>();
    m_offered.clear();
    m_newer.clear();
    m_downloaded = false;
    fillTable();
    if (!ok)
        showResult(tr("Reading the installed modules"), UpgradeOpReadSolutionFailed);
    updateButtons();
    return ok;
}

QVector<ModuleVersion> ModulesView::chosen() const
{
    QVector<ModuleVersion> result;
    for (int row = 0; row < m_table->topLevelItemCount(); ++row) {
        const QTreeWidgetItem *item = m_table->topLevelItem(row);
        if (item->checkState(ColModule) != Qt::Checked)
            continue;
        // Every offer of a ticked module goes, in the engine's order.
        for (const ModuleVersion &module : m_newer) {
            if (module.strId == item->data(ColModule, Qt::UserRole).toString())
                result.append(module);
        }
    }
    return result;
}

double ModulesView::totalMegabytes(const QVector<ModuleVersion> &modules)
{
    double total = 0;
    for (const ModuleVersion &module : modules)
        total += module.dSize;
    return total;
}

int ModulesView::waitingFiles() const
{
    int count = 0;
    QDirIterator it(packetDir(), QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

bool ModulesView::startJob(const QString &what)
{
    if (m_busy || m_engine.isRunning())
        return false;
    m_busy = true;
    m_jobClock.start();
    m_result->setText(what + "...");
    m_result->setStyleSheet(QString());
    updateButtons();
    return true;
}

void ModulesView::endJob(UpgradeOpError error, const QString &what)
{
    // The final signal comes just before the engine's thread ends; the next job needs it ended.
    m_engine.wait();
    m_lastJobMs = m_jobClock.elapsed();
    m_busy = false;
    showResult(what, error);
    updateButtons();
}

bool ModulesView::check()
{
    QVector<ModuleVersion> installed;
    if (!CUpgrade::getModuleVersionFromSolutionInfoFile(m_solutionFile, installed)) {
        showResult(tr("Reading the installed modules"), UpgradeOpReadSolutionFailed);
        return false;
    }
    if (!startJob(tr("Asking the upgrade server")))
        return false;
    m_installed = installed;
    m_progress->setValue(0);
    m_progress->setFormat(tr("checking"));
    CUpgrade::startGetUpdateModuleVersion(m_solutionFile, &m_engine);
    return true;
}

void ModulesView::onCheckFinished(UpgradeOpError error, QVector<ModuleVersion> newer,
                                  QVector<ModuleVersion> offered)
{
    m_offered = offered;
    m_newer = error == UpgradeOpSuccess ? newer : QVector<ModuleVersion>();
    m_downloaded = false;
    fillTable();
    m_progress->setFormat(tr("idle"));
    endJob(error, tr("Check"));
    if (error == UpgradeOpSuccess) {
        m_result->setText(m_newer.isEmpty()
                              ? tr("Check: success. Every module is up to date.")
                              : tr("Check: success. %n newer module(s) on offer, %1 in all.",
                                   nullptr, m_newer.size())
                                    .arg(formatMegabytes(totalMegabytes(m_newer))));
    }
    emit checkFinished(error);
}

bool ModulesView::download()
{
    const QVector<ModuleVersion> modules = chosen();
    if (modules.isEmpty() || !startJob(tr("Downloading")))
        return false;
    m_downloaded = false;
    m_progress->setValue(0);
    m_progress->setFormat(tr("%p% of %1").arg(formatMegabytes(totalMegabytes(modules))));
    m_engine.setDownloadModuleVersion(modules);
    m_engine.setRunMode(2);
    m_engine.start();
    return true;
}

void ModulesView::onPacketStatus(UpgradeOpError error, bool finished, int progress)
{
    m_progress->setValue(qBound(0, progress, 100));
    if (!finished) {
        emit downloadProgress(progress);
        return;
    }
    m_downloaded = error == UpgradeOpSuccess;
    endJob(error, tr("Download"));
    emit downloadFinished(error);
}

bool ModulesView::install()
{
    if (!m_downloaded || !startJob(tr("Installing")))
        return false;
    if (!prepareSolutionUpdate()) {
        // Nothing was installed; the downloaded packets go as after any failed job.
        m_engine.removeTmpDir();
        m_downloaded = false;
        endJob(UpgradeOpWriteSolutionFailed, tr("Install"));
        emit installFinished(UpgradeOpWriteSolutionFailed);
        return true;
    }
    m_progress->setFormat(tr("installing"));
    m_engine.setRunMode(3);
    m_engine.start();
    return true;
}

// The new versions go into the solution file inside the packet, so that the installation puts
// them in place together with the files, under the same backup and rollback. A solution file
// outside the program directory is updated after a successful installation instead.
bool ModulesView::prepareSolutionUpdate()
{
    QVector<ModuleVersion> updates;
    for (const ModuleVersion &offer : chosen()) {
        const ModuleVersion *old = findById(m_installed, offer.strId);
        ModuleVersion module = old ? *old : offer;
        module.strVersion = offer.strVersion;
        module.llReleaseDate = offer.llReleaseDate;
        // A module that a packet updates takes part in later checks.
        if (module.nState == 0)
            module.nState = 1;
        updates.append(module);
    }
    m_solutionUpdates.clear();
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString relative = QDir(appDir).relativeFilePath(m_solutionFile);
    if (relative.startsWith("..") || QDir::isAbsolutePath(relative)) {
        m_solutionUpdates = updates;
        return QFileInfo(m_solutionFile).isWritable();
    }
    const QString target = packetDir() + QDir::separator() + relative;
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return false;
    return CUpgrade::updateSolutionInfoFile(m_solutionFile, target, updates);
}

void ModulesView::onUpgradeFinish(UpgradeOpError error)
{
    m_downloaded = false;
    if (error == UpgradeOpSuccess && !m_solutionUpdates.isEmpty()
        && !CUpgrade::updateSolutionInfoFile(m_solutionFile, m_solutionFile, m_solutionUpdates)) {
        error = UpgradeOpWriteSolutionFailed;
    }
    m_solutionUpdates.clear();
    m_progress->setFormat(error == UpgradeOpSuccess ? tr("installed") : tr("idle"));
    endJob(error, tr("Install"));
    if (error == UpgradeOpSuccess)
        m_result->setText(tr("Install: success. The client starts afresh to use the new "
                             "versions."));
    emit installFinished(error);
    if (error == UpgradeOpSuccess)
        emit restartWanted();
}

void ModulesView::fillTable()
{
    const QSignalBlocker blocker(m_table);
    m_table->clear();
    for (const ModuleVersion &module : m_installed) {
        auto *item = new QTreeWidgetItem(m_table);
        item->setText(ColModule, module.strId);
        item->setData(ColModule, Qt::UserRole, module.strId);
        item->setText(ColDesc, module.strDesc);
        item->setText(ColInstalled, module.strVersion);
        item->setText(ColReleased, formatReleaseDate(module.llReleaseDate));
        item->setText(ColSize, module.dSize > 0 ? formatMegabytes(module.dSize) : QString());
        if (module.nState == 0)
            item->setToolTip(ColModule, tr("This module does not take part in updates."));

        const ModuleVersion *newer = findById(m_newer, module.strId);
        const ModuleVersion *offer = newer ? newer : findById(m_offered, module.strId);
        if (!offer) {
            item->setText(ColOffered, m_offered.isEmpty() ? QString() : tr("not offered"));
            continue;
        }
        item->setText(ColOffered,
                      newer ? tr("%1 (newer, %2)")
                                  .arg(offer->strVersion, formatReleaseDate(offer->llReleaseDate))
                            : tr("%1 (up to date)").arg(offer->strVersion));
        item->setToolTip(ColOffered, offer->strDesc);
        if (newer) {
            item->setText(ColSize, formatMegabytes(newer->dSize));
            item->setCheckState(ColModule, Qt::Checked);
            QFont font = item->font(ColOffered);
            font.setBold(true);
            item->setFont(ColOffered, font);
        }
    }
}

void ModulesView::updateButtons()
{
    m_checkButton->setEnabled(!m_busy);
    m_downloadButton->setEnabled(!m_busy && !chosen().isEmpty());
    m_installButton->setEnabled(!m_busy && m_downloaded);
}

void ModulesView::showResult(const QString &what, UpgradeOpError error)
{
    m_result->setText(tr("%1: %2 (result %3).").arg(what, describeResult(error)).arg(int(error)));
    m_result->setStyleSheet(error == UpgradeOpSuccess ? QString("color: #1b6e20;")
                                                      : QString("color: #b00020;"));
}

} // namespace Olvane
