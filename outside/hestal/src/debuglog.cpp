// SPDX-License-Identifier: MIT
#include <hestal/hestal.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace {

QString logPath()
{
    if (qEnvironmentVariableIsSet("HESTAL_DEBUGLOG"))
        return qEnvironmentVariable("HESTAL_DEBUGLOG");
    return QDir::current().absoluteFilePath(QStringLiteral("Log/debug.log"));
}

} // namespace

struct CDebugLog::Private
{
    mutable QMutex lock;
    QFile file;

    // Caller holds the lock. A text of several lines gives several stamped lines, so that every
    // line of the file can be read on its own.
    bool writeLine(const QString &text)
    {
        if (!file.isOpen())
            return false;
        QByteArray prefix = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8();
        prefix += " [";
        prefix += QByteArray::number(QCoreApplication::applicationPid());
        prefix += "] ";
        QByteArray lines;
        for (const QString &part : text.split(QLatin1Char('\n'))) {
            lines += prefix;
            lines += part.toUtf8();
            lines += '\n';
        }
        // Flushed at once so that a crash keeps everything written before it.
        return file.write(lines) == lines.size() && file.flush();
    }
};

CDebugLog::CDebugLog()
    : d(new Private)
{}

CDebugLog::~CDebugLog() = default;

CDebugLog *CDebugLog::Instance()
{
    static CDebugLog instance;
    return &instance;
}

int CDebugLog::Init()
{
    QMutexLocker lock(&d->lock);
    if (d->file.isOpen())
        return 0;
    const QString path = logPath();
    if (path.isEmpty())
        return -1;
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir))
        return -1;
    d->file.setFileName(path);
    if (!d->file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return -1;
    return d->writeLine(QStringLiteral("debug log started")) ? 0 : -1;
}

int CDebugLog::UnInit()
{
    QMutexLocker lock(&d->lock);
    if (!d->file.isOpen())
        return -1;
    const bool written = d->writeLine(QStringLiteral("debug log stopped"));
    d->file.close();
    return written ? 0 : -1;
}

bool CDebugLog::Write(const QString &text)
{
    QMutexLocker lock(&d->lock);
    return d->writeLine(text);
}

QString CDebugLog::FilePath() const
{
    QMutexLocker lock(&d->lock);
    return d->file.isOpen() ? d->file.fileName() : QString();
}
