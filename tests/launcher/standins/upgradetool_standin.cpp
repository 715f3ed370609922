// SPDX-License-Identifier: MIT
// An upgrade tool that only records how it was started: its arguments, working directory and
// process id go to "upgrade-record.json" next to the program file.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    QJsonObject record;
    record["pid"] = QCoreApplication::applicationPid();
    record["program"] = QCoreApplication::applicationFilePath();
    record["arguments"] = QJsonArray::fromStringList(arguments);
    record["cwd"] = QDir::currentPath();

    // Written under another name first so that a reader never sees half a record.
    const QString path = QCoreApplication::applicationDirPath() + "/upgrade-record.json";
    QFile out(path + ".part");
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    out.write(QJsonDocument(record).toJson(QJsonDocument::Compact));
    out.close();
    return QFile::rename(path + ".part", path) ? 0 : 1;
}
