#pragma once

#include <QHash>
#include <QVariant>
#include <QVariantList>

#include <optional>

#include "MessageGlobals.h"

// The UI's requests waiting for the handler that serves them: the last
// received, not yet served request of each message ID. A request is parked
// when it arrives and taken by the handler of the chart state that serves
// it; until then a later request of the same ID replaces it.
class ReceivedRequests
{
public:
    enum Kind { WithFields, WithoutFields, CheckIn };
    struct Request {
        Can::Message_ID_Enum id;
        Kind kind;
        int bytesRead; // payload bytes the serving handler reads
    };

    // Every request the simulator takes; the shipped message definitions
    // must cover each of them.
    static QList<Request> requests();

    // Parks an incoming action list [ID, sequence, payload...] by its ID:
    // the payload bytes of a request that carries fields, the marker 0 of
    // one that carries none, the sequence of a check-in. Lists too short
    // for their kind are reported on the debug console and dropped; other
    // IDs are ignored.
    void receive(const QVariantList &message);

    bool isParked(Can::Message_ID_Enum id) const;
    // The parked value, or a null variant when none.
    QVariant peek(Can::Message_ID_Enum id) const;
    // Takes the request out: it is served once.
    std::optional<QVariant> take(Can::Message_ID_Enum id);
    void clear(Can::Message_ID_Enum id);

private:
    QHash<quint16, QVariant> _parked;
};
