// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

namespace TestSupport {

// One message as the capture's handler saw it.
struct CapturedMessage
{
    QtMsgType type;
    QString text;
    bool hasLocation; // a source file came with it
    int line;
    bool hasFunction;
};

// Installs itself as Qt's message handler for its lifetime and records every message of the
// process (any thread), in order. The record is shared: one capture at a time.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    std::vector<CapturedMessage> messages() const;
    QStringList texts() const;
    bool contains(const QString &text) const;
    QStringList warnings() const;
    // Texts of the warnings since the last take, in order.
    QStringList takeWarnings();
    // Messages of any kind that came with a file, a line or a function.
    int messagesWithLocation() const;

    // Usable as a previous handler behind another one.
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);
    static void clear();
    // What the handler recorded, also while no capture is installed.
    static std::vector<CapturedMessage> recorded();

private:
    QtMessageHandler m_previous;
};

} // namespace TestSupport
