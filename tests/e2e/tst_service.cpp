#include <QtTest>

#include <csignal>

#include "common/ServiceProcess.h"
#include "common/SmallFileSystem.h"

// The real service as a process: command line, logs, shutdown.
class TestService : public QObject
{
    Q_OBJECT

private slots:
    void help()
    {
        QString out;
        QCOMPARE(ServiceProcess::run({"--help"}, &out), 0);
        QVERIFY(out.contains("RarAroz"));
        const QStringList ordered = {"-c, --canOut",
                                     "-m, --msgOut",
                                     "-l, --logOut",
                                     "-0, --enable-keep-awake",
                                     "-i, --fake-interval <interval>",
                                     "-f, --fake-message <data>",
                                     "-b, --fake-message-seq-at-begin",
                                     "-u, --disable-unhandled-report",
                                     "-d, --disable-orvane-unhandled",
                                     "-q, --disable-timeout",
                                     "-a, --disable-alarm-no-minimize",
                                     "-S, --disable-sd-card-fail-log-stop",
                                     "-C, --disable-cloudsync-fail-stop",
                                     "-k, --disable-check-in-log",
                                     "-K, --disable-acknow-log",
                                     "-D, --enable-dry-demo",
                                     "-A, --active-can-bus <CANBus>",
                                     "-E, --enable-manufacturing",
                                     "-R, --use-root-home",
                                     "-U, --enable-update-mode",
                                     "-x, --use-log-long-name",
                                     "-y, --use-log-cloud-upload",
                                     "-z, --use-log-compression",
                                     "-L, --use-log-unhandled-only",
                                     "--can-plugin <plugin>",
                                     "--settings-path <folder>",
                                     "--log-path <folder>"};
        int at = 0;
        for (const QString &option : ordered) {
            const int found = out.indexOf(option, at);
            QVERIFY2(found >= 0, qPrintable(option));
            at = found;
        }
        QVERIFY(out.contains("Show the Can Frame Output"));
        QVERIFY(out.simplified().contains("Sets the Active CANBus [Shall start with 'can' or 'vcan]"));
    }

    void version()
    {
        QString out;
        QCOMPARE(ServiceProcess::run({"--version"}, &out), 0);
        const QString last = out.trimmed().split('\n').last();
        QVERIFY2(QRegularExpression("^RarAroz (.+-)?08121702-\\d+$").match(last).hasMatch(), qPrintable(out));
    }

    void startsAndStopsOnSigterm()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        QVERIFY(service.waitForLog("service", "MainTimer Initialized"));
        QVERIFY(service.waitForLog("service", "ApplicationPOST Done"));
        QCOMPARE(service.stop(SIGTERM), 0);
        QVERIFY(service.output().contains("Application terminated by SIGTERM"));

        const QString date = QDate::currentDate().toString("yyyy_MM_dd");
        QVERIFY(QFile::exists(service.logPath() + "/log/" + date + "_rararoz.log"));
        QVERIFY(QFile::exists(service.logPath() + "/service/" + date + "_rararoz.err"));
        QVERIFY(service.logText("log").startsWith("TimeStamp,ID,SubSys,Name,1,"));
        QVERIFY(service.logText("service").startsWith("TimeStamp,Description\r\n"));
        QVERIFY(service.logText("service").contains(",Application RarAroz Started\r\n"));
    }

    void stopsOnSigint()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        QVERIFY(service.waitForLog("service", "ApplicationPOST Done"));
        QCOMPARE(service.stop(SIGINT), 0);
        QVERIFY(service.output().contains("Application terminated by SIGINT"));
    }

    void reportsToSystemd_data()
    {
        QTest::addColumn<QString>("watchdogPid");
        QTest::addColumn<bool>("keepAlive");
        QTest::newRow("watchdog on this process") << QString() << true;
        QTest::newRow("watchdog on another process") << "1" << false;
    }

    void reportsToSystemd()
    {
        QFETCH(QString, watchdogPid);
        QFETCH(bool, keepAlive);
        // Under 2 s, so the 1 s main tick would be too slow for it.
        const qint64 watchdogMs = 600;
        QProcessEnvironment variables;
        variables.insert("WATCHDOG_USEC", QString::number(watchdogMs * 1000));
        if (!watchdogPid.isEmpty())
            variables.insert("WATCHDOG_PID", watchdogPid);
        ServiceProcess service;
        QVERIFY(service.listenAsSystemd(variables));
        QVERIFY(service.start());
        QVERIFY(service.waitForNotification("READY=1"));
        QVERIFY(service.waitForNotification("STATUS=Standby"));
        QTest::qWait(int(4 * watchdogMs)); // the chart ticks in Standby meanwhile
        QCOMPARE(service.stop(SIGTERM), 0);

        QList<qint64> keepAlives;
        QByteArrayList messages;
        for (const ServiceProcess::Notification &notification : service.notifications()) {
            messages << notification.message;
            if (notification.message == "WATCHDOG=1" && messages.contains("READY=1"))
                keepAlives << notification.atMs;
        }
        QCOMPARE(messages.count("STATUS=Standby"), 1); // said once, not every tick
        QCOMPARE(messages.last(), QByteArray("STOPPING=1"));
        if (!keepAlive) {
            QVERIFY(!messages.contains("WATCHDOG=1"));
            return;
        }
        // One every half watchdog time: about eight in the wait.
        QVERIFY2(keepAlives.size() >= 5 && keepAlives.size() <= 12, qPrintable(QString::number(keepAlives.size())));
        for (int i = 1; i < keepAlives.size(); ++i)
            QVERIFY2(keepAlives[i] - keepAlives[i - 1] < watchdogMs, qPrintable(QString::number(i)));
    }

    void badCommandLineStillStarts_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown option") << QStringList{"--bogus"} << "Unknown option 'bogus'.";
        QTest::newRow("missing value") << QStringList{"-i"} << "Missing value after '-i'.";
    }

    void badCommandLineStillStarts()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        ServiceProcess service;
        QVERIFY(service.start(arguments));
        QVERIFY(service.waitForOutput("Command Line Parser failed !!!"));
        QVERIFY(service.waitForOutput("POST DONE"));
        QCOMPARE(service.stop(SIGTERM), 0);
        // A failed parse keeps where the logs go: the line is in this run's log.
        QVERIFY(service.logText("service").contains("Command-line arguments process failed:" + error));
    }

    void invalidValuesIgnored_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said");
        QTest::newRow("not a bus, not a number") << QStringList{"-A", "eth0", "-i", "abc"} << "CAN int can0";
        QTest::newRow("negative interval") << QStringList{"-i", "-5"} << "Test fake message interval -5 ignored";
    }

    void invalidValuesIgnored()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        ServiceProcess service;
        QVERIFY(service.start(arguments));
        QVERIFY(service.waitForOutput(said));
        QVERIFY(service.waitForLog("service", "ApplicationPOST Done"));
        QVERIFY(!service.output().contains("TEST MODE"));
        QCOMPARE(service.stop(SIGTERM), 0);
    }

    void testModeBanner()
    {
        ServiceProcess service;
        QVERIFY(service.start({"-i", "200"}));
        QVERIFY(service.waitForOutput("APPLICATION RUNNING IN THE TEST MODE"));
        QVERIFY(service.waitForLog("log", "  ~~ !!!!! APPLICATION RUNNING IN THE TEST MODE !!!!! ~~ "));
        QCOMPARE(service.stop(SIGTERM), 0);
    }

    // A log folder that cannot be made or may not be used: one standard-error
    // line says why, the lines meant for it fail visibly (never written
    // anywhere else, such as the working folder or through a link), and the
    // service runs on and still stops cleanly.
    void unusableLogFolderKeepsRunning_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("said");
        QTest::newRow("cannot be made") << "file in the way"
                                        << "Cannot create folder %1/log/";
        QTest::newRow("a link to someone's folder") << "link"
                                                    << "Log folder %1/service/ is a symbolic link: not used";
    }

    void unusableLogFolderKeepsRunning()
    {
        QFETCH(QString, setup);
        QFETCH(QString, said);
        // On a small card of its own where the machine allows, so that the
        // start-up clean-up has something to remove: the linked folder's old
        // log-named files would go if the link were followed.
        const QString small = smallFileSystem();
        QTemporaryDir dir(small.isEmpty() ? QDir::tempPath() + "/tst_service-XXXXXX" : small + "/card-XXXXXX");
        const QString base = dir.filePath("base");
        QVERIFY(QDir(dir.path()).mkpath("customer"));
        QVERIFY(QDir(dir.path()).mkpath("base/log"));
        const QDateTime old = QDateTime::currentDateTime().addDays(-30);
        const int share = small.isEmpty() ? 1 : 200000; // 2 MiB: over 15 % with two, over 50 % with six
        const QStringList customer = {"2020_01_01_rararoz.err", "2020_01_02_rararoz.err", "customer.db"};
        for (const QString &name : customer)
            makeFile(dir.filePath("customer/" + name), share, old);
        for (int day = 1; day <= 6; ++day)
            makeFile(base + QStringLiteral("/log/2020_02_%1_rararoz.log").arg(day, 2, 10, QLatin1Char('0')), share,
                     old.addSecs(day));
        if (setup == "link") {
            QVERIFY(QFile::link(dir.filePath("customer"), base + "/service"));
        } else {
            QVERIFY(QDir(base).removeRecursively());
            makeFile(base, 0, old);
        }
        ServiceProcess service;
        service.setArguments({"--log-path", base, "--can-plugin", "virtualcan"});
        service.process().start();
        QVERIFY(service.process().waitForStarted());
        QVERIFY(service.waitForOutput(said.arg(base)));
        QVERIFY(service.waitForOutput("POST DONE"));
        QVERIFY(service.waitForOutput("Cannot open file for write (" + base + "/service/"));
        if (setup == "link" && !small.isEmpty()) // the clean-up has run: the oldest own event log went
            QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(base + "/log/2020_02_01_rararoz.log"), 10000);
        QCOMPARE(service.stop(SIGTERM), 0);
        QCOMPARE(QDir(dir.filePath("customer")).entryList(QDir::Files, QDir::Name), customer);
    }

private:
    static void makeFile(const QString &path, int size, const QDateTime &modified)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
        file.close();
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
