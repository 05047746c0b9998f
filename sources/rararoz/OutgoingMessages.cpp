#include "rararoz/OutgoingMessages.h"

void OutgoingMessages::enqueue(const QVariantList &message)
{
    _messages.append(message);
    _isReady = true;
}

QList<QVariantList> OutgoingMessages::takeAll()
{
    QList<QVariantList> taken;
    taken.swap(_messages);
    return taken;
}
