#include <QtTest>

#include "ApplicationController.h"
#include "ApplicationPost.h"
#include "CommandLine.h"
#include "common/LogSpy.h"
#include "Threads.h"
#include "startup.h"

// The hub's self test start and the fake test messages of test mode.
class TestApplicationController : public QObject
{
    Q_OBJECT

    static QByteArray payload(const QVariantList &list) { return list.value(2).toByteArray(); }

    static quint16 u16(const QByteArray &bytes, int at)
    {
        return quint16(quint8(bytes.at(at)) | quint8(bytes.at(at + 1)) << 8);
    }

private slots:
    void cleanup() { resetOptions(); }

    // The zone is named once so that local time costs no file check per line.
    void timeZoneNamedOnce_data()
    {
        QTest::addColumn<QByteArray>("given");
        QTest::addColumn<QByteArray>("used");
        QTest::newRow("none given") << QByteArray() << QByteArray(":/etc/localtime");
        QTest::newRow("given zone kept") << QByteArray("Europe/Zurich") << QByteArray("Europe/Zurich");
    }

    void timeZoneNamedOnce()
    {
        QFETCH(QByteArray, given);
        QFETCH(QByteArray, used);
        qputenv("TZ", given);
        prepareEnvironment();
        QCOMPARE(qgetenv("TZ"), used);
    }

    // Queued connections between the threads can carry each of these.
    void typesCrossingThreadsAreRegistered_data()
    {
        QTest::addColumn<QByteArray>("name");
        for (const char *name :
             {"LogType", "Logger::LogType", "QCanBusFrame", "Can_Id", "Sequence", "FrameList", "Can::Message"})
            QTest::newRow(name) << QByteArray(name);
    }

    void typesCrossingThreadsAreRegistered()
    {
        QFETCH(QByteArray, name);
        Threads::registerTypes();
        QVERIFY(QMetaType::type(name.constData()) != QMetaType::UnknownType);
    }

    void postPassesAtOnce()
    {
        ApplicationPost post;
        QSignalSpy done(&post, &ApplicationPost::didDone);
        QVERIFY(!post.isDone());
        post.start();
        post.start();
        QCOMPARE(done.count(), 2);
        QCOMPARE(done.at(1).at(0).toBool(), true);
        QVERIFY(post.isDone());
    }

    void startPostTwiceConnectsOnce()
    {
        ApplicationController &hub = ApplicationController::I();
        QVERIFY(hub.init());
        QVERIFY(!hub.init());
        QSignalSpy started(&hub, &ApplicationController::didstartPOST);
        QSignalSpy settings(&hub, &ApplicationController::didSettingsDone);
        LogSpy log;
        hub.startPOST();
        hub.startPOST();
        QCOMPARE(started.count(), 2);
        // Two self tests run (one connection, two emissions); each chains into
        // the configuration load, whose end is reported.
        QCOMPARE(log.count("ApplicationPost Start"), 2);
        QCOMPARE(log.count("ApplicationPOST Done"), 2);
        QTRY_VERIFY(settings.count() >= 1);
    }

    void keepAliveWithoutFakeData()
    {
        const QVariantList list = ApplicationController::I().keepAliveList();
        QCOMPARE(list.size(), 3);
        QCOMPARE(list.at(0).toInt(), 0x0000);
        QCOMPARE(list.at(1).toInt(), 0x100);
        QCOMPARE(list.at(2), QVariant(0));
    }

    void sequencedCounters()
    {
        commandlineParse({"rararoz", "-i", "500"});
        ApplicationController &hub = ApplicationController::I();
        const QByteArray first = payload(hub.keepAliveList());
        const QByteArray second = payload(hub.keepAliveList());
        QCOMPARE(first.size(), 96);
        QCOMPARE(second.size(), 96);
        // Block 0 is the bare counter, blocks 1..11 six zeros then the
        // counter, block 12 four zeros then the counter.
        QCOMPARE(u16(first, 0), quint16(0));
        for (int block = 1; block <= 11; ++block) {
            QCOMPARE(first.mid(2 + 8 * (block - 1), 6), QByteArray(6, '\0'));
            QCOMPARE(u16(first, 8 + 8 * (block - 1)), quint16(block));
        }
        QCOMPARE(first.mid(90, 4), QByteArray(4, '\0'));
        QCOMPARE(u16(first, 94), quint16(12));
        QCOMPARE(u16(second, 0), quint16(13));
        QCOMPARE(u16(second, 94), quint16(25));
    }

    void sequencedCounterWraps()
    {
        commandlineParse({"rararoz", "-i", "500"});
        ApplicationController &hub = ApplicationController::I();
        // Each payload takes 13 counter values; run up to the payload that
        // holds 65535 and check the count goes on at 0 inside it.
        int next = u16(payload(hub.keepAliveList()), 0) + 13;
        while (next + 13 <= 65535) {
            hub.keepAliveList();
            next += 13;
        }
        const QByteArray wrapping = payload(hub.keepAliveList());
        QCOMPARE(int(u16(wrapping, 0)), next);
        const int blockOf65535 = 65535 - next; // 0..12
        const auto counterAt = [&](int block) { return u16(wrapping, block == 0 ? 0 : 8 * block); };
        QCOMPARE(counterAt(blockOf65535), quint16(65535));
        QCOMPARE(counterAt(blockOf65535 + 1), quint16(0));
    }

    void seqAtBeginLayout()
    {
        commandlineParse({"rararoz", "-i", "500", "-b"});
        const QByteArray first = payload(ApplicationController::I().keepAliveList());
        QCOMPARE(first.size(), 96);
        QCOMPARE(first.left(2), QByteArray::fromHex("0000"));
        QCOMPARE(first.mid(2, 8), QByteArray::fromHex("0100000000000000"));
        QCOMPARE(first.mid(10, 8), QByteArray::fromHex("0200000000000000"));
        QCOMPARE(first.mid(90, 6), QByteArray::fromHex("0c0000000000"));
        const QByteArray second = payload(ApplicationController::I().keepAliveList());
        QCOMPARE(second.left(2), QByteArray::fromHex("0d00"));
    }

    void fakeDataSentUnchanged()
    {
        commandlineParse({"rararoz", "-i", "500", "-f", "0102"});
        QCOMPARE(payload(ApplicationController::I().keepAliveList()), QByteArray::fromHex("0102"));
        commandlineParse({"rararoz", "-i", "500", "-f", "0102", "-b"});
        QCOMPARE(payload(ApplicationController::I().keepAliveList()), QByteArray::fromHex("0102"));
    }

    void routesListsUnchanged()
    {
        ApplicationController &hub = ApplicationController::I();
        QSignalSpy unhandled(&hub, &ApplicationController::didUnhandledMsgAppController);
        QSignalSpy transmit(&hub, &ApplicationController::didActionTransmit);
        const QVariantList request{0x1000, -3, QByteArray::fromHex("05000000aa")};
        hub.doUnhandledMsgAppController(request);
        hub.onActionTransmit({0x4600, 64, 1u, 0});
        QCOMPARE(unhandled.at(0).at(0).toList(), request);
        QCOMPARE(transmit.at(0).at(0).toList(), QVariantList({0x4600, 64, 1u, 0}));
    }
};

QTEST_GUILESS_MAIN(TestApplicationController)
#include "tst_applicationcontroller.moc"
