// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>
#include <vector>

namespace LauncherTest {

// One message as a message handler saw it.
struct CapturedMessage
{
    QtMsgType type;
    QString text;
    bool hasLocation;
};

// Installs itself as Qt's message handler for its lifetime and records every message.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    std::vector<CapturedMessage> messages() const;
    QStringList texts() const;

    // Usable as a previous handler behind another one.
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);
    static void clear();
    // What the handler recorded, also while no capture is installed.
    static std::vector<CapturedMessage> recorded();

private:
    QtMessageHandler m_previous;
};

QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &data);
// Copies a file, making the folders on the way and keeping its permissions.
bool copyFile(const QString &from, const QString &to);

} // namespace LauncherTest
