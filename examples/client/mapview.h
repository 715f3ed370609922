// SPDX-License-Identifier: MIT
#pragma once

#include "cameranetwork.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

class QLabel;
class QPlainTextEdit;

namespace norvane {
class LoopbackServer;
}

namespace Olvane {

// The "Map" view: the web map control, hosted by its ProgID in a window of this view, shows the
// site map served from loopback with a marker per camera; a log pane lists what the control's
// listener hears.
class MapView : public QWidget
{
    Q_OBJECT

public:
    explicit MapView(const QVector<Camera> &cameras, QWidget *parent = nullptr);
    ~MapView() override;

    // Registers the control when the registry lacks it, creates it, starts the page server and
    // loads the map; false with the reason in error() when a step failed.
    bool start();
    // Lets go of the control and stops the page server.
    void stop();
    bool running() const;
    QString error() const { return m_error; }
    QString pageUrl() const { return m_url; }

    // What the listener heard, one entry per notification ("LoadComplete", "initComplete ...").
    const QStringList &notifications() const { return m_notes; }
    bool heard(const QString &name) const;
    // Sends a script to the page through the control's CallJavaScritp.
    void runScript(const QString &script);
    // As if a person clicked the camera's marker.
    void clickCamera(int index);
    QString cameraId(int index) const;

signals:
    void notified(const QString &name, const QString &data);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class Listener;
    struct Control;
    void onNotification(const QString &name, const QString &data);
    void addMarkers();

    QVector<Camera> m_cameras;
    QWidget *m_mapArea;
    QPlainTextEdit *m_log;
    QLabel *m_status;
    std::unique_ptr<norvane::LoopbackServer> m_server;
    std::unique_ptr<Listener> m_listener;
    std::unique_ptr<Control> m_control;
    QStringList m_notes;
    QString m_error;
    QString m_url;
    bool m_markersAdded = false;
};

} // namespace Olvane
