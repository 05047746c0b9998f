#pragma once

#include <QList>
#include <QVariantList>

// One of the simulator's two outgoing lists (broadcasts, or responses with
// confirmation requests and alarm status): action lists queued by the
// handlers during a tick and handed on, in queue order, by the next tick.
class OutgoingMessages
{
public:
    void enqueue(const QVariantList &message);
    // Once anything has been queued the list is flushed on every tick.
    bool isReady() const { return _isReady; }
    QList<QVariantList> takeAll();
    int size() const { return _messages.size(); }

private:
    QList<QVariantList> _messages;
    bool _isReady = false;
};
