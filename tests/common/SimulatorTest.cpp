#include "common/SimulatorTest.h"

#include "rararoz/StateController.h"

const Treatment_Status_Vars &SimulatorTest::status() const
{
    return d().controller().treatmentStatus();
}

const Treatment_Params &SimulatorTest::params() const
{
    return d().controller().treatmentParams();
}

void SimulatorTest::init()
{
    _driver = std::make_unique<SimulatorDriver>();
    prepare();
}

void SimulatorTest::cleanup()
{
    _driver.reset();
}
