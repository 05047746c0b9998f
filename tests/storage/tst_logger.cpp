#include <QtTest>

#include <atomic>

#include "CommandLine.h"
#include "LogSpy.h"
#include "Logger.h"
#include "Threads.h"

using Storage::Logger;

// The logger on its own thread, writing into a temporary folder, with a clock
// the test moves across midnight.
class tst_Logger : public QObject
{
    Q_OBJECT

    QTemporaryDir _dir;
    std::atomic<qint64> _nowMs{QDateTime(QDate(2026, 3, 14), QTime(23, 59, 58, 500)).toMSecsSinceEpoch()};

    // Every line sent so far has been handled (twice: a line may send another).
    static void drain()
    {
        for (int i = 0; i < 2; ++i)
            QMetaObject::invokeMethod(&Logger::I(), [] {}, Qt::BlockingQueuedConnection);
    }

    QString read(const QString &relative) const
    {
        QFile file(_dir.filePath(relative));
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(file.readAll());
    }

    QDateTime now() const { return QDateTime::fromMSecsSinceEpoch(_nowMs.load()); }

private slots:
    void initTestCase()
    {
        QVERIFY(_dir.isValid());
        QCoreApplication::setApplicationName("RarAroz");
        QCoreApplication::setApplicationVersion("test-1");
        Threads::registerTypes();
        gLogPath = _dir.path() + '/';
        Logger::I().setClock([this] { return now(); });
        QVERIFY(Logger::I().init(Threads::_Logger_Thread));
        QVERIFY(!Logger::I().init(Threads::_Logger_Thread));
        QCOMPARE(Logger::I().thread(), &Threads::_Logger_Thread);
        QCOMPARE(Threads::_Logger_Thread.objectName(), QStringLiteral("Storage::Logger_Thread"));
        QCOMPARE(Logger::I().logPath(Logger::eLogAppED), _dir.path() + "/log/");
        QCOMPARE(Logger::I().logPath(Logger::eLogDebug), _dir.path() + "/service/");
        Logger::I().postInit();
        drain();
    }

    void startLinesAndHeaders()
    {
        const QString events = read("log/2026_03_14_rararoz.log");
        const QString service = read("service/2026_03_14_rararoz.err");
        QVERIFY2(events.startsWith("TimeStamp,ID,SubSys,Name,1,2,3,") , qPrintable(events));
        QVERIFY(events.endsWith(",38,39,40\r\n23:59:58.500,    ,UI,test-1\r\n"));
        QVERIFY2(service.startsWith("TimeStamp,Description\r\n"
                                    "23:59:58.500,Storage::Logger Initialized\r\n"
                                    "23:59:58.500,Application RarAroz Started\r\n"),
                 qPrintable(service));
    }

    void lineFormat()
    {
        emit Logger::I().didLog("plain text", Logger::eLogDebug, false);
        emit Logger::I().didLog(QStringLiteral("with") + QChar(0) + QStringLiteral("nul"), Logger::eLogDebug, true);
        drain();
        const QString service = read("service/2026_03_14_rararoz.err");
        QVERIFY(service.contains("\r\nplain text\r\n"));
        QVERIFY(service.contains("\r\n23:59:58.500,with0nul\r\n"));
    }

    void consoleOutSwitchLogsOnChangeOnly()
    {
        LogSpy spy;
        Logger::I().enableConsoleOut(true);
        Logger::I().enableConsoleOut(true);
        Logger::I().enableConsoleOut(false);
        QCOMPARE(spy.count("Console out Logging enabled"), 1);
        QCOMPARE(spy.count("Console out Logging disabled"), 1);
        drain();
    }

    void otherTypesGoToServiceFile()
    {
        emit Logger::I().didLog("cloud line", Logger::eLogCloud, true);
        drain();
        const QString service = read("service/2026_03_14_rararoz.err");
        QVERIFY(service.contains("23:59:58.500,cloud line\r\n"));
        QVERIFY(service.contains("23:59:58.500,Incorrect type of logging 2\r\n"));
        QVERIFY(!QFile::exists(_dir.filePath("log/2026_03_14_rararoz.err")));
    }

    void dayChangeStartsEachTypeWithItsHeader()
    {
        QSignalSpy backups(&Logger::I(), &Logger::didLogBackup);
        _nowMs += 2000; // 00:00:00.500 of the next day
        emit Logger::I().didLog("after midnight", Logger::eLogDebug, true);
        emit Logger::I().didLog("event after midnight", Logger::eLogAppED, true);
        emit Logger::I().didLog("second line", Logger::eLogDebug, true);
        drain();
        QCOMPARE(read("service/2026_03_15_rararoz.err"),
                 QStringLiteral("TimeStamp,Description\r\n00:00:00.500,after midnight\r\n00:00:00.500,second line\r\n"));
        const QString events = read("log/2026_03_15_rararoz.log");
        QVERIFY2(events.startsWith("TimeStamp,ID,SubSys,Name,1,"), qPrintable(events));
        QVERIFY(events.endsWith(",40\r\n00:00:00.500,event after midnight\r\n"));
        // The finished day's file of each type is announced once.
        QCOMPARE(backups.count(), 2);
        QCOMPARE(backups.at(0).at(0).toString(), _dir.path() + "/service/2026_03_14_rararoz.err");
        QCOMPARE(backups.at(1).at(0).toString(), _dir.path() + "/log/2026_03_14_rararoz.log");
    }

    void storageNotReadyDropsLines()
    {
        Logger::I().onSDCardStateChange(true, true);
        emit Logger::I().didLog("dropped line", Logger::eLogDebug, true);
        drain();
        gDisableSDCFailLogStop = true;
        emit Logger::I().didLog("forced line", Logger::eLogDebug, true);
        drain();
        gDisableSDCFailLogStop = false;
        Logger::I().onSDCardStateChange(true, false);
        emit Logger::I().didLog("ready again", Logger::eLogDebug, true);
        drain();
        const QString service = read("service/2026_03_15_rararoz.err");
        QVERIFY(!service.contains("dropped line"));
        QVERIFY(service.contains("forced line"));
        QVERIFY(service.contains("ready again"));
    }

    void cleanUpKeepsTodaysFiles()
    {
        // A type's files beyond its share are removed oldest first, but never
        // today's; with a 15 % share a few bytes never exceed it.
        LogSpy spy;
        QSignalSpy done(&Logger::I(), &Logger::didRemoveLogs);
        QCOMPARE(Logger::I().removeLogs(Logger::eLogFiles), 0);
        QCOMPARE(spy.count("No log file to delete for type(.log) more than 50% limit from folder"), 1);
        QCOMPARE(spy.count("No log file to delete for type(.err) more than 15% limit from folder"), 1);
    }

    // Runs last: it stops the logger's thread.
    void keepsLoggingThroughShutdown()
    {
        // aboutToQuit reaches the logger first; lines sent afterwards, while
        // the other services stop, must still be written.
        QMetaObject::invokeMethod(&Logger::I(), "quit", Qt::BlockingQueuedConnection);
        QCOMPARE(Logger::I().thread(), &Threads::_Logger_Thread);
        for (int i = 0; i < 100; ++i)
            emit Logger::I().didLog(QStringLiteral("stopping %1").arg(i), Logger::eLogDebug, true);
        Threads::quitThread(Threads::_Logger_Thread);
        QVERIFY(Threads::_Logger_Thread.isFinished());
        const QString service = read("service/2026_03_15_rararoz.err");
        QVERIFY(service.contains("stopping 0\r\n"));
        QVERIFY(service.contains("stopping 99\r\n"));
    }
};

QTEST_GUILESS_MAIN(tst_Logger)
#include "tst_logger.moc"
