#pragma once

#include "rararoz/RarArozRecords.h"
#include "rararoz/UserActionVerdict.h"

// The rinseback user actions: what each does to the rinseback's sub-state,
// its flow and the recirculation request, and why one is refused. Ending
// the treatment opens a confirmation instead; the controller does that.
namespace RinsebackActions {

constexpr qint64 kMinFlowMLPM = 100;
constexpr qint64 kMaxFlowMLPM = 500;
constexpr qint64 kFlowStepMLPM = 10;

// A change of the flow by step: out of range is told before a wrong state.
inline UserActionVerdict changeFlow(quint32 &flowMLPM, Rinseback_States state, qint64 step)
{
    const qint64 flow = qint64(flowMLPM) + step;
    if (flow > kMaxFlowMLPM || flow < kMinFlowMLPM)
        return UserActionVerdict::rejected(REQUEST_REJECT_REASON_PARAM_OUT_OF_RANGE);
    if (state != RINSEBACK_RUN_STATE)
        return UserActionVerdict::rejected(REQUEST_REJECT_REASON_ACTION_DISABLED_IN_CURRENT_STATE);
    flowMLPM = quint32(flow);
    return UserActionVerdict::accepted();
}

inline UserActionVerdict requestRecirculation(Treatment_Status_Vars &status, Rinseback_States state)
{
    if (status.isTreatmentComplete)
        return UserActionVerdict::rejected(REQUEST_REJECT_REASON_TREATMENT_IS_COMPLETED);
    if (state != RINSEBACK_STOP_STATE)
        return UserActionVerdict::rejected(REQUEST_REJECT_REASON_ACTION_DISABLED_IN_CURRENT_STATE);
    status.hasRecircBeenRequested = true;
    return UserActionVerdict::accepted();
}

// Every action but ending the treatment; one no rule covers is passed over.
inline UserActionVerdict carryOut(Requested_Rinseback_User_Actions action, Treatment_Status_Vars &status,
                                  Rinseback_States &state)
{
    using Verdict = UserActionVerdict;
    switch (action) {
    case REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_START:
        return Verdict::move(state, RINSEBACK_STOP_INIT_STATE, RINSEBACK_RUN_STATE);
    case REQUESTED_USER_ACTION_RINSEBACK_INCREASE_RATE:
        return changeFlow(status.rinsebackFlowMLPM, state, kFlowStepMLPM);
    case REQUESTED_USER_ACTION_RINSEBACK_DECREASE_RATE:
        return changeFlow(status.rinsebackFlowMLPM, state, -kFlowStepMLPM);
    case REQUESTED_USER_ACTION_RINSEBACK_PAUSE:
        return Verdict::move(state, RINSEBACK_RUN_STATE, RINSEBACK_PAUSED_STATE);
    case REQUESTED_USER_ACTION_RINSEBACK_RESUME:
        return Verdict::move(state, RINSEBACK_PAUSED_STATE, RINSEBACK_RUN_STATE);
    case REQUESTED_USER_ACTION_RINSEBACK_ADDITIONAL:
        return Verdict::move(state, RINSEBACK_STOP_STATE, RINSEBACK_RUN_ADDITIONAL_STATE);
    case REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_RECIRCULATE:
        return requestRecirculation(status, state);
    case REQUESTED_USER_ACTION_RINSEBACK_END_TREATMENT:
    case REQUESTED_USER_ACTION_RINSEBACK_BACK_TO_TREATMENT:
        break;
    }
    return Verdict::passedOver();
}

} // namespace RinsebackActions
