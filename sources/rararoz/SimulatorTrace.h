#pragma once

#include <QLoggingCategory>

// The simulator's trace lines ("Standby on entry", "Submit event ..."): on by
// default, silenced with QT_LOGGING_RULES="rararoz.simulator.debug=false".
Q_DECLARE_LOGGING_CATEGORY(simulatorTrace)

// Qt's default console format puts a category's name in front of its lines;
// the trace lines have always printed without one, and whatever reads the
// console relies on them as they are. Once installed, the trace lines print
// as lines of the default category unless QT_MESSAGE_PATTERN chooses the
// format; every other line goes to the previous handler untouched. Called
// once, before any thread logs.
void installSimulatorTraceFormat();
