#pragma once

#include <QSet>
#include <QStringList>

#include "peer/MessageDefinitions.h"
#include "peer/ReceivedMessage.h"

// The monitor's --only and --except: lists of names, identifiers or name
// patterns with * and ?, comma-separated or repeated.
class MessageFilter
{
public:
    // False with error naming the first pattern that selects nothing.
    bool set(const MessageDefinitions &definitions, const QStringList &only, const QStringList &except, QString &error);

    bool accepts(quint16 id) const;
    // Frames that belong to no message have no identifier: shown unless the
    // monitor was asked for particular messages only.
    bool acceptsUnidentified() const { return _only.isEmpty(); }
    // Whether the monitor shows it: a message by its identifier, a broken
    // frame as an unidentified one.
    bool shows(const ReceivedMessage &message) const
    {
        return message.isMessage() ? accepts(message.id) : acceptsUnidentified();
    }
    bool isActive() const { return !_only.isEmpty() || !_except.isEmpty(); }

private:
    QSet<quint16> _only;
    QSet<quint16> _except;
};
