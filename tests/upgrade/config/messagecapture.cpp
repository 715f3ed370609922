// SPDX-License-Identifier: MIT
#include "messagecapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex g_mutex;
QStringList g_warnings;
int g_withLocation = 0;
QtMessageHandler g_previous = nullptr;

} // namespace

MessageCapture::MessageCapture()
{
    QMutexLocker lock(&g_mutex);
    g_warnings.clear();
    g_withLocation = 0;
    g_previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(g_previous);
}

QStringList MessageCapture::takeWarnings()
{
    QMutexLocker lock(&g_mutex);
    QStringList out;
    out.swap(g_warnings);
    return out;
}

int MessageCapture::messagesWithLocation() const
{
    QMutexLocker lock(&g_mutex);
    return g_withLocation;
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    QMutexLocker lock(&g_mutex);
    if (context.file != nullptr || context.line != 0 || context.function != nullptr)
        ++g_withLocation;
    if (type == QtWarningMsg)
        g_warnings.append(text);
}

Part quoted(const QString &value)
{
    QString text = value;
    text.replace('\\', "\\\\").replace('"', "\\\"");
    Part part("");
    part.text = '"' + text + '"';
    return part;
}

QString message(std::initializer_list<Part> parts)
{
    QStringList texts;
    for (const Part &part : parts)
        texts.append(part.text);
    return texts.join(' ');
}
