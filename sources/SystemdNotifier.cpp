#include "SystemdNotifier.h"

#include <QCoreApplication>
#include <QTimerEvent>

#include <systemd/sd-daemon.h>

#include <climits>
#include <cstring>

#include "ApplicationController.h"
#include "canbus/CanInterface.h"
#include "storage/Logger.h"
#include "rararoz/StateController.h"

namespace {
const QString kBusLostStatus = QStringLiteral("CAN bus lost, retrying");
// Start-up found no bus and nothing retries it: the service never reports
// ready, so systemd's start time-out restarts it.
const QString kNoBusStatus = QStringLiteral("CAN bus not opened");
const QString kStartingStatus = QStringLiteral("Starting");
} // namespace

SystemdNotifier::SystemdNotifier(QObject *parent)
    : QObject(parent)
{
}

bool SystemdNotifier::init()
{
    if (_init)
        return false;
    _init = true;
    connect(&ApplicationController::I(), &ApplicationController::didSettingsDone, this,
            &SystemdNotifier::onSettingsDone);
    connect(&Can::CanInterface::I(), &Can::CanInterface::didBusConnected, this, &SystemdNotifier::onBusConnected);
    connect(&Can::CanInterface::I(), &Can::CanInterface::didBusLost, this, &SystemdNotifier::onBusLost);
    connect(&StateController::I(), &StateController::didActiveStateChange, this, &SystemdNotifier::onActiveStateChange);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &SystemdNotifier::quit);
    startWatchdog();
    update();
    LOG_DEBUG(QStringLiteral("%1 Initialized").arg(QString::fromLatin1(metaObject()->className())));
    return true;
}

void SystemdNotifier::startWatchdog()
{
    // systemd gives the time within which a keep-alive must come; one every
    // half of it leaves room for a late timer.
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0)
        return;
    const int intervalMs = int(qBound<uint64_t>(1, usec / 2000, INT_MAX));
    _watchdogTimer.start(intervalMs, Qt::CoarseTimer, this);
    LOG_DEBUG(QStringLiteral("Watchdog keep-alive every %1 ms").arg(intervalMs));
}

void SystemdNotifier::quit()
{
    notify(QByteArrayLiteral("STOPPING=1"));
}

void SystemdNotifier::onSettingsDone()
{
    _settingsDone = true;
    update();
}

void SystemdNotifier::onBusConnected()
{
    _bus = eBus_Connected;
    update();
}

void SystemdNotifier::onBusLost()
{
    _bus = eBus_Lost;
    update();
}

void SystemdNotifier::onActiveStateChange(const QString &state)
{
    _activeState = state;
    update();
}

QString SystemdNotifier::statusText() const
{
    if (_bus == eBus_Lost)
        return kBusLostStatus;
    if (_bus == eBus_Unknown && _settingsDone)
        return kNoBusStatus;
    return _activeState.isEmpty() ? kStartingStatus : _activeState;
}

void SystemdNotifier::update()
{
    const QString status = statusText();
    if (status != _sentStatus) {
        _sentStatus = status;
        notify("STATUS=" + status.toUtf8());
    }
    if (!_readySent && _settingsDone && _bus != eBus_Unknown) {
        _readySent = true;
        notify(QByteArrayLiteral("READY=1"));
    }
}

void SystemdNotifier::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == _watchdogTimer.timerId())
        notify(QByteArrayLiteral("WATCHDOG=1"));
    else
        QObject::timerEvent(event);
}

bool SystemdNotifier::notify(const QByteArray &message)
{
    // The environment stays set: every later message goes the same way.
    const int result = sd_notify(0, message.constData());
    // A socket that keeps failing is said once, not on every keep-alive.
    const int error = result < 0 ? -result : 0;
    if (error != 0 && error != _lastError)
        LOG_DEBUG(QStringLiteral("systemd notification failed: %1").arg(QString::fromLocal8Bit(std::strerror(error))));
    _lastError = error;
    return result > 0;
}
