#include "rararoz/BloodPrimeRamp.h"

#include "rararoz/NumericGuards.h"
#include "rararoz/RarArozDefines.h"

namespace BloodPrimeRamp {

namespace {
constexpr float kRampSteps = 60.0f;
} // namespace

float stepMLPM(quint32 targetMLPM)
{
    const qint64 difference = qint64(targetMLPM) - qint64(kStartFlowMLPM);
    float steps =
        float(kBloodPrimeTargetML / (double(difference) + kBloodPrimeTargetML) / double(kStartFlowMLPM) / 2.0 * 60.0);
    if (steps < kRampSteps)
        steps = kRampSteps;
    return float(difference) / steps;
}

quint32 nextFlowMLPM(quint32 currentMLPM, float stepMLPM, quint32 targetMLPM)
{
    const quint32 next = NumericGuards::truncatedToU32(float(currentMLPM) + stepMLPM);
    if (stepMLPM < 0.0f)
        return next < targetMLPM ? targetMLPM : next;
    return next > targetMLPM ? targetMLPM : next;
}

} // namespace BloodPrimeRamp
