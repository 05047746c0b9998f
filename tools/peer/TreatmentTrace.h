#pragma once

#include <QHash>
#include <QList>
#include <QPointF>
#include <QVector>

#include "peer/MessageDefinitions.h"
#include "peer/ReceivedMessage.h"

// The course of a treatment in a recorded trace: chosen fields of the TD's
// broadcasts over time, and where the treatment stood (operation mode and
// treatment state in one scale), in seconds from the trace's first message.
class TreatmentTrace
{
public:
    struct Quantity {
        QString message;
        QString field;
    };

    // Looks every quantity up by name. False with error naming the first
    // message or field the definitions lack.
    bool watch(const MessageDefinitions &definitions, const QList<Quantity> &quantities, QString &error);

    void take(const ReceivedMessage &message);

    // (seconds, value) in the order they came.
    QVector<QPointF> series(const Quantity &quantity) const;
    // (seconds, stage) at the start and at every change of stage.
    const QVector<QPointF> &stages() const { return _stages; }

    qint64 startUs() const { return _startUs; }
    double lengthS() const { return _lengthS; }
    int messages() const { return _messages; }
    bool hasTimes() const { return _startUs >= 0; }

private:
    struct Source {
        const MessageDefinition *definition = nullptr;
        int field = -1;
    };
    static QString key(const Quantity &quantity);
    bool find(const MessageDefinitions &definitions, const Quantity &quantity, Source &source, QString &error) const;
    void followStage(const QVariant &mode, const QVariant &txState, double seconds);

    QHash<QString, Source> _sources;
    QHash<quint16, const MessageDefinition *> _watched;
    QHash<QString, QVector<QPointF>> _series;
    Source _mode;
    Source _txState;
    int _lastMode = -1;
    int _lastTxState = -1;
    QVector<QPointF> _stages;
    qint64 _startUs = -1;
    double _lengthS = 0;
    int _messages = 0;
};
