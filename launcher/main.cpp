// SPDX-License-Identifier: MIT
#include "copydir.h"
#include "cqelapplication.h"
#include "cupgrade.h"
#include "launcherlog.h"
#include "mainframehost.h"
#include "messagefilter.h"
#include "startup.h"

#include <brevant/brevant.h>
#include <hestal/hestal.h>

#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QObject>
#include <QPluginLoader>
#include <QProcess>
#include <quistal/quistal.h>

#include <memory>

namespace {

// Moves the staged upgrade tool over the installed one and hands over to it. Both steps report
// their own failures; the exit code stays the run's result either way.
void stageAndStartUpgradeTool()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    copyDir(appDir + "/Tmp/Packet/Upgrade", appDir + "/Upgrade");
    CUpgrade::startUpgradeTool(QString());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QCoreApplication::setAttribute(Qt::AA_UseSoftwareOpenGL);

    auto app = std::make_unique<CQelApplication>(argc, argv);
    // Resolved against the directory the launcher was started in, before it moves.
    QApplication::setWindowIcon(QIcon(QStringLiteral("./app.ico")));
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    try {
        KvSdk::KVSDKFactory::SetAppName("Norvane");
        ZorGUI::SetAppName(QStringLiteral("Norvane"));
        CDebugLog::Instance()->Init();
        installMessageFilter();
        if (!setLibrarySearchPath()) {
            LauncherLog::warning() << QObject::tr("Set library search path failed!");
            app.reset();
            return -1;
        }
    } catch (...) {
        LauncherLog::warning() << QObject::tr("CDebugLog::Instance Init failed!");
        app.reset();
        return -1;
    }

    LaunchOptions options;
    parseCommandLine(&options);
    // Taken before any run: an upgrade of the launcher during a run replaces this file, and the
    // name read afterwards would lead to the removed one.
    const QString programFile = moduleFileName();

    auto loader = std::make_unique<QPluginLoader>();
    int result = loadMainFramePlugin(loader.get(), options.pluginArgument);
    switch (result) {
    case MainFrameRestart:
        QProcess::startDetached(QCoreApplication::applicationFilePath(), QStringList());
        break;
    case MainFrameUpgrade:
        loader->unload();
        stageAndStartUpgradeTool();
        break;
    case MainFrameRunAgain:
        loader->unload();
        result = loadMainFramePlugin(loader.get(), std::string());
        if (result == MainFrameRestart) {
            QProcess::startDetached(programFile, QStringList());
        } else if (result == MainFrameUpgrade) {
            loader->unload();
            stageAndStartUpgradeTool();
        }
        break;
    default:
        break;
    }

    loader->unload();
    CDebugLog::Instance()->UnInit();
    loader.reset();
    app.reset();
    return result;
}
