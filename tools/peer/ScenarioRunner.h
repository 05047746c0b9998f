#pragma once

#include <QList>
#include <QStringList>

#include <functional>

#include "peer/MessageDefinitions.h"
#include "peer/PeerOptions.h"
#include "peer/Scenario.h"
#include "peer/ScenarioBindings.h"
#include "peer/ScenarioChecks.h"
#include "peer/ScenarioResult.h"

class PeerSession;

// Acts as the UI board along a scenario: joins the bus and checks in every
// second meanwhile, runs each step, one line each, with what it sent and
// what came back, and ends by checking that every check-in was answered.
class ScenarioRunner
{
public:
    ScenarioRunner(PeerSession &session, const MessageDefinitions &definitions, const PeerOptions &options);

    // Runs every step; label names the run in its first and last lines.
    // The exit status of the command.
    int run(const Scenario &scenario, const QString &label, ScenarioResult &result);

private:
    struct Step {
        QString title;
        int line;
        std::function<bool()> body;
    };

    QList<Step> steps(const Scenario &scenario);

    // What an action does; each notes what it sent and saw in the step's
    // line and returns false, with the reason, on a missing or unexpected
    // answer.
    bool perform(const ScenarioAction &action);
    bool send(const ScenarioAction &action);
    bool await(const ScenarioAction &action);
    bool demo(const ScenarioAction &action);
    bool show(const ScenarioAction &action);
    bool pause(int ms);
    // The operation mode the service last announced; -1 when none came.
    int lastMode();
    bool joinBus();
    bool checkInsAnswered();

    const MessageDefinition *definition(const QString &nameOrId);
    bool answerChecks(const ScenarioAction &action, const MessageDefinition &answer, ScenarioChecks &checks);
    QString lastSeen(const MessageDefinition &definition, int from) const;
    bool fail(const QString &why, const QString &expected = QString(), const QString &received = QString());
    void note(const QString &text) { _notes << text; }
    int awaitLimitMs(const ScenarioAction &action) const;

    PeerSession &_session;
    const MessageDefinitions &_definitions;
    const PeerOptions &_options;
    ScenarioBindings _bindings;
    int _stepStart = 0; // history index where the current step began
    int _cursor = 0;    // history index where the next expectation starts
    QStringList _notes;
    StepResult _failure;
};
