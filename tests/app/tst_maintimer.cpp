#include <QtTest>

#include <atomic>

#include "ApplicationController.h"
#include "CommandLine.h"
#include "MainTimer.h"

// The coarse tick and its date check; the timer runs on the test's thread.
class TestMainTimer : public QObject
{
    Q_OBJECT

    std::atomic<qint64> _nowMs{QDateTime(QDate(2026, 6, 30), QTime(23, 59, 59, 0)).toMSecsSinceEpoch()};

private slots:
    void initTestCase()
    {
        MainTimer::I().setClock([this] { return QDateTime::fromMSecsSinceEpoch(_nowMs.load()); });
    }

    void dateChangeRule()
    {
        MainTimer &timer = MainTimer::I();
        QVERIFY(timer.isDateChanged(false)); // the first check always reports a change
        QVERIFY(!timer.isDateChanged(false));
        _nowMs += 2000; // crosses midnight
        QVERIFY(timer.isDateChanged(false));
        QVERIFY(!timer.isDateChanged(false));
        _nowMs += 1000;
        QVERIFY(timer.isDateChanged(true)); // same day, another second
        QVERIFY(!timer.isDateChanged(true));
    }

    // Without -i nothing ticks the keep-alive, but the date is still checked
    // every second, so the daily log clean-up starts on the board too.
    void dateCheckedWithoutTestMode()
    {
        resetOptions();
        _nowMs += 86400000; // a new day since the last check
        QSignalSpy timeouts(&MainTimer::I(), &MainTimer::didTimeout);
        QSignalSpy dates(&MainTimer::I(), &MainTimer::didDateChange);
        QVERIFY(MainTimer::I().init());
        QVERIFY(!MainTimer::I().init());
        QVERIFY(!MainTimer::I().isTicking());
        QTRY_COMPARE_WITH_TIMEOUT(dates.count(), 1, 3000);
        QTest::qWait(1200);
        QCOMPARE(dates.count(), 1); // same day: no further change
        QCOMPARE(timeouts.count(), 0);
    }

    void keepAliveBeginStartsTheTick()
    {
        QSignalSpy timeouts(&MainTimer::I(), &MainTimer::didTimeout);
        emit ApplicationController::I().didKeepAliveBegin();
        QVERIFY(MainTimer::I().isTicking());
        QCOMPARE(MainTimer::I().tickInterval(), 1000);
        QTRY_VERIFY_WITH_TIMEOUT(timeouts.count() >= 1, 3000);
    }
};

QTEST_GUILESS_MAIN(TestMainTimer)
#include "tst_maintimer.moc"
