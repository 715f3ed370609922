// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Copies the tree under srcDir into strDstDir, replacing files of the same name, and removes
// srcDir once everything was copied. Symbolic links are copied as files and never followed into.
// The destination is created when missing (its parent must exist). Returns true when every
// entry was copied; a failure stops the copy and leaves the source in place.
bool copyDir(const QString &srcDir, const QString &strDstDir);
