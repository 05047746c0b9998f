#include "canbus/MessageAcknowModel.h"

#include "storage/Logger.h"
#include "canbus/MessageDispatcher.h"
#include "Threads.h"

namespace Can {

MessageAcknowModel::MessageAcknowModel(QObject *parent)
    : QObject(parent)
{
}

bool MessageAcknowModel::init()
{
    if (_init)
        return false;
    _init = true;
    MessageDispatcher &dispatcher = MessageDispatcher::I();
    connect(&dispatcher, &MessageDispatcher::didAcknowTransmit, this, &MessageAcknowModel::onAcknowTransmit);
    connect(&dispatcher, &MessageDispatcher::didAcknowReceive, this, &MessageAcknowModel::onAcknowReceive);
    LOG_DEBUG(QStringLiteral("%1 Initialized").arg(QString::fromLatin1(metaObject()->className())));
    return true;
}

bool MessageAcknowModel::init(QThread &thread)
{
    if (!init())
        return false;
    initThread(thread);
    return true;
}

void MessageAcknowModel::initThread(QThread &thread)
{
    Threads::initThread(*this, thread, _thread);
}

void MessageAcknowModel::quit()
{
    // The entries are children of the service; deleting them here keeps them
    // from moving back to the main thread with a running timer.
    qDeleteAll(_acknowList);
    _acknowList.clear();
    quitThread();
}

void MessageAcknowModel::quitThread()
{
    Threads::returnToMainThread(*this, _thread);
}

void MessageAcknowModel::onAcknowTransmit(Can_Id channel, Sequence sequence, const FrameList &frames)
{
    // A sequence comes round again only after 32767 messages; an entry still
    // waiting under it by then is stale and gives way to the new one.
    if (Private::AcknowModel *stale = _acknowList.take(sequence))
        discard(stale);

    auto *entry = new Private::AcknowModel(channel, sequence, frames, this);
    _acknowList.insert(sequence, entry);
    connect(entry, &Private::AcknowModel::didFramesTransmit, this, &MessageAcknowModel::onFramesTransmit);
    connect(entry, &Private::AcknowModel::didFailedTransmit, this, &MessageAcknowModel::onFailedTransmit);
    entry->start();
}

void MessageAcknowModel::onAcknowReceive(Sequence sequence)
{
    if (Private::AcknowModel *entry = _acknowList.take(sequence))
        discard(entry);
}

void MessageAcknowModel::discard(Private::AcknowModel *entry)
{
    // Cut off first: a tick that comes before the deferred deletion must not
    // re-send an acknowledged message or report it failed.
    disconnect(entry, nullptr, this, nullptr);
    entry->deleteLater();
}

void MessageAcknowModel::onFramesTransmit(Can_Id channel, Sequence sequence, const FrameList &frames)
{
    emit didFramesTransmit(channel, sequence, frames);
}

void MessageAcknowModel::onFailedTransmit(Sequence sequence)
{
    if (Private::AcknowModel *entry = _acknowList.take(sequence))
        discard(entry);
    emit didFailedTransmit(sequence);
    LOG_DEBUG(QStringLiteral("Acknow retry failed for sequence %1").arg(sequence));
}

} // namespace Can
