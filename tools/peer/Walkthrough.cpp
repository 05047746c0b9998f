#include "Walkthrough.h"

#include <QElapsedTimer>
#include <QSet>

#include <cmath>

#include "Console.h"
#include "ExitCode.h"
#include "PayloadCodec.h"
#include "PeerSession.h"

namespace {

// Demo-menu commands, sent as a confirmation result with the identifier 99.
constexpr int kDemoMenu = 99;
constexpr int kCmdStandby = 0;
constexpr int kCmdRinseback = 4;
constexpr int kCmdRecirculate = 5;
constexpr int kCmdTreatmentEnd = 7;

// Operation modes and treatment states as the broadcasts carry them.
constexpr int kModeStandby = 3;
constexpr int kModePreTreatment = 4;
constexpr int kModeTreatment = 5;
constexpr int kModePostTreatment = 6;
constexpr int kTxStart = 0;
constexpr int kTxBloodPrime = 1;
constexpr int kTxDialysis = 2;
constexpr int kTxRinseback = 4;
constexpr int kTxRecirculation = 5;
constexpr int kTxEnd = 6;

constexpr int kAlarmEndOfTreatment = 251;
constexpr int kConfirmTreatmentEnd = 2;

// Blood prime fills 146.6 mL while the flow ramps up from 250 mL/min, about
// half a minute at the prescription below; allow for a slow machine.
constexpr int kBloodPrimeTimeoutMs = 120000;
constexpr int kBolusTimeoutMs = 40000;

// The prescription the walkthrough validates. Its 180 minutes with 120 of
// heparin make the later change to 240 minutes answer 180 minutes of
// heparin, and its 2 L of ultrafiltration a rate of 0.5 L/h, which the
// confirmation can repeat exactly.
const QStringList kPrescription = {"finalConfirmation=1",
                                   "treatmentModality=0",
                                   "hdfDilution=0",
                                   "bloodFlowMLPM=400",
                                   "dialysateFlowMLPM=500",
                                   "treatmentDurationMin=180",
                                   "heparinDeliveryDurationMin=120",
                                   "heparinType=0",
                                   "dryBicarbCartSize=1",
                                   "sodiumMEQL=140",
                                   "bicarbonateMEQL=35",
                                   "dialyzerType=1",
                                   "fluidBolusVolumeML=100",
                                   "bloodPressureIntervalMin=30",
                                   "rinsebackVolumeML=300",
                                   "hepatitisBStatus=0",
                                   "acidConcentrate=1",
                                   "hdfSubstitutionVolumeL=20",
                                   "heparinBolusVolumeML=1",
                                   "heparinDeliveryRateMLHR=0.5",
                                   "dialysateTemperatureC=37",
                                   "acidKConversionFactor=1",
                                   "ufPreWeightKG=72.5",
                                   "ufTargetWeightKG=70.5",
                                   "ufVolumeL=2"};

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

} // namespace

Walkthrough::Walkthrough(PeerSession &session, const MessageDefinitions &definitions, const PeerOptions &options)
    : _session(session)
    , _definitions(definitions)
    , _options(options)
{
}

const Walkthrough::Checks &Walkthrough::accepted()
{
    static const Checks checks = {{QStringLiteral("accepted"), 1, Check::Equal},
                                  {QStringLiteral("rejectReason"), 0, Check::Equal}};
    return checks;
}

int Walkthrough::stateTimeoutMs() const
{
    return qMax(5000, _options.timeoutMs);
}

QList<Walkthrough::Step> Walkthrough::steps()
{
    QList<Step> list;
    const auto add = [&list](const char *title, std::function<bool()> body) {
        list.append({QString::fromUtf8(title), std::move(body)});
    };

    add("Join the bus: check in until the service acknowledges", [this] { return joinBus(); });
    add("Demo menu: reset to Standby", [this] { return jump(kCmdStandby, kModeStandby, kTxStart); });

    // Pre-treatment.
    add("Initiate the treatment", [this] {
        return request(QStringLiteral("ID_INITIATE_TREATMENT"), {QStringLiteral("1")}, accepted()) &&
               await(QStringLiteral("ID_TD_OP_MODE_DATA"), {{QStringLiteral("mode"), kModePreTreatment}},
                     stateTimeoutMs());
    });
    add("Confirm the tubing-set connections",
        [this] { return request(QStringLiteral("ID_UI_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RQST")); });
    add("Validate the prescription", [this] {
        return request(QStringLiteral("ID_UI_TREATMENT_PARAMS_TO_VALIDATE"), kPrescription,
                       {{QStringLiteral("accepted"), 1}, {QStringLiteral("*"), 0}});
    });
    add("Start the treatment", [this] {
        return request(QStringLiteral("ID_UI_ADJUST_START_TREATMENT_RQST")) &&
               await(QStringLiteral("ID_TD_OP_MODE_DATA"), {{QStringLiteral("mode"), kModeTreatment}},
                     stateTimeoutMs()) &&
               await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), {{QStringLiteral("txState"), kTxBloodPrime}},
                     stateTimeoutMs());
    });
    add("Blood prime into treatment", [this] {
        QElapsedTimer clock;
        clock.start();
        if (!await(QStringLiteral("ID_TD_BLOOD_PRIME_PROGRESS_DATA"),
                   {{QStringLiteral("primedVolumeML"), 1, Check::AtLeast}}, stateTimeoutMs()))
            return false;
        _notes.clear(); // the first progress is not worth a mention, the last one is
        const int from = _cursor;
        if (!await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), {{QStringLiteral("txState"), kTxDialysis}},
                   kBloodPrimeTimeoutMs))
            return false;
        const MessageDefinition *progress = _definitions.lookup(QStringLiteral("ID_TD_BLOOD_PRIME_PROGRESS_DATA"));
        for (int i = _cursor - 1; progress && i >= from; --i) {
            const ReceivedMessage &m = _session.history().at(i);
            if (m.status == ReceivedMessage::Complete && m.id == progress->id) {
                const DecodedPayload last = PayloadCodec::decode(*progress, m.payload);
                note(QStringLiteral("primed %1 of %2 mL")
                         .arg(FieldType::text(last.value(QStringLiteral("primedVolumeML"))),
                              FieldType::text(last.value(QStringLiteral("targetVolumeML")))));
                break;
            }
        }
        note(QStringLiteral("in %1").arg(seconds(clock.elapsed())));
        return true;
    });

    // Treatment.
    add("Set point: dialysate flow 450 mL/min", [this] {
        return request(QStringLiteral("ID_UI_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RQST"), {QStringLiteral("450")},
                       accepted()) &&
               await(QStringLiteral("ID_TD_TREATMENT_SET_POINTS"), {{QStringLiteral("dialysateFlowMLPM"), 450}},
                     stateTimeoutMs());
    });
    add("Set point: dialysate temperature 36.5 C", [this] {
        return request(QStringLiteral("ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST"), {QStringLiteral("36.5")},
                       accepted()) &&
               await(QStringLiteral("ID_TD_TREATMENT_SET_POINTS"), {{QStringLiteral("dialysateTemperatureC"), 36.5}},
                     stateTimeoutMs());
    });
    add("Pause ultrafiltration", [this] {
        return request(QStringLiteral("ID_UI_UF_PAUSE_RESUME_RQST"), {QStringLiteral("0")}, accepted()) &&
               await(QStringLiteral("ID_TD_ULTRAFILTRATION_DATA"), {{QStringLiteral("dialysisSubState"), 1}},
                     stateTimeoutMs());
    });
    add("Resume ultrafiltration", [this] {
        return request(QStringLiteral("ID_UI_UF_PAUSE_RESUME_RQST"), {QStringLiteral("1")}, accepted()) &&
               await(QStringLiteral("ID_TD_ULTRAFILTRATION_DATA"), {{QStringLiteral("dialysisSubState"), 0}},
                     stateTimeoutMs());
    });
    add("Fluid bolus volume 50 mL", [this] {
        return request(QStringLiteral("ID_UI_BOLUS_VOLUME_CHANGE_RQST"), {QStringLiteral("50")}, accepted()) &&
               await(QStringLiteral("ID_TD_FLUID_BOLUS_DATA"), {{QStringLiteral("bolusVolumeML"), 50}},
                     stateTimeoutMs());
    });
    add("Start the fluid bolus", [this] {
        return request(QStringLiteral("ID_UI_FLUID_BOLUS_RQST"), {QStringLiteral("1")},
                       {{QStringLiteral("accepted"), 1},
                        {QStringLiteral("rejectReason"), 0},
                        {QStringLiteral("bolusVolumeML"), 50}}) &&
               await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), {{QStringLiteral("fluidBolusState"), 2}},
                     stateTimeoutMs());
    });
    add("Fluid bolus delivered", [this] {
        QElapsedTimer clock;
        clock.start();
        const bool ok = await(QStringLiteral("ID_TD_FLUID_BOLUS_DATA"),
                              {{QStringLiteral("totalML"), 50, Check::AtLeast}}, kBolusTimeoutMs) &&
                        await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), {{QStringLiteral("fluidBolusState"), 0}},
                              stateTimeoutMs());
        if (ok)
            note(QStringLiteral("in %1").arg(seconds(clock.elapsed())));
        return ok;
    });
    add("Validate a treatment duration of 240 min", [this] {
        _validatedDuration = DecodedPayload();
        return request(QStringLiteral("ID_UI_DURATION_VALIDATE_RQST"), {QStringLiteral("240")},
                       {{QStringLiteral("accepted"), 1},
                        {QStringLiteral("rejectReason"), 0},
                        {QStringLiteral("durationMin"), 240},
                        {QStringLiteral("heparinDurationMin"), 180}},
                       &_validatedDuration);
    });
    add("Confirm the treatment duration", [this] {
        // The confirmation repeats what the validation answered, the rate
        // rounded to two decimals as the UI shows it.
        if (!_validatedDuration.definition)
            return fail(QStringLiteral("no duration validation answer to confirm"));
        const double rate = std::round(_validatedDuration.number(QStringLiteral("ufRateLHR")) * 100.0) / 100.0;
        return request(QStringLiteral("ID_UI_DURATION_CONFIRM_RQST"),
                       {FieldType::text(_validatedDuration.value(QStringLiteral("durationMin"))),
                        FieldType::text(_validatedDuration.value(QStringLiteral("heparinDurationMin"))),
                        QString::number(rate, 'f', 2)},
                       accepted()) &&
               await(QStringLiteral("ID_TD_TREATMENT_TIME_DATA"), {{QStringLiteral("prescribedS"), 240 * 60}},
                     stateTimeoutMs());
    });

    // Treatment end and rinseback.
    add("Demo menu: jump to treatment end", [this] {
        return jump(kCmdTreatmentEnd, kModeTreatment, kTxEnd) &&
               await(QStringLiteral("ID_ALARM_STATUS_DATA"), {{QStringLiteral("alarmId"), kAlarmEndOfTreatment}},
                     stateTimeoutMs());
    });
    add("Acknowledge the end-of-treatment alarm", [this] {
        return request(QStringLiteral("ID_UI_ALARM_USER_ACTION_REQUEST"), {QStringLiteral("3")}) &&
               await(QStringLiteral("ID_ALARM_STATUS_DATA"), {{QStringLiteral("alarmId"), 0}}, stateTimeoutMs());
    });
    add("End the treatment: on to rinseback", [this] {
        return request(QStringLiteral("ID_TD_END_TREATMENT_RQST")) &&
               await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"),
                     {{QStringLiteral("txState"), kTxRinseback}, {QStringLiteral("rinsebackState"), 0}},
                     stateTimeoutMs());
    });
    add("Rinseback: start", [this] {
        return request(QStringLiteral("ID_UI_RINSEBACK_CMD_RQST"), {QStringLiteral("0")}, accepted()) &&
               await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), {{QStringLiteral("rinsebackState"), 1}},
                     stateTimeoutMs());
    });
    add("Rinseback: rate up", [this] {
        return request(QStringLiteral("ID_UI_RINSEBACK_CMD_RQST"), {QStringLiteral("1")}, accepted()) &&
               await(QStringLiteral("ID_TD_RINSEBACK_DATA"), {{QStringLiteral("flowMLPM"), 210}}, stateTimeoutMs());
    });
    add("Rinseback: pause", [this] {
        return request(QStringLiteral("ID_UI_RINSEBACK_CMD_RQST"), {QStringLiteral("3")}, accepted()) &&
               await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), {{QStringLiteral("rinsebackState"), 2}},
                     stateTimeoutMs());
    });
    add("Rinseback: resume", [this] {
        return request(QStringLiteral("ID_UI_RINSEBACK_CMD_RQST"), {QStringLiteral("4")}, accepted()) &&
               await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), {{QStringLiteral("rinsebackState"), 1}},
                     stateTimeoutMs());
    });

    // Recirculation.
    add("Demo menu: jump to recirculation", [this] {
        return jump(kCmdRecirculate, kModeTreatment, kTxRecirculation, {{QStringLiteral("recircState"), 0}});
    });
    add("Recirculation: confirm the patient is disconnected", [this] {
        return request(QStringLiteral("ID_UI_RECIRCULATE_RQST"), {QStringLiteral("4")}, accepted()) &&
               await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), {{QStringLiteral("recircState"), 1}},
                     stateTimeoutMs());
    });
    add("Recirculation: reconnect", [this] {
        return request(QStringLiteral("ID_UI_RECIRCULATE_RQST"), {QStringLiteral("0")}, accepted()) &&
               await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), {{QStringLiteral("recircState"), 3}},
                     stateTimeoutMs());
    });
    add("Recirculation: confirm the reconnection, back to blood prime", [this] {
        return request(QStringLiteral("ID_UI_RECIRCULATE_RQST"), {QStringLiteral("1")}, accepted()) &&
               await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), {{QStringLiteral("txState"), kTxBloodPrime}},
                     stateTimeoutMs());
    });

    // Treatment-end confirmation and post-treatment.
    add("Demo menu: jump to rinseback", [this] {
        return jump(kCmdRinseback, kModeTreatment, kTxRinseback, {{QStringLiteral("rinsebackState"), 0}});
    });
    add("Rinseback: end the treatment, the TD asks for confirmation", [this] {
        return request(QStringLiteral("ID_UI_RINSEBACK_CMD_RQST"), {QStringLiteral("7")}, accepted()) &&
               await(QStringLiteral("ID_TD_UI_GENERIC_CONFIRMATION_RQST"),
                     {{QStringLiteral("confirmId"), kConfirmTreatmentEnd}, {QStringLiteral("command"), 0}},
                     stateTimeoutMs());
    });
    add("Accept the treatment-end confirmation: on to post-treatment", [this] {
        return request(QStringLiteral("ID_UI_CONFIRMATION_RESULT_RESP"),
                       {QString::number(kConfirmTreatmentEnd), QStringLiteral("1")}) &&
               await(QStringLiteral("ID_TD_UI_GENERIC_CONFIRMATION_RQST"),
                     {{QStringLiteral("confirmId"), kConfirmTreatmentEnd}, {QStringLiteral("command"), 3}},
                     stateTimeoutMs()) &&
               await(QStringLiteral("ID_TD_OP_MODE_DATA"), {{QStringLiteral("mode"), kModePostTreatment}},
                     stateTimeoutMs());
    });
    add("Post-treatment: patient disconnected",
        [this] { return request(QStringLiteral("ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST")); });
    add("Post-treatment: disposables removed",
        [this] { return request(QStringLiteral("ID_UI_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RQST")); });
    add("Post-treatment: drain the bicarbonate cartridge", [this] {
        return request(QStringLiteral("ID_UI_DRY_BICART_DISCONNECT_RQST"), {QStringLiteral("0")}, accepted()) &&
               await(QStringLiteral("ID_TD_DRY_BICART_DISCONNECT_DATA"), {{QStringLiteral("drainInProgress"), 1}},
                     stateTimeoutMs()) &&
               await(QStringLiteral("ID_TD_DRY_BICART_DISCONNECT_DATA"),
                     {{QStringLiteral("progress"), 5, Check::AtLeast}}, stateTimeoutMs());
    });
    add("Demo menu: back to Standby", [this] { return jump(kCmdStandby, kModeStandby, kTxStart); });
    add("Every check-in acknowledged", [this] { return checkInsAnswered(); });
    return list;
}

int Walkthrough::run()
{
    const QList<Step> list = steps();
    _failed.clear();
    Console::out(
        QStringLiteral("Walkthrough on %1 (%2): %3 steps").arg(_options.interface, _options.plugin).arg(list.size()));
    QElapsedTimer total;
    total.start();
    const int width = QString::number(list.size()).size();
    for (int i = 0; i < list.size(); ++i) {
        const Step &step = list.at(i);
        Console::outPart(
            QStringLiteral("[%1/%2] %3 ... ").arg(i + 1, width, 10, QLatin1Char(' ')).arg(list.size()).arg(step.title));
        _notes.clear();
        _failure.clear();
        _cursor = _session.mark();
        QElapsedTimer clock;
        clock.start();
        const bool ok = step.body();
        if (_session.isStopped()) {
            Console::out(QStringLiteral("INTERRUPTED"));
            _session.stopCheckIns();
            return eExit_Interrupted;
        }
        const QString notes = _notes.join(QStringLiteral("; "));
        if (ok) {
            Console::out(QStringLiteral("OK (%1): %2").arg(seconds(clock.elapsed()), notes));
            continue;
        }
        Console::out(
            QStringLiteral("FAILED (%1): %2%3%4")
                .arg(seconds(clock.elapsed()), notes, notes.isEmpty() ? QString() : QStringLiteral("; "), _failure));
        _failed << step.title;
        if (!_session.bus().isOpen()) {
            Console::err(QStringLiteral("rararoz-peer: the bus was lost"));
            return eExit_Bus;
        }
        if (!_options.keepGoing)
            break;
    }
    _session.stopCheckIns();
    if (_failed.isEmpty()) {
        Console::out(
            QStringLiteral("Walkthrough passed: %1 steps in %2").arg(list.size()).arg(seconds(total.elapsed())));
        return eExit_Ok;
    }
    Console::out(QStringLiteral("Walkthrough FAILED after %1: %2")
                     .arg(seconds(total.elapsed()), _failed.join(QStringLiteral(", "))));
    return eExit_Failed;
}

bool Walkthrough::fail(const QString &why)
{
    _failure = why;
    return false;
}

bool Walkthrough::joinBus()
{
    // The service joins the bus a moment after it starts: check in every
    // second, as the UI board does, until the first acknowledgement.
    QElapsedTimer clock;
    clock.start();
    _session.startCheckIns(1000);
    const bool joined = _session.waitFor([this] { return _session.checkInsSent() > _session.checkInsUnanswered(0); },
                                         _options.joinTimeoutS * 1000);
    if (!joined)
        return fail(
            QStringLiteral("no acknowledgement of %1 check-ins within %2 s; is the service running on this bus?")
                .arg(_session.checkInsSent())
                .arg(_options.joinTimeoutS));
    note(QStringLiteral("sent ID_UI_CHECK_IN -> acknowledged after %1").arg(seconds(clock.elapsed())));
    // From here on every check-in must be answered.
    _session.forgetCheckIns();
    return true;
}

bool Walkthrough::checkInsAnswered()
{
    // The last check-in may still be on its way.
    const int unanswered = _session.checkInsUnanswered(_options.timeoutMs);
    note(QStringLiteral("%1 check-ins since joining, %2 unanswered").arg(_session.checkInsSent()).arg(unanswered));
    return unanswered == 0 || fail(QStringLiteral("check-ins went unacknowledged"));
}

bool Walkthrough::request(const QString &message, const QStringList &values)
{
    const MessageDefinition *definition = _definitions.lookup(message);
    if (definition && definition->hasResponse)
        return request(message, values, accepted());
    return request(message, values, {});
}

bool Walkthrough::request(const QString &message, const QStringList &values, const Checks &responseChecks,
                          DecodedPayload *response)
{
    const MessageDefinition *definition = _definitions.lookup(message);
    if (!definition)
        return fail(QStringLiteral("%1 is not in the definitions").arg(message));
    QByteArray payload;
    QString error;
    if (!PayloadCodec::encode(*definition, values, payload, error))
        return fail(error);

    const int mark = _session.mark();
    const Sequence sequence = _session.send(definition->id, payload, true);
    if (sequence == 0)
        return fail(QStringLiteral("%1 could not be written to the bus").arg(definition->name));
    QString sent = QStringLiteral("sent ") + definition->name;
    if (!values.isEmpty()) {
        const QString fields = PayloadCodec::text(PayloadCodec::decode(*definition, payload));
        sent += values.size() > 4 ? QStringLiteral(" (%1 fields)").arg(values.size()) : QLatin1Char(' ') + fields;
    }
    note(sent);

    if (!_session.waitForAcknowledgement(sequence, _options.timeoutMs))
        return fail(QStringLiteral("no acknowledgement of sequence %1 within %2")
                        .arg(sequence)
                        .arg(seconds(_options.timeoutMs)));
    note(QStringLiteral("ack %1").arg(-sequence));
    if (!definition->hasResponse)
        return true;

    const MessageDefinition *answer = _definitions.find(definition->responseId);
    if (!answer)
        return fail(QStringLiteral("the response %1 of %2 is not in the definitions")
                        .arg(definition->responseId, 4, 16, QLatin1Char('0'))
                        .arg(definition->name));
    const int at = _session.waitForMessage(
        mark, [answer](const ReceivedMessage &m) { return m.channel == Can::eChlid_TD_UI && m.id == answer->id; },
        _options.timeoutMs);
    if (at < 0)
        return fail(QStringLiteral("no %1 within %2").arg(answer->name, seconds(_options.timeoutMs)));
    const DecodedPayload decoded = PayloadCodec::decode(*answer, _session.history().at(at).payload);
    if (response)
        *response = decoded;
    if (!matches(decoded, responseChecks))
        return fail(QStringLiteral("unexpected %1 %2, expected %3")
                        .arg(answer->name, PayloadCodec::text(decoded), describe(DecodedPayload{}, responseChecks)));
    note(answer->name + QLatin1Char(' ') + describe(decoded, responseChecks));
    return true;
}

bool Walkthrough::await(const QString &message, const Checks &checks, int timeoutMs, DecodedPayload *found)
{
    const MessageDefinition *definition = _definitions.lookup(message);
    if (!definition)
        return fail(QStringLiteral("%1 is not in the definitions").arg(message));
    const int at = _session.waitForMessage(
        _cursor,
        [&](const ReceivedMessage &m) {
            return m.id == definition->id && matches(PayloadCodec::decode(*definition, m.payload), checks);
        },
        timeoutMs);
    if (at < 0) {
        // Say what was seen instead, the most useful clue.
        QString last = QStringLiteral("none seen");
        for (int i = _session.history().size() - 1; i >= _cursor; --i) {
            const ReceivedMessage &m = _session.history().at(i);
            if (m.status == ReceivedMessage::Complete && m.id == definition->id) {
                last = QStringLiteral("last seen ") + PayloadCodec::text(PayloadCodec::decode(*definition, m.payload));
                break;
            }
        }
        return fail(QStringLiteral("no %1 with %2 within %3 (%4)")
                        .arg(definition->name, describe(DecodedPayload{}, checks), seconds(timeoutMs), last));
    }
    const DecodedPayload decoded = PayloadCodec::decode(*definition, _session.history().at(at).payload);
    if (found)
        *found = decoded;
    note(definition->name + QLatin1Char(' ') + describe(decoded, checks));
    _cursor = at + 1;
    return true;
}

bool Walkthrough::jump(int command, int mode, int txState, const Checks &stateChecks)
{
    // Every jump passes through Standby, whose entry resets the simulation;
    // Standby's next step then takes the command.
    if (!request(QStringLiteral("ID_UI_CONFIRMATION_RESULT_RESP"),
                 {QString::number(kDemoMenu), QString::number(command)}) ||
        !await(QStringLiteral("ID_TD_OP_MODE_DATA"), {{QStringLiteral("mode"), kModeStandby}}, stateTimeoutMs()))
        return false;
    if (mode != kModeStandby &&
        !await(QStringLiteral("ID_TD_OP_MODE_DATA"), {{QStringLiteral("mode"), double(mode)}}, stateTimeoutMs()))
        return false;
    if (txState < 0)
        return true;
    Checks checks = stateChecks;
    checks.prepend({QStringLiteral("txState"), double(txState)});
    return await(QStringLiteral("ID_TD_TREATMENT_STATE_DATA"), checks, stateTimeoutMs());
}

bool Walkthrough::matches(const DecodedPayload &payload, const Checks &checks)
{
    if (!payload.definition)
        return false;
    QSet<QString> named;
    for (const Check &check : checks)
        named.insert(check.field.toLower());
    for (const Check &check : checks) {
        QList<QVariant> values;
        if (check.field == QLatin1String("*")) {
            for (int i = 0; i < payload.values.size(); ++i)
                if (!named.contains(payload.definition->fields.at(i).name.toLower()))
                    values << payload.values.at(i);
        } else {
            if (!payload.has(check.field))
                return false;
            values << payload.value(check.field);
        }
        for (const QVariant &value : values) {
            if (!value.isValid())
                return false;
            const double v = value.toDouble();
            if (check.op == Check::Equal && v != check.value)
                return false;
            if (check.op == Check::AtLeast && v < check.value)
                return false;
        }
    }
    return true;
}

QString Walkthrough::describeValue(const QString &field, double value)
{
    static const QHash<int, QString> modes = {{3, QStringLiteral("standby")},
                                              {4, QStringLiteral("pre-treatment")},
                                              {5, QStringLiteral("treatment")},
                                              {6, QStringLiteral("post-treatment")}};
    static const QHash<int, QString> states = {
        {0, QStringLiteral("start")},        {1, QStringLiteral("blood prime")}, {2, QStringLiteral("dialysis")},
        {3, QStringLiteral("paused")},       {4, QStringLiteral("rinseback")},   {5, QStringLiteral("recirculation")},
        {6, QStringLiteral("treatment end")}};
    const QString number = QString::number(value, 'g', 6);
    if (field == QLatin1String("mode") && modes.contains(int(value)))
        return number + QStringLiteral(" (") + modes.value(int(value)) + QLatin1Char(')');
    if (field == QLatin1String("txState") && states.contains(int(value)))
        return number + QStringLiteral(" (") + states.value(int(value)) + QLatin1Char(')');
    return number;
}

QString Walkthrough::describe(const DecodedPayload &payload, const Checks &checks)
{
    // With a payload: the checked fields as they came; without: the checks.
    QStringList parts;
    for (const Check &check : checks) {
        if (check.field == QLatin1String("*")) {
            parts << QStringLiteral("all others %1").arg(check.value);
            continue;
        }
        if (payload.definition && payload.has(check.field)) {
            parts << check.field + QLatin1Char('=') + describeValue(check.field, payload.number(check.field));
        } else {
            parts << check.field + (check.op == Check::AtLeast ? QStringLiteral(">=") : QStringLiteral("=")) +
                         describeValue(check.field, check.value);
        }
    }
    return parts.join(QLatin1Char(' '));
}
