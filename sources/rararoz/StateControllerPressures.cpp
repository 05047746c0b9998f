#include "StateController.h"

// Arterial, venous and transmembrane pressures. The samples and their
// broadcast are simulated; the limit state machine and the limit requests
// are not yet, so the limits stay at their wide defaults.

namespace {

// Puts a sample into a pressure's ring, keeping the ring's running sum.
void addSample(float (&ring)[kPressureRingSize], quint32 &index, float &runningSum, float sample)
{
    const quint32 slot = index % kPressureRingSize;
    runningSum = runningSum - ring[slot] + sample;
    ring[slot] = sample;
    index = (slot + 1) % kPressureRingSize;
}

} // namespace

void StateController::handlePressureLimitState() {}

void StateController::handleUpdatePressureLimitWindows() {}

void StateController::handleDeterminePressureLimits() {}

void StateController::handleSignalInitiatePressureStabilization(Pressure_Stabilization_Periods /*period*/) {}

void StateController::handleWidenPressureLimitsMessage() {}

void StateController::handlePressureLimitsChangeRequest() {}

void StateController::handleTDPressureBroadcastData(Broadcast_Type BCType)
{
    Pressure_Vars &p = _pressureVars;
    const qint32 arterialSpan = p.arterialMaxLimitMMHG - p.arterialMinLimitMMHG;
    addSample(p.arterialRawMMHG, p.arterialIndex, p.arterialRunningSumMMHG,
              float(_randNumGenerator.generateDouble() * arterialSpan + p.arterialMinLimitMMHG));
    const qint32 venousSpan = p.venousMaxLimitMMHG - p.venousMinLimitMMHG;
    addSample(p.venousRawMMHG, p.venousIndex, p.venousRunningSumMMHG,
              float(_randNumGenerator.generateDouble() * venousSpan + p.venousMinLimitMMHG));
    const float tmpSpan = p.tmpMaxLimitMMHG - p.tmpMinLimitMMHG;
    addSample(p.tmpRawMMHG, p.tmpIndex, p.tmpRunningSumMMHG,
              float(_randNumGenerator.generateDouble() * double(tmpSpan) + double(p.tmpMinLimitMMHG)));

    if (!_gates.pressure.isDue(BCType))
        return;
    p.arterialFilteredMMHG = float(p.arterialRunningSumMMHG / 10.0);
    p.venousFilteredMMHG = float(p.venousRunningSumMMHG / 10.0);
    p.tmpFilteredMMHG = float(p.tmpRunningSumMMHG / 10.0);
    queueBroadcast({int(Can::ID_TD_PRESSURE_DATA), int(Can::eChlid_TD_Sync), p.arterialFilteredMMHG,
                    p.venousFilteredMMHG, int(p.presLimitState), p.arterialMinLimitMMHG, p.arterialMaxLimitMMHG,
                    p.venousMinLimitMMHG, p.venousMaxLimitMMHG, 0.0f, 0.0f, p.tmpFilteredMMHG, 0.0f, p.tmpMinLimitMMHG,
                    p.tmpMaxLimitMMHG, 14.2f});
}
