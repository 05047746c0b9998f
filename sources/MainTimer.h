#pragma once

#include <QBasicTimer>
#include <QDate>
#include <QObject>
#include <QTime>

#include <functional>

#include "Singleton.h"

// The coarse application tick. In test mode it drives the keep-alive and the
// fake test messages (didTimeout); in every mode it checks the calendar date
// once a second, so the daily log clean-up (didDateChange) always starts.
class MainTimer : public QObject
{
    Q_OBJECT
    RARAROZ_SINGLETON(MainTimer)

public:
    using Clock = std::function<QDateTime()>;

    bool init();
    bool isDateChanged(bool checkTime = false);
    bool isTicking() const { return _tickTimer.isActive(); }
    int tickInterval() const { return _tickInterval; }

    // Test seam: where "now" comes from (the wall clock by default).
    void setClock(Clock clock) { _clock = std::move(clock); }

signals:
    void didTimeout();
    void didDateChange();

public slots:
    void quit();
    void onKeepAliveBegin();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void startTicking(int interval);

    const int _interval = 1000;
    int _tickInterval = 0;
    QBasicTimer _tickTimer;
    QBasicTimer _dateTimer;
    QDate _lastDate{};
    QTime _lastTime{};
    bool _seenDate = false;
    Clock _clock;
    bool _init = false;
};
