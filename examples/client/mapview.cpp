// SPDX-License-Identifier: MIT
#include "mapview.h"

#include "loopbackserver.h"
#include "platform/creation.h"
#include "platform/olesite.h"
#include "platform/qtwindow.h"
#include "tessel/TesselDllHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTime>
#include <QVBoxLayout>

namespace Olvane {

namespace {

using tessel::kProgId;

QString fromEnvironment(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

// The page's files: beside the program, or the source tree when run from a build.
QString webMapDir()
{
    const QString installed = QCoreApplication::applicationDirPath() + "/WebMap";
    return fromEnvironment("OLVANE_WEBMAP_DIR", QFileInfo::exists(installed + "/index.html")
                                                    ? installed
                                                    : QStringLiteral(OLVANE_WEBMAP_SOURCE_DIR));
}

QString tesselModule()
{
    return fromEnvironment("OLVANE_TESSEL_MODULE",
                           QCoreApplication::applicationDirPath() + "/Tessel.so");
}

// The control comes from the registry as any host finds it; a registry without it gets it
// from the module beside the program first.
bool ensureRegistered(QString *why)
{
    CLSID clsid;
    if (platform::clsidFromProgId(kProgId, &clsid))
        return true;
    const QString module = QFileInfo(tesselModule()).canonicalFilePath();
    if (module.isEmpty()) {
        *why = "the control is not registered and " + tesselModule() + " is missing";
        return false;
    }
    std::string step;
    const HRESULT hr = platform::registerServer(module.toStdString(), false, &step);
    if (FAILED(hr) || !platform::clsidFromProgId(kProgId, &clsid)) {
        *why = QString("registering %1 failed (0x%2)%3")
                   .arg(module)
                   .arg(quint32(hr), 8, 16, QChar('0'))
                   .arg(step.empty() ? QString() : ": " + QString::fromStdString(step));
        return false;
    }
    return true;
}

QString jsText(const QString &s)
{
    QString out = s;
    out.replace('\\', "\\\\").replace('\'', "\\'");
    return '\'' + out + '\'';
}

QString markerState(CameraKind kind)
{
    switch (kind) {
    case CameraKind::Quick:
        return "live";
    case CameraKind::Slow:
        return "slow";
    case CameraKind::Flaky:
        return "reconnecting";
    case CameraKind::Offline:
        return "failed";
    }
    return "opening";
}

} // namespace

class MapView::Listener : public CPageListener
{
public:
    explicit Listener(MapView *view)
        : m_view(view)
    {}
    std::int32_t OnPageMessage(const char *name, std::intptr_t data) override
    {
        const QString n = QString::fromUtf8(name);
        // Only a page call carries text; the others carry nothing or a frame.
        const bool text = n != "LoadComplete" && n != "InaccessiblePage";
        m_view->onNotification(
            n, text && data ? QString::fromUtf8(reinterpret_cast<const char *>(data)) : QString());
        return 0;
    }

private:
    MapView *m_view;
};

struct MapView::Control
{
    HWND host = nullptr;
    platform::AxHost ax;
    platform::ComPtr<IDispatch> disp;
    tessel::CTesselDllHost tessel;
};

MapView::MapView(const QVector<Camera> &cameras, QWidget *parent)
    : QWidget(parent)
    , m_cameras(cameras)
    , m_mapArea(new QWidget(this))
    , m_log(new QPlainTextEdit(this))
    , m_status(new QLabel(tr("The map loads when the view starts."), this))
    , m_listener(std::make_unique<Listener>(this))
{
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(1000);
    m_log->setPlaceholderText(tr("What the map control's listener hears"));
    auto *split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(m_mapArea);
    split->addWidget(m_log);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(split, 1);
    m_mapArea->installEventFilter(this);
}

MapView::~MapView()
{
    stop();
}

bool MapView::running() const
{
    return m_control != nullptr;
}

bool MapView::start()
{
    if (m_control)
        return true;
    m_error.clear();
    if (!ensureRegistered(&m_error))
        return false;
    m_server = std::make_unique<norvane::LoopbackServer>();
    const QString leaflet
        = fromEnvironment("OLVANE_LEAFLET_DIR", QStringLiteral("/usr/share/javascript/leaflet"));
    if (!m_server->mount("/leaflet", leaflet.toStdString())
        || !m_server->mount("/", webMapDir().toStdString()) || !m_server->start()) {
        m_error = "cannot serve the map page from " + webMapDir() + " and " + leaflet;
        m_server.reset();
        return false;
    }
    m_url = QString("http://127.0.0.1:%1/index.html").arg(m_server->port());

    // The control's window goes into a window of ours that fills the map area.
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "OlvaneMapHost";
        return RegisterClassA(&wc) != 0;
    }();
    auto control = std::make_unique<Control>();
    const QSize size = m_mapArea->size();
    control->host
        = registered ? CreateWindowExA(0, "OlvaneMapHost", "map", WS_OVERLAPPED, 0, 0, size.width(),
                                       size.height(), nullptr, nullptr, nullptr, nullptr)
                     : nullptr;
    QWidget *hostWidget = control->host ? platform::win::widgetOf(control->host) : nullptr;
    if (!hostWidget) {
        m_error = "cannot make a window for the control";
        return false;
    }
    hostWidget->setParent(m_mapArea);
    hostWidget->setGeometry(QRect(QPoint(0, 0), size));
    hostWidget->show();
    const HRESULT hr
        = control->ax.Create(kProgId, control->host, CRect(0, 0, size.width(), size.height()));
    if (FAILED(hr) || FAILED(control->ax.QueryControl(IID_IDispatch, control->disp.putVoid()))) {
        m_error
            = QString("creating %1 failed (0x%2)").arg(kProgId).arg(quint32(hr), 8, 16, QChar('0'));
        DestroyWindow(control->host);
        return false;
    }
    m_control = std::move(control);
    m_control->tessel.attach(m_control->disp.get());
    m_control->tessel.AddLinster(m_listener.get());
    m_control->tessel.init(m_url.toStdString());
    m_status->setText(tr("Control %1, page %2").arg(kProgId, m_url));
    return true;
}

void MapView::stop()
{
    if (m_control) {
        // The listener goes before the control: nothing may reach a view that is going.
        m_control->tessel.AddLinster(std::uint64_t(0));
        m_control->tessel.attach(nullptr);
        m_control->disp = {};
        m_control->ax.Destroy();
        DestroyWindow(m_control->host);
        m_control.reset();
    }
    m_server.reset();
    m_markersAdded = false;
}

bool MapView::heard(const QString &name) const
{
    for (const QString &n : m_notes)
        if (n == name || n.startsWith(name + ' '))
            return true;
    return false;
}

void MapView::runScript(const QString &script)
{
    if (m_control)
        m_control->tessel.CallJavaScritp(script.toStdString());
}

QString MapView::cameraId(int index) const
{
    return QString("cam-%1").arg(index + 1);
}

void MapView::clickCamera(int index)
{
    runScript(QString("clickCamera(%1)").arg(jsText(cameraId(index))));
}

void MapView::onNotification(const QString &name, const QString &data)
{
    const QString entry = data.isEmpty() ? name : name + ' ' + data;
    m_notes << entry;
    m_log->appendPlainText(QTime::currentTime().toString("HH:mm:ss.zzz  ") + entry);
    // The page is ready for scripts; they run one per tick after this call returns.
    if (name == "initComplete" && !m_markersAdded)
        addMarkers();
    emit notified(name, data);
}

// A marker per camera, spread over the site in rows.
void MapView::addMarkers()
{
    m_markersAdded = true;
    for (int i = 0; i < m_cameras.size(); ++i) {
        const int row = i / 8;
        const int column = i % 8;
        const int y = 50 + row * 95 + (column % 2) * 20;
        const int x = 35 + column * 75;
        runScript(QString("addCamera(%1, %2, %3, %4, %5)")
                      .arg(jsText(cameraId(i)), jsText(m_cameras[i].name))
                      .arg(y)
                      .arg(x)
                      .arg(jsText(markerState(m_cameras[i].kind))));
    }
}

bool MapView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_mapArea && event->type() == QEvent::Resize && m_control) {
        const QSize size = m_mapArea->size();
        if (QWidget *w = platform::win::widgetOf(m_control->host))
            w->setGeometry(QRect(QPoint(0, 0), size));
        m_control->ax.Resize(CRect(0, 0, size.width(), size.height()));
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace Olvane
