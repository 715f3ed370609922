// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The connect-to map: requests for one host and port go to another, while the address, the
// Host header and the certificate check keep the name asked for. HESTAL_CONNECT_TO holds entries
// "host:port:connect-host:connect-port" separated by "," or ";"; hosts that are IPv6 addresses
// go in brackets ("[::1]").
namespace ConnectTo {

// Splits text into entries in the form libcurl takes them. False at the first malformed entry,
// with error naming it and saying what is wrong; empty entries are skipped.
bool parseMap(const QString &text, QList<QByteArray> &entries, QString &error);

// parseMap on HESTAL_CONNECT_TO; an unset or empty variable is an empty map.
bool mapFromEnvironment(QList<QByteArray> &entries, QString &error);

} // namespace ConnectTo
