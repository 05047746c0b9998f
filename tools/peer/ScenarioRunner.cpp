#include "peer/ScenarioRunner.h"

#include <QDateTime>
#include <QElapsedTimer>

#include "peer/Console.h"
#include "peer/DemoMenu.h"
#include "peer/ExitCode.h"
#include "peer/MessageFormatter.h"
#include "peer/PayloadCodec.h"
#include "peer/PeerSession.h"
#include "peer/TreatmentStates.h"

namespace {

// Long enough for the state changes the service announces once a second.
constexpr int kLeastAwaitMs = 5000;
constexpr int kCheckInIntervalMs = 1000;
constexpr int kModeAnnouncedWithinMs = 2000;
// The simulator takes a parked request on its next 100 ms tick and enters the
// new state on the tick after: what the UI sends or awaits next must come
// after that, not meet a broadcast of the old state or share its tick.
constexpr int kDemoSettleMs = 300;
// A request with more values than this is noted by its count only.
constexpr int kMostValuesNoted = 4;

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

} // namespace

ScenarioRunner::ScenarioRunner(PeerSession &session, const MessageDefinitions &definitions, const PeerOptions &options)
    : _session(session)
    , _definitions(definitions)
    , _options(options)
{
}

QList<ScenarioRunner::Step> ScenarioRunner::steps(const Scenario &scenario)
{
    QList<Step> list;
    list.append(
        {QStringLiteral("Join the bus: check in until the service acknowledges"), 0, [this] { return joinBus(); }});
    for (const ScenarioStep &step : scenario.steps) {
        list.append({step.title, step.line, [this, &step] {
                         for (const ScenarioAction &action : step.actions)
                             if (!perform(action))
                                 return false;
                         return true;
                     }});
    }
    list.append({QStringLiteral("Every check-in acknowledged"), 0, [this] { return checkInsAnswered(); }});
    return list;
}

int ScenarioRunner::run(const Scenario &scenario, const QString &label, ScenarioResult &result)
{
    const QList<Step> list = steps(scenario);
    _bindings.clear();
    result = ScenarioResult();
    result.name = scenario.fileName;
    result.startMs = QDateTime::currentMSecsSinceEpoch();
    for (const Step &step : list)
        result.steps.append({step.title, step.line, StepResult::Skipped, 0, {}, {}, {}, {}});

    Console::out(
        QStringLiteral("%1 on %2 (%3): %4 steps").arg(label, _options.interface, _options.plugin).arg(list.size()));
    QElapsedTimer total;
    total.start();
    const auto finish = [&](int status) {
        _session.stopCheckIns();
        result.ms = total.elapsed();
        return status;
    };
    const int width = QString::number(list.size()).size();
    QStringList failed;
    for (int i = 0; i < list.size(); ++i) {
        const Step &step = list.at(i);
        StepResult &outcome = result.steps[i];
        Console::outPart(
            QStringLiteral("[%1/%2] %3 ... ").arg(i + 1, width, 10, QLatin1Char(' ')).arg(list.size()).arg(step.title));
        _notes.clear();
        _failure = StepResult();
        _stepStart = _cursor = _session.mark();
        QElapsedTimer clock;
        clock.start();
        const bool ok = step.body();
        outcome.ms = clock.elapsed();
        outcome.notes = _notes.join(QStringLiteral("; "));
        if (_session.isStopped()) {
            Console::out(QStringLiteral("INTERRUPTED"));
            return finish(eExit_Interrupted);
        }
        if (ok) {
            outcome.outcome = StepResult::Passed;
            Console::out(QStringLiteral("OK (%1): %2").arg(seconds(outcome.ms), outcome.notes));
            continue;
        }
        outcome.outcome = StepResult::Failed;
        outcome.failure = _failure.failure;
        outcome.expected = _failure.expected;
        outcome.received = _failure.received;
        Console::out(QStringLiteral("FAILED (%1): %2%3%4")
                         .arg(seconds(outcome.ms), outcome.notes,
                              outcome.notes.isEmpty() ? QString() : QStringLiteral("; "), outcome.failure));
        failed << step.title;
        if (!_session.bus().isOpen()) {
            Console::err(QStringLiteral("rararoz-peer: the bus was lost"));
            return finish(eExit_Bus);
        }
        if (!_options.keepGoing)
            break;
    }
    finish(eExit_Ok);
    if (failed.isEmpty()) {
        Console::out(QStringLiteral("%1 passed: %2 steps in %3").arg(label).arg(list.size()).arg(seconds(result.ms)));
        return eExit_Ok;
    }
    Console::out(
        QStringLiteral("%1 FAILED after %2: %3").arg(label, seconds(result.ms), failed.join(QStringLiteral(", "))));
    return eExit_Failed;
}

bool ScenarioRunner::fail(const QString &why, const QString &expected, const QString &received)
{
    _failure.failure = why;
    _failure.expected = expected;
    _failure.received = received;
    return false;
}

bool ScenarioRunner::perform(const ScenarioAction &action)
{
    switch (action.kind) {
    case ScenarioAction::Send:
        return send(action);
    case ScenarioAction::Await:
        return await(action);
    case ScenarioAction::Wait:
        return pause(action.timeMs);
    case ScenarioAction::Demo:
        return demo(action);
    case ScenarioAction::Show:
        return show(action);
    }
    return fail(QStringLiteral("unknown action"));
}

const MessageDefinition *ScenarioRunner::definition(const QString &nameOrId)
{
    const MessageDefinition *found = _definitions.lookup(nameOrId);
    if (!found)
        fail(QStringLiteral("%1 is not in the definitions").arg(nameOrId));
    return found;
}

int ScenarioRunner::awaitLimitMs(const ScenarioAction &action) const
{
    return action.timeMs > 0 ? action.timeMs : qMax(kLeastAwaitMs, _options.timeoutMs);
}

bool ScenarioRunner::joinBus()
{
    // The service joins the bus a moment after it starts: check in every
    // second, as the UI board does, until the first acknowledgement.
    QElapsedTimer clock;
    clock.start();
    _session.startCheckIns(kCheckInIntervalMs);
    const bool joined = _session.waitFor([this] { return _session.checkInsSent() > _session.checkInsUnanswered(0); },
                                         _options.joinTimeoutS * 1000);
    if (!joined)
        return fail(
            QStringLiteral("no acknowledgement of %1 check-ins within %2 s; is the service running on this bus?")
                .arg(_session.checkInsSent())
                .arg(_options.joinTimeoutS),
            QStringLiteral("an acknowledgement of a check-in"), QStringLiteral("none"));
    note(QStringLiteral("sent ID_UI_CHECK_IN -> acknowledged after %1").arg(seconds(clock.elapsed())));
    // From here on every check-in must be answered.
    _session.forgetCheckIns();
    return true;
}

bool ScenarioRunner::checkInsAnswered()
{
    // The last check-in may still be on its way.
    const int unanswered = _session.checkInsUnanswered(_options.timeoutMs);
    note(QStringLiteral("%1 check-ins since joining, %2 unanswered").arg(_session.checkInsSent()).arg(unanswered));
    return unanswered == 0 ||
           fail(QStringLiteral("check-ins went unacknowledged"), QStringLiteral("0 unanswered check-ins"),
                QStringLiteral("%1 unanswered").arg(unanswered));
}

bool ScenarioRunner::answerChecks(const ScenarioAction &action, const MessageDefinition &answer, ScenarioChecks &checks)
{
    // Without a reply line a response must say that the request was taken.
    static const QList<ScenarioCheck> accepted = {
        {QStringLiteral("accepted"), ScenarioCheck::Equal, QStringLiteral("1")},
        {QStringLiteral("rejectReason"), ScenarioCheck::Equal, QStringLiteral("0")}};
    const bool saysAccepted =
        answer.fieldIndex(QStringLiteral("accepted")) >= 0 && answer.fieldIndex(QStringLiteral("rejectReason")) >= 0;
    QString error;
    if (!checks.set(action.hasReply ? action.checks
                    : saysAccepted  ? accepted
                                    : QList<ScenarioCheck>(),
                    _bindings, error))
        return fail(error);
    return true;
}

bool ScenarioRunner::send(const ScenarioAction &action)
{
    const MessageDefinition *request = definition(action.message);
    if (!request)
        return false;
    QStringList values;
    for (const QString &value : action.values) {
        QString resolved;
        QString error;
        if (!_bindings.resolve(value, resolved, error))
            return fail(error);
        values << resolved;
    }
    QByteArray payload;
    QString error;
    if (!PayloadCodec::encode(*request, values, payload, error))
        return fail(error);

    const int mark = _session.mark();
    _cursor = mark; // what the request brings about comes after it
    const Sequence sequence = _session.send(request->id, payload, true);
    if (sequence == 0)
        return fail(QStringLiteral("%1 could not be written to the bus").arg(request->name));
    QString sent = QStringLiteral("sent ") + request->name;
    if (!values.isEmpty()) {
        sent += values.size() > kMostValuesNoted
                    ? QStringLiteral(" (%1 fields)").arg(values.size())
                    : QLatin1Char(' ') + PayloadCodec::text(PayloadCodec::decode(*request, payload));
    }
    note(sent);

    if (!_session.waitForAcknowledgement(sequence, _options.timeoutMs))
        return fail(QStringLiteral("no acknowledgement of sequence %1 within %2")
                        .arg(sequence)
                        .arg(seconds(_options.timeoutMs)),
                    QStringLiteral("acknowledgement of sequence %1").arg(-sequence), QStringLiteral("none"));
    note(QStringLiteral("ack %1").arg(-sequence));
    if (!request->hasResponse)
        return true;

    const MessageDefinition *answer = _definitions.find(request->responseId);
    if (!answer)
        return fail(QStringLiteral("the response %1 of %2 is not in the definitions")
                        .arg(MessageFormatter::idText(request->responseId), request->name));
    ScenarioChecks checks;
    if (!answerChecks(action, *answer, checks))
        return false;
    const int at = _session.waitForMessage(
        mark, [answer](const ReceivedMessage &m) { return m.channel == Can::eChlid_TD_UI && m.id == answer->id; },
        _options.timeoutMs);
    if (at < 0)
        return fail(QStringLiteral("no %1 within %2").arg(answer->name, seconds(_options.timeoutMs)),
                    (answer->name + QLatin1Char(' ') + checks.expected()).trimmed(), QStringLiteral("none"));
    const DecodedPayload decoded = PayloadCodec::decode(*answer, _session.history().at(at).payload);
    if (!checks.matches(decoded))
        return fail(QStringLiteral("unexpected %1 %2, expected %3")
                        .arg(answer->name, PayloadCodec::text(decoded), checks.expected()),
                    checks.expected(), PayloadCodec::text(decoded));
    note((answer->name + QLatin1Char(' ') + checks.received(decoded)).trimmed());
    if (!action.bindAs.isEmpty())
        _bindings.keep(action.bindAs, decoded);
    return true;
}

QString ScenarioRunner::lastSeen(const MessageDefinition &definition, int from) const
{
    for (int i = _session.history().size() - 1; i >= from; --i) {
        const ReceivedMessage &m = _session.history().at(i);
        if (m.status == ReceivedMessage::Complete && m.id == definition.id)
            return PayloadCodec::text(PayloadCodec::decode(definition, m.payload));
    }
    return QString();
}

bool ScenarioRunner::await(const ScenarioAction &action)
{
    const MessageDefinition *awaited = definition(action.message);
    if (!awaited)
        return false;
    ScenarioChecks checks;
    QString error;
    if (!checks.set(action.checks, _bindings, error))
        return fail(error);
    const int limitMs = awaitLimitMs(action);
    const int at = _session.waitForMessage(
        _cursor,
        [&](const ReceivedMessage &m) {
            return m.id == awaited->id && checks.matches(PayloadCodec::decode(*awaited, m.payload));
        },
        limitMs);
    const QString expected = (awaited->name + QLatin1Char(' ') + checks.expected()).trimmed();
    if (at < 0) {
        // Say what was seen instead, the most useful clue.
        const QString last = lastSeen(*awaited, _cursor);
        return fail(QStringLiteral("no %1 with %2 within %3 (%4)")
                        .arg(awaited->name, checks.expected(), seconds(limitMs),
                             last.isEmpty() ? QStringLiteral("none seen") : QStringLiteral("last seen ") + last),
                    expected + QStringLiteral(" within ") + seconds(limitMs),
                    last.isEmpty() ? QStringLiteral("none") : awaited->name + QLatin1Char(' ') + last);
    }
    const DecodedPayload decoded = PayloadCodec::decode(*awaited, _session.history().at(at).payload);
    note((awaited->name + QLatin1Char(' ') + checks.received(decoded)).trimmed());
    _cursor = at + 1;
    if (!action.bindAs.isEmpty())
        _bindings.keep(action.bindAs, decoded);
    return true;
}

bool ScenarioRunner::demo(const ScenarioAction &action)
{
    const int command = DemoMenu::command(action.values.value(0));
    if (command < 0)
        return fail(QStringLiteral("unknown demo-menu command '%1'").arg(action.values.value(0)));
    ScenarioAction request;
    request.kind = ScenarioAction::Send;
    request.message = MessageFormatter::idText(Can::ID_UI_CONFIRMATION_RESULT_RESP);
    request.values = QStringList{QString::number(DemoMenu::kMarker), QString::number(command)};
    const int mode = lastMode();
    if (!send(request))
        return false;
    if (DemoMenu::passesStandby(command, mode)) {
        ScenarioAction standby;
        standby.kind = ScenarioAction::Await;
        standby.message = MessageFormatter::idText(Can::ID_TD_OP_MODE_DATA);
        standby.checks = {
            {QStringLiteral("mode"), ScenarioCheck::Equal, QString::number(TreatmentStates::kModeStandby)}};
        if (!await(standby))
            return false;
    }
    // A reset in Standby may be met by Standby's own broadcasts before it is
    // taken: what is sent next must not share the reset's tick.
    _session.waitFor([] { return false; }, kDemoSettleMs);
    return !_session.isStopped();
}

int ScenarioRunner::lastMode()
{
    const MessageDefinition *modes = _definitions.find(Can::ID_TD_OP_MODE_DATA);
    if (!modes)
        return -1;
    const auto isMode = [](const ReceivedMessage &m) { return m.id == Can::ID_TD_OP_MODE_DATA; };
    int at = -1;
    for (int i = _session.history().size() - 1; i >= 0 && at < 0; --i)
        if (_session.history().at(i).status == ReceivedMessage::Complete && isMode(_session.history().at(i)))
            at = i;
    // Right after joining none may have come yet; Standby says so every second.
    if (at < 0)
        at = _session.waitForMessage(0, isMode, kModeAnnouncedWithinMs);
    return at < 0
               ? -1
               : PayloadCodec::decode(*modes, _session.history().at(at).payload).value(QStringLiteral("mode")).toInt();
}

bool ScenarioRunner::show(const ScenarioAction &action)
{
    const MessageDefinition *shown = definition(action.message);
    if (!shown)
        return false;
    for (int i = _session.history().size() - 1; i >= _stepStart; --i) {
        const ReceivedMessage &m = _session.history().at(i);
        if (m.status != ReceivedMessage::Complete || m.id != shown->id)
            continue;
        const DecodedPayload decoded = PayloadCodec::decode(*shown, m.payload);
        QStringList fields;
        for (const QString &field : action.values)
            fields << field + QLatin1Char('=') +
                          (decoded.has(field) ? FieldType::text(decoded.value(field)) : QStringLiteral("?"));
        note(shown->name + QLatin1Char(' ') + fields.join(QLatin1Char(' ')));
        return true;
    }
    return fail(QStringLiteral("no %1 in this step").arg(shown->name), shown->name, QStringLiteral("none"));
}

bool ScenarioRunner::pause(int ms)
{
    _session.waitFor([] { return false; }, ms);
    note(QStringLiteral("waited %1").arg(seconds(ms)));
    return !_session.isStopped();
}
