#include "rararoz/StateController.h"

#include <QRandomGenerator>

#include <algorithm>

#include "rararoz/PayloadReader.h"

// Blood pressure readings on request, and the measurement interval the user
// sets (kept, though nothing reads it).

namespace {

constexpr int kIntervalOffset = 16;
constexpr quint64 kMSPerMinute = 60000;

// Half-open ranges of a simulated reading.
constexpr int kSystolicLowMMHG = 100;
constexpr int kSystolicHighMMHG = 120;
constexpr int kDiastolicLowMMHG = 60;
constexpr int kDiastolicHighMMHG = 80;
constexpr int kHeartRateLowBPM = 80;
constexpr int kHeartRateHighBPM = 100;

quint32 drawBetween(int lowest, int highest)
{
    return quint32(QRandomGenerator::global()->bounded(lowest, highest));
}

} // namespace

void StateController::handleVitalsAdjustmentMessage()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_VITALS_ADJUSTMENT_RQST);
    if (!request)
        return;
    const quint64 intervalMS = quint64(PayloadReader(*request).u32(kIntervalOffset)) * kMSPerMinute;
    // The field holds milliseconds; an interval beyond it is kept at its
    // largest value rather than wrapped to a short one.
    _treatmentParams.bloodPressureIntervalMin = quint32(std::min<quint64>(intervalMS, 0xFFFFFFFFu));
    handleUIResponseMessage(Can::ID_TD_VITALS_ADJUSTMENT_RESP, 1,
                            {int(REQUEST_REJECT_REASON_NONE), int(0), int(0), int(0), int(0)});
}

void StateController::handleVitalsDataRquest()
{
    if (!_treatmentRcvdMessages.take(Can::ID_UI_BLOOD_PRESSURE_RQST))
        return;
    handleUIResponseMessage(Can::ID_TD_BLOOD_PRESSURE_READING_RESP, 1);
    handleVitalsBroadcastData();
}

void StateController::handleVitalsBroadcastData()
{
    const quint32 systolic = drawBetween(kSystolicLowMMHG, kSystolicHighMMHG);
    const quint32 diastolic = drawBetween(kDiastolicLowMMHG, kDiastolicHighMMHG);
    const quint32 heartRate = drawBetween(kHeartRateLowBPM, kHeartRateHighBPM);
    queueBroadcast({int(Can::ID_TD_BLOOD_PRESSURE_DATA), int(Can::eChlid_TD_Sync), systolic, diastolic, heartRate});
}
