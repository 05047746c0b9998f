#pragma once

#include <QStringList>

class QCommandLineParser;

// The tool's command line: a command, its arguments and the options.
// Parsing never exits; the caller prints.
class PeerOptions
{
public:
    enum Command { None, Monitor, Send, Walkthrough, RunScenarios, CheckScenarios, Decode, Plot };
    enum Outcome { Run, ShowHelp, ShowVersion, Error };

    Outcome parse(const QStringList &arguments);

    // What --help prints: the commands, the options and the exit status.
    static QString usage();
    static QString description();
    QString error() const { return _error; }

    Command command = None;
    QStringList arguments; // after the command: send's message and values, the files of the others
    QString plugin = QStringLiteral("virtualcan");
    QString interface = QStringLiteral("can0");
    QString definitions;  // the definitions file; empty: look in the usual places
    QString settingsPath; // a folder to look for Messages/Peer.conf in first
    QStringList only;
    QStringList except;
    bool raw = false;
    double durationS = 0; // monitor: 0 runs until interrupted
    int timeoutMs = 2000;
    int joinTimeoutS = 30;
    bool keepGoing = false;
    QString junit;  // run, walkthrough: the JUnit report to write
    QString output; // plot: the image to write

private:
    bool takeCommand(QStringList positional);
    bool optionsBelong(const QCommandLineParser &parser);
    bool takeNumbers(const QCommandLineParser &parser);

    QString _error;
};
