// SPDX-License-Identifier: MIT
#pragma once

#include "cameranetwork.h"
#include "streamlistener.h"

#include <QElapsedTimer>
#include <QHash>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace DCM {
class CRealStreamInstance;
class IRealStreamComponent;
} // namespace DCM

namespace Olvane {

enum class TileState { Idle, Opening, Slow, Reconnecting, Live, OpenFailed, TimedOut, Closed };
QString tileStateName(TileState state);

// One camera's picture: its name, its state as the listener calls tell it, and a drawn stand-in
// for the video once frames arrive.
class CameraTile : public QWidget
{
    Q_OBJECT

public:
    CameraTile(const Camera &camera, int index, QWidget *parent = nullptr);

    const Camera &camera() const { return m_camera; }
    TileState state() const { return m_state; }
    void setState(TileState state);
    int streamId() const { return m_streamId; }
    void setStreamId(int id) { m_streamId = id; }
    int reconnects() const { return m_reconnects; }
    void countReconnect() { ++m_reconnects; }
    bool wasSlow() const { return m_wasSlow; }
    QSize sizeHint() const override { return QSize(180, 112); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Camera m_camera;
    int m_index;
    TileState m_state = TileState::Idle;
    int m_streamId = -1;
    int m_reconnects = 0;
    bool m_wasSlow = false;
};

// Tiles per state and what happened along the way.
struct StreamCounts
{
    int tiles = 0;
    QHash<int, int> byState; // TileState -> tiles
    int reconnected = 0;     // tiles that came up after a reopen
    int slow = 0;            // tiles that were reported slow at least once
    int events = 0;          // listener calls shown

    int in(TileState state) const { return byState.value(int(state)); }
};

// The "Live streams" view: a grid of camera tiles driven by the stream component over the
// simulated SDK, with a counter of the events it received.
class StreamsView : public QWidget
{
    Q_OBJECT

public:
    explicit StreamsView(const QVector<Camera> &cameras, QWidget *parent = nullptr);
    ~StreamsView() override;

    // Sets up the SDK, the component and the listener and opens every camera; false with the
    // reason shown when the component refused.
    bool start();
    // Closes every stream and waits, with the event loop running, until all are reported
    // closed or timeoutMs passed; then lets go of the component. True when all closed.
    bool stop(int timeoutMs);
    bool running() const { return m_component != nullptr; }

    StreamCounts counts() const;
    const StreamListener *listener() const { return m_listener.get(); }
    // Milliseconds since start.
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }
    // How often the view took events while off the window's thread (never, when sound).
    int eventsOffThread() const { return m_eventsOffThread; }

signals:
    void countsChanged();

private:
    void takeEvents();
    void apply(const StreamEventRecord &record);
    void closeAll();
    void release();
    void updateSummary();
    CameraTile *tileOf(int id) const;

    QVector<CameraTile *> m_tiles;
    QHash<int, CameraTile *> m_byId;
    std::unique_ptr<StreamListener> m_listener;
    QLabel *m_summary;
    QPushButton *m_openButton;
    QPushButton *m_closeButton;
    QTimer *m_repaint;
    QTimer *m_poll;
    QElapsedTimer m_clock;
    int m_events = 0;
    int m_eventsOffThread = 0;

    std::unique_ptr<KvSdk::SimSdk> m_sdk;
    std::unique_ptr<CameraNetwork> m_network;
    std::unique_ptr<DCM::CRealStreamInstance> m_factory;
    DCM::IRealStreamComponent *m_component = nullptr;
};

} // namespace Olvane
