#include "rararoz/StepExit.h"

StepExit::StepExit(State_Status &status, QString &event)
    : _status(status)
    , _event(event)
{
}

void StepExit::leave(const QString &event)
{
    if (_fixedByDemoMenu)
        return;
    _event = event;
    _status = STATE_ON_EXIT;
}

void StepExit::setEvent(const QString &event)
{
    if (_fixedByDemoMenu)
        return;
    _event = event;
}

void StepExit::stay()
{
    if (_fixedByDemoMenu)
        return;
    _status = STATE_ON_ACTION;
}

void StepExit::leaveForDemoMenu(const QString &event)
{
    _event = event;
    _status = STATE_ON_EXIT;
    _fixedByDemoMenu = true;
}
