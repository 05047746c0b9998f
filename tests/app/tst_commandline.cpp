#include <QtTest>

#include "CommandLine.h"

// The option rules: what each command line leaves in the process-wide flags.
class TestCommandLine : public QObject
{
    Q_OBJECT

private:
    static void parse(const QStringList &options)
    {
        resetOptions();
        commandlineParse(QStringList{"rararoz"} + options);
    }

private slots:
    void cleanup() { resetOptions(); }

    void defaults()
    {
        parse({});
        QCOMPARE(gActiveCANBus, QStringLiteral("can0"));
        QCOMPARE(gCanPlugin, QStringLiteral("socketcan"));
        QVERIFY(!gConsoleoutCanInterface && !gConsoleoutFrameInterface && !gConsoleoutLogs);
        QCOMPARE(gFakeInterval, 0);
        QVERIFY(gFakeData.isEmpty());
        QVERIFY(!gLogLongName);
        QVERIFY(gParserErrorText.isEmpty());
        QVERIFY(gSettingsPath.isEmpty());
        QVERIFY(gLogPath.isEmpty());
    }

    void switches_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("flag");
        const QList<QPair<QString, bool *>> table = {
            {"-c", &gConsoleoutCanInterface},
            {"-m", &gConsoleoutFrameInterface},
            {"-l", &gConsoleoutLogs},
            {"-0", &gSendEmptyKeepAwake},
            {"-u", &gDisableUnhandledReport},
            {"-d", &gDisableOrvaneUnhandled},
            {"-q", &gDisableTimeout},
            {"-a", &gDisableAlarmNoMinimize},
            {"-S", &gDisableSDCFailLogStop},
            {"-C", &gDisableCloudSyncFailStop},
            {"-k", &gDisableCheckInLog},
            {"-K", &gDisableAcknowLog},
            {"-D", &gEnableRarAroz},
            {"-E", &gEnableManufacturing},
            {"-R", &gUseRootHome},
            {"-U", &gEnableUpdating},
            {"-x", &gLogLongName},
            {"-y", &gLogUpload},
            {"-z", &gLogCompress},
            {"-L", &gLogUnhandledOnly},
        };
        for (int i = 0; i < table.size(); ++i)
            QTest::newRow(qPrintable(table.at(i).first)) << table.at(i).first << i;
    }

    void switches()
    {
        QFETCH(QString, option);
        QFETCH(int, flag);
        const QList<bool *> flags = {
            &gConsoleoutCanInterface,
            &gConsoleoutFrameInterface,
            &gConsoleoutLogs,
            &gSendEmptyKeepAwake,
            &gDisableUnhandledReport,
            &gDisableOrvaneUnhandled,
            &gDisableTimeout,
            &gDisableAlarmNoMinimize,
            &gDisableSDCFailLogStop,
            &gDisableCloudSyncFailStop,
            &gDisableCheckInLog,
            &gDisableAcknowLog,
            &gEnableRarAroz,
            &gEnableManufacturing,
            &gUseRootHome,
            &gEnableUpdating,
            &gLogLongName,
            &gLogUpload,
            &gLogCompress,
            &gLogUnhandledOnly,
        };
        parse({option});
        for (int i = 0; i < flags.size(); ++i)
            QCOMPARE(*flags.at(i), i == flag);
    }

    void activeBus_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("bus");
        QTest::newRow("vcan0 accepted") << QStringList{"-A", "vcan0"} << "vcan0";
        QTest::newRow("can1 accepted") << QStringList{"--active-can-bus", "can1"} << "can1";
        QTest::newRow("eth0 ignored") << QStringList{"-A", "eth0"} << "can0";
        QTest::newRow("option as value ignored") << QStringList{"-A", "-c"} << "can0";
        QTest::newRow("case-sensitive") << QStringList{"-A", "CAN1"} << "can0";
    }

    void activeBus()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, bus);
        parse(options);
        QCOMPARE(gActiveCANBus, bus);
        QVERIFY(gParserErrorText.isEmpty());
    }

    void fakeMessages_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("interval");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("seqAtBegin");
        QTest::newRow("interval alone") << QStringList{"-i", "500"} << 500 << QByteArray(1, '\0') << false;
        QTest::newRow("interval and data")
            << QStringList{"-i", "500", "-f", "0102ff"} << 500 << QByteArray::fromHex("0102ff") << false;
        QTest::newRow("data without interval") << QStringList{"-f", "0102"} << 0 << QByteArray() << false;
        QTest::newRow("interval not a number") << QStringList{"-i", "abc", "-b"} << 0 << QByteArray() << false;
        QTest::newRow("zero interval") << QStringList{"-i", "0"} << 0 << QByteArray(1, '\0') << false;
        QTest::newRow("negative interval") << QStringList{"-i", "-5", "-b"} << 0 << QByteArray(1, '\0') << true;
        QTest::newRow("sequence at begin") << QStringList{"-i", "250", "-b"} << 250 << QByteArray(1, '\0') << true;
        QTest::newRow("non-hex skipped") << QStringList{"-i", "10", "-f", "01:zz:02"} << 10
                                         << QByteArray::fromHex("0102") << false;
    }

    void fakeMessages()
    {
        QFETCH(QStringList, options);
        QFETCH(int, interval);
        QFETCH(QByteArray, data);
        QFETCH(bool, seqAtBegin);
        parse(options);
        QCOMPARE(gFakeInterval, interval);
        QCOMPARE(gFakeData, data);
        QCOMPARE(gFakeSeqAtBegin, seqAtBegin);
    }

    // The standard options go back to their defaults; where the bus, the
    // configuration and the logs are stays as given.
    void parseFailureKeepsDefaults_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("unknown option") << QStringList{"-c", "--log-path", "/logs", "--bogus"};
        QTest::newRow("missing value") << QStringList{"--log-path", "/logs", "-c", "-A"};
    }

    void parseFailureKeepsDefaults()
    {
        QFETCH(QStringList, options);
        parse(QStringList{"--can-plugin", "virtualcan", "--settings-path", "config"} + options);
        QVERIFY(!gParserErrorText.isEmpty());
        QVERIFY(!gConsoleoutCanInterface);
        QCOMPARE(gActiveCANBus, QStringLiteral("can0"));
        QCOMPARE(gLogPath, QStringLiteral("/logs/"));
        QCOMPARE(gCanPlugin, QStringLiteral("virtualcan"));
        QCOMPARE(gSettingsPath, QStringLiteral("config/"));
    }

    void extraOptions()
    {
        parse({"--can-plugin", "virtualcan", "--settings-path", "config", "--log-path", "/tmp/x/"});
        QCOMPARE(gCanPlugin, QStringLiteral("virtualcan"));
        QCOMPARE(gSettingsPath, QStringLiteral("config/"));
        QCOMPARE(gLogPath, QStringLiteral("/tmp/x/"));
    }

    void version_data()
    {
        QTest::addColumn<QStringList>("parts"); // major, minor, micro, build, branch
        QTest::addColumn<int>("revision");
        QTest::addColumn<QString>("version");
        QTest::newRow("reference") << QStringList{"", "", "", "", "feature/x"} << 0 << "feature/x-08121702-0";
        QTest::newRow("no branch") << QStringList{"", "", "", "", ""} << 0 << "08121702-0";
        QTest::newRow("unnumbered official") << QStringList{"1", "2", "3", "", "master"} << 7 << "master-12308121702-7";
        QTest::newRow("numbered master") << QStringList{"1", "2", "3", "45", "master"} << 7 << "1.2.3.45-7";
        QTest::newRow("numbered develop") << QStringList{"1", "2", "3", "45", "develop"} << 9 << "develop-1.2.3.45-9";
        QTest::newRow("release with suffix")
            << QStringList{"1", "2", "3", "45", "release/v1/rc2"} << 3 << "V1-1.2.3.45-3-rc2";
        QTest::newRow("release of master")
            << QStringList{"1", "2", "3", "45", "release/v2/master"} << 3 << "V2-1.2.3.45-3";
        QTest::newRow("release single part") << QStringList{"1", "2", "3", "45", "release/v3"} << 3 << "v3-1.2.3.45-3";
        QTest::newRow("numbered feature") << QStringList{"1", "2", "3", "45", "topic"} << 1 << "topic-12345-1";
    }

    void version()
    {
        QFETCH(QStringList, parts);
        QFETCH(int, revision);
        QFETCH(QString, version);
        QCOMPARE(composeVersion(parts[0], parts[1], parts[2], parts[3], parts[4], revision), version);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
