// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <initializer_list>

// Collects the Qt messages issued while it lives, in place of the default handler.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    // Texts of the warnings so far, in order; clears them.
    QStringList takeWarnings();
    // Messages of any kind that carried a source location (the engine issues none).
    int messagesWithLocation() const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);
};

// One part of a message as the debug stream writes it: literal text as it stands, Qt strings in
// double quotes.
struct Part
{
    Part(const char *literal)
        : text(QString::fromUtf8(literal))
    {}
    QString text;
};
Part quoted(const QString &value);

// The whole text of a message written part by part, one space between parts.
QString message(std::initializer_list<Part> parts);
