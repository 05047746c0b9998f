#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into an orderly end of the event loop. The handler
// itself only writes the signal number into a pipe (async-signal-safe); the
// main thread reads it, reports it and asks the application to quit.
void signalhandler(int signal);

// Makes the pipe and installs signalhandler for SIGINT and SIGTERM; needs no
// application object, so it runs first. False when the pipe cannot be made
// (the default signal behaviour then stays).
bool installSignalHandlers();

class SignalHandler : public QObject
{
    Q_OBJECT
public:
    explicit SignalHandler(QObject *parent = nullptr);
    ~SignalHandler() override;

signals:
    void didSignal(int signal);

private slots:
    void onReadable();

private:
    QSocketNotifier *_notifier = nullptr;
};
