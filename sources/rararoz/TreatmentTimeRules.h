#pragma once

#include <QtGlobal>

#include "rararoz/RarArozEnums.h"
#include "rararoz/TreatmentLimits.h"

// The arithmetic of the validate-then-confirm changes of a running
// treatment: the UF rate a new UF volume or duration asks for, the limits
// it is refused by, and whether a confirmation repeats what was validated.
namespace TreatmentTimeRules {

constexpr quint32 kLastTooShortDurationMin = kMinTreatmentDurationMin - 1;
constexpr double kConfirmationTolerance = 1e-8;

// The treatment so far.
struct Progress {
    float elapsedMin = 0.0f;
    float removedML = 0.0f;  // UF volume removed
    quint32 durationMin = 0; // as prescribed
};

// What a change asks of the UF: the rate removing what remains in the time
// that remains. The rate is known once the volume and the time have passed
// their checks, so also when it is refused as too high.
struct UFRate {
    Reject_Reasons reason = REQUEST_REJECT_REASON_NONE;
    float rateMLPM = 0.0f;
    float rateLHR = 0.0f;
    float ufVolumeL = 0.0f; // the UF volume the rate removes (duration change)

    bool isKnown() const
    {
        return reason == REQUEST_REJECT_REASON_NONE || reason == REQUEST_REJECT_REASON_UF_RATE_OUT_OF_RANGE;
    }
};

inline float rateLHRFromMLPM(float rateMLPM)
{
    return rateMLPM * 60.0f / 1000.0f;
}

inline float rateMLPMFromLHR(float rateLHR)
{
    return rateLHR * 1000.0f / 60.0f;
}

// Written so that NaN fails every check it meets.
inline UFRate forUFVolume(const Progress &progress, float volumeL)
{
    UFRate rate;
    const float durationMin = float(progress.durationMin);
    const float volumeML = volumeL * 1000.0f;
    if (!(volumeL >= 0.0f && volumeL <= kMaxUFVolumeL) || !(volumeML > progress.removedML)) {
        rate.reason = REQUEST_REJECT_REASON_UF_VOLUME_OUT_OF_RANGE;
        return rate;
    }
    if (!(durationMin > progress.elapsedMin)) {
        rate.reason = REQUEST_REJECT_REASON_TREATMENT_TIME_LESS_THAN_CURRENT;
        return rate;
    }
    rate.rateMLPM = (volumeML - progress.removedML) / (durationMin - progress.elapsedMin);
    rate.rateLHR = rateLHRFromMLPM(rate.rateMLPM);
    if (!(double(rate.rateMLPM) <= kMaxUFRateMLPM))
        rate.reason = REQUEST_REJECT_REASON_UF_RATE_OUT_OF_RANGE;
    return rate;
}

// The prescribed UF volume over a new duration; what was removed beyond it
// stays removed.
inline UFRate forDuration(const Progress &progress, float ufVolumeL, quint32 newDurationMin)
{
    UFRate rate;
    const float ufVolumeML = ufVolumeL * 1000.0f;
    if (newDurationMin <= kLastTooShortDurationMin || newDurationMin > kMaxTreatmentDurationMin) {
        rate.reason = REQUEST_REJECT_REASON_TREATMENT_TIME_OUT_OF_RANGE;
        return rate;
    }
    if (!(progress.elapsedMin < float(newDurationMin))) {
        rate.reason = REQUEST_REJECT_REASON_TREATMENT_TIME_LESS_THAN_CURRENT;
        return rate;
    }
    const float remainingML = qMax(ufVolumeML - progress.removedML, 0.0f);
    rate.rateMLPM = remainingML / (float(newDurationMin) - progress.elapsedMin);
    rate.ufVolumeL = ufVolumeML / 1000.0f;
    rate.rateLHR = rateLHRFromMLPM(rate.rateMLPM);
    if (!(double(rate.rateMLPM) <= kMaxUFRateMLPM))
        rate.reason = REQUEST_REJECT_REASON_UF_RATE_OUT_OF_RANGE;
    return rate;
}

// The rate the UI echoes for a confirmation is the validated one rounded
// to two decimals. Validated rates are small; anything else has no rounding.
inline double roundedToCents(float rateLHR)
{
    const double scaled = double(rateLHR) * 100.0;
    if (!(qAbs(scaled) < 1e9))
        return 0.0;
    return qRound(scaled) / 100.0;
}

// The echoed rate is an F32: the rounded rate is narrowed to a float too
// before the two are compared, or no two-decimal rate would ever match.
inline bool rateMatches(float requestedLHR, float validatedLHR, float &difference)
{
    difference = qAbs(requestedLHR - float(roundedToCents(validatedLHR)));
    return double(difference) < kConfirmationTolerance;
}

inline bool volumeMatches(float requestedL, float validatedL)
{
    return double(qAbs(requestedL - validatedL)) < kConfirmationTolerance;
}

} // namespace TreatmentTimeRules
