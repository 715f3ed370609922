// SPDX-License-Identifier: MIT
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace LauncherTest {

namespace {

std::mutex g_mutex;
std::vector<CapturedMessage> g_messages;

} // namespace

MessageCapture::MessageCapture()
{
    clear();
    m_previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(m_previous);
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_messages.push_back({type, text, context.file != nullptr});
}

void MessageCapture::clear()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_messages.clear();
}

std::vector<CapturedMessage> MessageCapture::recorded()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_messages;
}

std::vector<CapturedMessage> MessageCapture::messages() const
{
    return recorded();
}

QStringList MessageCapture::texts() const
{
    QStringList result;
    for (const CapturedMessage &message : messages())
        result << message.text;
    return result;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size();
}

bool copyFile(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    if (!QFile::copy(from, to))
        return false;
    return QFile::setPermissions(to, QFile::permissions(from));
}

} // namespace LauncherTest
