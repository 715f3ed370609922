// SPDX-License-Identifier: MIT
#pragma once

#include "clientoptions.h"

#include <QMainWindow>

class QTabWidget;

namespace Olvane {

class MapView;
class ModulesView;
class StreamsView;

// The reference client's main window: a "Modules" view, a "Live streams" view and a "Map" view.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(const ClientOptions &options, QWidget *parent = nullptr);
    ~MainWindow() override;

    ModulesView *modules() const { return m_modules; }
    StreamsView *streams() const { return m_streams; }
    MapView *map() const { return m_map; }
    void showModules();
    void showStreams();
    void showMap();
    // Shows the current view, lets it settle and saves a picture of the whole window; false
    // when the file could not be written.
    bool savePicture(const QString &file);

private:
    QTabWidget *m_tabs;
    ModulesView *m_modules;
    StreamsView *m_streams;
    MapView *m_map;
};

} // namespace Olvane
