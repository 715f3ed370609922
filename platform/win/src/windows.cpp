// SPDX-License-Identifier: MIT
#include "platform/windows.h"

#include "platform/qtwindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QTimerEvent>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>

namespace {

class WinWidget;

struct WindowClass
{
    WNDPROC proc = nullptr;
    HBRUSH background = nullptr;
};

struct Window
{
    HWND handle = nullptr;
    QPointer<WinWidget> widget;
    HWND parent = nullptr;
    WNDPROC proc = nullptr;
    DLGPROC dlgProc = nullptr;
    HBRUSH background = nullptr;
    LONG_PTR userData = 0;
    LONG_PTR msgResult = 0;
    LONG_PTR id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    WORD pointSize = 8;
    std::string text;
    std::map<UINT_PTR, std::pair<int, TIMERPROC>> timers; // window timer id -> Qt timer, callback
    QSize reportedSize{-1, -1};
    bool isButton = false;
    bool destroying = false;
    bool modalDone = false;
    INT_PTR modalResult = 0;
    QEventLoop *modalLoop = nullptr;
    HDC paintDc = nullptr;
    void (*destroyHook)(void *) = nullptr;
    void *destroyContext = nullptr;
};

std::map<std::string, WindowClass> &classes()
{
    static std::map<std::string, WindowClass> c;
    return c;
}

std::unordered_map<HWND, std::unique_ptr<Window>> &windows()
{
    static std::unordered_map<HWND, std::unique_ptr<Window>> w;
    return w;
}

// Handles count up and are never reused, so a stale handle finds nothing.
std::uintptr_t g_nextHandle = 0x10000;

std::string lowered(const char *s)
{
    std::string r = s ? s : "";
    std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return std::tolower(c); });
    return r;
}

Window *lookup(HWND h)
{
    auto it = windows().find(h);
    return it == windows().end() ? nullptr : it->second.get();
}

// Device contexts: a painter over an image of our own or over a widget being painted.
struct Brush
{
    COLORREF colour;
};

struct Bitmap
{
    QImage image;
};

struct DeviceContext
{
    QPainter *painter = nullptr;
    std::unique_ptr<QPainter> ownPainter;
    Bitmap *bitmap = nullptr;
    QImage *image() const { return bitmap ? &bitmap->image : nullptr; }
};

QColor toColor(COLORREF c)
{
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

class PostedMessage : public QEvent
{
public:
    static QEvent::Type kind()
    {
        static const int t = QEvent::registerEventType();
        return QEvent::Type(t);
    }
    PostedMessage(UINT m, WPARAM w, LPARAM l)
        : QEvent(kind())
        , msg(m)
        , wp(w)
        , lp(l)
    {}
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};

void reportSize(Window *w);

class WinWidget : public QWidget
{
public:
    WinWidget(HWND h, QWidget *parent)
        : QWidget(parent)
        , m_handle(h)
    {
        setAttribute(Qt::WA_NoSystemBackground);
    }
    HWND m_handle;

protected:
    bool event(QEvent *e) override
    {
        Window *w = lookup(m_handle);
        if (!w || w->destroying)
            return QWidget::event(e);
        switch (e->type()) {
        case QEvent::Resize:
            reportSize(w);
            return true;
        case QEvent::Move:
            SendMessageA(m_handle, WM_MOVE, 0, MAKELPARAM(x(), y()));
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease: {
            auto *m = static_cast<QMouseEvent *>(e);
            const bool press = e->type() == QEvent::MouseButtonPress;
            UINT msg = 0;
            if (m->button() == Qt::LeftButton)
                msg = press ? WM_LBUTTONDOWN : WM_LBUTTONUP;
            else if (m->button() == Qt::RightButton && !press)
                msg = WM_RBUTTONUP;
            if (msg)
                SendMessageA(m_handle, msg, 0, MAKELPARAM(m->pos().x(), m->pos().y()));
            return true;
        }
        case QEvent::Close:
            SendMessageA(m_handle, WM_CLOSE, 0, 0);
            e->ignore();
            return true;
        case QEvent::Timer: {
            const int qtId = static_cast<QTimerEvent *>(e)->timerId();
            for (const auto &t : w->timers) {
                if (t.second.first != qtId)
                    continue;
                const UINT_PTR id = t.first;
                if (TIMERPROC proc = t.second.second)
                    proc(m_handle, WM_TIMER, id, 0);
                else
                    SendMessageA(m_handle, WM_TIMER, id, 0);
                return true;
            }
            // A killed timer whose event was already on its way: dropped.
            return true;
        }
        default:
            break;
        }
        if (e->type() == PostedMessage::kind()) {
            auto *m = static_cast<PostedMessage *>(e);
            SendMessageA(m_handle, m->msg, m->wp, m->lp);
            return true;
        }
        return QWidget::event(e);
    }

    void paintEvent(QPaintEvent *) override
    {
        Window *w = lookup(m_handle);
        if (!w)
            return;
        QPainter painter(this);
        DeviceContext dc;
        dc.painter = &painter;
        const HDC hdc = reinterpret_cast<HDC>(&dc);
        w->paintDc = hdc;
        if (!SendMessageA(m_handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0)) {
            // Nobody erased: the class background, if any, shows.
        }
        if (lookup(m_handle))
            SendMessageA(m_handle, WM_PAINT, 0, 0);
        if (Window *still = lookup(m_handle))
            still->paintDc = nullptr;
    }
};

// WM_SIZE whenever the size changes, hidden or not (Qt holds resizes of hidden widgets back).
void reportSize(Window *w)
{
    const QSize s = w->widget ? w->widget->size() : QSize();
    if (!w->widget || s == w->reportedSize)
        return;
    w->reportedSize = s;
    SendMessageA(w->handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(s.width(), s.height()));
}

Window *createWindow(DWORD exStyle, WNDPROC proc, HBRUSH background, const char *className,
                     LPCSTR name, DWORD style, int x, int y, int width, int height, HWND parent,
                     LONG_PTR id, HINSTANCE instance, LPVOID param, DLGPROC dlgProc, WORD pointSize,
                     bool dialog)
{
    Window *parentWindow = parent ? lookup(parent) : nullptr;
    if (parent && !parentWindow)
        return nullptr;
    if ((style & WS_CHILD) && !parentWindow)
        return nullptr;
    auto rec = std::make_unique<Window>();
    const HWND h = reinterpret_cast<HWND>(g_nextHandle += 0x10);
    rec->handle = h;
    rec->parent = parent;
    rec->proc = proc;
    rec->dlgProc = dlgProc;
    rec->background = background;
    rec->style = style;
    rec->exStyle = exStyle;
    rec->id = id;
    rec->pointSize = pointSize;
    rec->text = name ? name : "";
    Window *w = rec.get();
    windows().emplace(h, std::move(rec));
    QWidget *parentWidget = parentWindow ? parentWindow->widget.data() : nullptr;
    auto *widget = new WinWidget(h, parentWidget);
    if (!(style & WS_CHILD) && parentWidget)
        widget->setWindowFlags(Qt::Window | Qt::Tool);
    widget->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
    widget->setWindowTitle(QString::fromUtf8(w->text.c_str()));
    w->widget = widget;

    CREATESTRUCTA cs{param,  instance,  reinterpret_cast<HMENU>(id),
                     parent, height,    width,
                     y,      x,         LONG(style),
                     name,   className, exStyle};
    // A dialog hears WM_INITDIALOG from its maker once its items exist.
    if (!dialog
        && (SendMessageA(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) == 0
            || SendMessageA(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1)) {
        DestroyWindow(h);
        return nullptr;
    }
    if (!lookup(h))
        return nullptr;
    // The size the window was created with is its first WM_SIZE, as on the platform.
    if (!dialog)
        reportSize(w);
    else
        w->reportedSize = widget->size();
    // Hidden on purpose, or Qt would show the child along with its parent.
    if (style & WS_VISIBLE)
        widget->show();
    else
        widget->hide();
    return w;
}

} // namespace

namespace platform::win {

QWidget *widgetOf(HWND hwnd)
{
    Window *w = lookup(hwnd);
    return w ? w->widget.data() : nullptr;
}

void setDestroyHook(HWND hwnd, void (*fn)(void *), void *context)
{
    if (Window *w = lookup(hwnd)) {
        w->destroyHook = fn;
        w->destroyContext = context;
    }
}

} // namespace platform::win

WORD RegisterClassA(const WNDCLASSA *wc)
{
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc)
        return 0;
    const std::string name = lowered(wc->lpszClassName);
    if (classes().count(name))
        return 0;
    classes()[name] = WindowClass{wc->lpfnWndProc, wc->hbrBackground};
    return WORD(0xC000 + classes().size());
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE)
{
    return classes().erase(lowered(className)) ? TRUE : FALSE;
}

namespace {

LRESULT STDMETHODCALLTYPE predefinedProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    Window *w = lookup(hwnd);
    if (!w || !w->widget)
        return 0;
    const bool button = w->isButton;
    switch (msg) {
    case WM_PAINT: {
        auto *dc = reinterpret_cast<DeviceContext *>(w->paintDc);
        if (!dc || !dc->painter)
            return 0;
        const QRect r = w->widget->rect();
        if (button) {
            dc->painter->fillRect(r, w->widget->palette().button());
            dc->painter->drawRect(r.adjusted(0, 0, -1, -1));
        }
        dc->painter->drawText(
            r, (button ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop) | Qt::TextWordWrap,
            QString::fromUtf8(w->text.c_str()));
        return 0;
    }
    case WM_LBUTTONUP:
        if (button && w->parent)
            SendMessageA(w->parent, WM_COMMAND, MAKEWPARAM(WORD(w->id), BN_CLICKED),
                         reinterpret_cast<LPARAM>(hwnd));
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wp, lp);
    }
}

} // namespace

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menuOrId, HINSTANCE instance,
                     LPVOID param)
{
    auto it = classes().find(lowered(className));
    // The predefined control classes: labels and buttons show their text, a button click
    // reaches the parent as WM_COMMAND; the others are plain windows here.
    static const char *const plain[] = {"edit", "listbox", "combobox"};
    const std::string cls = lowered(className);
    WNDPROC proc = nullptr;
    HBRUSH background = nullptr;
    if (it != classes().end()) {
        proc = it->second.proc;
        background = it->second.background;
    } else if (cls == "button" || cls == "static") {
        proc = predefinedProc;
    } else if (std::find(std::begin(plain), std::end(plain), cls) != std::end(plain)) {
        proc = DefWindowProcA;
    } else {
        return nullptr;
    }
    Window *w = createWindow(exStyle, proc, background, className, windowName, style, x, y, width,
                             height, parent, reinterpret_cast<LONG_PTR>(menuOrId), instance, param,
                             nullptr, 8, false);
    if (!w)
        return nullptr;
    w->isButton = cls == "button";
    return w->handle;
}

BOOL DestroyWindow(HWND hwnd)
{
    Window *w = lookup(hwnd);
    if (!w || w->destroying)
        return FALSE;
    w->destroying = true;
    for (auto &t : w->timers)
        if (w->widget)
            w->widget->killTimer(t.second.first);
    w->timers.clear();
    if (w->widget)
        w->widget->hide();
    // The window hears of its end before its children do; its children are gone before it is.
    w->destroying = false;
    SendMessageA(hwnd, WM_DESTROY, 0, 0);
    w->destroying = true;
    std::vector<HWND> children;
    for (const auto &e : windows())
        if (e.second->parent == hwnd)
            children.push_back(e.first);
    for (HWND c : children)
        DestroyWindow(c);
    if (w->destroyHook)
        w->destroyHook(w->destroyContext);
    w->destroying = false;
    SendMessageA(hwnd, WM_NCDESTROY, 0, 0);
    if (w->modalLoop)
        w->modalLoop->quit();
    QPointer<WinWidget> widget = w->widget;
    windows().erase(hwnd);
    if (widget) {
        // The widget may be in the middle of one of its own events; it goes once that is over.
        widget->setParent(nullptr);
        widget->deleteLater();
    }
    return TRUE;
}

BOOL IsWindow(HWND hwnd)
{
    return lookup(hwnd) ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd)
{
    Window *w = lookup(hwnd);
    return w && w->widget && w->widget->isVisible() ? TRUE : FALSE;
}

BOOL ShowWindow(HWND hwnd, int cmdShow)
{
    Window *w = lookup(hwnd);
    if (!w || !w->widget)
        return FALSE;
    const BOOL wasVisible = w->widget->isVisibleTo(w->widget->parentWidget()) ? TRUE : FALSE;
    const bool show = cmdShow != SW_HIDE;
    if (show != bool(wasVisible))
        SendMessageA(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    if (Window *still = lookup(hwnd)) {
        still->widget->setVisible(show);
        if (show)
            still->style |= WS_VISIBLE;
        else
            still->style &= ~DWORD(WS_VISIBLE);
    }
    return wasVisible;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint)
{
    Window *w = lookup(hwnd);
    if (!w || !w->widget)
        return FALSE;
    w->widget->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
    reportSize(w);
    if (!lookup(hwnd))
        return TRUE;
    if (repaint)
        w->widget->update();
    return TRUE;
}

BOOL UpdateWindow(HWND hwnd)
{
    Window *w = lookup(hwnd);
    if (!w || !w->widget)
        return FALSE;
    if (w->widget->isVisible())
        w->widget->repaint();
    return TRUE;
}

BOOL InvalidateRect(HWND hwnd, const RECT *rect, BOOL)
{
    Window *w = lookup(hwnd);
    if (!w || !w->widget)
        return FALSE;
    if (rect)
        w->widget->update(
            QRect(QPoint(rect->left, rect->top), QPoint(rect->right - 1, rect->bottom - 1)));
    else
        w->widget->update();
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect)
{
    Window *w = lookup(hwnd);
    if (!w || !w->widget || !rect)
        return FALSE;
    *rect = RECT{0, 0, w->widget->width(), w->widget->height()};
    return TRUE;
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect)
{
    Window *w = lookup(hwnd);
    if (!w || !w->widget || !rect)
        return FALSE;
    const QRect g = w->widget->geometry();
    *rect = RECT{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
    return TRUE;
}

HWND GetParent(HWND hwnd)
{
    Window *w = lookup(hwnd);
    return w ? w->parent : nullptr;
}

HWND GetDlgItem(HWND dialog, int id)
{
    for (const auto &e : windows())
        if (e.second->parent == dialog && e.second->id == id)
            return e.first;
    return nullptr;
}

int GetDlgCtrlID(HWND hwnd)
{
    Window *w = lookup(hwnd);
    return w ? int(w->id) : 0;
}

BOOL EnableWindow(HWND hwnd, BOOL enable)
{
    Window *w = lookup(hwnd);
    if (!w || !w->widget)
        return FALSE;
    const BOOL wasDisabled = w->widget->isEnabled() ? FALSE : TRUE;
    w->widget->setEnabled(enable);
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND hwnd)
{
    Window *w = lookup(hwnd);
    return w && w->widget && w->widget->isEnabled() ? TRUE : FALSE;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index)
{
    Window *w = lookup(hwnd);
    if (!w)
        return 0;
    switch (index) {
    case GWL_STYLE:
        return LONG_PTR(w->style);
    case GWL_EXSTYLE:
        return LONG_PTR(w->exStyle);
    case GWLP_ID:
        return w->id;
    case GWLP_USERDATA:
        return w->userData;
    case DWLP_MSGRESULT:
        return w->msgResult;
    default:
        return 0;
    }
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value)
{
    Window *w = lookup(hwnd);
    if (!w)
        return 0;
    LONG_PTR *slot = nullptr;
    switch (index) {
    case GWLP_ID:
        slot = &w->id;
        break;
    case GWLP_USERDATA:
        slot = &w->userData;
        break;
    case DWLP_MSGRESULT:
        slot = &w->msgResult;
        break;
    case GWL_STYLE: {
        const LONG_PTR old = LONG_PTR(w->style);
        w->style = DWORD(value);
        return old;
    }
    case GWL_EXSTYLE: {
        const LONG_PTR old = LONG_PTR(w->exStyle);
        w->exStyle = DWORD(value);
        return old;
    }
    default:
        return 0;
    }
    return std::exchange(*slot, value);
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text)
{
    Window *w = lookup(hwnd);
    if (!w)
        return FALSE;
    w->text = text ? text : "";
    if (w->widget)
        w->widget->setWindowTitle(QString::fromUtf8(w->text.c_str()));
    return TRUE;
}

int GetWindowTextA(HWND hwnd, LPSTR text, int max)
{
    Window *w = lookup(hwnd);
    if (!w || !text || max <= 0)
        return 0;
    const int n = std::min<int>(max - 1, int(w->text.size()));
    std::memcpy(text, w->text.data(), std::size_t(n));
    text[n] = 0;
    return n;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Window *w = lookup(hwnd);
    if (!w || !w->proc)
        return 0;
    return w->proc(hwnd, msg, wParam, lParam);
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Window *w = lookup(hwnd);
    if (!w || !w->widget)
        return FALSE;
    QCoreApplication::postEvent(w->widget, new PostedMessage(msg, wParam, lParam));
    return TRUE;
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM)
{
    Window *w = lookup(hwnd);
    if (!w)
        return 0;
    switch (msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_ERASEBKGND:
        if (w->background) {
            RECT r;
            GetClientRect(hwnd, &r);
            FillRect(reinterpret_cast<HDC>(wParam), &r, w->background);
            return 1;
        }
        return 0;
    default:
        return 0;
    }
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc)
{
    Window *w = lookup(hwnd);
    if (!w || !w->widget || w->destroying)
        return 0;
    auto it = w->timers.find(id);
    if (it != w->timers.end())
        w->widget->killTimer(it->second.first);
    // The platform's shortest period is one tick of the loop; a precise Qt timer is the nearest.
    const int qtId = w->widget->startTimer(std::max<int>(int(elapseMs), 1), Qt::PreciseTimer);
    if (qtId == 0)
        return 0;
    w->timers[id] = {qtId, proc};
    return id ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id)
{
    Window *w = lookup(hwnd);
    if (!w)
        return FALSE;
    auto it = w->timers.find(id);
    if (it == w->timers.end())
        return FALSE;
    if (w->widget)
        w->widget->killTimer(it->second.first);
    w->timers.erase(it);
    return TRUE;
}

// ---- Dialogs

namespace {

LRESULT STDMETHODCALLTYPE dialogWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return DefDlgProcA(hwnd, msg, wParam, lParam);
}

Window *createDialog(HINSTANCE instance, LPCDLGTEMPLATEA tmpl, HWND parent, DLGPROC proc)
{
    platform::DialogTemplate t;
    // The binary form carries no size; templates are read as far as their own counts reach.
    if (!tmpl || !platform::parseDialogTemplate(tmpl, 1 << 20, &t))
        return nullptr;
    const SIZE base = platform::dialogBaseUnits(t.pointSize);
    auto px = [&](int v) {
        return v * base.cx / 4;
    };
    auto py = [&](int v) {
        return v * base.cy / 8;
    };
    const DWORD visible = t.style & WS_VISIBLE;
    Window *w = createWindow(t.exStyle, dialogWindowProc, nullptr, "#32770", t.caption.c_str(),
                             t.style & ~DWORD(WS_VISIBLE), px(t.x), py(t.y), px(t.cx), py(t.cy),
                             parent, 0, instance, nullptr, proc, t.pointSize, true);
    if (!w)
        return nullptr;
    const HWND h = w->handle;
    for (const platform::DialogItem &item : t.items) {
        // Predefined classes come as atoms in the binary form.
        std::string cls = item.className;
        if (cls == "#128")
            cls = "button";
        else if (cls == "#129")
            cls = "edit";
        else if (cls == "#130")
            cls = "static";
        CreateWindowExA(item.exStyle, cls.c_str(), item.text.c_str(), item.style | WS_CHILD,
                        px(item.x), py(item.y), px(item.cx), py(item.cy), h,
                        reinterpret_cast<HMENU>(std::uintptr_t(item.id)), instance, nullptr);
    }
    if (visible && lookup(h))
        ShowWindow(h, SW_SHOW);
    return lookup(h);
}

} // namespace

HWND CreateDialogIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA tmpl, HWND parent, DLGPROC proc,
                                LPARAM initParam)
{
    Window *w = createDialog(instance, tmpl, parent, proc);
    if (!w)
        return nullptr;
    const HWND h = w->handle;
    SendMessageA(h, WM_INITDIALOG, 0, initParam);
    return lookup(h) ? h : nullptr;
}

INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA tmpl, HWND parent, DLGPROC proc,
                                LPARAM initParam)
{
    const HWND h = CreateDialogIndirectParamA(instance, tmpl, parent, proc, initParam);
    Window *w = lookup(h);
    if (!w)
        return -1;
    const BOOL parentWasEnabled = parent ? IsWindowEnabled(parent) : FALSE;
    if (parent)
        EnableWindow(parent, FALSE);
    QEventLoop loop;
    if (!w->modalDone) {
        w->modalLoop = &loop;
        w->widget->setWindowModality(Qt::ApplicationModal);
        ShowWindow(h, SW_SHOW);
        loop.exec();
    }
    INT_PTR result = -1;
    if (Window *still = lookup(h)) {
        result = still->modalResult;
        still->modalLoop = nullptr;
        DestroyWindow(h);
    }
    if (parent && parentWasEnabled)
        EnableWindow(parent, TRUE);
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    Window *w = lookup(dialog);
    if (!w)
        return FALSE;
    w->modalDone = true;
    w->modalResult = result;
    if (w->widget)
        w->widget->hide();
    if (w->modalLoop)
        w->modalLoop->quit();
    return TRUE;
}

BOOL MapDialogRect(HWND dialog, LPRECT rect)
{
    Window *w = lookup(dialog);
    if (!w || !rect)
        return FALSE;
    const SIZE base = platform::dialogBaseUnits(w->pointSize);
    rect->left = rect->left * base.cx / 4;
    rect->right = rect->right * base.cx / 4;
    rect->top = rect->top * base.cy / 8;
    rect->bottom = rect->bottom * base.cy / 8;
    return TRUE;
}

LRESULT DefDlgProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Window *w = lookup(hwnd);
    if (!w)
        return 0;
    if (w->dlgProc) {
        w->msgResult = 0;
        const INT_PTR handled = w->dlgProc(hwnd, msg, wParam, lParam);
        Window *still = lookup(hwnd);
        if (msg == WM_INITDIALOG)
            return handled;
        if (handled)
            return still ? still->msgResult : 0;
        if (!still)
            return 0;
    }
    switch (msg) {
    case WM_CLOSE:
        // A dialog's close is a cancel; a modeless one stays unless its procedure acts.
        if (w->modalLoop)
            EndDialog(hwnd, IDCANCEL);
        return 0;
    case WM_ERASEBKGND:
        if (auto *dc = reinterpret_cast<DeviceContext *>(wParam); dc && w->widget)
            dc->painter->fillRect(w->widget->rect(), w->widget->palette().window());
        return 1;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

// ---- Drawing

namespace {
std::map<void *, int> &gdiKinds() // 1 brush, 2 bitmap
{
    static std::map<void *, int> k;
    return k;
}
} // namespace

HBRUSH CreateSolidBrush(COLORREF colour)
{
    auto *b = new Brush{colour};
    gdiKinds()[b] = 1;
    return reinterpret_cast<HBRUSH>(b);
}

BOOL DeleteObject(void *object)
{
    // Brushes and bitmaps are told apart by the table; anything else is not ours.
    auto &k = gdiKinds();
    auto it = k.find(object);
    if (it == k.end())
        return FALSE;
    if (it->second == 1)
        delete reinterpret_cast<Brush *>(object);
    else
        delete reinterpret_cast<Bitmap *>(object);
    k.erase(it);
    return TRUE;
}

int FillRect(HDC dc, const RECT *rect, HBRUSH brush)
{
    auto *d = reinterpret_cast<DeviceContext *>(dc);
    if (!d || !rect || !brush || !d->painter)
        return 0;
    const COLORREF c = reinterpret_cast<Brush *>(brush)->colour;
    d->painter->fillRect(
        QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top),
        toColor(c));
    return 1;
}

HDC CreateCompatibleDC(HDC)
{
    return reinterpret_cast<HDC>(new DeviceContext);
}

HBITMAP CreateCompatibleBitmap(HDC, int width, int height)
{
    auto *b = new Bitmap{QImage(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32)};
    b->image.fill(Qt::black);
    gdiKinds()[b] = 2;
    return reinterpret_cast<HBITMAP>(b);
}

void *SelectObject(HDC dc, void *object)
{
    auto *d = reinterpret_cast<DeviceContext *>(dc);
    auto it = gdiKinds().find(object);
    if (!d || it == gdiKinds().end() || it->second != 2)
        return nullptr;
    Bitmap *old = d->bitmap;
    d->ownPainter.reset();
    d->bitmap = reinterpret_cast<Bitmap *>(object);
    d->ownPainter = std::make_unique<QPainter>(&d->bitmap->image);
    d->painter = d->ownPainter.get();
    return old;
}

BOOL DeleteDC(HDC dc)
{
    auto *d = reinterpret_cast<DeviceContext *>(dc);
    if (!d)
        return FALSE;
    d->ownPainter.reset();
    delete d;
    return TRUE;
}

COLORREF GetPixel(HDC dc, int x, int y)
{
    auto *d = reinterpret_cast<DeviceContext *>(dc);
    QImage *img = d ? d->image() : nullptr;
    if (!img || !img->rect().contains(x, y))
        return CLR_INVALID;
    if (d->painter)
        d->painter->end(); // flush, then carry on drawing on a fresh painter
    const QRgb p = img->pixel(x, y);
    if (d->ownPainter) {
        d->ownPainter = std::make_unique<QPainter>(img);
        d->painter = d->ownPainter.get();
    }
    return RGB(qRed(p), qGreen(p), qBlue(p));
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT *paint)
{
    Window *w = lookup(hwnd);
    if (!w || !paint)
        return nullptr;
    paint->hdc = w->paintDc;
    paint->fErase = FALSE;
    GetClientRect(hwnd, &paint->rcPaint);
    return w->paintDc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT *)
{
    return TRUE;
}
