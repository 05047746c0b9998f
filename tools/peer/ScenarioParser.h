#pragma once

#include <QStringList>

#include "peer/Scenario.h"

// Reads the text of a scenario file: comments after '#', a '\' at the end
// of a line continuing it on the next, "step <title>" opening a step whose
// actions are indented below it, and an action that is not indented being
// a step of its own. Checks the syntax only; the messages and fields are
// the ScenarioChecker's.
class ScenarioParser
{
public:
    // Problems are "file:line: what is wrong"; the scenario holds what
    // could be read either way.
    static bool parse(const QString &text, const QString &fileName, Scenario &scenario, QStringList &problems);

    // "500ms", "5s", "1.5s", "2min" in milliseconds; -1 for anything else.
    static int timeMs(const QString &text);
};
