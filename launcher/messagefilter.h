// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <atomic>

// The handler that was installed before messageFilter; messages that pass the filter go on to it.
extern std::atomic<QtMessageHandler> previousMessageHandler;

// Drops messages without a source location and those of noisy framework files, writes
// information, warning, critical and fatal messages to the print log, and passes the rest on to
// previousMessageHandler.
void messageFilter(QtMsgType type, const QMessageLogContext &context, const QString &message);

// Installs messageFilter and keeps the handler it replaces in previousMessageHandler.
void installMessageFilter();
