#include "canbus/MessageDispatcher.h"

#include <QDebug>
#include <QThread>

#include <limits>
#include <utility>

#include "ApplicationController.h"
#include "CommandLine.h"
#include "canbus/FrameInterface.h"
#include "storage/Logger.h"
#include "canbus/MessageAcknowModel.h"
#include "Threads.h"
#include "utility/format.h"

namespace Can {

MessageDispatcher::MessageDispatcher(QObject *parent)
    : QObject(parent)
    , _receivedFrames(this, _frameBatchWindowMs,
                      [this](const QVector<ReceivedFrame> &frames) {
                          for (const ReceivedFrame &received : frames)
                              onFrameReceive(received.channel, received.frame);
                      })
    , _builder(this)
    , _interpreter(this)
{
}

bool MessageDispatcher::init()
{
    if (_init)
        return false;
    _init = true;

    ApplicationController &application = ApplicationController::I();
    connect(&application, &ApplicationController::didActionTransmit, this, &MessageDispatcher::onActionTransmit);
    connect(&application, &ApplicationController::didSettingsDone, this, &MessageDispatcher::onSettingsDone);

    FrameInterface &frames = FrameInterface::I();
    // Taken as the frame interface passes them on (from whatever thread it
    // runs on), assembled on this service's thread, in batches. Sharing the
    // frame interface's thread, a frame is taken at once: the batch would only
    // be posted back to this same thread. Behind frames already waiting it
    // waits too, so that none overtakes another.
    connect(
        &frames, &FrameInterface::didFrameReceive, this,
        [this](Can_Id channel, const QByteArray &frame) {
            if (QThread::currentThread() == thread() && !_receivedFrames.hasPending())
                onFrameReceive(channel, frame);
            else
                _receivedFrames.push({channel, frame});
        },
        Qt::DirectConnection);
    // Direct: the frame interface takes messages from any thread and wakes its
    // own only when needed. Unique, so that a frame is never queued twice.
    connect(this, &MessageDispatcher::didFrameTransmit, &frames, &FrameInterface::onFrameTransmit,
            Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));

    MessageAcknowModel &acknow = MessageAcknowModel::I();
    connect(&acknow, &MessageAcknowModel::didFramesTransmit, this, &MessageDispatcher::onFramesTransmit);
    connect(&acknow, &MessageAcknowModel::didFailedTransmit, this, &MessageDispatcher::onFailedTransmit);

    connect(&_interpreter, &MessageInterpreter::didUnhandledMsgReady, this, &MessageDispatcher::doUnhandledMsgReady);

    LOG_DEBUG(QStringLiteral("%1 Initialized").arg(QString::fromLatin1(metaObject()->className())));
    return true;
}

bool MessageDispatcher::init(QThread &thread)
{
    if (!init())
        return false;
    initThread(thread);
    return true;
}

void MessageDispatcher::initThread(QThread &thread)
{
    Threads::initThread(*this, thread, _thread);
}

void MessageDispatcher::quit()
{
    quitThread();
}

void MessageDispatcher::quitThread()
{
    Threads::returnToMainThread(*this, _thread);
}

void MessageDispatcher::enableConsoleOut(bool enable)
{
    _builder.enableConsoleOut(enable);
}

Sequence MessageDispatcher::nextSequence(Sequence &counter)
{
    counter = counter == std::numeric_limits<Sequence>::max() ? Sequence(1) : Sequence(counter + 1);
    return counter;
}

bool MessageDispatcher::needsAcknow(Can_Id channel)
{
    switch (channel) {
    case eChlid_TD_DD:
    case eChlid_DD_TD:
    case eOrvane_TD:
    case eTD_Orvane:
    case eOrvane_DD:
    case eDD_Orvane:
        return false;
    default:
        return true;
    }
}

void MessageDispatcher::onFrameReceive(Can_Id channel, const QByteArray &frame)
{
    QList<Can::Message> &records = _messageList[channel];
    if (records.isEmpty())
        records.append(Can::Message());
    else if (records.last().isComplete())
        records.last() = Can::Message();
    Can::Message &record = records.last();

    if (frame.size() < eLenCanFrame) {
        LOG_DEBUG(QStringLiteral("Incorrect frame length. Exp:%1,got:%2").arg(int(eLenCanFrame)).arg(frame.size()));
        return;
    }

    // Only the first 8 bytes of an over-long frame are a CAN frame.
    const bool built = frame.size() == eLenCanFrame ? _builder.buildMessage(frame, record, channel)
                                                    : _builder.buildMessage(frame.left(eLenCanFrame), record, channel);
    if (!built) {
        const qint32 actionId = record.actionId;
        record = Can::Message();
        if (_brokenShown.allow()) {
            if (_brokenShown.held() > 0)
                qDebug("BROKEN %d (%llu more not shown)", int(actionId), _brokenShown.held());
            else
                qDebug("BROKEN %d", int(actionId));
        }
        return;
    }
    if (!record.isComplete())
        return;

    nextSequence(_rxSequence);
    // Taken out of the table first: what interpreting sets off may already
    // bring the next frame of this channel.
    const Can::Message message = std::exchange(record, Can::Message());
    interpret(message);
}

void MessageDispatcher::interpret(const Can::Message &message)
{
    if (message.actionId == ID_Acknow) {
        if (!gDisableAcknowLog) {
            QString source;
            _interpreter.identifySource(message.can_id, &source);
            LOG_APPED(tr("    ,%1,Ack Bak, Sq:%2").arg(source, QString::number(message.sequence)));
        }
        emit didAcknowReceive(message.sequence);
    } else if (message.sequence < 0 && needsAcknow(message.can_id)) {
        if (!gDisableAcknowLog) {
            QString source;
            _interpreter.identifySource(message.can_id, &source);
            LOG_APPED(tr("    ,%1,Ack Req, Sq:%2, ID:%3")
                          .arg(source, QString::number(message.sequence),
                               Format::toHexString(quint16(message.actionId), true, eLenMessageIDDigits)));
        }
        QString destination;
        _interpreter.identifyDestination(message.can_id, &destination);
        // The acknowledgement carries the sender's sequence made positive.
        // -32768 has no positive 16-bit form; its bit pattern 0x8000 goes back
        // unchanged, which is what negation modulo 2^16 gives and so the one
        // answer a sender can match. 32767 instead would acknowledge a
        // different message of the sender.
        const Sequence positive =
            message.sequence == std::numeric_limits<Sequence>::min() ? message.sequence : Sequence(-message.sequence);
        actionTransmit(QVariantList{int(ID_Acknow), int(eChlid_TD_UI)}, positive);
        if (!gDisableAcknowLog)
            LOG_APPED(QStringLiteral("    ,UI,") +
                      tr("Ack Bak, Sq:%1, Dst:%2").arg(QString::number(positive), destination));
    }

    QVariantList actions;
    if (_interpreter.interpretMessage(message, actions))
        emit didActionReceive(actions);
}

bool MessageDispatcher::actionTransmit(const QVariantList &actions, Sequence sequence)
{
    if (actions.size() < 2) {
        LOG_DEBUG(QStringLiteral("Dropped outgoing action list without identifier and channel: %1 elements")
                      .arg(actions.size()));
        return false;
    }
    bool idOk = false;
    bool channelOk = false;
    const int actionId = actions.at(0).toInt(&idOk);
    const int channel = actions.at(1).toInt(&channelOk);
    if (!idOk || !channelOk || actionId < 0 || actionId > 0xFFFF || channel < 0 || channel > eChlid_NONE) {
        LOG_DEBUG(QStringLiteral("Dropped outgoing action list with invalid identifier or channel: %1, %2")
                      .arg(actions.at(0).toString(), actions.at(1).toString()));
        return false;
    }

    const Sequence counted = nextSequence(_txSequence);
    if (sequence == 0)
        sequence = counted;

    QByteArray payload;
    for (int i = 2; i < actions.size(); ++i)
        payload.append(Format::fromVariant(actions.at(i)));

    FrameList frames;
    if (!_builder.buildFrames(quint16(actionId), payload, frames, sequence))
        return false;
    emit didFrameTransmit(static_cast<Can_Id>(channel), frames);
    return true;
}

int MessageDispatcher::assemblyBytes(Can_Id channel) const
{
    int bytes = 0;
    for (const Can::Message &record : _messageList.value(channel))
        bytes += record.head.size() + record.data.size();
    return bytes;
}

void MessageDispatcher::onActionTransmit(const QVariantList &actions)
{
    actionTransmit(actions, 0);
}

void MessageDispatcher::onFramesTransmit(Can_Id channel, Sequence /*sequence*/, const FrameList &frames)
{
    emit didFrameTransmit(channel, frames);
}

void MessageDispatcher::onFailedTransmit(Sequence sequence)
{
    emit didFailedTransmit(sequence);
}

void MessageDispatcher::onSettingsDone()
{
    _interpreter.updateUnhandledMessages();
}

void MessageDispatcher::doUnhandledMsgReady(const QVariantList &actions)
{
    emit didUnhandledMsgDispatcher(actions);
}

} // namespace Can
