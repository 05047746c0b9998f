#include "soak/SoakRig.h"

#include <QCanBusFrame>
#include <QFile>

#include "ApplicationController.h"
#include "canbus/FrameInterface.h"
#include "storage/Logger.h"
#include "canbus/MessageDispatcher.h"
#include "peer/PayloadCodec.h"
#include "storage/Settings.h"
#include "Threads.h"

using namespace Can;

namespace {

constexpr qint64 kNsPerMs = 1000000;
constexpr qint64 kTickNs = 100 * kNsPerMs;
constexpr qint64 kTicksPerMinute = 600;
constexpr qint64 kPacingNs = TransmitQueue::_interval * kNsPerMs;
// Bounds of what may pile up; far above what a healthy run reaches.
constexpr int kQueuedFramesMax = 400;
constexpr int kPendingAcknowledgementsMax = 100;
constexpr int kAssemblyBytesMax = eLenHeaderInfo + eLenMaxData + 1;
constexpr quint64 kLogLinesPerMinuteMax = 3000;
// Sequence numbers skipped between two messages: acknowledgements take
// numbers of the same counter.
constexpr int kSequenceGapMax = 64;

} // namespace

SoakRig::SoakRig(quint64 seed)
    : _seed(seed)
{
}

SoakRig::~SoakRig() = default;

bool SoakRig::setUp(QString &error)
{
    // The peer tool's definitions first: reading them empties the model.
    if (!_check.load(error))
        return false;
    QFile unhandled(QStringLiteral(RARAROZ_SOURCE_DIR "/config/Messages/Unhandled.conf"));
    if (!unhandled.open(QIODevice::ReadOnly) ||
        !Storage::Settings::parse({Storage::Settings::category(Storage::Settings::eMessagesUnhandled),
                                   {},
                                   QString::fromUtf8(unhandled.readAll())})) {
        error = QStringLiteral("cannot read the service's message definitions");
        return false;
    }
    Threads::registerTypes();

    MessageDispatcher &dispatcher = MessageDispatcher::I();
    FrameInterface &frames = FrameInterface::I();
    ApplicationController &application = ApplicationController::I();
    dispatcher.init();
    dispatcher.onSettingsDone();
    _controller = std::make_unique<StateController>();
    _controller->setClock([this] { return _nowNs / kNsPerMs; });
    frames.setClock([this] { return _nowNs; });

    // The wiring of the service's threads, all on this one and direct: the
    // dispatcher's batching of received frames waits for an event loop.
    disconnect(&frames, &FrameInterface::didFrameReceive, &dispatcher, nullptr);
    connect(&frames, &FrameInterface::didFrameReceive, &dispatcher, &MessageDispatcher::onFrameReceive,
            Qt::DirectConnection);
    connect(&frames, &FrameInterface::didFrameTransmit, this, &SoakRig::onFrameLeaves);
    connect(&dispatcher, &MessageDispatcher::didUnhandledMsgDispatcher, &application,
            &ApplicationController::doUnhandledMsgAppController);
    connect(&application, &ApplicationController::didUnhandledMsgAppController, _controller.get(),
            &StateController::doStateControllerUnhandledMsgReceived);
    connect(&Storage::Logger::I(), &Storage::Logger::didLog, this, [this] {
        ++_logLines;
        ++_logLinesThisMinute;
    });

    _ui = std::make_unique<SoakUi>(
        _seed, _check.definitions(), [this](const SoakUi::Outgoing &out) { deliverFromUi(out); },
        [this](const QString &problem) { fail(problem); });
    return true;
}

void SoakRig::fail(const QString &problem)
{
    if (_problem.isEmpty())
        _problem = problem;
}

bool SoakRig::run(qint64 ticks)
{
    for (const qint64 end = _tick + ticks; _tick < end && _problem.isEmpty(); ++_tick) {
        _nowNs = _tick * kTickNs;
        _ui->tick(_tick, _states[0]);
        _controller->tick();
        drainTransmitQueue((_tick + 1) * kTickNs);
        checkTick();
    }
    return _problem.isEmpty();
}

void SoakRig::deliverFromUi(const SoakUi::Outgoing &out)
{
    FrameList frames;
    if (out.id)
        _builder.buildFrames(out.id, out.bytes, frames, out.sequence);
    else
        frames << out.bytes;
    for (const QByteArray &bytes : qAsConst(frames))
        FrameInterface::I().onFrameReceive(QCanBusFrame(out.channel, bytes));
}

void SoakRig::drainTransmitQueue(qint64 untilNs)
{
    FrameInterface &frames = FrameInterface::I();
    for (int steps = 0; _problem.isEmpty(); ++steps) {
        if (_confirmPending) {
            _confirmPending = false;
            frames.onFrameTransmitResult(true);
            frames.onFrameWritten(1);
        }
        const int waitMs = frames.queue().msUntilNext(_nowNs, false);
        if (waitMs < 0)
            return;
        const qint64 next = _nowNs + qMax(waitMs, 1) * kNsPerMs;
        if (waitMs > 0 && next >= untilNs)
            return;
        if (steps > 1000) {
            fail(QStringLiteral("the transmit queue does not move"));
            return;
        }
        if (waitMs > 0)
            _nowNs = next;
        frames.pace();
        if (!_confirmPending && waitMs == 0)
            _nowNs = qMin(next, untilNs - 1); // nothing went: let time pass
    }
}

void SoakRig::onFrameLeaves(const QCanBusFrame &frame)
{
    ++_framesOut;
    _confirmPending = true;
    if (_lastFrameNs >= 0 && _nowNs - _lastFrameNs < kPacingNs)
        fail(QStringLiteral("frames %1 ns apart").arg(_nowNs - _lastFrameNs));
    _lastFrameNs = _nowNs;
    const QByteArray bytes = frame.payload();
    if (frame.frameId() == eChlid_LOWEST && bytes.isEmpty())
        return; // keep-awake
    if (bytes.size() != eLenCanFrame) {
        fail(QStringLiteral("a frame of %1 bytes on %2").arg(bytes.size()).arg(frame.frameId(), 0, 16));
        return;
    }
    const auto channel = Can_Id(frame.frameId());
    Can::Message &message = _assembly[frame.frameId()];
    if (!_builder.buildMessage(bytes, message, channel)) {
        fail(QStringLiteral("a frame on %1 breaks its message (sync or CRC)").arg(frame.frameId(), 0, 16));
        return;
    }
    if (!message.isComplete())
        return;
    const Can::Message complete = std::exchange(message, Can::Message());
    checkMessage(channel, complete);
}

int SoakRig::expectedMode(const QString &state)
{
    if (state == QLatin1String("Standby"))
        return MODE_STAN;
    if (state == QLatin1String("Pre_Tx"))
        return MODE_PRET;
    if (state == QLatin1String("Post_Tx"))
        return MODE_POST;
    return MODE_TREA; // blood prime and every treatment state
}

void SoakRig::checkMessage(Can_Id channel, const Can::Message &message)
{
    ++_messagesOut;
    const QByteArray payload = OutgoingCheck::payloadOf(message);
    const quint16 id = quint16(message.actionId);
    const QString problem = _check.payloadProblem(id, channel, payload);
    if (!problem.isEmpty())
        return fail(problem);

    if (id != ID_Acknow) {
        const int gap = (message.sequence - _lastSequence + 32767) % 32767;
        if (message.sequence <= 0 || (_lastSequence != 0 && (gap < 1 || gap > kSequenceGapMax)))
            return fail(QStringLiteral("sequence %1 after %2").arg(message.sequence).arg(_lastSequence));
        _lastSequence = message.sequence;
    }

    const MessageDefinition &definition = *_check.definitions().find(id);
    const DecodedPayload decoded = PayloadCodec::decode(definition, payload);
    if (id == ID_TD_OP_MODE_DATA) {
        const int mode = decoded.value(QStringLiteral("mode")).toInt();
        const QString now = _controller->getActiveStateName();
        if (mode != expectedMode(now) && mode != expectedMode(_states[0]) && mode != expectedMode(_states[1]) &&
            mode != expectedMode(_states[2]))
            return fail(QStringLiteral("op mode %1 while the chart is in %2").arg(mode).arg(now));
    } else if (id == ID_TD_ULTRAFILTRATION_DATA) {
        const double removed = decoded.number(QStringLiteral("ufRemovedL"));
        const double volume = decoded.number(QStringLiteral("ufVolumeL"));
        if (removed > volume + 1e-3)
            return fail(QStringLiteral("UF removed %1 L of %2 L prescribed").arg(removed).arg(volume));
    } else if (id == ID_TD_TREATMENT_TIME_DATA) {
        const uint total = decoded.value(QStringLiteral("prescribedS")).toUInt();
        if (decoded.value(QStringLiteral("remainingS")).toUInt() > total)
            return fail(QStringLiteral("remaining time above its total %1 s").arg(total));
    }
    _ui->receive(_tick, id, message.sequence, payload);
}

void SoakRig::checkTick()
{
    const QString state = _controller->getActiveStateName();
    if (state == QLatin1String("Post_Tx") && _states[0] != state)
        ++_treatments;
    _states[2] = _states[1];
    _states[1] = _states[0];
    _states[0] = state;
    ++_stateTicks[state];

    const int queued = FrameInterface::I().queue().size();
    _queueMax = qMax(_queueMax, queued);
    if (queued > kQueuedFramesMax)
        return fail(QStringLiteral("%1 frames wait to be sent").arg(queued));
    if (MessageDispatcher::I().assemblyBytes(eChlid_UI_TD) > kAssemblyBytesMax)
        return fail(
            QStringLiteral("the UI's channel holds %1 bytes").arg(MessageDispatcher::I().assemblyBytes(eChlid_UI_TD)));
    if (_controller->uiConfirmMessages().size() > NUM_OF_GENERIC_CONFIRM_IDS)
        return fail(QStringLiteral("%1 confirmations open").arg(_controller->uiConfirmMessages().size()));
    if (_ui->pendingAcknowledgements() > kPendingAcknowledgementsMax)
        return fail(QStringLiteral("%1 acknowledgements outstanding").arg(_ui->pendingAcknowledgements()));
    if (quint64(_controller->elapsedTimeCtr()) > quint64(_tick + 1))
        return fail(
            QStringLiteral("elapsed-time counter %1 after %2 ticks").arg(_controller->elapsedTimeCtr()).arg(_tick + 1));
    if ((_tick + 1) % kTicksPerMinute == 0) {
        _logLinesPerMinuteMax = qMax(_logLinesPerMinuteMax, _logLinesThisMinute);
        if (_logLinesThisMinute > kLogLinesPerMinuteMax)
            return fail(QStringLiteral("%1 log lines in a minute").arg(_logLinesThisMinute));
        _logLinesThisMinute = 0;
    }
}

QString SoakRig::report() const
{
    QStringList states;
    for (auto it = _stateTicks.constBegin(); it != _stateTicks.constEnd(); ++it)
        states << QStringLiteral("%1 %2 min").arg(it.key()).arg(it.value() / kTicksPerMinute);
    states.sort();
    return QStringLiteral("%1 ticks (%2 h simulated), %3 treatments to post-treatment\n"
                          "out: %4 frames, %5 messages; UI: %6 requests, %7 responses, %8 misbehaviours\n"
                          "log lines: %9 (at most %10 a minute); transmit queue at most %11 frames\n"
                          "time per state: %12")
        .arg(_tick)
        .arg(double(_tick) / (kTicksPerMinute * 60), 0, 'f', 1)
        .arg(_treatments)
        .arg(_framesOut)
        .arg(_messagesOut)
        .arg(_ui->requestsSent())
        .arg(_ui->responsesReceived())
        .arg(_ui->misbehaviours())
        .arg(_logLines)
        .arg(_logLinesPerMinuteMax)
        .arg(_queueMax)
        .arg(states.join(QStringLiteral(", ")));
}
