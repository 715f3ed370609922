// SPDX-License-Identifier: MIT
#pragma once

#include <QJsonArray>
#include <QJsonValue>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QUrl>

#include <memory>

class QWidget;
class QMenu;

// The HTML engine under the browser control: a Qt WebEngine page and view with the script bridge
// that gives page script a synchronous window.external, per-frame load and error reports, and the
// switches the control's host may set (dialogs, drops, what a page may download). Nothing here
// knows COM; the browser control turns these calls into its interfaces and events.
namespace platform::web {

// Sets what the engine needs in this process before the application object exists: the software
// scene graph when there is no display, the shared GL contexts, and no sandbox for root.
// Runs by itself before main() in every program that links this library; calling it again is
// harmless.
void prepareProcess();

struct ExternalAnswer
{
    enum Status { Ok, NoExternal, UnknownMember, Failed };
    Status status = NoExternal;
    QJsonValue value;
    QString error;
};

// Context menu kinds, numbered as the host's ShowContextMenu expects them.
enum class MenuKind { Default = 0, Image = 1, Control = 2, Table = 3, TextSelect = 4, Anchor = 5 };

class EngineClient
{
public:
    virtual ~EngineClient() = default;
    // A page called window.external.<member>(args...); the page waits for the answer.
    virtual ExternalAnswer externalCall(const QString &frameId, const QString &member,
                                        const QJsonArray &args)
        = 0;
    // A document finished loading in a frame (the top frame last).
    virtual void frameLoaded(const QString &frameId, bool top, const QUrl &url) = 0;
    // A frame's navigation failed; status is an HTTP status or a negative network error.
    virtual void navigationFailed(const QString &frameId, bool top, const QUrl &url, int status)
        = 0;
    // An uncaught script error; true lets scripts on the page go on running.
    virtual bool scriptError(const QString &frameId, const QString &message, int line,
                             const QString &source)
        = 0;
    // True when the engine's own menu is to be shown for a right click on this kind of content.
    virtual bool engineContextMenu(MenuKind kind, QPoint at) = 0;
    // The page's renderer process ended without being asked to.
    virtual void rendererGone(int exitCode) = 0;
};

struct DownloadControl
{
    bool images = true;
    bool media = true; // video and sound
    bool scripts = true;
    bool noCache = false; // every request bypasses caches
};

enum class ScriptResult { Ran, Queued, Failed, NoFrame, Gone };

class Engine : public QObject
{
    Q_OBJECT
public:
    // The view is created as a child of parent; the client must outlive the engine.
    Engine(QWidget *parent, EngineClient *client);
    ~Engine() override;

    QWidget *widget() const;
    QString topFrameId() const;

    void navigate(const QUrl &url);
    void loadHtml(const QString &html, const QUrl &baseUrl);
    void stop();
    QUrl url() const;

    void setSilent(bool silent);
    bool silent() const;
    void setDropsAccepted(bool accept);
    void setDownloadControl(const DownloadControl &control);
    void setScrollBars(bool shown);

    // Runs script text in the global scope of a frame's window (the top frame when frameId is
    // empty). Waits for it unless a page call is in progress, when it runs after that call.
    ScriptResult runScript(const QString &frameId, const QString &text);

    bool inPageCall() const;
    qint64 rendererPid() const;

signals:
    // A right click showed the engine's own menu (the menu closes itself).
    void contextMenuShown(QMenu *menu);
    // A dialog the page asked for was not shown (silent mode).
    void dialogSuppressed(const QString &kind, const QString &text);

public:
    class Private;

private:
    std::unique_ptr<Private> d;
};

} // namespace platform::web
