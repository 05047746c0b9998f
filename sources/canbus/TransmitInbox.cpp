#include "canbus/TransmitInbox.h"

namespace Can {

bool TransmitInbox::push(Can_Id can_Id, const FrameList &frames)
{
    QMutexLocker lock(&_mutex);
    _messages.append(Message{can_Id, frames});
    if (_stepComing)
        return false;
    _stepComing = true;
    return true;
}

QVector<TransmitInbox::Message> TransmitInbox::take()
{
    QVector<Message> messages;
    QMutexLocker lock(&_mutex);
    messages.swap(_messages);
    return messages;
}

bool TransmitInbox::settle(bool stepComing)
{
    QMutexLocker lock(&_mutex);
    if (!_messages.isEmpty())
        return false;
    _stepComing = stepComing;
    return true;
}

} // namespace Can
