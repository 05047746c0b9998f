#pragma once

#include <QObject>

#include <memory>

#include "common/SimulatorDriver.h"

// What every simulator test class shares: a fresh simulator for each test
// function, driven tick by tick, and the records a test reads back.
class SimulatorTest : public QObject
{
    Q_OBJECT

protected:
    SimulatorDriver &d() { return *_driver; }
    const SimulatorDriver &d() const { return *_driver; }
    const Treatment_Status_Vars &status() const;
    const Treatment_Params &params() const;

    // Runs on each fresh simulator before the test function: where a test
    // class sets its clock, say.
    virtual void prepare() {}

private slots:
    void init();
    void cleanup();

private:
    std::unique_ptr<SimulatorDriver> _driver;
};
