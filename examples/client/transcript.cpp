// SPDX-License-Identifier: MIT
#include "transcript.h"

#include <QFile>

#include <cstdio>

namespace Olvane {

Transcript::Transcript(const QString &file)
    : m_file(file)
{}

void Transcript::line(const QString &step, const QString &text)
{
    write(step + ": " + text);
}

void Transcript::detail(const QString &text)
{
    write("    " + text);
}

void Transcript::write(const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
    if (m_file.isEmpty())
        return;
    QFile out(m_file);
    if (out.open(QIODevice::WriteOnly | QIODevice::Append))
        out.write(bytes);
}

} // namespace Olvane
