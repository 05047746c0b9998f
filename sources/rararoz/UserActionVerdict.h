#pragma once

#include <QVariantList>

#include "rararoz/RarArozEnums.h"

// The answer to a user action of rinseback or recirculation: carried out,
// refused with a reason, or passed over (a value no rule covers), which is
// answered as not accepted with no reason.
class UserActionVerdict
{
public:
    static UserActionVerdict accepted() { return UserActionVerdict(1, REQUEST_REJECT_REASON_NONE); }
    static UserActionVerdict rejected(Reject_Reasons reason) { return UserActionVerdict(0, reason); }
    static UserActionVerdict passedOver() { return UserActionVerdict(0, REQUEST_REJECT_REASON_NONE); }

    // An active alarm refuses every action, whatever it is; otherwise the
    // action decides.
    template <typename Action> static UserActionVerdict unlessAlarmActive(Alarm_List activeAlarm, Action &&action)
    {
        if (activeAlarm != ALARM_ID_NO_ALARM)
            return rejected(REQUEST_REJECT_REASON_ALARM_IS_ACTIVE);
        return action();
    }

    // Carries out a move of a sub-state, allowed only from one state.
    template <typename State> static UserActionVerdict move(State &state, State from, State to)
    {
        if (state != from)
            return rejected(REQUEST_REJECT_REASON_ACTION_DISABLED_IN_CURRENT_STATE);
        state = to;
        return accepted();
    }

    quint32 acceptance() const { return _accepted; }
    // The response's reasons: none (sent as 0) or the one reason.
    QVariantList reasons() const
    {
        return _reason == REQUEST_REJECT_REASON_NONE ? QVariantList() : QVariantList{int(_reason)};
    }

private:
    UserActionVerdict(quint32 acceptedFlag, Reject_Reasons reason)
        : _accepted(acceptedFlag)
        , _reason(reason)
    {
    }

    quint32 _accepted;
    Reject_Reasons _reason;
};
