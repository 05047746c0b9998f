#pragma once

#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QList>
#include <QObject>

#include <memory>

#include "MessageGlobals.h"

// A second node on Qt's virtual CAN bus, as the UI board would be: sends
// messages framed by the system's own builder and collects what arrives.
class BusClient : public QObject
{
    Q_OBJECT
public:
    explicit BusClient(const QString &interface = QStringLiteral("can0"));

    bool connectBus();
    bool sendFrame(quint32 id, const QByteArray &payload);
    bool sendMessage(quint32 channel, quint16 messageId, Sequence sequence, const QByteArray &payload = {});

    // Frames received so far on one channel (all channels with 0xFFFFFFFF).
    QList<QCanBusFrame> frames(quint32 channel = 0xFFFFFFFF) const;
    bool waitForFrame(quint32 channel, const QByteArray &payload, int timeoutMs = 5000);
    void clear() { _frames.clear(); }

private:
    void onFramesReceived();

    QString _interface;
    std::unique_ptr<QCanBusDevice> _device;
    QList<QCanBusFrame> _frames;
};
