// SPDX-License-Identifier: MIT
// The plug-in's root: the launcher loads it from the solutions folder and calls Run, which holds
// the client's whole use. Its result tells the launcher what to do next.
#include "iwidget.h"
#include "mainwindow.h"
#include "modulesview.h"
#include "unattended.h"

#include <QApplication>
#include <QPointer>
#include <QStatusBar>
#include <QStyleFactory>
#include <QTimer>

#include <memory>

namespace {

constexpr int kRestart = 1;

} // namespace

class OlvanePlugin : public QObject, public IWidget
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IWidget_iid)
    Q_INTERFACES(IWidget)

public:
    QWidget *MainWidget() override { return m_window; }

    int Run(const std::string &text) override
    {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            return -1;
        const Olvane::ClientOptions options = Olvane::ClientOptions::fromEnvironment();
        // The same look on every platform, and in the pictures the unattended mode saves.
        if (QStyle *style = QStyleFactory::create("Fusion"))
            QApplication::setStyle(style);
        auto window = std::make_unique<Olvane::MainWindow>(options);
        m_window = window.get();
        window->statusBar()->showMessage(QString::fromStdString(text) + "  |  "
                                         + window->statusBar()->currentMessage());
        int result = 0;
        std::unique_ptr<Olvane::UnattendedRun> unattended;
        if (options.unattended) {
            unattended = std::make_unique<Olvane::UnattendedRun>(options, *window);
            QObject::connect(unattended.get(), &Olvane::UnattendedRun::finished,
                             [&result](int code) {
                                 result = code;
                                 QCoreApplication::exit(code);
                             });
            window->show();
            QTimer::singleShot(0, unattended.get(), &Olvane::UnattendedRun::start);
        } else {
            // After an installation the client starts afresh, so that the new files are used.
            QObject::connect(window->modules(), &Olvane::ModulesView::restartWanted, window.get(),
                             [&result, w = window.get()] {
                                 result = kRestart;
                                 w->statusBar()->showMessage(
                                     QObject::tr("Installed; starting afresh..."));
                                 QTimer::singleShot(1500, w, [] { QCoreApplication::exit(0); });
                             });
            window->show();
        }
        QApplication::setQuitOnLastWindowClosed(true);
        QApplication::exec();
        // Nothing of the plug-in may outlive the run: the launcher unloads it next.
        unattended.reset();
        window.reset();
        m_window = nullptr;
        return result;
    }

private:
    QPointer<QWidget> m_window;
};

#include "olvaneplugin.moc"
