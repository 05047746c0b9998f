#include "StateController.h"

// Blood pressure readings and their interval; not simulated yet, the
// requests stay parked.

void StateController::handleVitalsAdjustmentMessage() {}

void StateController::handleVitalsDataRquest() {}

void StateController::handleVitalsBroadcastData() {}
