#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>

#include "canbus/MessageBuilder.h"
#include "peer/PeerSession.h"
#include "common/ServiceProcess.h"

// The real service under a flood of garbage frames and valid check-ins at
// about 2,000 frames a second: afterwards it still acknowledges a check-in
// within a second, and its memory has not grown without bound.
class TestPeerFlood : public QObject
{
    Q_OBJECT

    ServiceProcess _service;
    PeerSession _ui;
    QRandomGenerator _random{20240611};

    static constexpr int kWait = 10000;
    static constexpr int kFramesPerSecond = 2000;
    static constexpr int kFloodMs = 3000;
    // Every frame the service receives is logged at least once; the log
    // queue and the console copy of broken frames may hold a few megabytes
    // while the logger catches up, but not the whole flood again and again.
    static constexpr qint64 kMaxGrowthKB = 48 * 1024;

    qint64 residentKB()
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(_service.process().processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong();
        return -1;
    }

    QByteArray checkInFrame(Sequence sequence)
    {
        Can::MessageBuilder builder;
        FrameList frames;
        builder.buildFrames(Can::ID_UI_CHECK_IN, QByteArray(), frames, sequence);
        return frames.first();
    }

    // Garbage of every kind the service must survive: random bytes, short
    // frames, headers promising long payloads, wrong CRCs, on the UI's
    // channel and on others.
    void sendGarbage()
    {
        static const quint32 channels[] = {Can::eChlid_UI_TD, Can::eChlid_UI_TD,   Can::eChlid_UI_TD,
                                           Can::eChlid_TD_UI, Can::eChlid_UI_Sync, 0x555};
        const quint32 channel = channels[_random.bounded(int(sizeof channels / sizeof channels[0]))];
        QByteArray frame(_random.bounded(5) == 0 ? int(_random.bounded(8)) : 8, '\0');
        for (char &byte : frame)
            byte = char(_random.bounded(256));
        const int kind = int(_random.bounded(4));
        if (kind == 0 && !frame.isEmpty())
            frame[0] = char(Can::ePayload_Sync); // a header with a random length
        if (kind == 1 && frame.size() == 8) {
            frame = checkInFrame(Sequence(-int(_random.bounded(1, 30000))));
            frame[6] = char(frame[6] ^ 0x20); // a check-in with a wrong CRC
        }
        _ui.bus().write(channel, frame);
    }

    bool checkInAcknowledgedWithin(int ms)
    {
        const Sequence sequence = _ui.send(Can::ID_UI_CHECK_IN, QByteArray(), true);
        return sequence != 0 && _ui.waitForAcknowledgement(sequence, ms);
    }

    void flood()
    {
        QElapsedTimer clock;
        clock.start();
        qint64 sent = 0;
        Sequence sequence = 1;
        while (clock.elapsed() < kFloodMs) {
            const qint64 due = clock.elapsed() * kFramesPerSecond / 1000;
            for (; sent < due; ++sent) {
                if (sent % 2 == 0) {
                    sendGarbage();
                } else {
                    // Valid check-ins that ask for no acknowledgement: the
                    // service may answer only about 140 frames a second.
                    _ui.bus().write(Can::eChlid_UI_TD, checkInFrame(sequence));
                    sequence = sequence >= 32767 ? Sequence(1) : Sequence(sequence + 1);
                }
            }
            QTest::qWait(5);
            _service.output(); // keep the service's console drained
        }
        // End with enough valid frames to close any message a garbage header
        // left open on the UI's channel, as the UI board's traffic would.
        for (int i = 0; i < 40; ++i)
            _ui.bus().write(Can::eChlid_UI_TD, checkInFrame(Sequence(i + 1)));
        QVERIFY(sent >= kFramesPerSecond * kFloodMs / 1000 - kFramesPerSecond / 10);
    }

private slots:
    void initTestCase()
    {
        // Under AddressSanitizer freed memory waits in a quarantine of
        // 256 MB by default, which would count as growth here; keep it small.
        QProcessEnvironment environment = _service.process().processEnvironment();
        QStringList sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS")).split(':', Qt::SkipEmptyParts);
        sanitizer << QStringLiteral("quarantine_size_mb=4");
        environment.insert(QStringLiteral("ASAN_OPTIONS"), sanitizer.join(':'));
        _service.process().setProcessEnvironment(environment);

        QString error;
        QVERIFY2(_ui.open(QStringLiteral("virtualcan"), QStringLiteral("can0"), error), qPrintable(error));
        QVERIFY(_service.start());
        QVERIFY(_service.waitForLog("log", "POST,UI,The configuration file 'Unhandled.conf' successfully loaded,"));
        _ui.setKeepHistory(false);
        QVERIFY(_ui.waitFor([this] { return checkInAcknowledgedWithin(200); }, kWait));
    }

    void cleanupTestCase() { QCOMPARE(_service.stop(SIGTERM), 0); }

    void survivesFloods()
    {
        QTest::qWait(1000);
        const qint64 before = residentKB();
        QVERIFY(before > 0);

        flood();
        QVERIFY(_service.process().state() == QProcess::Running);
        QVERIFY2(checkInAcknowledgedWithin(1000), "no acknowledgement within a second after the flood");
        const qint64 afterFirst = residentKB();

        // A second flood: memory that grew with the first must not grow by
        // as much again.
        flood();
        QVERIFY(checkInAcknowledgedWithin(1000));
        QTest::qWait(1000);
        const qint64 afterSecond = residentKB();
        qInfo("VmRSS %lld kB before, %lld kB after one flood, %lld kB after two", before, afterFirst, afterSecond);
        QVERIFY2(afterSecond - before < kMaxGrowthKB, qPrintable(QString::number(afterSecond - before)));

        // Still answering and still sane: the check-ins were taken and the
        // broken frames reported.
        QVERIFY(checkInAcknowledgedWithin(1000));
        const int checkIns = _service.logText("log").count(QStringLiteral("1000,UI,~UI Check In"));
        qInfo("%d check-ins logged", checkIns);
        QVERIFY(checkIns > kFramesPerSecond * kFloodMs / 1000 / 4);
        QVERIFY(_service.logText("service").contains("CRC error"));
        QVERIFY(_service.logText("service").contains("Expected Header, got frame without Sync byte"));
    }
};

QTEST_GUILESS_MAIN(TestPeerFlood)
#include "tst_peer_flood.moc"
