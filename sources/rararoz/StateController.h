#pragma once

#include <QHash>
#include <QObject>
#include <QRandomGenerator>
#include <QVariantList>

#include <functional>

#include "rararoz/BroadcastGates.h"
#include "MessageGlobals.h"
#include "rararoz/OutgoingMessages.h"
#include "rararoz/RarArozDefines.h"
#include "rararoz/ReceivedRequests.h"
#include "rararoz/StepExit.h"
#include "TalvoRarArozXMLStates.h"

class PayloadReader;
class QTimerEvent;

// The simulated treatment-delivery controller. It parks the UI's requests,
// drives the treatment state chart with a 100 ms tick, and queues every
// response and broadcast for the next tick to hand to the application
// controller. Everything runs on the main thread.
//
// The process uses the one instance I(); a test builds its own instance and
// drives it with tick(), without the timer or the bus.
class StateController : public QObject
{
    Q_OBJECT

public:
    // Milliseconds on a monotonic clock: only differences count, and a
    // change of the board's date and time does not move it.
    using Clock = std::function<qint64()>;

    static StateController &I();
    explicit StateController(QObject *parent = nullptr);
    ~StateController() override;
    StateController(const StateController &) = delete;
    StateController &operator=(const StateController &) = delete;

    // Starts the 100 ms tick and takes the UI's requests from the
    // application controller. A second call returns false.
    bool init();
    void quit();

    // One tick: hands on what the previous tick queued, broadcasts first,
    // then lets the chart run the active state's step. The timer calls it;
    // a test calls it directly.
    void tick();

    // An empty clock restores the monotonic one.
    void setClock(Clock clock);
    qint64 currentTimeMS() const;

    void sendMessages(bool isBroadcast);
    void handleUIResponseMessage(Can::Message_ID_Enum msgID, quint32 acceptReject,
                                 const QVariantList &rejectReasons = QVariantList());
    void handleTDOpModeTransitionBroadcastData(Can::TD_OP_MODE mode, quint32 subMode, Broadcast_Type BCType);
    quint32 extractU32DataFromReceivedMessage(Can::Message_ID_Enum msgID, qint32 index) const;
    float extractF32DataFromReceivedMessage(Can::Message_ID_Enum msgID, qint32 index) const;
    QString getActiveStateName() const;
    void triggerAnAlarm(Alarm_List alarmID, qint16 alarmProperty);

    // Read access to the simulated treatment.
    const Treatment_Params &treatmentParams() const { return _treatmentParams; }
    const Treatment_Status_Vars &treatmentStatus() const { return _treatmentStatus; }
    const Treatment_Sub_State_Vars &treatmentSubStates() const { return _treatmentSubStates; }
    const Pressure_Vars &pressureVars() const { return _pressureVars; }
    const Treatment_HDF_vars &treatmentHDFVars() const { return _treatmentHDFVars; }
    const Blood_Prime_Vars &bloodPrimeVars() const { return _bloodPrimeVars; }
    const QHash<Generic_Confirm_Id, Generic_Msg_Status> &uiConfirmMessages() const { return _uiConfirmMessages; }
    const ReceivedRequests &receivedRequests() const { return _treatmentRcvdMessages; }
    quint32 elapsedTimeCtr() const { return _elapsedTimeCtr; }

signals:
    // The chart's active state is another one than at the last tick.
    void didActiveStateChange(const QString &state);

public slots:
    void doStateControllerUnhandledMsgReceived(const QVariantList &msg);

private slots:
    void onStandbyStateChange(bool active);
    void onPretreatmentStateChange(bool active);
    void onBloodPrimeStateChange(bool active);
    void onTreatmentStateChange(bool active);
    void onTreatmentPauseStateChange(bool active);
    void onTreatmentRinsebackStateChange(bool active);
    void onTreatmentRecriculateStateChange(bool active);
    void onTreatmentEndStateChange(bool active);
    void onPostTreatmentStateChange(bool active);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    using StepHandler = void (StateController::*)(StepExit &);
    using ExitHandler = void (StateController::*)();

    // The tick's own work, before the chart runs.
    void runTick();
    void processChartEvents();
    void announceActiveState();
    void connectChartStates();
    void fillTransitionEventsFromStandby();
    void fillAlarmTriggerSpecs();

    // Runs the entry, per-tick or exit step of a state by its status.
    void runStateHandler(bool active, State_Status &status, StepHandler entry, StepHandler step, ExitHandler exit);

    void queueBroadcast(const QVariantList &message);
    void queueSend(const QVariantList &message);

    // The nine states' steps.
    void standbyEntry(StepExit &exit);
    void standbyStep(StepExit &exit);
    void standbyExit();
    void preTxEntry(StepExit &exit);
    void preTxStep(StepExit &exit);
    void preTxExit();
    void bloodPrimeEntry(StepExit &exit);
    void bloodPrimeStep(StepExit &exit);
    void bloodPrimeExit();
    void treatmentEntry(StepExit &exit);
    void treatmentStep(StepExit &exit);
    void treatmentExit();
    void treatmentPauseEntry(StepExit &exit);
    void treatmentPauseStep(StepExit &exit);
    void treatmentPauseExit();
    void treatmentRinsebackEntry(StepExit &exit);
    void treatmentRinsebackStep(StepExit &exit);
    void treatmentRinsebackExit();
    void treatmentRecirculateEntry(StepExit &exit);
    void treatmentRecirculateStep(StepExit &exit);
    void treatmentRecirculateExit();
    void treatmentEndEntry(StepExit &exit);
    void treatmentEndStep(StepExit &exit);
    void treatmentEndExit();
    void postTxEntry(StepExit &exit);
    void postTxStep(StepExit &exit);
    void postTxExit();

    // Standby, demo menu, check-in and water sample.
    bool handleRarArozMenuRequestMessage();
    void handleBackToStandbyEvent(StepExit &exit);
    void handleUICheckInMessage();
    void initializeRarArozVariables();
    void handleTDWaterSampleResultRequest();

    // Alarms and generic confirmations.
    void handleAlarmStatusBroadcastData(Broadcast_Type BCType);
    void handleAlarmUserAction(StepExit &exit, bool isFromTxPause);
    void handleTriggeredAlarmsToTxPause(StepExit &exit);
    void handleChemsReplacementAlarmsSequence(StepExit &exit);
    void handleSendUIConfirmationMessage(Generic_Confirm_Id confirmID, Generic_Confirm_Command confirmCmd,
                                         Reject_Reasons rejectReason);
    bool hasUIConfirmMessageTimedout(Generic_Confirm_Id confirmID) const;
    void handleUIConfirmMessage(Generic_Confirm_Id confirmID, StepExit &exit);
    // The user's answer, taken only for an open dialog.
    void takeUIConfirmAnswer(Generic_Confirm_Id confirmID, Confirmation_Status answer);
    // Leaving a state closes the dialogs it left open and forgets them all.
    void closeUIConfirmMessagesOnStateExit();
    void openUIConfirmation(Generic_Confirm_Id confirmID);
    void closeRejectedUIConfirmation(Generic_Confirm_Id confirmID);
    void actOnTreatmentEndConfirmation(StepExit &exit);
    void actOnRinsebackConfirmation(Generic_Confirm_Id confirmID, StepExit &exit);
    void resumeFromAlarm(StepExit &exit, bool isFromTxPause);
    void raiseAlarm(Alarm_List alarmID);
    void clearAlarm();
    // The chemical-replacement sequence, one step each.
    bool hasSequenceMarkPassed(quint64 ticks) const;
    void seqTriggerReplaceAcid();
    void seqProportioningAcid(StepExit &exit);
    void seqDryBicarbCartridge(StepExit &exit);
    void seqProcessDrainScreen(StepExit &exit);
    void seqTriggerReplaceBicarb(StepExit &exit);
    void seqProportioningBicarb(StepExit &exit);
    void seqLowVenous();

    // Treatment parameters and initiation.
    void setTreatmentParametersFromUI(const QVariant &payload);
    void handleInitiateTreatmentRequestMessage(StepExit &exit);
    void handleSetupTubingSetConnectionsRequestMessage();
    void initializeTreatmentParametersToDefault();

    // Post-treatment.
    void handlePatientDisconnectRequestMessage();
    void handleRemoveDisposablesRequestMessage();
    void handleDryBicartActionRequest();
    void handleDryBicartBroadcastData(Broadcast_Type BCType);

    // Blood prime and fluid bolus.
    float handleBloodPrimeGetRampStepML() const;
    void handleBloodPrimePauseResume(bool &resume);
    void handleBloodPrimeVolML(bool resume, float rampStepML, bool hasFlowChangeRequested, quint32 &currBloodFlowMLPM,
                               float &accumBloodVolML);
    void handleBloodPrimeBroadcastData(float volumeML, quint32 primeTimeoutS, quint32 countDownS,
                                       Broadcast_Type BCType);
    void handleFluidBolusRequestMessage();
    void handleFluidBolusFluidDelivery(quint32 flowMLPM);
    void handleFluidBolusBroadcastData(Broadcast_Type BCType);
    void holdBloodPrime(float accumBloodVolML);
    void startFluidBolus();
    void stopFluidBolus();
    void finishFluidBolus();
    // Sets the dialysis sub-state, or, while a bolus runs, the one the bolus
    // returns to: no UF volume is removed during a bolus.
    void setDialysisSubState(Dialysis_States subState);

    // Treatment time, ultrafiltration and treatment states.
    void initializeTreatmentTimeAndUltrafiltration();
    void handleUltrafiltrationPauseResume();
    void handleUltrafiltrationVolumeChangeValidation();
    void handleUltrafiltrationVolumeChangeConfirm();
    void handleTreatmentTimeChangeValidation();
    void handleTreatmentTimeChangeConfirm();
    void handleTreatmentTimeProcessAndBroadcastData(Broadcast_Type BCType);
    void handleUltrafiltrationBroadcastData(Broadcast_Type BCType);
    void handleTreatmentStatesBroadcastData(Broadcast_Type BCType);
    // What a validated duration change brings with it.
    struct Duration_Change {
        quint32 heparinMin = 0;
        float ufVolumeL = 0.0f;
        float rateLHR = 0.0f;
    };
    // Accepted when reason is none, else rejected with it; fields follow.
    void respondWithReason(Can::Message_ID_Enum msgID, Reject_Reasons reason, const QVariantList &fields = {});
    float elapsedTreatmentMin() const;
    quint64 prescribedTreatmentS() const;
    float removedUFVolumeML() const;
    Reject_Reasons validateUFVolume(float volumeL, float &rateLHR) const;
    Reject_Reasons validateTreatmentDuration(quint32 durationMin, Duration_Change &change) const;
    quint32 heparinDurationFor(quint32 durationMin) const;
    void applyUFVolumeChange();
    void applyTreatmentDurationChange();

    // Set points and prescription edits.
    void handleTreatmentPrescriptionEditRequestMessage();
    void handleSetPointBloodFlowChange(quint32 &bloodFlowMLPM, bool &hasBloodFlowChanged);
    void handleSetPointDialysateFlowChange();
    void handleSetPointDialysateTemperatureChange();
    void handleTreatmentSetpointsBroadcastData(quint32 bloodFlowMLPM, quint32 dialFlowMLPM, float dialTempC,
                                               Broadcast_Type BCType);
    void handleTreatmentSettingBroadcastData(Broadcast_Type BCType);
    void handleDDGenDialysateModeBroadcastData(Broadcast_Type BCType, bool isDialysateBypass);
    void handleDDConductivityBroadcastData(Broadcast_Type BCType);
    void applyPrescriptionEdit(const PayloadReader &reader);
    void broadcastPrescribedSetPointsAtOnce();

    // Pressures and pressure limits.
    void handlePressureLimitState();
    // One step of the limit state machine in WIDE, and in STABILIZATION or STABLE.
    void handlePressureLimitStateWide();
    void handlePressureLimitStateSettling();
    void handleUpdatePressureLimitWindows();
    void handleDeterminePressureLimits();
    void handleSignalInitiatePressureStabilization(Pressure_Stabilization_Periods period);
    void handleWidenPressureLimitsMessage();
    void handlePressureLimitsChangeRequest();
    void handleTDPressureBroadcastData(Broadcast_Type BCType);

    // Vitals.
    void handleVitalsAdjustmentMessage();
    void handleVitalsDataRquest();
    void handleVitalsBroadcastData();

    // Hemodiafiltration.
    void initializeTreatmentHDFVariables();
    float handleHDFCheckRate(float proposedRateMLPM, bool initRate);
    void handleHDFTreatment();
    // One controller step while the substitution runs.
    void handleHDFRunningStep();
    void handleHDFBroadcastData(Broadcast_Type BCType);
    void handleHDFAdjustmentRequestMessage();
    void hadnleHDFPauseResumeRequestMessage();

    // Rinseback.
    void initializeRinseback();
    void handleRinsebackRequestMessage();
    void handleRinsebackDelivery();
    void handleRinsebackAdditionalDelivery(float volumePerTickML);
    bool isRinsebackVolumeReached() const;
    void handleRinsebackBroadcastData(Broadcast_Type BCType);

    // Recirculation, treatment pause and treatment end.
    void initializeRecirc();
    void handleRecircRequestMessage();
    void handleRecircTimeout();
    void handleRecircBroadcastData(Broadcast_Type BCType);
    void handleTreatmentPauseBroadcastData(Broadcast_Type BCType);
    void handleTreatmentEndRequestMessage(StepExit &exit);
    void handleTreatmentEndTimeout();

    QHash<User_Command_ID, Standby_Transition> _transitionEventsFromStandby;
    QHash<Alarm_List, Alarm_Trigger_Spec> _alarmTriggerSpecs;
    OutgoingMessages _broadcastMessages;
    OutgoingMessages _sendMessages;
    ReceivedRequests _treatmentRcvdMessages;
    QHash<Generic_Confirm_Id, Generic_Msg_Status> _uiConfirmMessages;
    QRandomGenerator _randNumGenerator{1};
    Pressure_Vars _pressureVars;
    Treatment_Params _treatmentParams;
    Treatment_Status_Vars _treatmentStatus;
    Treatment_Sub_State_Vars _treatmentSubStates;
    Treatment_HDF_vars _treatmentHDFVars;
    quint32 _elapsedTimeCtr = 0;
    rararozXMLStates _rarAroz;
    QString _announcedState;

    Chart_State_Vars _chartStateVars;
    Blood_Prime_Vars _bloodPrimeVars;
    BroadcastGates _gates;
    Clock _clock;
    int _timerId = 0;
    bool _init = false;
};
