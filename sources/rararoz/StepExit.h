#pragma once

#include <QString>

#include "rararoz/RarArozEnums.h"

// How one entry or per-tick step of a chart state decides whether the state
// is left on the next tick, and by which event. The handlers called in a
// step share it instead of writing the state's status themselves.
//
// A demo-menu command outranks everything else in its step: once the step
// has taken one, later decisions of the same step (a cancelled exit, another
// event) are ignored, so the command can neither be lost nor be left behind
// to fire later.
class StepExit
{
public:
    StepExit(State_Status &status, QString &event);

    // Leave the state with event on the next tick.
    void leave(const QString &event);
    // Store event for a later exit without deciding one now.
    void setEvent(const QString &event);
    // Stay in the state: cancels an exit decided earlier in this step.
    void stay();
    // Leave with event on behalf of the demo menu; the exit is then fixed
    // for the rest of the step. The menu's own path may redirect it.
    void leaveForDemoMenu(const QString &event);

    bool isLeaving() const { return _status == STATE_ON_EXIT; }
    bool isFixedByDemoMenu() const { return _fixedByDemoMenu; }

private:
    State_Status &_status;
    QString &_event;
    bool _fixedByDemoMenu = false;
};
