// SPDX-License-Identifier: MIT
#include "streamsview.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace Olvane {

namespace {

constexpr int kReconnectIntervalMs = 1000;
constexpr int kColumns = 8;
constexpr int kPollMs = 25;

QColor stateColor(TileState state)
{
    switch (state) {
    case TileState::Idle:
        return QColor(0x60, 0x64, 0x6b);
    case TileState::Opening:
        return QColor(0xd9, 0xa4, 0x0e);
    case TileState::Slow:
        return QColor(0xe8, 0x71, 0x1c);
    case TileState::Reconnecting:
        return QColor(0x8e, 0x5c, 0xd9);
    case TileState::Live:
        return QColor(0x2e, 0xa0, 0x43);
    case TileState::OpenFailed:
        return QColor(0xd0, 0x3b, 0x3b);
    case TileState::TimedOut:
        return QColor(0x9b, 0x1c, 0x1c);
    case TileState::Closed:
        return QColor(0x45, 0x48, 0x4e);
    }
    return Qt::gray;
}

} // namespace

QString tileStateName(TileState state)
{
    switch (state) {
    case TileState::Idle:
        return QStringLiteral("idle");
    case TileState::Opening:
        return QStringLiteral("opening");
    case TileState::Slow:
        return QStringLiteral("slow");
    case TileState::Reconnecting:
        return QStringLiteral("reconnecting");
    case TileState::Live:
        return QStringLiteral("live");
    case TileState::OpenFailed:
        return QStringLiteral("open failed");
    case TileState::TimedOut:
        return QStringLiteral("timed out");
    case TileState::Closed:
        return QStringLiteral("closed");
    }
    return QString();
}

CameraTile::CameraTile(const Camera &camera, int index, QWidget *parent)
    : QWidget(parent)
    , m_camera(camera)
    , m_index(index)
{
    setMinimumSize(150, 92);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void CameraTile::setState(TileState state)
{
    if (state == TileState::Slow)
        m_wasSlow = true;
    if (state == m_state)
        return;
    m_state = state;
    update();
}

void CameraTile::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(2, 2, -2, -2);
    const QColor accent = stateColor(m_state);

    if (m_state == TileState::Live) {
        // A drawn stand-in for the picture: a sky, a horizon and a slowly moving light.
        const double t = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
        QLinearGradient sky(frame.topLeft(), frame.bottomLeft());
        const int hue = (m_index * 47) % 360;
        sky.setColorAt(0, QColor::fromHsv(hue, 90, 120));
        sky.setColorAt(0.6, QColor::fromHsv((hue + 30) % 360, 70, 70));
        sky.setColorAt(1, QColor::fromHsv((hue + 60) % 360, 60, 40));
        painter.setPen(Qt::NoPen);
        painter.setBrush(sky);
        painter.drawRoundedRect(frame, 6, 6);
        const double x = frame.left() + frame.width() * (0.5 + 0.35 * std::sin(t / 3 + m_index));
        painter.setBrush(QColor(255, 255, 255, 50));
        painter.drawEllipse(QPointF(x, frame.top() + frame.height() * 0.35), 14, 14);
        painter.setBrush(QColor(0, 0, 0, 70));
        painter.drawRect(QRectF(frame.left(), frame.top() + frame.height() * 0.7, frame.width(),
                                frame.height() * 0.3 - 6));
    } else {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x23, 0x26, 0x2b));
        painter.drawRoundedRect(frame, 6, 6);
    }

    // State band at the bottom, name at the top.
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const QRectF band(frame.left(), frame.bottom() - metrics.height() - 6, frame.width(),
                      metrics.height() + 6);
    painter.setBrush(accent);
    painter.drawRoundedRect(band, 6, 6);
    painter.drawRect(band.adjusted(0, 0, 0, -6));
    painter.setPen(Qt::white);
    const QRectF bandText = band.adjusted(8, 0, -8, 0);
    painter.drawText(bandText, Qt::AlignVCenter | Qt::AlignLeft, tileStateName(m_state));
    if (m_reconnects > 0)
        painter.drawText(bandText, Qt::AlignVCenter | Qt::AlignRight,
                         QString("reopened %1\u00d7").arg(m_reconnects));

    // Name, then the source and, while live, the time of the picture.
    const QRectF text = frame.adjusted(8, 4, -8, 0);
    QFont bold = font;
    bold.setBold(true);
    painter.setFont(bold);
    const QFontMetrics boldMetrics(bold);
    painter.drawText(text, Qt::AlignTop | Qt::AlignLeft,
                     boldMetrics.elidedText(m_camera.name, Qt::ElideRight, int(text.width())));
    painter.setFont(font);
    painter.setPen(QColor(255, 255, 255, 160));
    const QRectF second = text.adjusted(0, boldMetrics.height(), 0, 0);
    painter.drawText(second, Qt::AlignTop | Qt::AlignLeft,
                     QString::fromLatin1(m_camera.sourceId()));
    if (m_state == TileState::Live) {
        const QRectF ground(text.left(), band.top() - metrics.height() - 4, text.width(),
                            metrics.height());
        painter.drawText(ground, Qt::AlignVCenter | Qt::AlignRight,
                         QTime::currentTime().toString("HH:mm:ss"));
    }
}

StreamsView::StreamsView(const QVector<Camera> &cameras, QWidget *parent)
    : QWidget(parent)
    , m_listener(std::make_unique<StreamListener>())
    , m_summary(new QLabel(this))
    , m_openButton(new QPushButton(tr("Open all"), this))
    , m_closeButton(new QPushButton(tr("Close all"), this))
    , m_repaint(new QTimer(this))
    , m_poll(new QTimer(this))
{
    // The listener is called on the component's thread; the view takes what it collected on
    // its own thread, often enough for the eye.
    connect(m_poll, &QTimer::timeout, this, &StreamsView::takeEvents);
    m_poll->setInterval(kPollMs);

    auto *grid = new QGridLayout;
    grid->setSpacing(6);
    for (int i = 0; i < cameras.size(); ++i) {
        auto *tile = new CameraTile(cameras.at(i), i, this);
        m_tiles.append(tile);
        grid->addWidget(tile, i / kColumns, i % kColumns);
    }
    auto *bar = new QHBoxLayout;
    bar->addWidget(m_openButton);
    bar->addWidget(m_closeButton);
    bar->addSpacing(12);
    bar->addWidget(m_summary, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addLayout(bar);

    connect(m_openButton, &QPushButton::clicked, this, [this] { start(); });
    connect(m_closeButton, &QPushButton::clicked, this, [this] { stop(5000); });
    // Live pictures move once a second.
    connect(m_repaint, &QTimer::timeout, this, [this] {
        for (CameraTile *tile : qAsConst(m_tiles)) {
            if (tile->state() == TileState::Live)
                tile->update();
        }
    });
    m_repaint->start(1000);
    updateSummary();
}

StreamsView::~StreamsView()
{
    release();
}

bool StreamsView::start()
{
    if (m_component)
        return true;
    m_sdk = std::make_unique<KvSdk::SimSdk>();
    // The component treats an original stream id of 0 as unset; one throw-away open keeps the
    // SDK from handing 0 to a camera.
    KvSdk::ISdkRealModule *module = m_sdk->RealModule();
    module->CloseRealVideo(module->OpenRealVideo(0, 0, 0, -1, 1, 0));
    m_sdk->ClearCalls();
    m_network = std::make_unique<CameraNetwork>(*m_sdk, [this] {
        QVector<Camera> cameras;
        for (const CameraTile *tile : qAsConst(m_tiles))
            cameras.append(tile->camera());
        return cameras;
    }());

    m_factory = std::make_unique<DCM::CRealStreamInstance>();
    DCM::IRealStreamComponent *component = m_factory->CreateRealStreamInstance();
    int result = component->SetReconnectInterval(kReconnectIntervalMs);
    if (result == 0)
        result = component->Init(m_sdk.get());
    if (result == 0)
        result = component->AddListener(m_listener.get(), std::intptr_t(this));
    if (result != 0) {
        m_summary->setText(tr("The stream component refused to start (result %1).").arg(result));
        m_component = component;
        release();
        return false;
    }
    m_component = component;
    m_byId.clear();
    m_events = 0;
    m_poll->start();
    m_clock.start();
    for (CameraTile *tile : qAsConst(m_tiles)) {
        const QByteArray source = tile->camera().sourceId();
        const int id = m_component->OpenVideo(source.constData(), 0, std::intptr_t(tile), 0,
                                              std::intptr_t(this), -1, 0);
        tile->setStreamId(id);
        if (id >= 0) {
            m_byId.insert(id, tile);
            tile->setState(TileState::Opening);
        } else {
            tile->setState(TileState::OpenFailed);
        }
    }
    updateSummary();
    return true;
}

bool StreamsView::stop(int timeoutMs)
{
    if (!m_component)
        return true;
    closeAll();
    const QDeadlineTimer deadline(timeoutMs);
    auto allClosed = [this] {
        for (const CameraTile *tile : qAsConst(m_tiles)) {
            if (tile->state() != TileState::Closed && tile->state() != TileState::TimedOut)
                return false;
        }
        return true;
    };
    while (!allClosed() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    const bool closed = allClosed();
    release();
    // What the component reported before it let go.
    takeEvents();
    updateSummary();
    return closed;
}

void StreamsView::closeAll()
{
    for (CameraTile *tile : qAsConst(m_tiles)) {
        if (tile->streamId() >= 0 && tile->state() != TileState::Closed)
            m_component->CloseVideo(tile->streamId());
    }
}

// The component goes first (no more listener calls after UnInit), then the cameras, then the
// SDK they answer through.
void StreamsView::release()
{
    m_poll->stop();
    if (m_component) {
        m_component->RemoveListener(m_listener.get(), std::intptr_t(this));
        m_component->UnInit();
        m_component = nullptr;
    }
    m_factory.reset();
    m_network.reset();
    m_sdk.reset();
}

CameraTile *StreamsView::tileOf(int id) const
{
    return m_byId.value(id, nullptr);
}

void StreamsView::takeEvents()
{
    if (QThread::currentThread() != thread())
        ++m_eventsOffThread;
    const std::vector<StreamEventRecord> events = m_listener->takeEvents();
    for (const StreamEventRecord &record : events)
        apply(record);
    if (!events.empty())
        updateSummary();
}

void StreamsView::apply(const StreamEventRecord &record)
{
    ++m_events;
    CameraTile *tile = tileOf(record.id);
    if (!tile)
        return;
    const int id = record.id;
    const int value = record.value;
    switch (record.event) {
    case StreamEvent::Opened:
        // A failed open is reopened by the component at its next pass.
        if (value != 0 && tile->state() != TileState::Closed)
            tile->setState(TileState::Reconnecting);
        break;
    case StreamEvent::Reconnected:
        m_byId.remove(id);
        m_byId.insert(value, tile);
        tile->setStreamId(value);
        tile->countReconnect();
        tile->setState(TileState::Opening);
        break;
    case StreamEvent::FirstFrame:
        tile->setState(TileState::Live);
        break;
    case StreamEvent::Delay:
        if (tile->state() == TileState::Opening)
            tile->setState(TileState::Slow);
        break;
    case StreamEvent::Timeout:
        tile->setState(TileState::TimedOut);
        break;
    case StreamEvent::OpenFailed:
        tile->setState(TileState::OpenFailed);
        break;
    case StreamEvent::Closed:
        m_byId.remove(id);
        if (tile->state() != TileState::TimedOut)
            tile->setState(TileState::Closed);
        break;
    }
}

StreamCounts StreamsView::counts() const
{
    StreamCounts counts;
    counts.tiles = m_tiles.size();
    counts.events = m_events;
    for (const CameraTile *tile : qAsConst(m_tiles)) {
        counts.byState[int(tile->state())] += 1;
        if (tile->reconnects() > 0)
            ++counts.reconnected;
        if (tile->wasSlow())
            ++counts.slow;
    }
    return counts;
}

void StreamsView::updateSummary()
{
    const StreamCounts c = counts();
    QStringList parts;
    for (TileState state :
         {TileState::Live, TileState::Opening, TileState::Slow, TileState::Reconnecting,
          TileState::OpenFailed, TileState::TimedOut, TileState::Closed}) {
        if (c.in(state) > 0)
            parts << QString("%1 %2").arg(tileStateName(state)).arg(c.in(state));
    }
    m_summary->setText(tr("%1 cameras  |  %2  |  reopened %3, slow %4  |  events %5")
                           .arg(c.tiles)
                           .arg(parts.isEmpty() ? tr("none open") : parts.join(", "))
                           .arg(c.reconnected)
                           .arg(c.slow)
                           .arg(c.events));
    m_openButton->setEnabled(!m_component);
    m_closeButton->setEnabled(m_component != nullptr);
    emit countsChanged();
}

} // namespace Olvane
