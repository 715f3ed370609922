// SPDX-License-Identifier: MIT
#pragma once

#include "upgradetypes.h"

#include <QString>
#include <QVector>

// Pieces of the version query that do not need a network: the request's scheme and token, and
// the reader of the server's JSON answer.
namespace VersionQuery {

enum class AnswerResult {
    Ok,          // every offered module was read
    NotJson,     // the body does not parse as JSON
    ErrorCode,   // "retcode" is a non-zero integer
    FormatError, // a member has the wrong kind, or a module lacks its id or an address
};

// "http://" for the servers named exactly "test" or "inter", "https://" for every other name.
QString requestScheme(const QString &serverName);

// MD5 of the UTF-8 bytes of the request path followed by the key, as 32 lowercase hex digits.
QString requestToken(const QString &requestPath, const QString &key);

// Appends the offered modules of an answer body to serverList, in answer order. On a failure
// inside the module list, the modules read before it stay appended. Logs nothing and throws
// nothing, whatever the body holds.
AnswerResult readVersionAnswer(const QString &body, QVector<ModuleVersion> &serverList);

} // namespace VersionQuery
