// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Folder walks that see every entry, also the ones whose names the file-name encoding cannot
// carry: Qt's listings leave those out without a word, so a copy would skip them and a removal
// would stop at them. Links are never followed.
namespace RawNames {

// The path (as far as it can be shown) of the first entry under dir whose name the file-name
// encoding cannot carry; empty when there is none. Looks into subfolders when recursive.
QString firstUnreadableName(const QString &dir, bool recursive);

// Whether anything other than a folder lies anywhere under root.
bool holdsFiles(const QString &root);

// Removes path with everything under it; true when nothing of it is left.
bool removeAll(const QString &path);

} // namespace RawNames
