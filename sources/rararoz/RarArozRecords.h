#pragma once

#include <QString>
#include <QtGlobal>

#include "rararoz/RarArozEnums.h"

// The records that hold the simulated treatment. A record field starts at
// zero; the Standby entry then writes the reset values (see StateController).

// The prescription, in the order the UI's parameter set carries it.
struct Treatment_Params {
    bool finalConfirmation = false;
    quint32 treatmentModality = 0;
    quint32 hdfDilution = 0;
    quint32 bloodFlowRateMLPM = 0;
    quint32 dialysateFlowRateMLPM = 0;
    quint32 treatmentDurationMin = 0;
    quint32 heparinDeliveryDurationMin = 0;
    quint32 heparinType = 0;
    quint32 dryBicarbCartSize = 0;
    quint32 sodiumMEQL = 0;
    quint32 bicarbobateMEQL = 0;
    quint32 dialyzerType = 0;
    quint32 fluidBlousVolumeML = 0;
    // Milliseconds despite the name.
    quint32 bloodPressureIntervalMin = 0;
    quint32 rinsebackVolumeML = 0;
    quint32 hepatitisBStatus = 0;
    quint32 acidConcentrate = 0;
    float hdfSubstitutionFluidVolumeL = 0.0f;
    float heparinBolusVolumeML = 0.0f;
    float heparinDeliveryRateMLHR = 0.0f;
    float dialysateTemperatureC = 0.0f;
    float acidKConcentrateConversionFactor = 0.0f;
    float ufPreWeightKG = 0.0f;
    float ufEstimatedTargetWeightKG = 0.0f;
    float ufVolumeL = 0.0f;
};

struct Treatment_Status_Vars {
    bool hasTxParamsBeenInitialized = false;
    User_Command_ID userCmd = CMD_STAND_BY;
    QString stateTransitionEvent;
    bool requestTreatmentReset = false;
    bool isBloodPumpRunning = false;
    // 64 bits: a prescription may carry up to 2^32 - 1 minutes, which a
    // 32-bit millisecond clock could not count.
    quint64 treatmentElapsedTimeMS = 0;
    bool isTreatmentComplete = false;
    float accumFluidBolusDeliveredML = 0.0f;
    float totalFluidBolusDeliveredML = 0.0f;
    float presUFRateMLPM = 0.0f;
    float ufVolDeliveredL = 0.0f;
    bool validateUFVolReceived = false;
    float validateUFVolGoalL = 0.0f;
    float validateUFRateLHR = 0.0f;
    bool validateTxDurReceived = false;
    quint32 validateTxDurMin = 0;
    quint32 validateHepDurMin = 0;
    Alarm_List activeTopAlarm = ALARM_ID_NO_ALARM;
    quint16 activeAlarmProperty = 0;
    quint32 triggerAlarmTimeoutCtr = 0;
    Treatment_Pause_Sequential_Alarms txPauseSeqAlarmState = SEQ_ALARM_NO_ALARM;
    quint32 txPauseBloodSittingCounter = 0;
    quint32 rinsebackFlowMLPM = 0;
    float rinsebackAccumVolML = 0.0f;
    float rinsebackAdditionalVolML = 0.0f;
    bool isRinsebackComplete = false;
    quint32 rinsebackTimerCounter = 0;
    quint32 rinsebackAdditionalTimerCounter = 0;
    float rinsebackTgtVolPlusAddVolML = 0.0f;
    bool hasRecircBeenRequested = false;
    quint32 recircTimerCounter = 0;
    quint32 recircTimeoutS = 0;
    bool hasResumeTxBeenRequested = false;
    bool hasRecircWarnAlarmBeenTrig = false;
    bool hasRecircTimeoutAlarmBeenTrig = false;
    quint32 systolicBPLowAlarmLimit = 0;
    quint32 systolicBPHighAlarmLimit = 0;
    quint32 heartRateLowAlarmLimit = 0;
    quint32 heartRateHighAlarmLimit = 0;
    Dry_Bicart_Action bicartAction = DRY_BICART_ACTION_DRAIN;
    quint32 bicartShowDialog = 0;
    quint32 bicartTotal = 0;
    float bicartProgress = 0.0f;
    quint32 bicartDrainInProgress = 0;
    quint32 bicartDepresInProgress = 0;
    quint32 treatmentEndTimeoutAlarmCtr = 0;
};

struct Treatment_Sub_State_Vars {
    Treatment_States txState = TREAT_START_STATE;
    Blood_Prime_States bloodPrimeState = BLOOD_PRIME_RAMP_STATE;
    Fluid_Bolus_States fluidBolusState = FLUID_BOLUS_IDLE_STATE;
    Dialysis_States dialysisSubState = DIALYSIS_UF_STATE;
    Dialysis_States prevDialysisSubState = DIALYSIS_UF_STATE;
    Rinseback_States rinsebackState = RINSEBACK_STOP_INIT_STATE;
    Recirculate_States recircState = TREATMENT_RECIRC_DISCONNECT_PATIENT_STATE;
    Treatment_End_States txEndState = TREATMENT_END_WAIT_FOR_RINSEBACK_STATE;
    Post_Treatment_States postTxState = TD_POST_TREATMENT_PATIENT_DISCONNECTION_STATE;
};

constexpr int kPressureRingSize = 10;

struct Pressure_Vars {
    Pressure_Limits_States presLimitState = PRESSURE_LIMITS_STATE_OFF;
    Pressure_Stabilization_Periods presStabilizeTimePeriod = STABILIZATION_PERIOD_OFF;
    quint32 presStabilizationTimerCtr = 0;
    quint32 presStabilizeTimeoutMS = 0;

    float arterialRawMMHG[kPressureRingSize] = {};
    quint32 arterialIndex = 0;
    float arterialRunningSumMMHG = 0.0f;
    qint32 arterialMinLimitMMHG = 0;
    qint32 arterialMaxLimitMMHG = 0;
    float arterialFilteredMMHG = 0.0f;
    qint32 arterialStableMMHG = 0;
    qint32 arterialPresLimitWindowMMHG = 0;

    float venousRawMMHG[kPressureRingSize] = {};
    quint32 venousIndex = 0;
    float venousRunningSumMMHG = 0.0f;
    qint32 venousMinLimitMMHG = 0;
    qint32 venousMaxLimitMMHG = 0;
    float venousFilteredMMHG = 0.0f;
    qint32 venousStableMMHG = 0;
    qint32 venousPresLowLimitWindowMMHG = 0;
    qint32 venousPresHighLimitWindowMMHG = 0;

    float tmpRawMMHG[kPressureRingSize] = {};
    quint32 tmpIndex = 0;
    float tmpRunningSumMMHG = 0.0f;
    float tmpMinLimitMMHG = 0.0f;
    float tmpMaxLimitMMHG = 0.0f;
    float tmpFilteredMMHG = 0.0f;
    qint32 tmpStableMMHG = 0;
    qint32 tmpPresLimitWindowMMHG = 0;
};

struct Treatment_HDF_vars {
    float hdfManualRateMLPM = 0.0f;
    float hdfCurrentVolumeML = 0.0f;
    HDF_Control_States hdfControlState = TD_HDF_PAUSED;
    float hdfMaxFiltrationFraction = 0.0f;
    float hdfCurrentRateMLPM = 0.0f;
    quint32 hdfControlTimeCtr = 0;
    bool hdfHasMaxVolumeBeenReached = false;
    bool hdfIsRequested = false;
};

// One generic confirmation dialog on the UI.
struct Generic_Msg_Status {
    // The controller's monotonic clock when the dialog was opened.
    qint64 startTimeMS = 0;
    Confirmation_Status confirmStatus = CONFIRMATION_REQUEST_STATUS_REJECTED;
};

// The blood prime's working values; they outlive one blood prime, and the
// Blood_Prime entry resets only some of them.
struct Blood_Prime_Vars {
    float accumBloodVolML = 0.0f;
    quint32 currBloodFlowMLPM = 0;
    bool resume = false;
    bool hasFlowChngeRequested = false;
    float rampStepML = 0.0f;
    quint32 controlCounter = 0;
    // Milliseconds despite the name.
    quint32 elapsedTimeSincePauseS = 0;
    quint32 primeTimeoutS = 0;
    quint32 pauseCountDownS = 0;
};

// A demo-menu command's row: the chart event that carries it out of
// Standby and the operation mode announced with it.
struct Standby_Transition {
    QString event;
    int opMode = 0;
};

// How an alarm is shown and whether it pauses the treatment.
struct Alarm_Trigger_Spec {
    Alarm_Priorities priority = ALARM_PRIORITY_NONE;
    quint16 property = 0;
    bool pausesTreatment = false;
};

// What each chart state's handler keeps from one step to the next.
struct Chart_State_Vars {
    State_Status standbyStatus = STATE_ON_ENTRY;
    State_Status preTxStatus = STATE_ON_ENTRY;
    State_Status bloodPrimeStatus = STATE_ON_ENTRY;
    State_Status treatmentStatus = STATE_ON_ENTRY;
    State_Status treatmentPauseStatus = STATE_ON_ENTRY;
    State_Status treatmentRinsebackStatus = STATE_ON_ENTRY;
    State_Status treatmentRecirculateStatus = STATE_ON_ENTRY;
    State_Status treatmentEndStatus = STATE_ON_ENTRY;
    State_Status postTxStatus = STATE_ON_ENTRY;
    // Set by a blood-flow change in that state; read nowhere else.
    bool treatmentFlowChanged = false;
    bool treatmentPauseFlowChanged = false;
    bool treatmentEndFlowChanged = false;
};
