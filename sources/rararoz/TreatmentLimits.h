#pragma once

#include <QtGlobal>

// Limits of a running treatment shared by the duration and ultrafiltration
// changes and the parameter ranges sent to the UI.

// 2 L/h.
constexpr double kMaxUFRateMLPM = 33.333333333333336;
constexpr float kMaxUFVolumeL = 8.0f;
constexpr quint32 kMinTreatmentDurationMin = 60;
constexpr quint32 kMaxTreatmentDurationMin = 480;
