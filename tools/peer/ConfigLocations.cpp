#include "peer/ConfigLocations.h"

#include <QDir>
#include <QFileInfo>

QStringList ConfigLocations::candidates(const QString &relative, const QString &settingsPath)
{
    QStringList locations;
    if (!settingsPath.isEmpty())
        locations << QDir(settingsPath).filePath(relative);
    locations << QDir::current().filePath(QStringLiteral("config/") + relative);
#ifdef RARAROZ_PEER_SOURCE_CONFIG
    locations << QStringLiteral(RARAROZ_PEER_SOURCE_CONFIG "/") + relative;
#endif
    locations << QStringLiteral("/opt/talvo/configurations/") + relative;
    return locations;
}

QString ConfigLocations::find(const QString &relative, const QString &settingsPath)
{
    for (const QString &location : candidates(relative, settingsPath))
        if (QFileInfo::exists(location))
            return location;
    return QString();
}
