#pragma once

#include <QList>
#include <QStringList>

#include <functional>

#include "DecodedPayload.h"
#include "MessageDefinitions.h"
#include "PeerOptions.h"

class PeerSession;

// rararoz-peer walkthrough: acts as the UI board for a whole demonstration,
// from check-in and treatment initiation through blood prime, treatment,
// treatment end, rinseback, recirculation and post-treatment back to
// Standby. Each step sends what the UI would send and checks the answers
// the service must give: acknowledgement, response fields and the
// broadcasts that show the new state.
class Walkthrough
{
public:
    Walkthrough(PeerSession &session, const MessageDefinitions &definitions, const PeerOptions &options);

    // Runs every step, one line each; the exit status of the command.
    int run();

    // Titles of the steps that failed in the last run.
    QStringList failedSteps() const { return _failed; }

private:
    struct Check {
        enum Op { Equal, AtLeast };
        QString field; // "*": every field not named by another check
        double value = 0;
        Op op = Equal;
    };
    using Checks = QList<Check>;
    struct Step {
        QString title;
        std::function<bool()> body;
    };

    QList<Step> steps();

    // What a step does; each notes what it sent and saw in the step's line
    // and returns false, with the reason noted, on a missing or unexpected
    // answer.
    bool joinBus();
    bool request(const QString &message, const QStringList &values, const Checks &responseChecks,
                 DecodedPayload *response = nullptr);
    bool request(const QString &message, const QStringList &values = {});
    bool await(const QString &message, const Checks &checks, int timeoutMs, DecodedPayload *found = nullptr);
    bool jump(int command, int mode, int txState, const Checks &stateChecks = {});
    bool checkInsAnswered();
    bool fail(const QString &why);
    void note(const QString &text) { _notes << text; }

    static const Checks &accepted();
    static bool matches(const DecodedPayload &payload, const Checks &checks);
    static QString describe(const DecodedPayload &payload, const Checks &checks);
    static QString describeValue(const QString &field, double value);
    int stateTimeoutMs() const;

    PeerSession &_session;
    const MessageDefinitions &_definitions;
    const PeerOptions &_options;
    int _cursor = 0; // history index where the current step's expectations start
    QStringList _notes;
    QString _failure;
    QStringList _failed;
    DecodedPayload _validatedDuration;
};
