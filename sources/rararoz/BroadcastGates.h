#pragma once

#include "rararoz/BroadcastGate.h"

// The call counters of all periodic broadcasts, each with its own start
// value and period, kept together so that their phases can be read at once.
struct BroadcastGates {
    BroadcastGate opMode{0, 10};
    BroadcastGate alarmStatus{4, 3};
    BroadcastGate treatmentStates{0, 3};
    BroadcastGate treatmentTime{12, 10};
    BroadcastGate ultrafiltration{31, 10};
    BroadcastGate setPoints{3, 10};
    BroadcastGate dialysateMode{15, 10};
    BroadcastGate conductivity{22, 10};
    BroadcastGate paramRanges{38, 10};
    BroadcastGate pressure{10, 10};
    BroadcastGate bloodPrime{0, 10};
    BroadcastGate fluidBolus{5, 10};
    BroadcastGate hdf{50, 10};
    BroadcastGate rinseback{47, 10};
    BroadcastGate recirculation{52, 10};
    BroadcastGate treatmentPause{90, 10};
    BroadcastGate dryBicart{53, 10};
};
