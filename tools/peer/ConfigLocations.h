#pragma once

#include <QStringList>

// Where the tool looks for a shipped configuration file given by its path
// below the configuration folder ("Messages/Peer.conf"): the folder of
// settings given, the working folder's config/, the source tree's, and the
// service's installed configuration, in that order.
class ConfigLocations
{
public:
    static QStringList candidates(const QString &relative, const QString &settingsPath = QString());
    // The first candidate that exists; empty when none does.
    static QString find(const QString &relative, const QString &settingsPath = QString());
};
