// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace Olvane {

// The plain record of an unattended run: one line per step, "<step>: <what happened>", printed
// on the standard output and, when a file is named, appended to it as well (a restarted copy of
// the launcher adds to the same file).
class Transcript
{
public:
    explicit Transcript(const QString &file = QString());

    void line(const QString &step, const QString &text);
    // Indented detail under the last step.
    void detail(const QString &text);

private:
    void write(const QString &text);

    QString m_file;
};

} // namespace Olvane
