#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the main thread, so that a
// command can stop cleanly (the monitor ends, a walkthrough is abandoned).
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool isInterrupted() const { return _signal != 0; }
    int signalNumber() const { return _signal; }

signals:
    void interrupted(int signal);

private:
    void onReadable();

    QSocketNotifier *_notifier = nullptr;
    int _signal = 0;
};
