#pragma once

#include <QString>
#include <QtGlobal>

// The simulator's vocabulary: every enumeration whose values travel in a
// payload keeps the value the user interface expects, and the records that
// hold the simulated treatment. A record field starts at zero; the Standby
// entry then writes the reset values (see StateController).
//
// Every enumeration has a fixed 32-bit base so that any value read from a
// payload is a valid value of it, also one the UI should never send.

enum User_Command_ID : qint32 {
    CMD_NONE = -1,
    CMD_STAND_BY = 0,
    CMD_PRE_TX = 1,
    CMD_BLOOD_PRIME = 2,
    CMD_MAIN_TX = 3,
    CMD_RINSEBACK = 4,
    CMD_RICIRCULATE = 5,
    CMD_TX_STOP = 6,
    CMD_END_TX = 7,
    CMD_POST_TX = 8,
    CMD_DISINFECTION = 12,
    CMD_HIGH_PRIO_ALARM = 13,
    CMD_MEDIUM_PRIO_ALARM = 14,
    CMD_LOW_PRIO_ALARM = 15,
    NUM_OF_USER_CMDS = 16,
};

enum Treatment_States : qint32 {
    TREAT_START_STATE = 0,
    TREAT_BLOOD_PRIME_STATE = 1,
    TREAT_DIALYSIS_STATE = 2,
    TREAT_PAUSED_STATE = 3,
    TREAT_RINSEBACK_STATE = 4,
    TREAT_RECIRC_STATE = 5,
    TREAT_END_STATE = 6,
    TREAT_ISO_UF_STATE = 7,
    TREAT_SALINE_BOLUS_STATE = 8,
    TREAT_DIALYSIS_PAUSED_STATE = 9,
    TREATMENT_HDF_STATE = 10,
};

enum Blood_Prime_States : qint32 {
    BLOOD_PRIME_RAMP_STATE = 0,
    BLOOD_PRIME_RUN_STATE = 1,
    BLOOD_PRIME_PAUSED_STATE = 2,
    BLOOD_PRIME_FLUID_BOLUS_STATE = 3,
};

enum Fluid_Bolus_States : qint32 {
    FLUID_BOLUS_IDLE_STATE = 0,
    FLUID_BOLUS_WAIT_FOR_PUMPS_STOP_STATE = 1,
    FLUID_BOLUS_SALINE_IN_PROGRESS_STATE = 2,
    FLUID_BOLUS_SUBSITUTE_IN_PROGRESS_STATE = 3,
};

enum Dialysis_States : qint32 {
    DIALYSIS_UF_STATE = 0,
    DIALYSIS_UF_PAUSED_STATE = 1,
    DIALYSIS_UF_FLUID_BOLUS_STATE = 2,
};

enum Rinseback_States : qint32 {
    RINSEBACK_STOP_INIT_STATE = 0,
    RINSEBACK_RUN_STATE = 1,
    RINSEBACK_PAUSED_STATE = 2,
    RINSEBACK_STOP_STATE = 3,
    RINSEBACK_RUN_ADDITIONAL_STATE = 4,
    RINSEBACK_RECONNECT_PATIENT_STATE = 5,
};

enum Requested_Rinseback_User_Actions : qint32 {
    REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_START = 0,
    REQUESTED_USER_ACTION_RINSEBACK_INCREASE_RATE = 1,
    REQUESTED_USER_ACTION_RINSEBACK_DECREASE_RATE = 2,
    REQUESTED_USER_ACTION_RINSEBACK_PAUSE = 3,
    REQUESTED_USER_ACTION_RINSEBACK_RESUME = 4,
    REQUESTED_USER_ACTION_RINSEBACK_ADDITIONAL = 5,
    REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_RECIRCULATE = 6,
    REQUESTED_USER_ACTION_RINSEBACK_END_TREATMENT = 7,
    REQUESTED_USER_ACTION_RINSEBACK_BACK_TO_TREATMENT = 8,
};

enum Recirculate_States : qint32 {
    TREATMENT_RECIRC_DISCONNECT_PATIENT_STATE = 0,
    TREATMENT_RECIRC_RECIRC_STATE = 1,
    TREATMENT_RECIRC_STOPPED_STATE = 2,
    TREATMENT_RECIRC_RECONNECT_PATIENT_STATE = 3,
};

enum Requested_Treatment_Recirc_User_Actions : qint32 {
    REQUESTED_USER_ACTION_TX_RECIRC_RECONNECT = 0,
    REQUESTED_USER_ACTION_TX_RECIRC_CONFIRM_RECONNECT = 1,
    REQUESTED_USER_ACTION_TX_RECIRC_RESUME_RC = 2,
    REQUESTED_USER_ACTION_TX_RECIRC_END_TREATMENT = 3,
    REQUESTED_USER_ACTION_TX_RECIRC_CONFIRM_DISCONNECT = 4,
};

enum Treatment_End_States : qint32 {
    TREATMENT_END_WAIT_FOR_RINSEBACK_STATE = 0,
    TREATMENT_END_PAUSED_STATE = 1,
    TREATMENT_END_FLUID_BOLUS_STATE = 2,
};

enum Post_Treatment_States : qint32 {
    TD_POST_TREATMENT_PATIENT_DISCONNECTION_STATE = 0,
    TD_POST_TREATMENT_AUTO_EJECT_STATE = 1,
    TD_POST_TREATMENT_DISPOSABLE_REMOVAL_STATE = 2,
    TD_POST_TREATMENT_VERIFY_STATE = 3,
    TD_POST_TREATMENT_DISINFECTION_STATE = 4,
};

enum Treatment_Pause_Sequential_Alarms : qint32 {
    SEQ_ALARM_NO_ALARM = 0,
    SEQ_ALARM_TRIGGER_RPLC_ACID = 1,
    SEQ_ALARM_PROPORTIONING_ACID_IN_PROG = 2,
    SEQ_ALARM_DRY_BICARB_CARTRIDGE = 3,
    SEQ_ALARM_PROCESS_DRAIN_SCREEN = 4,
    SEQ_ALARM_TRIGGER_RPLC_BICARB = 5,
    SEQ_ALARM_PROPORTIONING_BICARB_IN_PROG = 6,
    SEQ_ALARM_LOW_VENOUS = 7,
};

enum Treatment_Modality_Types : qint32 {
    TREATMENT_MODALITY_HD_SALINE_FLUID = 0,
    TREATMENT_MODALITY_HDF_ONLINE_FLUID = 1,
    TREATMENT_MODALITY_HD_ONLINE_FLUID = 2,
};

enum Pressure_Limits_States : qint32 {
    PRESSURE_LIMITS_STATE_OFF = 0,
    PRESSURE_LIMITS_STATE_IDLE = 1,
    PRESSURE_LIMITS_STATE_WIDE = 2,
    PRESSURE_LIMITS_STATE_STABILIZATION = 3,
    PRESSURE_LIMITS_STATE_STABLE = 4,
};

enum Pressure_Stabilization_Periods : qint32 {
    STABILIZATION_PERIOD_OFF = 0,
    USE_SHORT_STABILIZATION_PERIOD = 1,
    USE_NORMAL_STABILIZATION_PERIOD = 2,
};

enum HDF_Control_States : qint32 {
    TD_HDF_PAUSED = 0,
    TD_HDF_RUNNING = 1,
};

enum Dry_Bicart_Action : qint32 {
    DRY_BICART_ACTION_DRAIN = 0,
    DRY_BICART_ACTION_DEPRESSURIZE = 1,
    DRY_BICART_ACTION_CANCEL = 2,
    DRY_BICART_ACTION_DONE = 3,
};

enum State_Status : qint32 {
    STATE_ON_ENTRY = 0,
    STATE_ON_ACTION = 1,
    STATE_ON_EXIT = 2,
};

enum Broadcast_Type : qint32 {
    BC_DELAYED = 0,
    BC_IMMEDIATELY = 1,
};

enum Alarm_Priorities : qint32 {
    ALARM_PRIORITY_NONE = 0,
    ALARM_PRIORITY_LOW = 1,
    ALARM_PRIORITY_MEDIUM = 2,
    ALARM_PRIORITY_HIGH = 3,
};

enum Alarm_User_Actions : qint32 {
    ALARM_USER_ACTION_RESUME = 0,
    ALARM_USER_ACTION_RINSEBACK = 1,
    ALARM_USER_ACTION_END_TREATMENT = 2,
    ALARM_USER_ACTION_ACK = 3,
    ALARM_USER_ACTION_TEMPOARY_BREAK = 4,
};

enum Alarm_List : qint32 {
    ALARM_ID_NO_ALARM = 0,
    ALARM_ID_TD_VENOUS_PRESSURE_LOW = 47,
    ALARM_ID_TD_TREATMENT_STOPPED_BY_USER = 96,
    ALARM_ID_TD_RECIRC_TIMEOUT_WARNING = 199,
    ALARM_ID_TD_RECIRC_TIMEOUT = 200,
    ALARM_ID_DD_BICARBONATE_CARTRIDGE_LOW_LEVEL = 244,
    ALARM_ID_TD_HDF_SUBMODE_CHANGE = 246,
    ALARM_ID_TD_TREATMENT_MODALITY_CHANGE = 247,
    ALARM_ID_DD_REPLACE_BICARB_CARTRIDGE = 248,
    ALARM_ID_DD_REPLACE_ACID_CONCENTRATE = 249,
    ALARM_ID_TD_DIALYSATE_PROPORTIONING_IN_PROGRESS = 250,
    ALARM_ID_TD_END_OF_TREATMENT = 251,
    ALARM_ID_TD_END_OF_TREATMENT_TIMEOUT = 252,
};

enum Generic_Confirm_Id : qint32 {
    GENERIC_CONFIRM_ID_NONE = 0,
    GENERIC_CONFIRM_ID_SHUT_DOWN = 1,
    GENERIC_CONFIRM_ID_TREATMENT_END = 2,
    GENERIC_CONFIRM_ID_RINSEBACK = 3,
    GENERIC_CONFIRM_ID_TEMPORARY_BREAK = 4,
    NUM_OF_GENERIC_CONFIRM_IDS = 5,
};

enum Generic_Confirm_Command : qint32 {
    GENERIC_CONFIRM_CMD_REQUEST_OPEN = 0,
    GENERIC_CONFIRM_CMD_TIMEOUT_CLOSE = 1,
    GENERIC_CONFIRM_CMD_REJECT = 2,
    GENERIC_CONFIRM_CMD_ACCEPT_CLOSE = 3,
};

enum Confirmation_Status : qint32 {
    CONFIRMATION_REQUEST_STATUS_REJECTED = 0,
    CONFIRMATION_REQUEST_STATUS_ACCEPTED = 1,
    CONFIRMATION_REQUEST_STATUS_TIMEOUT = 2,
    CONFIRMATION_REQUEST_STATUS_PENDING = 3,
    CONFIRMATION_REQUEST_STATUS_UNUSED = 4,
};

enum Reject_Reasons : qint32 {
    REQUEST_REJECT_REASON_NONE = 0,
    REQUEST_REJECT_REASON_INVALID_TREATMENT_STATE = 4,
    REQUEST_REJECT_REASON_TREATMENT_TIME_OUT_OF_RANGE = 6,
    REQUEST_REJECT_REASON_TREATMENT_TIME_LESS_THAN_CURRENT = 7,
    REQUEST_REJECT_REASON_UF_VOLUME_OUT_OF_RANGE = 11,
    REQUEST_REJECT_REASON_UF_RATE_OUT_OF_RANGE = 12,
    REQUEST_REJECT_REASON_UF_NOT_IN_PROGESS = 14,
    REQUEST_REJECT_REASON_UF_NOT_PAUSED = 15,
    REQUEST_REJECT_REASON_PARAM_OUT_OF_RANGE = 17,
    REQUEST_REJECT_REASON_ACTION_DISABLED_IN_CURRENT_STATE = 21,
    REQUEST_REJECT_REASON_ALARM_IS_ACTIVE = 22,
    REQUEST_REJECT_REASON_TREATMENT_IS_COMPLETED = 24,
    REQUEST_REJECT_REASON_CONFIRMATION_NOT_EXPECTED = 58,
    REQUEST_REJECT_REASON_CONFIRMATION_MISMATCH = 59,
};

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

// One tick of the simulation, and the blood volume that ends a blood prime
// once it is exceeded.
constexpr quint32 kTickMS = 100;
constexpr double kBloodPrimeTargetML = 146.6;

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
