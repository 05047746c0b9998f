#include "soak/SoakUi.h"

#include <cstring>

#include "MessageGlobals.h"
#include "peer/PayloadCodec.h"
#include "rararoz/ReceivedRequests.h"

namespace {

constexpr int kTicksPerSecond = 10;
// An acknowledgement later than this is a fault, whatever the bus does.
constexpr qint64 kAcknowledgementTicksMax = 5 * kTicksPerSecond;
// Frames on the UI's channel that garbage may still swallow: a broken
// header's length can claim up to 32 frames.
constexpr int kFramesGarbageMayTake = 33;

constexpr int kDemoMenu[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 13, 14, 15};

} // namespace

SoakUi::SoakUi(quint64 seed, const MessageDefinitions &definitions, Sink sink, Fail fail)
    : _random(seed)
    , _definitions(definitions)
    , _sink(std::move(sink))
    , _fail(std::move(fail))
{
    for (const quint16 request : _definitions.ids())
        if (_definitions.find(request)->hasResponse)
            _responseIds.insert(_definitions.find(request)->responseId);
}

int SoakUi::chance(int perMille)
{
    return int(_random.bounded(1000)) < perMille;
}

Sequence SoakUi::nextSequence()
{
    _sequence = _sequence >= 32767 ? Sequence(1) : Sequence(_sequence + 1);
    return Sequence(-_sequence); // negative: an acknowledgement is asked for
}

void SoakUi::sendBytes(quint16 id, const QByteArray &payload)
{
    const Outgoing out{Can::eChlid_UI_TD, id, nextSequence(), payload};
    const int frames = (Can::eLenSyncByte + Can::eLenHeaderInfo + payload.size() + 1 + 7) / 8;
    _pendingAcks.insert(Sequence(-out.sequence), {_tick, _uncertainFrames == 0});
    _uncertainFrames = qMax(0, _uncertainFrames - frames);
    const MessageDefinition *definition = _definitions.find(id);
    if (definition && definition->hasResponse)
        ++_awaited[definition->responseId];
    if (id != Can::ID_UI_CHECK_IN) {
        ++_requests;
        _lastRequest = out;
    }
    _sink(out);
}

void SoakUi::send(const char *name, const QString &values)
{
    const MessageDefinition *definition = _definitions.lookup(QLatin1String(name));
    QByteArray payload;
    QString error;
    if (!definition ||
        !PayloadCodec::encode(*definition, values.split(QLatin1Char(' '), Qt::SkipEmptyParts), payload, error)) {
        _fail(QStringLiteral("the soak's UI cannot send %1 %2: %3").arg(QLatin1String(name), values, error));
        return;
    }
    sendBytes(definition->id, payload);
}

void SoakUi::demoMenu(int command)
{
    send("ID_UI_CONFIRMATION_RESULT_RESP", QStringLiteral("99 %1").arg(command));
}

QString SoakUi::prescription()
{
    const int durationMin = 30 + int(_random.bounded(211));
    const double ufL = _random.bounded(30) / 10.0;
    return QStringLiteral("1 0 0 400 350 %1 0 0 0 0 0 0 100 1800000 300 0 0 0 0 0 37 0 0 0 %2")
        .arg(durationMin)
        .arg(ufL);
}

void SoakUi::tick(qint64 tick, const QString &state)
{
    _tick = tick;
    for (auto it = _pendingAcks.begin(); it != _pendingAcks.end();) {
        if (tick - it->tick <= kAcknowledgementTicksMax) {
            ++it;
        } else if (it->certain) {
            _fail(QStringLiteral("no acknowledgement of UI message %1 sent at tick %2").arg(it.key()).arg(it->tick));
            return;
        } else {
            it = _pendingAcks.erase(it); // garbage may have taken it
        }
    }
    if (state != _lastState) {
        _lastState = state;
        _step = 0;
    }
    if (tick < _silentUntil)
        return;
    if (tick % kTicksPerSecond == 0)
        sendBytes(Can::ID_UI_CHECK_IN, {});
    for (auto it = _openConfirmations.begin(); it != _openConfirmations.end();) {
        if (it.value() > tick) {
            ++it;
            continue;
        }
        send("ID_UI_CONFIRMATION_RESULT_RESP", QStringLiteral("%1 %2").arg(it.key()).arg(chance(900) ? 1 : 0));
        it = _openConfirmations.erase(it);
    }
    if (tick % kTicksPerSecond == kTicksPerSecond / 2) {
        if (chance(10))
            misbehave();
        else
            behave(state);
    }
}

void SoakUi::behave(const QString &state)
{
    if (state == QLatin1String("Standby")) {
        if (chance(300))
            send("ID_INITIATE_TREATMENT", QStringLiteral("1"));
    } else if (state == QLatin1String("Pre_Tx")) {
        if (!chance(800))
            return;
        switch (_step++) {
        case 0:
            send("ID_UI_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RQST", {});
            break;
        case 1:
            send("ID_UI_WATER_SAMPLE_RESULT_RQST", QStringLiteral("0.5"));
            break;
        case 2:
            send("ID_UI_TREATMENT_PARAMS_TO_VALIDATE", prescription());
            break;
        case 3:
            send("ID_UI_ADJUST_DISPOSABLES_CONFIRM_RQST", {});
            break;
        case 4:
            send("ID_UI_BLOOD_PRESSURE_RQST", {});
            break;
        default:
            // Started, or asked again when the start was lost.
            if (_step == 6 || chance(100))
                send("ID_UI_ADJUST_START_TREATMENT_RQST", {});
            if (_step > 30)
                _step = 0; // the prescription may have been lost too
            break;
        }
    } else if (state == QLatin1String("Treatment")) {
        if (chance(1)) {
            demoMenu(6); // the user stops the treatment
            return;
        }
        if (!chance(60))
            return;
        switch (_random.bounded(9)) {
        case 0:
            send("ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST", QString::number(100 + _random.bounded(401)));
            break;
        case 1:
            send("ID_UI_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RQST", QString::number(300 + _random.bounded(301)));
            break;
        case 2:
            send("ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST",
                 QString::number(35.0 + _random.bounded(30) / 10.0));
            break;
        case 3:
            send("ID_UI_UF_PAUSE_RESUME_RQST", QString::number(_random.bounded(2)));
            break;
        case 4:
            send("ID_UI_FLUID_BOLUS_RQST", QString::number(_random.bounded(2)));
            break;
        case 5:
            send("ID_UI_BLOOD_PRESSURE_RQST", {});
            break;
        case 6:
            send("ID_UI_DURATION_VALIDATE_RQST", QString::number(30 + _random.bounded(211)));
            break;
        case 7:
            if (_durationAnswer.size() == 2)
                send("ID_UI_DURATION_CONFIRM_RQST", QStringLiteral("%1 %2 %3")
                                                        .arg(_durationAnswer.at(0))
                                                        .arg(_durationAnswer.at(1))
                                                        .arg(double(_durationRate), 0, 'f', 2));
            _durationAnswer.clear();
            break;
        default:
            send("ID_UI_TREATMENT_UF_VOLUME_VALIDATE_RQST", QString::number(_random.bounded(40) / 10.0));
            break;
        }
    } else if (state == QLatin1String("Treatment_Pause")) {
        if (chance(100))
            send("ID_UI_ALARM_USER_ACTION_REQUEST", QString::number(_random.bounded(4)));
    } else if (state == QLatin1String("Treatment_End")) {
        if (chance(300))
            _step++ % 2 == 0 ? send("ID_UI_ALARM_USER_ACTION_REQUEST", QStringLiteral("3"))
                             : send("ID_TD_END_TREATMENT_RQST", {});
    } else if (state == QLatin1String("Treatment_Rinseback")) {
        if (!chance(100))
            return;
        // Started, then ended once stopped; now and then faster, slower,
        // paused or resumed meanwhile.
        const int action = _rinsebackState == 0   ? 0
                           : _rinsebackState == 3 ? (chance(800) ? 7 : 6)
                           : chance(900)          ? 4
                                                  : int(1 + _random.bounded(3));
        send("ID_UI_RINSEBACK_CMD_RQST", QString::number(action));
    } else if (state == QLatin1String("Treatment_Recirculate")) {
        if (!chance(100))
            return;
        static const int kNext[] = {4, 0, 2, 1}; // per recirculation state
        send("ID_UI_RECIRCULATE_RQST", QString::number(kNext[qBound(0, _recircState, 3)]));
    } else if (state == QLatin1String("Post_Tx")) {
        if (!chance(500))
            return;
        switch (_step++ % 3) {
        case 0:
            send("ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST", {});
            break;
        case 1:
            send("ID_UI_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RQST", {});
            break;
        default:
            demoMenu(0);
            break;
        }
    }
}

void SoakUi::misbehave()
{
    ++_misbehaviours;
    switch (_random.bounded(6)) {
    case 0: { // a request with a payload of any length and any values
        static const QList<ReceivedRequests::Request> requests = ReceivedRequests::requests();
        QByteArray payload(int(_random.bounded(41)), Qt::Uninitialized);
        for (char &byte : payload)
            byte = char(_random.bounded(256));
        if (payload.size() >= 4 && chance(500)) {
            const quint32 nan = 0x7FC00000u;
            std::memcpy(payload.data(), &nan, sizeof nan);
        }
        sendBytes(quint16(requests.at(int(_random.bounded(requests.size()))).id), payload);
        break;
    }
    case 1: // the last request again, twice
        if (_lastRequest.id) {
            sendBytes(_lastRequest.id, _lastRequest.bytes);
            sendBytes(_lastRequest.id, _lastRequest.bytes);
        }
        break;
    case 2: { // garbage frames on the UI's channel
        const int count = 1 + int(_random.bounded(8));
        for (int i = 0; i < count; ++i) {
            QByteArray frame(int(_random.bounded(9)), Qt::Uninitialized);
            for (char &byte : frame)
                byte = char(_random.bounded(256));
            _sink({Can::eChlid_UI_TD, 0, 0, frame});
        }
        _uncertainFrames = kFramesGarbageMayTake;
        break;
    }
    case 3: // silence, one to ten minutes
        _silentUntil = _tick + (60 + _random.bounded(541)) * kTicksPerSecond;
        break;
    case 4:
        demoMenu(kDemoMenu[_random.bounded(int(sizeof kDemoMenu / sizeof *kDemoMenu))]);
        break;
    default: { // what another state would ask
        static const char *const kStates[] = {"Standby",
                                              "Pre_Tx",
                                              "Treatment",
                                              "Treatment_Pause",
                                              "Treatment_End",
                                              "Treatment_Rinseback",
                                              "Treatment_Recirculate",
                                              "Post_Tx"};
        const int step = _step;
        _step = int(_random.bounded(7));
        behave(QLatin1String(kStates[_random.bounded(int(sizeof kStates / sizeof *kStates))]));
        _step = step;
        break;
    }
    }
}

void SoakUi::receive(qint64 tick, quint16 id, Sequence sequence, const QByteArray &payload)
{
    if (id == Can::ID_Acknow) {
        if (!_pendingAcks.remove(sequence))
            _fail(QStringLiteral("acknowledgement %1 of nothing awaiting one").arg(sequence));
        return;
    }
    const MessageDefinition *definition = _definitions.find(id);
    if (!definition)
        return; // the sender's check reports it
    const DecodedPayload decoded = PayloadCodec::decode(*definition, payload);
    if (_responseIds.contains(id)) {
        ++_responses;
        int &awaited = _awaited[id];
        if (awaited <= 0)
            _fail(QStringLiteral("%1 answers no request waiting for it").arg(definition->name));
        --awaited;
    }
    switch (id) {
    case Can::ID_TD_UI_GENERIC_CONFIRMATION_RQST:
        if (decoded.number(QStringLiteral("command")) == 0)
            _openConfirmations.insert(decoded.value(QStringLiteral("confirmId")).toInt(),
                                      tick + (1 + _random.bounded(5)) * kTicksPerSecond);
        else
            _openConfirmations.remove(decoded.value(QStringLiteral("confirmId")).toInt());
        break;
    case Can::ID_TD_TREATMENT_STATE_DATA:
        _rinsebackState = decoded.value(QStringLiteral("rinsebackState")).toInt();
        _recircState = decoded.value(QStringLiteral("recircState")).toInt();
        break;
    case Can::ID_TD_DURATION_VALIDATE_RESP:
        if (decoded.values.size() >= 6 && decoded.values.at(0).toUInt() == 1) {
            _durationAnswer = {decoded.values.at(2).toUInt(), decoded.values.at(3).toUInt()};
            _durationRate = decoded.values.at(5).toFloat();
        }
        break;
    default:
        break;
    }
}
