// SPDX-License-Identifier: MIT
#include "upgradetexts.h"

#include <QDateTime>

namespace Olvane {

QString describeResult(UpgradeOpError error)
{
    switch (error) {
    case UpgradeOpSuccess:
        return QStringLiteral("success");
    case UpgradeOpNoPacket:
        return QStringLiteral("nothing to download: no module was chosen");
    case UpgradeOpEnvCheckFailed:
        return QStringLiteral("cannot install here: the program is not writable, the disk is "
                              "too full, or no backup folder could be made");
    case UpgradeOpNetworkFailed:
        return QStringLiteral("network failure: the upgrade server could not be reached, "
                              "refused the request, or a packet did not arrive whole");
    case UpgradeOpCreateDirFailed:
        return QStringLiteral("the temporary folder for the packets could not be made");
    case UpgradeOpReadServerCfgFailed:
        return QStringLiteral("the upgrade server list could not be read");
    case UpgradeOpWriteFileFailed:
        return QStringLiteral("a file could not be written; any partial installation was "
                              "rolled back");
    case UpgradeOpReadSolutionFailed:
        return QStringLiteral("the list of installed modules could not be read");
    case UpgradeOpWriteSolutionFailed:
        return QStringLiteral("the list of installed modules could not be written");
    case UpgradeOpUnpackFailed:
        return QStringLiteral("a packet could not be unpacked: it is damaged or not an archive");
    }
    return QStringLiteral("unknown result %1").arg(int(error));
}

QString formatMegabytes(double megabytes)
{
    if (megabytes > 0 && megabytes < 1.0)
        return QStringLiteral("%1 KB").arg(qRound(megabytes * 1024));
    return QStringLiteral("%1 MB").arg(megabytes, 0, 'f', 1);
}

QString formatReleaseDate(qint64 releaseDate)
{
    if (releaseDate <= 0)
        return QStringLiteral("-");
    // Servers give a day as yyyyMMdd, or milliseconds since the epoch; other numbers are
    // plain serials.
    if (releaseDate < 100000000000LL) {
        const QDate day = QDate::fromString(QString::number(releaseDate), "yyyyMMdd");
        return day.isValid() ? day.toString("yyyy-MM-dd") : QString::number(releaseDate);
    }
    return QDateTime::fromMSecsSinceEpoch(releaseDate, Qt::UTC).toString("yyyy-MM-dd");
}

} // namespace Olvane
