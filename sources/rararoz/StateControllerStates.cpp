#include "rararoz/StateController.h"

#include <QDebug>

#include "rararoz/ChartNames.h"
#include "rararoz/SimulatorTrace.h"

// The nine chart states. Each state's handler runs, on each call while the
// state is active, its entry step, its per-tick step or its exit step; the
// handlers each step calls, and their order, make up the state.

void StateController::onStandbyStateChange(bool active)
{
    runStateHandler(active, _chartStateVars.standbyStatus, &StateController::standbyEntry,
                    &StateController::standbyStep, &StateController::standbyExit);
}

void StateController::onPretreatmentStateChange(bool active)
{
    runStateHandler(active, _chartStateVars.preTxStatus, &StateController::preTxEntry, &StateController::preTxStep,
                    &StateController::preTxExit);
}

void StateController::onBloodPrimeStateChange(bool active)
{
    runStateHandler(active, _chartStateVars.bloodPrimeStatus, &StateController::bloodPrimeEntry,
                    &StateController::bloodPrimeStep, &StateController::bloodPrimeExit);
}

void StateController::onTreatmentStateChange(bool active)
{
    runStateHandler(active, _chartStateVars.treatmentStatus, &StateController::treatmentEntry,
                    &StateController::treatmentStep, &StateController::treatmentExit);
}

void StateController::onTreatmentPauseStateChange(bool active)
{
    runStateHandler(active, _chartStateVars.treatmentPauseStatus, &StateController::treatmentPauseEntry,
                    &StateController::treatmentPauseStep, &StateController::treatmentPauseExit);
}

void StateController::onTreatmentRinsebackStateChange(bool active)
{
    runStateHandler(active, _chartStateVars.treatmentRinsebackStatus, &StateController::treatmentRinsebackEntry,
                    &StateController::treatmentRinsebackStep, &StateController::treatmentRinsebackExit);
}

void StateController::onTreatmentRecriculateStateChange(bool active)
{
    runStateHandler(active, _chartStateVars.treatmentRecirculateStatus, &StateController::treatmentRecirculateEntry,
                    &StateController::treatmentRecirculateStep, &StateController::treatmentRecirculateExit);
}

void StateController::onTreatmentEndStateChange(bool active)
{
    runStateHandler(active, _chartStateVars.treatmentEndStatus, &StateController::treatmentEndEntry,
                    &StateController::treatmentEndStep, &StateController::treatmentEndExit);
}

void StateController::onPostTreatmentStateChange(bool active)
{
    runStateHandler(active, _chartStateVars.postTxStatus, &StateController::postTxEntry, &StateController::postTxStep,
                    &StateController::postTxExit);
}

// Standby ---------------------------------------------------------------

void StateController::standbyEntry(StepExit & /*exit*/)
{
    handleTDOpModeTransitionBroadcastData(Can::MODE_STAN, 0, BC_IMMEDIATELY);
    initializeTreatmentParametersToDefault();
    initializeRarArozVariables();
    initializeTreatmentHDFVariables();
    _treatmentSubStates.txState = TREAT_START_STATE;
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    triggerAnAlarm(ALARM_ID_NO_ALARM, -999);
    qCDebug(simulatorTrace).noquote() << "Standby on entry";
}

void StateController::standbyStep(StepExit &exit)
{
    handleBackToStandbyEvent(exit);
    handleInitiateTreatmentRequestMessage(exit);

    const User_Command_ID command = _treatmentStatus.userCmd;
    if (command >= CMD_PRE_TX && command <= CMD_DISINFECTION) {
        const auto row = _transitionEventsFromStandby.constFind(command);
        if (row == _transitionEventsFromStandby.constEnd()) {
            qCDebug(simulatorTrace).noquote() << "Cmd does not exist" << int(command);
            _treatmentStatus.userCmd = CMD_NONE;
            return;
        }
        qCDebug(simulatorTrace).noquote() << "Submit event" << row->event << row->opMode;
        // Standby is where the demo menu's command is carried out.
        exit.leaveForDemoMenu(row->event);
        handleTDOpModeTransitionBroadcastData(Can::TD_OP_MODE(row->opMode), 0, BC_IMMEDIATELY);
        _treatmentStatus.userCmd = CMD_NONE;
    }
    handleTDOpModeTransitionBroadcastData(Can::MODE_STAN, 0, BC_DELAYED);
}

void StateController::standbyExit()
{
    qCDebug(simulatorTrace).noquote() << "Standby in exit";
}

// Pre_Tx ----------------------------------------------------------------

void StateController::preTxEntry(StepExit & /*exit*/)
{
    handleTDOpModeTransitionBroadcastData(Can::MODE_PRET, 0, BC_IMMEDIATELY);
    qCDebug(simulatorTrace).noquote() << "PreTx on entry";
}

void StateController::preTxStep(StepExit &exit)
{
    handleBackToStandbyEvent(exit);
    handleInitiateTreatmentRequestMessage(exit);
    handleSetupTubingSetConnectionsRequestMessage();
    handleVitalsDataRquest();
    handleTDWaterSampleResultRequest();

    if (_treatmentRcvdMessages.take(Can::ID_UI_ADJUST_DISPOSABLES_CONFIRM_RQST))
        handleUIResponseMessage(Can::ID_TD_ADJUST_DISPOSSABLES_CONFIRM_RESP, 1);
    if (const auto parameters = _treatmentRcvdMessages.take(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE))
        setTreatmentParametersFromUI(*parameters);
    if (_treatmentRcvdMessages.take(Can::ID_UI_ADJUST_START_TREATMENT_RQST)) {
        handleUIResponseMessage(Can::ID_TD_ADJUST_START_TREATMENT_RESP, 1);
        exit.leave(Chart::Event::T_Pretx_2_BP);
    }
}

void StateController::preTxExit()
{
    qCDebug(simulatorTrace).noquote() << "PreTx in exit";
}

// Blood_Prime -----------------------------------------------------------

void StateController::bloodPrimeEntry(StepExit & /*exit*/)
{
    handleTDOpModeTransitionBroadcastData(Can::MODE_TREA, 0, BC_IMMEDIATELY);
    handleBloodPrimeBroadcastData(0.0f, 0, 0, BC_IMMEDIATELY);
    _bloodPrimeVars.accumBloodVolML = 0.0f;
    _bloodPrimeVars.currBloodFlowMLPM = 250;
    _bloodPrimeVars.resume = true;
    _bloodPrimeVars.hasFlowChngeRequested = false;
    _treatmentStatus.isBloodPumpRunning = true;
    _treatmentSubStates.bloodPrimeState = BLOOD_PRIME_RAMP_STATE;
    _treatmentSubStates.txState = TREAT_BLOOD_PRIME_STATE;
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    _bloodPrimeVars.rampStepML = handleBloodPrimeGetRampStepML();
    qCDebug(simulatorTrace).noquote() << "Blood prime on entry";
}

void StateController::bloodPrimeStep(StepExit &exit)
{
    Blood_Prime_Vars &prime = _bloodPrimeVars;
    handleTreatmentStatesBroadcastData(BC_DELAYED);
    handleBackToStandbyEvent(exit);
    handleBloodPrimePauseResume(prime.resume);
    handleSetPointBloodFlowChange(prime.currBloodFlowMLPM, prime.hasFlowChngeRequested);
    handlePressureLimitState();
    handleTDPressureBroadcastData(BC_DELAYED);
    handleDeterminePressureLimits();
    handleWidenPressureLimitsMessage();
    handleFluidBolusRequestMessage();
    handleVitalsDataRquest();
    handleTDWaterSampleResultRequest();

    if (_treatmentSubStates.fluidBolusState == FLUID_BOLUS_SALINE_IN_PROGRESS_STATE) {
        handleFluidBolusFluidDelivery(prime.currBloodFlowMLPM);
        handleFluidBolusBroadcastData(BC_DELAYED);
        return;
    }
    handleFluidBolusBroadcastData(BC_DELAYED);
    handleBloodPrimeVolML(prime.resume, prime.rampStepML, prime.hasFlowChngeRequested, prime.currBloodFlowMLPM,
                          prime.accumBloodVolML);
    handleTreatmentSetpointsBroadcastData(prime.currBloodFlowMLPM, _treatmentParams.dialysateFlowRateMLPM,
                                          _treatmentParams.dialysateTemperatureC, BC_IMMEDIATELY);
    if (double(prime.accumBloodVolML) > kBloodPrimeTargetML) {
        exit.leave(Chart::Event::T_BP_2_Tx);
        handleBloodPrimeBroadcastData(prime.accumBloodVolML, 0, 0, BC_IMMEDIATELY);
        qCDebug(simulatorTrace).noquote() << "Vol" << prime.accumBloodVolML;
    }
}

void StateController::bloodPrimeExit()
{
    qCDebug(simulatorTrace).noquote() << "Blood prime on exit";
}

// Treatment -------------------------------------------------------------

void StateController::treatmentEntry(StepExit & /*exit*/)
{
    _chartStateVars.treatmentFlowChanged = false;
    _treatmentSubStates.txState = TREAT_START_STATE;
    _treatmentStatus.isBloodPumpRunning = true;
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    setDialysisSubState(DIALYSIS_UF_STATE);
    _treatmentSubStates.txState = TREAT_DIALYSIS_STATE;
    handleTDOpModeTransitionBroadcastData(Can::MODE_TREA, 0, BC_IMMEDIATELY);
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    handleTreatmentSetpointsBroadcastData(_treatmentParams.bloodFlowRateMLPM, _treatmentParams.dialysateFlowRateMLPM,
                                          _treatmentParams.dialysateTemperatureC, BC_IMMEDIATELY);
    handleDDConductivityBroadcastData(BC_IMMEDIATELY);
    handleTreatmentTimeProcessAndBroadcastData(BC_IMMEDIATELY);
    handleDDGenDialysateModeBroadcastData(BC_IMMEDIATELY, false);
    if (_treatmentStatus.requestTreatmentReset)
        initializeTreatmentTimeAndUltrafiltration();
    handleTreatmentSettingBroadcastData(BC_IMMEDIATELY);
    qCDebug(simulatorTrace).noquote() << "Tx on entry";
}

void StateController::treatmentStep(StepExit &exit)
{
    handleBackToStandbyEvent(exit);
    handleTDOpModeTransitionBroadcastData(Can::MODE_TREA, 0, BC_DELAYED);
    handleTreatmentStatesBroadcastData(BC_DELAYED);
    handleFluidBolusRequestMessage();
    handleFluidBolusFluidDelivery(_treatmentParams.bloodFlowRateMLPM);
    handleFluidBolusBroadcastData(BC_DELAYED);
    handleTreatmentTimeProcessAndBroadcastData(BC_DELAYED);
    handleTreatmentPrescriptionEditRequestMessage();
    handleSetPointBloodFlowChange(_treatmentParams.bloodFlowRateMLPM, _chartStateVars.treatmentFlowChanged);
    handleTreatmentSetpointsBroadcastData(_treatmentParams.bloodFlowRateMLPM, _treatmentParams.dialysateFlowRateMLPM,
                                          _treatmentParams.dialysateTemperatureC, BC_DELAYED);
    handleDDGenDialysateModeBroadcastData(BC_DELAYED, false);
    handleDDConductivityBroadcastData(BC_DELAYED);
    handleSetPointDialysateFlowChange();
    handleSetPointDialysateTemperatureChange();
    handlePressureLimitState();
    handleTDPressureBroadcastData(BC_DELAYED);
    handleDeterminePressureLimits();
    handleWidenPressureLimitsMessage();
    handlePressureLimitsChangeRequest();
    handleUltrafiltrationPauseResume();
    handleUltrafiltrationVolumeChangeValidation();
    handleUltrafiltrationVolumeChangeConfirm();
    handleUltrafiltrationBroadcastData(BC_DELAYED);
    handleTreatmentSettingBroadcastData(BC_DELAYED);
    handleTreatmentTimeChangeValidation();
    handleTreatmentTimeChangeConfirm();
    handleChemsReplacementAlarmsSequence(exit);
    handleTriggeredAlarmsToTxPause(exit);
    handleVitalsAdjustmentMessage();
    handleVitalsDataRquest();
    handleHDFTreatment();
    handleHDFBroadcastData(BC_DELAYED);
    handleHDFAdjustmentRequestMessage();
    hadnleHDFPauseResumeRequestMessage();
    handleTDWaterSampleResultRequest();

    if (_treatmentStatus.treatmentElapsedTimeMS / 1000 > prescribedTreatmentS()) {
        _treatmentStatus.isTreatmentComplete = true;
        exit.leave(Chart::Event::T_Tx_2_TE);
    }
}

void StateController::treatmentExit()
{
    qCDebug(simulatorTrace).noquote() << "Tx  in exit";
    // A stop from the demo menu pauses the treatment instead of leaving it.
    if (_treatmentStatus.userCmd == CMD_TX_STOP) {
        triggerAnAlarm(ALARM_ID_TD_TREATMENT_STOPPED_BY_USER, -999);
        _treatmentStatus.stateTransitionEvent = Chart::Event::T_Tx_2_TP;
        _treatmentStatus.requestTreatmentReset = false;
        _treatmentStatus.userCmd = CMD_NONE;
    }
}

// Treatment_Pause -------------------------------------------------------

void StateController::treatmentPauseEntry(StepExit & /*exit*/)
{
    _chartStateVars.treatmentPauseFlowChanged = false;
    _treatmentStatus.txPauseBloodSittingCounter = 0;
    _treatmentSubStates.dialysisSubState = DIALYSIS_UF_PAUSED_STATE;
    _treatmentSubStates.txState = TREAT_PAUSED_STATE;
    handleTDOpModeTransitionBroadcastData(Can::MODE_TREA, 0, BC_IMMEDIATELY);
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    qCDebug(simulatorTrace).noquote() << "Tx pause on entry";
}

void StateController::treatmentPauseStep(StepExit &exit)
{
    ++_treatmentStatus.txPauseBloodSittingCounter;
    handleBackToStandbyEvent(exit);
    handleAlarmUserAction(exit, true);
    handleChemsReplacementAlarmsSequence(exit);
    handleTDOpModeTransitionBroadcastData(Can::MODE_TREA, 0, BC_DELAYED);
    handleTreatmentPauseBroadcastData(BC_DELAYED);
    handlePressureLimitState();
    handleTDPressureBroadcastData(BC_DELAYED);
    handleDeterminePressureLimits();
    handleWidenPressureLimitsMessage();
    handleDDGenDialysateModeBroadcastData(BC_DELAYED, true);
    handleUltrafiltrationBroadcastData(BC_DELAYED);
    handleVitalsDataRquest();
    handleTDWaterSampleResultRequest();
    handleSetPointBloodFlowChange(_treatmentParams.bloodFlowRateMLPM, _chartStateVars.treatmentPauseFlowChanged);
    handleSetPointDialysateFlowChange();
    handleSetPointDialysateTemperatureChange();
    handleUIConfirmMessage(GENERIC_CONFIRM_ID_RINSEBACK, exit);
    handleUIConfirmMessage(GENERIC_CONFIRM_ID_TEMPORARY_BREAK, exit);
    handleUIConfirmMessage(GENERIC_CONFIRM_ID_TREATMENT_END, exit);
}

void StateController::treatmentPauseExit()
{
    qCDebug(simulatorTrace).noquote() << "Tx pasue in exit";
    handleSignalInitiatePressureStabilization(USE_NORMAL_STABILIZATION_PERIOD);
}

// Treatment_Rinseback ---------------------------------------------------

void StateController::treatmentRinsebackEntry(StepExit & /*exit*/)
{
    _treatmentSubStates.txState = TREAT_START_STATE;
    _treatmentSubStates.dialysisSubState = DIALYSIS_UF_PAUSED_STATE;
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    _treatmentSubStates.txState = TREAT_RINSEBACK_STATE;
    _treatmentSubStates.rinsebackState = RINSEBACK_STOP_INIT_STATE;
    handleTDOpModeTransitionBroadcastData(Can::MODE_TREA, 0, BC_IMMEDIATELY);
    initializeRinseback();
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    handleRinsebackBroadcastData(BC_IMMEDIATELY);
    qCDebug(simulatorTrace).noquote() << "Tx rinseback on entry";
}

void StateController::treatmentRinsebackStep(StepExit &exit)
{
    handleBackToStandbyEvent(exit);
    handleTDOpModeTransitionBroadcastData(Can::MODE_TREA, 0, BC_DELAYED);
    handleTreatmentStatesBroadcastData(BC_DELAYED);
    handleRinsebackRequestMessage();
    handleRinsebackDelivery();
    handleRinsebackBroadcastData(BC_DELAYED);
    handlePressureLimitState();
    handleTDPressureBroadcastData(BC_DELAYED);
    handleDeterminePressureLimits();
    handleWidenPressureLimitsMessage();
    handleVitalsDataRquest();
    handleTDWaterSampleResultRequest();
    handleAlarmUserAction(exit, false);
    handleUIConfirmMessage(GENERIC_CONFIRM_ID_TREATMENT_END, exit);
    if (_treatmentStatus.hasRecircBeenRequested)
        exit.leave(Chart::Event::T_RB_2_RC);
}

void StateController::treatmentRinsebackExit()
{
    qCDebug(simulatorTrace).noquote() << "Tx rinseback in exit";
}

// Treatment_Recirculate -------------------------------------------------

void StateController::treatmentRecirculateEntry(StepExit & /*exit*/)
{
    _treatmentSubStates.txState = TREAT_START_STATE;
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    _treatmentSubStates.txState = TREAT_RECIRC_STATE;
    _treatmentSubStates.recircState = TREATMENT_RECIRC_DISCONNECT_PATIENT_STATE;
    initializeRecirc();
    handleTDOpModeTransitionBroadcastData(Can::MODE_TREA, 0, BC_IMMEDIATELY);
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    handleRecircBroadcastData(BC_IMMEDIATELY);
    qCDebug(simulatorTrace).noquote() << "Tx recirc on entry";
}

void StateController::treatmentRecirculateStep(StepExit &exit)
{
    ++_treatmentStatus.recircTimerCounter;
    handleBackToStandbyEvent(exit);
    handleTDOpModeTransitionBroadcastData(Can::MODE_TREA, 0, BC_DELAYED);
    handleRecircRequestMessage();
    handleTreatmentStatesBroadcastData(BC_DELAYED);
    handleRecircBroadcastData(BC_DELAYED);
    handleTreatmentSetpointsBroadcastData(_treatmentParams.bloodFlowRateMLPM, _treatmentParams.dialysateFlowRateMLPM,
                                          _treatmentParams.dialysateTemperatureC, BC_DELAYED);
    handleUIConfirmMessage(GENERIC_CONFIRM_ID_TREATMENT_END, exit);
    handleRecircTimeout();
    handleAlarmUserAction(exit, false);
    handleVitalsDataRquest();
    handleTDWaterSampleResultRequest();
    if (_treatmentStatus.hasResumeTxBeenRequested)
        exit.leave(Chart::Event::T_RC_2_BP);
}

void StateController::treatmentRecirculateExit()
{
    qCDebug(simulatorTrace).noquote() << "Tx recirc in exit";
}

// Treatment_End ---------------------------------------------------------

void StateController::treatmentEndEntry(StepExit & /*exit*/)
{
    triggerAnAlarm(ALARM_ID_TD_END_OF_TREATMENT, -999);
    _treatmentSubStates.txState = TREAT_START_STATE;
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    _treatmentSubStates.txState = TREAT_DIALYSIS_STATE;
    _treatmentSubStates.txEndState = TREATMENT_END_WAIT_FOR_RINSEBACK_STATE;
    _treatmentStatus.isTreatmentComplete = true;
    _treatmentStatus.treatmentEndTimeoutAlarmCtr = _elapsedTimeCtr;
    handleTDOpModeTransitionBroadcastData(Can::MODE_TREA, 0, BC_IMMEDIATELY);
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    qCDebug(simulatorTrace).noquote() << "Tx End on entry";
}

void StateController::treatmentEndStep(StepExit &exit)
{
    _treatmentSubStates.txState = TREAT_END_STATE;
    handleBackToStandbyEvent(exit);
    handleTDOpModeTransitionBroadcastData(Can::MODE_TREA, 0, BC_DELAYED);
    handleTreatmentStatesBroadcastData(BC_DELAYED);
    handleAlarmUserAction(exit, false);
    handleFluidBolusRequestMessage();
    handleFluidBolusFluidDelivery(_treatmentParams.bloodFlowRateMLPM);
    handleFluidBolusBroadcastData(BC_DELAYED);
    handleSetPointBloodFlowChange(_treatmentParams.bloodFlowRateMLPM, _chartStateVars.treatmentEndFlowChanged);
    handleTreatmentSetpointsBroadcastData(_treatmentParams.bloodFlowRateMLPM, _treatmentParams.dialysateFlowRateMLPM,
                                          _treatmentParams.dialysateTemperatureC, BC_DELAYED);
    handleVitalsDataRquest();
    handleTDWaterSampleResultRequest();
    handleTreatmentEndRequestMessage(exit);
    handleTreatmentEndTimeout();
    handleUIConfirmMessage(GENERIC_CONFIRM_ID_RINSEBACK, exit);
    // The end-treatment alarm action opens this one here.
    handleUIConfirmMessage(GENERIC_CONFIRM_ID_TREATMENT_END, exit);
}

void StateController::treatmentEndExit()
{
    qCDebug(simulatorTrace).noquote() << "Tx in exit";
}

// Post_Tx ---------------------------------------------------------------

void StateController::postTxEntry(StepExit &exit)
{
    _treatmentStatus.bicartProgress = 0.0f;
    _treatmentStatus.bicartDrainInProgress = 1;
    _treatmentSubStates.postTxState = TD_POST_TREATMENT_PATIENT_DISCONNECTION_STATE;
    handleBackToStandbyEvent(exit);
    handleTDOpModeTransitionBroadcastData(Can::MODE_POST, 0, BC_DELAYED);
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
    qCDebug(simulatorTrace).noquote() << "Post Tx on entry";
}

void StateController::postTxStep(StepExit &exit)
{
    handleBackToStandbyEvent(exit);
    handleTDOpModeTransitionBroadcastData(Can::MODE_POST, 0, BC_DELAYED);
    handlePatientDisconnectRequestMessage();
    handleRemoveDisposablesRequestMessage();
    if (_treatmentSubStates.postTxState == TD_POST_TREATMENT_PATIENT_DISCONNECTION_STATE)
        handleDryBicartActionRequest();
    handleDryBicartBroadcastData(BC_DELAYED);
    handleVitalsDataRquest();
    handleTDWaterSampleResultRequest();
}

void StateController::postTxExit()
{
    qCDebug(simulatorTrace).noquote() << "Post Tx on exit";
}
