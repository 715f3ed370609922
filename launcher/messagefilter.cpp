// SPDX-License-Identifier: MIT
#include "messagefilter.h"

#include <QByteArray>
#include <QString>
#include <qrl/qrl.h>

#include <cstring>

std::atomic<QtMessageHandler> previousMessageHandler{nullptr};

namespace {

// Framework sources whose messages are only noise to the client's log.
const char *const kDroppedSources[] = {
    "qobject.cpp", "qstylesheetstyle.cpp", "qwidget.cpp",    "qwindowswindow.cpp",
    "qlayout.cpp", "qpnghandler.cpp",      "qcssparser.cpp",
};

// Print log level of a message type; 0 for types that are not written.
int printLogLevel(QtMsgType type)
{
    switch (type) {
    case QtInfoMsg:
        return 4;
    case QtWarningMsg:
        return 5;
    case QtCriticalMsg:
    case QtFatalMsg:
        return 6;
    case QtDebugMsg:
        break;
    }
    return 0;
}

bool isDroppedSource(const char *file)
{
    const QByteArray lower = QByteArray(file).toLower();
    for (const char *name : kDroppedSources) {
        if (lower.contains(name))
            return true;
    }
    return false;
}

} // namespace

void messageFilter(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray utf8 = message.toUtf8();
    if (!context.function || !*context.function || !context.file || !*context.file)
        return;
    if (isDroppedSource(context.file))
        return;

    if (const int level = printLogLevel(type)) {
        // The message goes in as an argument, so format directives in it are recorded as text.
        qrl::DPrintLog::instance()->Log(context.file, context.line, context.function, "", level,
                                        "%s", utf8.constData());
    }
    if (QtMessageHandler previous = previousMessageHandler.load())
        previous(type, context, message);
}

void installMessageFilter()
{
    previousMessageHandler.store(qInstallMessageHandler(messageFilter));
}
