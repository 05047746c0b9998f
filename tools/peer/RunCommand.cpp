#include "peer/RunCommand.h"

#include "peer/ConfigLocations.h"
#include "peer/Console.h"
#include "peer/ExitCode.h"
#include "peer/JUnitReport.h"
#include "peer/PeerSession.h"
#include "peer/ScenarioChecker.h"
#include "peer/ScenarioRunner.h"
#include "peer/SignalWatcher.h"

QString RunCommand::demoScenario()
{
    return QStringLiteral("Scenarios/demo.scenario");
}

int RunCommand::run()
{
    const bool isWalkthrough = _options.command == PeerOptions::Walkthrough;
    QStringList files = _options.arguments;
    if (isWalkthrough) {
        const QString demo = ConfigLocations::find(demoScenario(), _options.settingsPath);
        if (demo.isEmpty()) {
            Console::err(
                QStringLiteral("rararoz-peer: no demo scenario found (looked for %1)")
                    .arg(
                        ConfigLocations::candidates(demoScenario(), _options.settingsPath).join(QStringLiteral(", "))));
            return eExit_Usage;
        }
        files = QStringList{demo};
    }

    QList<Scenario> scenarios;
    QStringList problems;
    ScenarioChecker checker(_definitions);
    for (const QString &file : files) {
        Scenario scenario;
        checker.load(file, scenario, problems);
        scenarios << scenario;
    }
    if (!problems.isEmpty()) {
        for (const QString &problem : problems)
            Console::err(problem);
        Console::err(QStringLiteral("rararoz-peer: %1 problem(s) in the scenarios; nothing sent").arg(problems.size()));
        return eExit_Usage;
    }

    SignalWatcher signalWatcher;
    PeerSession session;
    QObject::connect(&signalWatcher, &SignalWatcher::interrupted, &session, [&session] { session.stop(); });
    QString error;
    if (!session.open(_options.plugin, _options.interface, error)) {
        Console::err(QStringLiteral("rararoz-peer: ") + error);
        return eExit_Bus;
    }

    ScenarioRunner runner(session, _definitions, _options);
    QList<ScenarioResult> results;
    int status = eExit_Ok;
    for (const Scenario &scenario : scenarios) {
        ScenarioResult result;
        const int code = runner.run(
            scenario, isWalkthrough ? QStringLiteral("Walkthrough") : QStringLiteral("Scenario ") + scenario.fileName,
            result);
        results << result;
        if (code != eExit_Ok)
            status = code;
        if (code == eExit_Bus || code == eExit_Interrupted)
            break;
    }
    if (!_options.junit.isEmpty() && !JUnitReport::write(_options.junit, results, error)) {
        Console::err(QStringLiteral("rararoz-peer: ") + error);
        return status == eExit_Ok ? eExit_Usage : status;
    }
    return status;
}
