#pragma once

#include <QStringList>

// The tool's command line: a command (monitor, send or walkthrough), its
// arguments and the options. Parsing never exits; the caller prints.
class PeerOptions
{
public:
    enum Command { None, Monitor, Send, Walkthrough };
    enum Outcome { Run, ShowHelp, ShowVersion, Error };

    Outcome parse(const QStringList &arguments);

    // What --help prints: the commands, the options and the exit status.
    static QString usage();
    static QString description();
    QString error() const { return _error; }

    Command command = None;
    QStringList arguments; // after the command: the message and its values for send
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

private:
    QString _error;
};
