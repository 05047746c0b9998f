#pragma once

#include <QtGlobal>

#include "rararoz/RarArozEnums.h"
#include "rararoz/RarArozRecords.h"

// The simulator's vocabulary: the enumerations whose values travel in a
// payload (RarArozEnums.h), the records that hold the simulated treatment
// (RarArozRecords.h), and the simulation's own constants. A file that needs
// only one part includes that part.

// One tick of the simulation, and the blood volume that ends a blood prime
// once it is exceeded.
constexpr quint32 kTickMS = 100;
constexpr double kBloodPrimeTargetML = 146.6;
