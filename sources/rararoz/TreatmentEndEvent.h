#pragma once

#include <QString>

#include "rararoz/ChartNames.h"

// Where an accepted end of treatment leads from the state it is accepted
// in: the blood goes back first, and once it is back the treatment is over.
// No event in any other state.
inline QString treatmentEndEvent(const QString &state)
{
    if (state == Chart::State::Treatment_Recirculate)
        return Chart::Event::T_RC_2_Posttx;
    if (state == Chart::State::Treatment_Rinseback)
        return Chart::Event::T_RB_2_Posttx;
    if (state == Chart::State::Treatment_End)
        return Chart::Event::T_TE_2_RB;
    if (state == Chart::State::Treatment_Pause)
        return Chart::Event::T_TP_2_RB;
    return QString();
}
