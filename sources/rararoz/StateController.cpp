#include "rararoz/StateController.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimerEvent>

#include "ApplicationController.h"
#include "rararoz/ChartNames.h"
#include "storage/Logger.h"
#include "rararoz/PayloadReader.h"

namespace {
const QString kTimeoutEvent = Chart::Event::TimeoutEvent;

// Dialog time-outs are measured on the monotonic clock: the UI sets the
// board's date and time, which must neither close every open dialog at
// once nor keep one open for ever.
qint64 monotonicMS()
{
    QElapsedTimer timer;
    timer.start();
    return timer.msecsSinceReference();
}
} // namespace

StateController &StateController::I()
{
    static StateController instance;
    return instance;
}

StateController::StateController(QObject *parent)
    : QObject(parent)
    , _clock(&monotonicMS)
{
    // Everything a tick needs is ready at construction, so an instance built
    // for a test runs without the timer or the bus.
    _elapsedTimeCtr = 0;
    connectChartStates();
    fillTransitionEventsFromStandby();
    fillAlarmTriggerSpecs();
}

StateController::~StateController() = default;

bool StateController::init()
{
    if (_init)
        return false;
    _init = true;
    _timerId = startTimer(int(kTickMS), Qt::CoarseTimer);
    connect(&ApplicationController::I(), &ApplicationController::didUnhandledMsgAppController, this,
            &StateController::doStateControllerUnhandledMsgReceived);
    _elapsedTimeCtr = 0;
    LOG_DEBUG(QStringLiteral("%1 Initialized").arg(QString::fromLatin1(metaObject()->className())));
    return true;
}

void StateController::quit() {}

void StateController::connectChartStates()
{
    _rarAroz.connectToState(Chart::State::Standby, this, &StateController::onStandbyStateChange);
    _rarAroz.connectToState(Chart::State::Pre_Tx, this, &StateController::onPretreatmentStateChange);
    _rarAroz.connectToState(Chart::State::Blood_Prime, this, &StateController::onBloodPrimeStateChange);
    _rarAroz.connectToState(Chart::State::Treatment, this, &StateController::onTreatmentStateChange);
    _rarAroz.connectToState(Chart::State::Treatment_Pause, this, &StateController::onTreatmentPauseStateChange);
    _rarAroz.connectToState(Chart::State::Treatment_Rinseback, this, &StateController::onTreatmentRinsebackStateChange);
    _rarAroz.connectToState(Chart::State::Treatment_Recirculate, this,
                            &StateController::onTreatmentRecriculateStateChange);
    _rarAroz.connectToState(Chart::State::Treatment_End, this, &StateController::onTreatmentEndStateChange);
    _rarAroz.connectToState(Chart::State::Post_Tx, this, &StateController::onPostTreatmentStateChange);
}

void StateController::fillTransitionEventsFromStandby()
{
    _transitionEventsFromStandby.clear();
    _transitionEventsFromStandby.insert(CMD_STAND_BY, {Chart::Event::T_Back_2_SB, Can::MODE_STAN});
    _transitionEventsFromStandby.insert(CMD_PRE_TX, {Chart::Event::T_SB_2_Pretx, Can::MODE_PRET});
    _transitionEventsFromStandby.insert(CMD_BLOOD_PRIME, {Chart::Event::T_SB_2_BP, Can::MODE_TREA});
    _transitionEventsFromStandby.insert(CMD_MAIN_TX, {Chart::Event::T_SB_2_Tx, Can::MODE_TREA});
    _transitionEventsFromStandby.insert(CMD_RINSEBACK, {Chart::Event::T_SB_2_RB, Can::MODE_TREA});
    _transitionEventsFromStandby.insert(CMD_RICIRCULATE, {Chart::Event::T_SB_2_RC, Can::MODE_TREA});
    _transitionEventsFromStandby.insert(CMD_END_TX, {Chart::Event::T_SB_2_TE, Can::MODE_TREA});
    _transitionEventsFromStandby.insert(CMD_POST_TX, {Chart::Event::T_SB_2_Posttx, Can::MODE_POST});
}

void StateController::fillAlarmTriggerSpecs()
{
    _alarmTriggerSpecs.clear();
    _alarmTriggerSpecs.insert(ALARM_ID_NO_ALARM, {ALARM_PRIORITY_NONE, 0, false});
    _alarmTriggerSpecs.insert(ALARM_ID_TD_VENOUS_PRESSURE_LOW, {ALARM_PRIORITY_HIGH, 2, true});
    _alarmTriggerSpecs.insert(ALARM_ID_TD_TREATMENT_STOPPED_BY_USER, {ALARM_PRIORITY_HIGH, 6, true});
    _alarmTriggerSpecs.insert(ALARM_ID_TD_RECIRC_TIMEOUT_WARNING, {ALARM_PRIORITY_LOW, 112, false});
    _alarmTriggerSpecs.insert(ALARM_ID_TD_RECIRC_TIMEOUT, {ALARM_PRIORITY_HIGH, 26, false});
    _alarmTriggerSpecs.insert(ALARM_ID_DD_BICARBONATE_CARTRIDGE_LOW_LEVEL, {ALARM_PRIORITY_MEDIUM, 112, true});
    _alarmTriggerSpecs.insert(ALARM_ID_TD_TREATMENT_MODALITY_CHANGE, {ALARM_PRIORITY_MEDIUM, 2, true});
    _alarmTriggerSpecs.insert(ALARM_ID_DD_REPLACE_ACID_CONCENTRATE, {ALARM_PRIORITY_MEDIUM, 112, true});
    _alarmTriggerSpecs.insert(ALARM_ID_DD_REPLACE_BICARB_CARTRIDGE, {ALARM_PRIORITY_MEDIUM, 112, true});
    _alarmTriggerSpecs.insert(ALARM_ID_TD_DIALYSATE_PROPORTIONING_IN_PROGRESS, {ALARM_PRIORITY_MEDIUM, 10, true});
    _alarmTriggerSpecs.insert(ALARM_ID_TD_END_OF_TREATMENT, {ALARM_PRIORITY_LOW, 248, false});
    _alarmTriggerSpecs.insert(ALARM_ID_TD_END_OF_TREATMENT_TIMEOUT, {ALARM_PRIORITY_HIGH, 108, false});
    _alarmTriggerSpecs.insert(ALARM_ID_TD_HDF_SUBMODE_CHANGE, {ALARM_PRIORITY_MEDIUM, 116, true});
}

void StateController::setClock(Clock clock)
{
    _clock = clock ? std::move(clock) : Clock(&monotonicMS);
}

qint64 StateController::currentTimeMS() const
{
    return _clock();
}

void StateController::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != _timerId) {
        QObject::timerEvent(event);
        return;
    }
    tick();
}

void StateController::tick()
{
    runTick();
    processChartEvents();
    announceActiveState();
}

void StateController::runTick()
{
    ++_elapsedTimeCtr;
    if (!_rarAroz.isRunning())
        _rarAroz.start();
    _rarAroz.submitEvent(kTimeoutEvent);
    if (_broadcastMessages.isReady())
        sendMessages(true);
    if (_sendMessages.isReady())
        sendMessages(false);
    handleUICheckInMessage();
    handleAlarmStatusBroadcastData(BC_DELAYED);
}

void StateController::processChartEvents()
{
    // The chart runtime processes submitted events through a queued call on
    // this thread. Delivering this thread's posted events now, in the order
    // they were posted, completes the chart's step before the tick returns,
    // just as the event loop would right after it. (Delivering all of them,
    // not only queued calls, also lets Qt drop the delivered ones, so a test
    // that runs many ticks without an event loop stays fast.)
    QCoreApplication::sendPostedEvents();
}

void StateController::announceActiveState()
{
    // Every tick re-enters the active state; only a move to another counts.
    const QString state = getActiveStateName();
    if (state == _announcedState)
        return;
    _announcedState = state;
    emit didActiveStateChange(state);
}

void StateController::sendMessages(bool isBroadcast)
{
    const QList<QVariantList> messages = isBroadcast ? _broadcastMessages.takeAll() : _sendMessages.takeAll();
    for (const QVariantList &message : messages)
        emit ApplicationController::I().didActionTransmit(message);
}

void StateController::queueBroadcast(const QVariantList &message)
{
    _broadcastMessages.enqueue(message);
}

void StateController::queueSend(const QVariantList &message)
{
    _sendMessages.enqueue(message);
}

void StateController::handleUIResponseMessage(Can::Message_ID_Enum msgID, quint32 acceptReject,
                                              const QVariantList &rejectReasons)
{
    QVariantList message{int(msgID & 0xFFFF), int(Can::eChlid_TD_UI), acceptReject};
    if (rejectReasons.isEmpty())
        message.append(int(REQUEST_REJECT_REASON_NONE));
    else
        message.append(rejectReasons);
    queueSend(message);
}

void StateController::handleTDOpModeTransitionBroadcastData(Can::TD_OP_MODE mode, quint32 subMode,
                                                            Broadcast_Type BCType)
{
    if (!_gates.opMode.isDue(BCType))
        return;
    queueBroadcast({int(Can::ID_TD_OP_MODE_DATA), int(Can::eChlid_TD_Sync), int(mode), subMode});
}

void StateController::doStateControllerUnhandledMsgReceived(const QVariantList &msg)
{
    _treatmentRcvdMessages.receive(msg);
}

quint32 StateController::extractU32DataFromReceivedMessage(Can::Message_ID_Enum msgID, qint32 index) const
{
    return PayloadReader(_treatmentRcvdMessages.peek(msgID)).u32(index);
}

float StateController::extractF32DataFromReceivedMessage(Can::Message_ID_Enum msgID, qint32 index) const
{
    return PayloadReader(_treatmentRcvdMessages.peek(msgID)).f32(index);
}

QString StateController::getActiveStateName() const
{
    const QStringList names = _rarAroz.activeStateNames();
    return names.isEmpty() ? QString() : names.first();
}

void StateController::runStateHandler(bool active, State_Status &status, StepHandler entry, StepHandler step,
                                      ExitHandler exit)
{
    if (!active)
        return;
    switch (status) {
    case STATE_ON_ENTRY: {
        StepExit stepExit(status, _treatmentStatus.stateTransitionEvent);
        (this->*entry)(stepExit);
        stepExit.stay();
        break;
    }
    case STATE_ON_ACTION: {
        StepExit stepExit(status, _treatmentStatus.stateTransitionEvent);
        stepExit.stay();
        (this->*step)(stepExit);
        break;
    }
    case STATE_ON_EXIT:
        (this->*exit)();
        closeUIConfirmMessagesOnStateExit();
        status = STATE_ON_ENTRY;
        _rarAroz.submitEvent(_treatmentStatus.stateTransitionEvent);
        break;
    }
}
