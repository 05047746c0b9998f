#pragma once

#include <QHash>
#include <QObject>

#include "canbus/AcknowModel.h"
#include "MessageGlobals.h"
#include "Singleton.h"

class QThread;

namespace Can {

// Keeps one pending entry per sent sequence that asked for an
// acknowledgement, re-sends its frames until the acknowledgement arrives and
// reports the messages it gave up on. Lives on the CAN-acknowledgement thread.
class MessageAcknowModel : public QObject
{
    Q_OBJECT
    RARAROZ_SINGLETON(MessageAcknowModel)

public:
    using AcknowList = QHash<Sequence, Private::AcknowModel *>;

    bool init();
    bool init(QThread &thread);

signals:
    void didFramesTransmit(Can_Id channel, Sequence sequence, const FrameList &frames);
    void didFailedTransmit(Sequence sequence);

public slots:
    void quit();
    void onAcknowTransmit(Can_Id channel, Sequence sequence, const FrameList &frames);
    void onAcknowReceive(Sequence sequence);
    void onFramesTransmit(Can_Id channel, Sequence sequence, const FrameList &frames);
    void onFailedTransmit(Sequence sequence);

private:
    void initThread(QThread &thread);
    void quitThread();
    void discard(Private::AcknowModel *entry);

    AcknowList _acknowList;
    QThread *_thread = nullptr;
    bool _init = false;
};

} // namespace Can
