// SPDX-License-Identifier: MIT
#include "mainframehost.h"

#include "iwidget.h"
#include "launcherlog.h"
#include "outsidefiles.h"

#include <hestal/hestal.h>

#include <QDir>
#include <QPluginLoader>

int loadMainFramePlugin(QPluginLoader *loader, std::string argument)
{
    if (!loader)
        return MainFrameLoadFailed;

    // The solutions path is expected to end with a separator; nothing is inserted here.
    const QString path = QGetSolutionsDirPath() + OutsideFiles::kMainFramePlugin;
    // The loader itself would look for a relative name along the library paths; the solutions
    // directory is meant relative to the working directory.
    loader->setFileName(QDir::current().absoluteFilePath(path));
    QObject *root = loader->instance();
    if (!root) {
        LauncherLog::warning() << "load plugin " << path
                               << " failed!, error=" << loader->errorString().toUtf8();
        return MainFrameLoadFailed;
    }

    IWidget *widget = qobject_cast<IWidget *>(root);
    if (!widget) {
        LauncherLog::warning() << "qobject_cast plugin " << path << " failed!";
        return MainFrameLoadFailed;
    }

    std::string text = "Norvane";
    if (!argument.empty())
        text += " " + argument;
    return widget->Run(text);
}
