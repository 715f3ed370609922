// SPDX-License-Identifier: MIT
#pragma once

#include "upgradetypes.h"

#include <QString>

namespace Olvane {

// What an engine result means, in words a person understands.
QString describeResult(UpgradeOpError error);
// A size given in megabytes, as "1.5 MB" (or "640 KB" below one megabyte).
QString formatMegabytes(double megabytes);
// A release date as a day (from yyyyMMdd or milliseconds since the epoch), else the number it
// is; "-" when unset.
QString formatReleaseDate(qint64 releaseDate);

} // namespace Olvane
