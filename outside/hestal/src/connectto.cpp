// SPDX-License-Identifier: MIT
#include "connectto.h"

#include <QRegularExpression>

namespace ConnectTo {

namespace {

const char kVariable[] = "HESTAL_CONNECT_TO";

// A host name or IPv4 address, or an IPv6 address in brackets.
bool isHost(const QString &host)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9._-]+$"));
    static const QRegularExpression ipv6(QStringLiteral("^\\[[0-9A-Fa-f:.]+\\]$"));
    return name.match(host).hasMatch() || ipv6.match(host).hasMatch();
}

bool isPort(const QString &port)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    return digits.match(port).hasMatch() && port.toInt() >= 1 && port.toInt() <= 65535;
}

// Cuts entry into its four fields; a bracketed host may hold colons.
QStringList fieldsOf(const QString &entry)
{
    QStringList fields;
    QString field;
    bool inBrackets = false;
    for (const QChar c : entry) {
        if (c == QLatin1Char('['))
            inBrackets = true;
        else if (c == QLatin1Char(']'))
            inBrackets = false;
        if (c == QLatin1Char(':') && !inBrackets) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

// Empty when entry is sound, otherwise what is wrong with it.
QString problemOf(const QString &entry)
{
    const QStringList fields = fieldsOf(entry);
    if (fields.size() != 4)
        return QStringLiteral("it needs four fields, host:port:connect-host:connect-port");
    if (!isHost(fields[0]))
        return QStringLiteral("\"%1\" is not a host name").arg(fields[0]);
    if (!isPort(fields[1]))
        return QStringLiteral("\"%1\" is not a port from 1 to 65535").arg(fields[1]);
    if (!isHost(fields[2]))
        return QStringLiteral("\"%1\" is not a host name").arg(fields[2]);
    if (!isPort(fields[3]))
        return QStringLiteral("\"%1\" is not a port from 1 to 65535").arg(fields[3]);
    return QString();
}

} // namespace

bool parseMap(const QString &text, QList<QByteArray> &entries, QString &error)
{
    entries.clear();
    error.clear();
    static const QRegularExpression separators(QStringLiteral("[,;]"));
    for (const QString &raw : text.split(separators)) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        const QString problem = problemOf(entry);
        if (!problem.isEmpty()) {
            error = QStringLiteral("%1: malformed entry \"%2\": %3")
                        .arg(QLatin1String(kVariable), entry, problem);
            entries.clear();
            return false;
        }
        entries << entry.toLatin1();
    }
    return true;
}

bool mapFromEnvironment(QList<QByteArray> &entries, QString &error)
{
    return parseMap(qEnvironmentVariable(kVariable), entries, error);
}

} // namespace ConnectTo
