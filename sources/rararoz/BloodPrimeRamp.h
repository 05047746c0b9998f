#pragma once

#include <QtGlobal>

// The blood flow ramp of a blood prime: from 250 mL/min towards the
// prescribed flow, one step a second.
namespace BloodPrimeRamp {

constexpr quint32 kStartFlowMLPM = 250;

// The step, in mL/min per second, that spreads the way from the start flow
// to the target over 60 seconds; negative below the start flow.
float stepMLPM(quint32 targetMLPM);

// The flow one step later. The fraction is lost at every step, and the
// target is never overshot.
quint32 nextFlowMLPM(quint32 currentMLPM, float stepMLPM, quint32 targetMLPM);

} // namespace BloodPrimeRamp
