#include "peer/TreatmentTrace.h"

#include "peer/PayloadCodec.h"
#include "peer/TreatmentStates.h"

QString TreatmentTrace::key(const Quantity &quantity)
{
    return quantity.message + QLatin1Char('.') + quantity.field;
}

bool TreatmentTrace::find(const MessageDefinitions &definitions, const Quantity &quantity, Source &source,
                          QString &error) const
{
    source.definition = definitions.lookup(quantity.message);
    if (!source.definition) {
        error = QStringLiteral("%1 is not in %2").arg(quantity.message, definitions.fileName());
        return false;
    }
    source.field = source.definition->fieldIndex(quantity.field);
    if (source.field < 0) {
        error =
            QStringLiteral("%1 has no field '%2' in %3").arg(quantity.message, quantity.field, definitions.fileName());
        return false;
    }
    return true;
}

bool TreatmentTrace::watch(const MessageDefinitions &definitions, const QList<Quantity> &quantities, QString &error)
{
    _sources.clear();
    _watched.clear();
    if (!find(definitions, {QStringLiteral("ID_TD_OP_MODE_DATA"), QStringLiteral("mode")}, _mode, error) ||
        !find(definitions, {QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), QStringLiteral("txState")}, _txState, error))
        return false;
    for (const Quantity &quantity : quantities) {
        Source source;
        if (!find(definitions, quantity, source, error))
            return false;
        _sources.insert(key(quantity), source);
        _watched.insert(source.definition->id, source.definition);
    }
    _watched.insert(_mode.definition->id, _mode.definition);
    _watched.insert(_txState.definition->id, _txState.definition);
    return true;
}

void TreatmentTrace::take(const ReceivedMessage &message)
{
    if (message.status != ReceivedMessage::Complete || message.timeUs < 0)
        return;
    if (_startUs < 0)
        _startUs = message.timeUs;
    ++_messages;
    const double seconds = double(message.timeUs - _startUs) / 1e6;
    _lengthS = qMax(_lengthS, seconds);

    const MessageDefinition *definition = _watched.value(message.id);
    if (!definition)
        return;
    const QList<QVariant> values = PayloadCodec::decode(*definition, message.payload).values;
    for (auto it = _sources.constBegin(); it != _sources.constEnd(); ++it) {
        const QVariant value = it->definition->id == message.id ? values.value(it->field) : QVariant();
        if (value.isValid())
            _series[it.key()].append(QPointF(seconds, value.toDouble()));
    }
    if (message.id == _mode.definition->id)
        followStage(values.value(_mode.field), QVariant(), seconds);
    if (message.id == _txState.definition->id)
        followStage(QVariant(), values.value(_txState.field), seconds);
}

void TreatmentTrace::followStage(const QVariant &mode, const QVariant &txState, double seconds)
{
    if (mode.isValid()) {
        _lastMode = mode.toInt();
        // A treatment state is only known anew in the next treatment.
        if (_lastMode != TreatmentStates::kModeTreatment)
            _lastTxState = -1;
    }
    if (txState.isValid())
        _lastTxState = txState.toInt();
    const int stage = TreatmentStates::stage(_lastMode, _lastTxState);
    if (stage < 0 || (!_stages.isEmpty() && int(_stages.last().y()) == stage))
        return;
    _stages.append(QPointF(seconds, stage));
}

QVector<QPointF> TreatmentTrace::series(const Quantity &quantity) const
{
    return _series.value(key(quantity));
}
