#pragma once

#include <QCanBusFrame>
#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

#include "canbus/MessageBuilder.h"
#include "fuzz/OutgoingCheck.h"
#include "soak/SoakUi.h"
#include "rararoz/StateController.h"

// The whole service in one process on a simulated clock: the UI's frames go
// in through the frame interface, the dispatcher, the interpreter and the
// application controller to the state controller, ticked every 100 ms; what
// it queues goes back out through framing and the paced transmit queue to
// the UI. Every tick is checked; the first fault ends the run with the seed
// and tick that replay it.
class SoakRig : public QObject
{
    Q_OBJECT
public:
    explicit SoakRig(quint64 seed);
    ~SoakRig() override;

    bool setUp(QString &error);
    // Runs ticks more ticks; false at the first fault, problem() says which.
    bool run(qint64 ticks);

    const QString &problem() const { return _problem; }
    qint64 ticks() const { return _tick; }
    QString report() const;

private:
    void deliverFromUi(const SoakUi::Outgoing &out);
    void drainTransmitQueue(qint64 untilNs);
    void onFrameLeaves(const QCanBusFrame &frame);
    void checkMessage(Can::Can_Id channel, const Can::Message &message);
    void checkTick();
    void fail(const QString &problem);
    static int expectedMode(const QString &state);

    quint64 _seed;
    qint64 _tick = 0;
    qint64 _nowNs = 0;
    qint64 _lastFrameNs = -1;
    bool _confirmPending = false;
    QString _problem;
    OutgoingCheck _check;
    std::unique_ptr<StateController> _controller;
    std::unique_ptr<SoakUi> _ui;
    Can::MessageBuilder _builder;
    QHash<quint32, Can::Message> _assembly; // per channel, as the UI board assembles
    QString _states[3];                     // the chart's state at the last ticks, newest first
    Sequence _lastSequence = 0;
    quint32 _lastElapsed = 0;

    // Figures for the report and the flatness checks.
    quint64 _framesOut = 0;
    quint64 _messagesOut = 0;
    quint64 _logLines = 0;
    quint64 _logLinesThisMinute = 0;
    quint64 _logLinesPerMinuteMax = 0;
    int _queueMax = 0;
    QHash<QString, quint64> _stateTicks;
    quint64 _treatments = 0;
};
