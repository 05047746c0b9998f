#pragma once

#include <QBasicTimer>
#include <QByteArray>
#include <QObject>
#include <QString>

#include "Singleton.h"

// Tells systemd how the service is doing: ready once start-up has finished
// (configuration loaded and the bus opened, or its retry running), a one-line
// status (the chart's state, or the lost bus), and the watchdog keep-alive.
// It lives on the main thread, so a stalled event loop stops the keep-alive
// and systemd restarts the service. Without systemd (no NOTIFY_SOCKET, no
// WATCHDOG_USEC) it sends nothing.
class SystemdNotifier : public QObject
{
    Q_OBJECT
    RARAROZ_SINGLETON(SystemdNotifier)

public:
    bool init();

public slots:
    void quit();
    void onSettingsDone();
    void onBusConnected();
    void onBusLost();
    void onActiveStateChange(const QString &state);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    enum Bus { eBus_Unknown, eBus_Connected, eBus_Lost };

    void startWatchdog();
    QString statusText() const;
    // Sends what changed: the status when its text did, ready once it is due.
    void update();
    bool notify(const QByteArray &message);

    Bus _bus = eBus_Unknown;
    bool _settingsDone = false;
    QString _activeState;
    QString _sentStatus;
    bool _readySent = false;
    int _lastError = 0;
    QBasicTimer _watchdogTimer;
    bool _init = false;
};
