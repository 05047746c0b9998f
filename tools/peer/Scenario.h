#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "peer/ScenarioCheck.h"

// A scenario file as read: its steps, each a title and the actions that
// make it up, with the line each came from for the reports.
struct ScenarioAction {
    enum Kind {
        Send,  // a request: its acknowledgement, then its response if it has one
        Await, // a message whose fields match, within a time limit
        Wait,  // a pause
        Demo,  // a demo-menu command
        Show,  // notes fields of the last such message of the step
    };

    Kind kind = Send;
    int line = 0;
    QString message;             // Send, Await, Show
    QStringList values;          // Send: its values; Show: the fields; Demo: the command's name
    QList<ScenarioCheck> checks; // Send: the response's; Await: the message's
    bool hasReply = false;       // Send: the checks were given (a reply line)
    int replyLine = 0;
    int timeMs = 0; // Wait: how long; Await: the limit, 0 for the default
    QString bindAs; // the name the answer is kept under for later values
};

struct ScenarioStep {
    QString title;
    int line = 0;
    QList<ScenarioAction> actions;
};

struct Scenario {
    QString fileName;
    QList<ScenarioStep> steps;
};
