#include <QtTest>

#include <atomic>

#include "CommandLine.h"
#include "common/LogSpy.h"
#include "storage/Logger.h"
#include "common/SmallFileSystem.h"
#include "common/StderrCapture.h"
#include "Threads.h"

using Storage::Logger;

// The logger on its own thread, writing into a temporary folder, with a clock
// the test moves across midnight. Run in a small file system of its own where
// the machine allows (RARAROZ_SMALL_FS, see run-isolated), so that a full card
// can be tried too.
class TestLogger : public QObject
{
    Q_OBJECT

    QTemporaryDir _dir{smallFileSystem().isEmpty() ? QDir::tempPath() + "/tst_logger-XXXXXX"
                                                   : smallFileSystem() + "/logs-XXXXXX"};
    std::atomic<qint64> _nowMs{QDateTime(QDate(2026, 3, 14), QTime(23, 59, 58, 500)).toMSecsSinceEpoch()};

    // Every line sent so far has been written.
    static void drain()
    {
        QMetaObject::invokeMethod(
            &Logger::I(), [] { Logger::I().flush(); }, Qt::BlockingQueuedConnection);
    }

    QString read(const QString &relative) const
    {
        QFile file(_dir.filePath(relative));
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(file.readAll());
    }

    QDateTime now() const { return QDateTime::fromMSecsSinceEpoch(_nowMs.load()); }
    QString serviceFile() const { return "service/" + now().toString("yyyy_MM_dd") + "_rararoz.err"; }

    static void makeFile(const QString &path, int size, const QDateTime &modified)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(QByteArray(size, 'x')), qint64(size));
        file.close();
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }

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
        QVERIFY2(events.startsWith("TimeStamp,ID,SubSys,Name,1,2,3,"), qPrintable(events));
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

        // Milliseconds keep their leading zeros; the text goes out as UTF-8.
        const qint64 saved = _nowMs.exchange(_nowMs.load() - 493);
        emit Logger::I().didLog(QStringLiteral("37.5 \u00b0C"), Logger::eLogDebug, true);
        drain();
        _nowMs = saved;
        QVERIFY(read("service/2026_03_14_rararoz.err").contains("\r\n23:59:58.007,37.5 \u00b0C\r\n"));
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
        QCOMPARE(
            read("service/2026_03_15_rararoz.err"),
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

    void plantedLinkUnderADaysNameIsNotFollowed()
    {
        // Tomorrow's name made a link to a file elsewhere: the line fails
        // visibly and the file behind the link is left as it was.
        const QString target = _dir.filePath("precious.db");
        makeFile(target, 8, now());
        const QString tomorrow = "service/" + now().addDays(1).toString("yyyy_MM_dd") + "_rararoz.err";
        QVERIFY(QFile::link(target, _dir.filePath(tomorrow)));
        QSignalSpy failed(&Logger::I(), &Logger::didLogIOFail);
        StderrCapture capture;
        _nowMs += 24 * 3600 * 1000;
        emit Logger::I().didLog("through the link", Logger::eLogDebug, true);
        drain();
        QVERIFY(failed.count() >= 1);
        QVERIFY(capture.text().contains("Cannot open file for write (" + _dir.filePath(tomorrow) + ")"));
        QCOMPARE(read("precious.db"), QString(8, 'x'));

        QVERIFY(QFile::remove(_dir.filePath(tomorrow)));
        emit Logger::I().didLog("after the link", Logger::eLogDebug, true);
        drain();
        QVERIFY(read(tomorrow).endsWith(",after the link\r\n"));
    }

    void fullCardIsReportedAndWritingResumes()
    {
        if (smallFileSystem().isEmpty())
            QSKIP("a full card needs a small file system of the test's own (private mount namespace)");
        emit Logger::I().didLog("before the card fills", Logger::eLogDebug, true);
        drain();
        QFile filler(smallFileSystem() + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(64 * 1024, 'f')) > 0 && filler.flush()) {
        }
        filler.close();

        QSignalSpy failed(&Logger::I(), &Logger::didLogIOFail);
        StderrCapture capture;
        // Longer than a page, so the file has to grow.
        emit Logger::I().didLog(QString(16 * 1024, 'L'), Logger::eLogDebug, true);
        drain();
        QCOMPARE(failed.count(), 1);
        const QString text = capture.text();
        QVERIFY2(text.contains("Cannot write file (" + _dir.filePath(serviceFile()) + "). No space left on device."),
                 qPrintable(text));

        QVERIFY(filler.remove());
        emit Logger::I().didLog("after space returned", Logger::eLogDebug, true);
        drain();
        QCOMPARE(failed.count(), 1);
        QVERIFY(read(serviceFile()).endsWith(",after space returned\r\n"));
    }

    void cleanUpRemovesOnlyOwnOldFiles()
    {
        if (smallFileSystem().isEmpty())
            QSKIP("over the share needs a small file system of the test's own (private mount namespace)");
        // 2 MiB: the service log's 15 % share is 314,572 bytes. Three old own
        // files of 120,000 bytes are over it by the oldest one; a stranger's
        // older, bigger file and a link named like an own file do not count.
        const QDateTime march = QDateTime(QDate(2026, 3, 1), QTime(12, 0));
        makeFile(_dir.filePath("service/notes.txt"), 200000, march.addDays(-20));
        makeFile(_dir.filePath("customer.db"), 200000, march.addDays(-20));
        QVERIFY(QFile::link(_dir.filePath("customer.db"), _dir.filePath("service/2026_02_01_rararoz.err")));
        makeFile(_dir.filePath("service/2026_03_01_rararoz.err"), 120000, march);
        makeFile(_dir.filePath("service/2026_03_02_rararoz.err"), 120000, march.addDays(1));
        makeFile(_dir.filePath("service/20260303_101010_BootPOST_NoRunning.err"), 120000, march.addDays(2));

        LogSpy spy;
        QCOMPARE(Logger::I().removeLogs(Logger::eLogDebug), 1);
        QCOMPARE(spy.count("Removing " + _dir.filePath("service/2026_03_01_rararoz.err") + " succeeded"), 1);
        QVERIFY(!QFile::exists(_dir.filePath("service/2026_03_01_rararoz.err")));
        for (const char *kept : {"service/2026_03_02_rararoz.err", "service/20260303_101010_BootPOST_NoRunning.err",
                                 "service/notes.txt", "customer.db"})
            QVERIFY2(QFile::exists(_dir.filePath(kept)), kept);
        QVERIFY(QFileInfo(_dir.filePath("service/2026_02_01_rararoz.err")).isSymLink());
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
        const QString service = read(serviceFile());
        QVERIFY(service.contains("stopping 0\r\n"));
        QVERIFY(service.contains("stopping 99\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
