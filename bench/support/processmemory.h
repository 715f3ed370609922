// SPDX-License-Identifier: MIT
// Proportional memory (PSS) of a process, and of this process with its descendants (a browser
// engine's helper processes), in KiB, from /proc.
#pragma once

#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <map>

namespace BenchSupport {

inline long pssOf(pid_t pid)
{
    QFile f(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').first().toLong();
    return 0;
}

inline long pssWithHelpers()
{
    std::map<pid_t, pid_t> parent;
    for (const QString &e : QDir("/proc").entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = e.toInt(&ok);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!ok || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        parent[pid] = line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toInt();
    }
    long total = 0;
    for (const auto &p : parent)
        for (pid_t up = p.first; up > 1; up = parent.count(up) ? parent[up] : 0)
            if (up == getpid()) {
                total += pssOf(p.first);
                break;
            }
    return total;
}

} // namespace BenchSupport
