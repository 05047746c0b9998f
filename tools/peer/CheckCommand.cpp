#include "peer/CheckCommand.h"

#include "peer/Console.h"
#include "peer/ExitCode.h"
#include "peer/ScenarioChecker.h"

int CheckCommand::run()
{
    ScenarioChecker checker(_definitions);
    int status = eExit_Ok;
    for (const QString &file : _options.arguments) {
        Scenario scenario;
        QStringList problems;
        if (checker.load(file, scenario, problems)) {
            Console::out(QStringLiteral("%1: %2 steps, no problems").arg(file).arg(scenario.steps.size()));
            continue;
        }
        for (const QString &problem : problems)
            Console::out(problem);
        status = eExit_Usage;
    }
    return status;
}
