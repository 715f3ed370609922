// SPDX-License-Identifier: MIT
#include "webengine.h"

#include "bridge_js.h"

#include <unistd.h>

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QPointer>
#include <QRandomGenerator>
#include <QTimer>
#include <QWebEngineContextMenuData>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <atomic>
#include <cstdlib>

namespace platform::web {

void prepareProcess()
{
    // Without a display the engine's scene graph must be the software one, or it aborts.
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen")
        && !qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    // The engine's sandbox refuses to start as root.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (!QCoreApplication::instance())
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

namespace {

const struct Prepare
{
    Prepare() { prepareProcess(); }
} prepareBeforeMain;

QString bridgeToken()
{
    static const QString token = [] {
        // 64 random bits: the page cannot guess it, and every call carries it, so it stays short.
        return QStringLiteral("nv") + QString::number(QRandomGenerator::system()->generate64(), 36);
    }();
    return token;
}

// One off-the-record profile for all engines of the process: nothing lands on disk, and the
// profile goes with the last page that uses it, before the application object does.
std::shared_ptr<QWebEngineProfile> sharedProfile()
{
    static std::weak_ptr<QWebEngineProfile> shared;
    if (auto p = shared.lock())
        return p;
    auto p = std::shared_ptr<QWebEngineProfile>(new QWebEngineProfile,
                                                [](QWebEngineProfile *q) { delete q; });
    // Caching is decided per request by the interceptor's headers; the disk stays untouched.
    p->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    p->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    QWebEngineScript bridge;
    bridge.setName(QStringLiteral("nv-bridge"));
    bridge.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bridge.setWorldId(QWebEngineScript::MainWorld);
    bridge.setRunsOnSubFrames(true);
    bridge.setSourceCode(
        QString::fromUtf8(kBridgeScript).replace(QLatin1String("@TOKEN@"), bridgeToken()));
    p->scripts()->insert(bridge);
    shared = p;
    return p;
}

QString toJson(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

class Interceptor : public QWebEngineUrlRequestInterceptor
{
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    std::atomic<bool> blockMedia{false};
    std::atomic<bool> noCache{false};

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (blockMedia && info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMedia) {
            info.block(true);
            return;
        }
        if (noCache) {
            info.setHttpHeader("Cache-Control", "no-cache");
            info.setHttpHeader("Pragma", "no-cache");
        }
    }
};

} // namespace

namespace {

class Page : public QWebEnginePage
{
public:
    Page(QWebEngineProfile *profile, Engine::Private *owner)
        : QWebEnginePage(profile)
        , m_owner(owner)
    {}

protected:
    bool javaScriptPrompt(const QUrl &origin, const QString &msg, const QString &defaultValue,
                          QString *result) override;
    void javaScriptAlert(const QUrl &origin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &origin, const QString &msg) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int,
                                  const QString &) override
    {
        // Errors come through the bridge's error listener; nothing goes to the terminal.
    }
    bool certificateError(const QWebEngineCertificateError &) override { return false; }
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &old,
                            const QStringList &accepted) override;
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }

private:
    Engine::Private *m_owner;
};

class View : public QWebEngineView
{
public:
    View(QWidget *parent, Engine::Private *owner)
        : QWebEngineView(parent)
        , m_owner(owner)
    {}

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    Engine::Private *m_owner;
};

} // namespace

class Engine::Private
{
public:
    Engine *q = nullptr;
    EngineClient *client = nullptr;
    std::shared_ptr<QWebEngineProfile> profile;
    Interceptor interceptor;
    QPointer<View> view; // its parent window may take it first
    Page *page = nullptr;
    bool silent = false;
    bool rendererDead = false;
    DownloadControl download;
    bool scrollBars = true;
    int pageCallDepth = 0;
    QString topFrameId;
    // Flipped when the engine goes, so that waits for scripts end.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    bool bridgeCall(const QString &json, QString *result);
    void makePage();
    void applySettings();
    void suppressed(const QString &kind, const QString &text)
    {
        emit q->dialogSuppressed(kind, text);
    }
};

bool Page::javaScriptPrompt(const QUrl &origin, const QString &msg, const QString &defaultValue,
                            QString *result)
{
    if (msg == bridgeToken())
        return m_owner->bridgeCall(defaultValue, result);
    if (m_owner->silent) {
        m_owner->suppressed(QStringLiteral("prompt"), msg);
        return false;
    }
    return QWebEnginePage::javaScriptPrompt(origin, msg, defaultValue, result);
}

void Page::javaScriptAlert(const QUrl &origin, const QString &msg)
{
    if (m_owner->silent)
        m_owner->suppressed(QStringLiteral("alert"), msg);
    else
        QWebEnginePage::javaScriptAlert(origin, msg);
}

bool Page::javaScriptConfirm(const QUrl &origin, const QString &msg)
{
    if (m_owner->silent) {
        m_owner->suppressed(QStringLiteral("confirm"), msg);
        return false;
    }
    return QWebEnginePage::javaScriptConfirm(origin, msg);
}

QStringList Page::chooseFiles(FileSelectionMode mode, const QStringList &old,
                              const QStringList &accepted)
{
    if (m_owner->silent) {
        m_owner->suppressed(QStringLiteral("file"), QString());
        return {};
    }
    return QWebEnginePage::chooseFiles(mode, old, accepted);
}

void View::contextMenuEvent(QContextMenuEvent *event)
{
    const QWebEngineContextMenuData &data = page()->contextMenuData();
    MenuKind kind = MenuKind::Default;
    if (data.isContentEditable())
        kind = MenuKind::Control;
    else if (!data.selectedText().isEmpty())
        kind = MenuKind::TextSelect;
    else if (data.mediaType() == QWebEngineContextMenuData::MediaTypeImage)
        kind = MenuKind::Image;
    else if (data.linkUrl().isValid())
        kind = MenuKind::Anchor;
    if (!m_owner->client->engineContextMenu(kind, event->globalPos())) {
        event->accept();
        return;
    }
    QMenu *menu = page()->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    emit m_owner->q->contextMenuShown(menu);
}

bool Engine::Private::bridgeCall(const QString &json, QString *result)
{
    const QJsonObject m = QJsonDocument::fromJson(json.toUtf8()).object();
    const QString kind = m.value(QLatin1String("k")).toString();
    const QString frame = m.value(QLatin1String("f")).toString();
    const bool top = m.value(QLatin1String("t")).toBool();
    if (top)
        topFrameId = frame;
    // The client may delete the engine from inside its callback; nothing below touches it then.
    std::shared_ptr<bool> guard = alive;
    ++pageCallDepth;
    QJsonObject answer;
    if (kind == QLatin1String("call")) {
        const ExternalAnswer a = client->externalCall(frame, m.value(QLatin1String("n")).toString(),
                                                      m.value(QLatin1String("a")).toArray());
        switch (a.status) {
        case ExternalAnswer::Ok:
            answer.insert(QLatin1String("v"), a.value);
            break;
        case ExternalAnswer::NoExternal:
            answer.insert(QLatin1String("x"), 1);
            break;
        case ExternalAnswer::UnknownMember:
        case ExternalAnswer::Failed:
            answer.insert(QLatin1String("e"), a.error);
            break;
        }
    } else if (kind == QLatin1String("load")) {
        client->frameLoaded(frame, top, QUrl(m.value(QLatin1String("u")).toString()));
    } else if (kind == QLatin1String("failed")) {
        client->navigationFailed(frame, top, QUrl(m.value(QLatin1String("u")).toString()), 0);
    } else if (kind == QLatin1String("error")) {
        const bool goOn = client->scriptError(frame, m.value(QLatin1String("m")).toString(),
                                              m.value(QLatin1String("l")).toInt(),
                                              m.value(QLatin1String("s")).toString());
        if (!goOn && *guard) {
            // Chromium cannot stop one page's scripts midway; switching script off for the page
            // is the nearest: it holds until the next navigation.
            answer.insert(QLatin1String("stop"), 1);
            page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        }
    }
    if (*guard)
        --pageCallDepth;
    *result = toJson(answer);
    return true;
}

void Engine::Private::makePage()
{
    page = new Page(profile.get(), this);
    page->setUrlRequestInterceptor(&interceptor);
    view->setPage(page);
    applySettings();
    QObject::connect(page, &QWebEnginePage::renderProcessTerminated, q,
                     [this](QWebEnginePage::RenderProcessTerminationStatus status, int code) {
                         if (status == QWebEnginePage::NormalTerminationStatus)
                             return;
                         rendererDead = true;
                         client->rendererGone(code);
                     });
}

void Engine::Private::applySettings()
{
    QWebEngineSettings *s = page->settings();
    s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    s->setAttribute(QWebEngineSettings::AutoLoadImages, download.images);
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, download.scripts);
    s->setAttribute(QWebEngineSettings::ShowScrollBars, scrollBars);
    interceptor.blockMedia = !download.media;
    interceptor.noCache = download.noCache;
}

Engine::Engine(QWidget *parent, EngineClient *client)
    : d(std::make_unique<Private>())
{
    d->q = this;
    d->client = client;
    d->profile = sharedProfile();
    d->view = new View(parent, d.get());
    d->view->setContextMenuPolicy(Qt::DefaultContextMenu);
    d->makePage();
}

Engine::~Engine()
{
    *d->alive = false;
    if (d->view)
        d->view->setPage(nullptr);
    if (d->pageCallDepth > 0) {
        // The page is inside a call to us: it goes once that call has returned, and keeps the
        // profile until then.
        QObject::connect(d->page, &QObject::destroyed, [profile = d->profile] {});
        d->page->deleteLater();
        if (d->view)
            d->view->deleteLater();
    } else {
        // The page goes before the view and both before the profile; pending script callbacks
        // fire from the page's destructor and find the engine gone.
        delete d->page;
        delete d->view.data();
    }
    d->profile.reset();
}

QWidget *Engine::widget() const
{
    return d->view;
}

QString Engine::topFrameId() const
{
    return d->topFrameId;
}

void Engine::navigate(const QUrl &url)
{
    // A page whose renderer died does not get its document-creation scripts into the next
    // renderer: it is replaced by a fresh one.
    if (d->rendererDead) {
        d->rendererDead = false;
        QWebEnginePage *old = d->page;
        d->makePage();
        delete old;
    }
    d->applySettings();
    d->page->load(url);
}

void Engine::loadHtml(const QString &html, const QUrl &baseUrl)
{
    d->applySettings();
    d->page->setHtml(html, baseUrl);
}

void Engine::stop()
{
    d->page->triggerAction(QWebEnginePage::Stop);
}

QUrl Engine::url() const
{
    return d->page->url();
}

void Engine::setSilent(bool silent)
{
    d->silent = silent;
}

bool Engine::silent() const
{
    return d->silent;
}

void Engine::setDropsAccepted(bool accept)
{
    d->view->setAcceptDrops(accept);
}

void Engine::setDownloadControl(const DownloadControl &control)
{
    d->download = control;
    d->applySettings();
}

void Engine::setScrollBars(bool shown)
{
    d->scrollBars = shown;
    d->applySettings();
}

bool Engine::inPageCall() const
{
    return d->pageCallDepth > 0;
}

qint64 Engine::rendererPid() const
{
    return d->page->renderProcessPid();
}

ScriptResult Engine::runScript(const QString &frameId, const QString &text)
{
    // Indirect eval runs the text in the window's global scope, as a script element would.
    static const QString wrapper = QStringLiteral(
        "(function (a) {"
        "  function find(w) {"
        "    try { if (w.__nvFrameId === a[0]) return w; } catch (e) {}"
        "    for (var i = 0; i < w.frames.length; ++i) { var r = find(w.frames[i]); if (r) return "
        "r; }"
        "    return null;"
        "  }"
        "  var w = a[0] ? find(window) : window;"
        "  if (!w) return 'noframe';"
        "  try { (0, w.eval)(a[1]); return 'ran'; }"
        "  catch (e) { return ['error', String(e && e.name ? e.name + ': ' + e.message : e),"
        "                     e && e.lineNumber | 0]; }"
        "})(%1)");
    const QString args = QString::fromUtf8(
        QJsonDocument(QJsonArray{frameId, text}).toJson(QJsonDocument::Compact));
    if (!*d->alive)
        return ScriptResult::Gone;

    struct Wait
    {
        bool done = false;
        QVariant value;
        QEventLoop loop;
    };
    auto wait = std::make_shared<Wait>();
    std::shared_ptr<bool> alive = d->alive;
    const QString frame = frameId.isEmpty() ? d->topFrameId : frameId;
    const bool queued = inPageCall();
    EngineClient *client = d->client;
    QPointer<QWebEnginePage> page = d->page;
    d->page->runJavaScript(
        wrapper.arg(args), QWebEngineScript::MainWorld,
        [wait, alive, client, frame, page](const QVariant &v) {
            wait->done = true;
            wait->value = v;
            const QVariantList l = v.toList();
            if (*alive && l.size() == 3 && l.at(0).toString() == "error"
                && !client->scriptError(frame, l.at(1).toString(), l.at(2).toInt(), QString())
                && *alive && page)
                page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
            wait->loop.quit();
        });
    // The page is blocked in a call to us: waiting would never end, so the script runs after it.
    if (queued)
        return ScriptResult::Queued;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &wait->loop, &QEventLoop::quit);
    QMetaObject::Connection gone = QObject::connect(
        d->page, &QWebEnginePage::renderProcessTerminated, &wait->loop, &QEventLoop::quit);
    limit.start(10000);
    if (!wait->done)
        wait->loop.exec();
    if (!*alive)
        return ScriptResult::Gone;
    QObject::disconnect(gone);
    if (!wait->done)
        return ScriptResult::Failed;
    const QVariant &v = wait->value;
    if (v.toString() == QLatin1String("ran"))
        return ScriptResult::Ran;
    if (v.toString() == QLatin1String("noframe"))
        return ScriptResult::NoFrame;
    return ScriptResult::Failed;
}

} // namespace platform::web
