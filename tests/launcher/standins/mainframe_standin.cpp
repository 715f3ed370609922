// SPDX-License-Identifier: MIT
// A main frame plug-in that plays a script: each run takes the next result from
// "mainframe-script.txt" and appends what it saw to "mainframe-record.jsonl". Both live in the
// folder named by NORVANE_STANDIN_DIR, or else in the program directory.
#include "iwidget.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageLogger>
#include <QObject>
#include <QStringList>

#include <cstdio>

namespace {

QString standInDir()
{
    if (qEnvironmentVariableIsSet("NORVANE_STANDIN_DIR"))
        return qEnvironmentVariable("NORVANE_STANDIN_DIR");
    return QCoreApplication::applicationDirPath();
}

// Puts a fresh copy of the launcher's file in its place, as an upgrade of the launcher does: the
// running program's file is then gone, and the name leads to the new one.
void replaceProgram()
{
    const QByteArray program
        = QFile::encodeName(QCoreApplication::applicationDirPath() + "/Norvane");
    const QByteArray fresh = program + ".new";
    if (!QFile::copy(QFile::decodeName(program), QFile::decodeName(fresh))
        || std::rename(fresh.constData(), program.constData()) != 0)
        qFatal("could not replace the program file");
}

// Takes the first line of the script and writes the rest back; 0 once the script is used up.
// A line is a result, optionally followed by "replace": the launcher's file is replaced first.
int nextResult(const QString &scriptPath)
{
    QFile script(scriptPath);
    if (!script.open(QIODevice::ReadOnly))
        return 0;
    QStringList lines = QString::fromUtf8(script.readAll()).split('\n', Qt::SkipEmptyParts);
    script.close();
    if (lines.isEmpty())
        return 0;
    const QStringList line = lines.takeFirst().split(' ', Qt::SkipEmptyParts);
    if (script.open(QIODevice::WriteOnly | QIODevice::Truncate))
        script.write(lines.join('\n').toUtf8());
    if (line.value(1) == "replace")
        replaceProgram();
    return line.value(0).toInt();
}

} // namespace

class MainFrameStandIn : public QObject, public IWidget
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IWidget_iid)
    Q_INTERFACES(IWidget)

public:
    QWidget *MainWidget() override { return nullptr; }

    int Run(const std::string &text) override
    {
        // One message of the client's own and one of a framework source that the launcher's
        // filter drops, so that runs show what reaches the print log.
        QMessageLogger(__FILE__, __LINE__, Q_FUNC_INFO).warning("main frame run: %s", text.c_str());
        QMessageLogger("gui/kernel/qwidget.cpp", 1, "QWidget::noise").warning("framework noise");

        const QString dir = standInDir();
        const int result = nextResult(dir + "/mainframe-script.txt");

        QJsonObject record;
        record["pid"] = QCoreApplication::applicationPid();
        record["text"] = QString::fromStdString(text);
        record["path"] = QString::fromLocal8Bit(qgetenv("PATH"));
        record["cwd"] = QDir::currentPath();
        record["arguments"] = QJsonArray::fromStringList(QCoreApplication::arguments());
        record["result"] = result;
        QFile out(dir + "/mainframe-record.jsonl");
        if (out.open(QIODevice::WriteOnly | QIODevice::Append))
            out.write(QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n');
        return result;
    }
};

#include "mainframe_standin.moc"
