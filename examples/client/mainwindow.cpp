// SPDX-License-Identifier: MIT
#include "mainwindow.h"

#include "mapview.h"
#include "modulesview.h"
#include "streamsview.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QStatusBar>
#include <QTabWidget>

namespace Olvane {

MainWindow::MainWindow(const ClientOptions &options, QWidget *parent)
    : QMainWindow(parent)
    , m_tabs(new QTabWidget(this))
    , m_modules(new ModulesView(options.solutionFile, m_tabs))
    , m_streams(new StreamsView(demoCameras(options.cameras), m_tabs))
    , m_map(new MapView(demoCameras(options.cameras), m_tabs))
{
    setWindowTitle(tr("Olvane reference client"));
    m_tabs->addTab(m_modules, tr("Modules"));
    m_tabs->addTab(m_streams, tr("Live streams"));
    m_tabs->addTab(m_map, tr("Map"));
    setCentralWidget(m_tabs);
    statusBar()->showMessage(
        tr("Program folder %1").arg(QDir::toNativeSeparators(QApplication::applicationDirPath())));
    resize(1280, 700);
    if (!options.unattended) {
        // A person sees the streams come up the first time the view is opened.
        connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
            if (m_tabs->widget(index) == m_streams && !m_streams->running())
                m_streams->start();
            if (m_tabs->widget(index) == m_map && !m_map->running())
                m_map->start();
        });
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::showModules()
{
    m_tabs->setCurrentWidget(m_modules);
}

void MainWindow::showStreams()
{
    m_tabs->setCurrentWidget(m_streams);
}

void MainWindow::showMap()
{
    m_tabs->setCurrentWidget(m_map);
}

bool MainWindow::savePicture(const QString &file)
{
    if (!isVisible())
        show();
    QApplication::processEvents();
    const QPixmap picture = grab();
    QDir().mkpath(QFileInfo(file).absolutePath());
    return !picture.isNull() && picture.save(file, "PNG");
}

} // namespace Olvane
