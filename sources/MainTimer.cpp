#include "MainTimer.h"

#include <QDateTime>
#include <QTimerEvent>

#include "ApplicationController.h"
#include "CommandLine.h"
#include "storage/Logger.h"

MainTimer::MainTimer(QObject *parent)
    : QObject(parent)
{
}

bool MainTimer::init()
{
    if (_init)
        return false;
    _init = true;
    if (gFakeInterval != 0)
        startTicking(gFakeInterval);
    _dateTimer.start(_interval, Qt::CoarseTimer, this);
    connect(&ApplicationController::I(), &ApplicationController::didKeepAliveBegin, this, &MainTimer::onKeepAliveBegin);
    LOG_DEBUG(QStringLiteral("%1 Initialized").arg(QString::fromLatin1(metaObject()->className())));
    return true;
}

void MainTimer::quit() {}

void MainTimer::onKeepAliveBegin()
{
    if (gFakeInterval == 0)
        startTicking(_interval);
}

void MainTimer::startTicking(int interval)
{
    _tickInterval = interval;
    _tickTimer.start(interval, Qt::CoarseTimer, this);
}

void MainTimer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == _tickTimer.timerId())
        emit didTimeout();
    else if (event->timerId() != _dateTimer.timerId())
        return;
    // The date is checked by whichever timer fires; both only ever compare.
    if (isDateChanged(false))
        emit didDateChange();
}

bool MainTimer::isDateChanged(bool checkTime)
{
    const QDateTime now = _clock ? _clock() : QDateTime::currentDateTime();
    if (_seenDate && now.date() == _lastDate) {
        if (!checkTime)
            return false;
        const QTime time(now.time().hour(), now.time().minute(), now.time().second());
        if (time == _lastTime)
            return false;
        _lastTime = time;
    }
    _seenDate = true;
    _lastDate = now.date();
    return true;
}
