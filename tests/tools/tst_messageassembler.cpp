#include <QRandomGenerator>
#include <QtTest>

#include "peer/MessageAssembler.h"
#include "canbus/MessageBuilder.h"
#include "utility/crc.h"

// The peer tool's reassembly of received frames: whole messages, CRC
// failures, frames without a message, and garbage that must never crash it.
class TestMessageAssembler : public QObject
{
    Q_OBJECT

    static FrameList framesOf(quint16 id, const QByteArray &payload, Sequence sequence)
    {
        Can::MessageBuilder builder;
        FrameList frames;
        builder.buildFrames(id, payload, frames, sequence);
        return frames;
    }

    static QList<ReceivedMessage> feed(MessageAssembler &assembler, quint32 channel, const FrameList &frames)
    {
        QList<ReceivedMessage> results;
        qint64 time = 1000;
        for (const QByteArray &frame : frames)
            results += assembler.take(RawFrame{time++, channel, frame});
        return results;
    }

private slots:
    void oneFrameMessage()
    {
        MessageAssembler assembler;
        const QList<ReceivedMessage> results = feed(assembler, 0x041, {QByteArray::fromHex("a50c001000008500")});
        QCOMPARE(results.size(), 1);
        const ReceivedMessage &m = results.first();
        QCOMPARE(m.status, ReceivedMessage::Complete);
        QCOMPARE(m.channel, quint32(0x041));
        QCOMPARE(m.sequence, Sequence(12));
        QCOMPARE(m.id, quint16(0x1000));
        QVERIFY(m.payload.isEmpty());
        QCOMPARE(m.receivedCrc, quint8(0x85));
        QCOMPARE(m.expectedCrc, quint8(0x85));
        QCOMPARE(m.frames.size(), 1);
        QCOMPARE(m.timeUs, qint64(1000));
    }

    void multiFrameMessage()
    {
        MessageAssembler assembler;
        const QByteArray payload = QByteArray::fromHex("010000000200000003000000");
        const FrameList frames = framesOf(0x3C00, payload, 2);
        QCOMPARE(frames.size(), 3);
        QVERIFY(assembler.take(RawFrame{1, 0x100, frames.at(0)}).isEmpty());
        QVERIFY(assembler.take(RawFrame{2, 0x100, frames.at(1)}).isEmpty());
        QCOMPARE(assembler.pendingChannels(), 1);
        const QList<ReceivedMessage> results = assembler.take(RawFrame{3, 0x100, frames.at(2)});
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().status, ReceivedMessage::Complete);
        QCOMPARE(results.first().payload, payload);
        QCOMPARE(results.first().frames.size(), 3);
        QCOMPARE(results.first().timeUs, qint64(3));
        QCOMPARE(assembler.pendingChannels(), 0);
    }

    void negativeSequence()
    {
        MessageAssembler assembler;
        const QList<ReceivedMessage> results = feed(assembler, 0x041, framesOf(0x4500, QByteArray(4, '\1'), -7));
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().sequence, Sequence(-7));
    }

    void crcFailureIsReportedWithBothValues()
    {
        MessageAssembler assembler;
        FrameList frames = framesOf(0x4500, QByteArray::fromHex("01000000"), 3);
        QCOMPARE(frames.size(), 2);
        const char good = frames[1][2];
        frames[1][2] = char(good ^ 0x5A); // the CRC byte
        const QList<ReceivedMessage> results = feed(assembler, 0x041, frames);
        QCOMPARE(results.size(), 1);
        const ReceivedMessage &m = results.first();
        QCOMPARE(m.status, ReceivedMessage::CrcError);
        QVERIFY(m.isMessage());
        QCOMPARE(m.id, quint16(0x4500));
        QCOMPARE(m.expectedCrc, quint8(good));
        QCOMPARE(m.receivedCrc, quint8(good ^ 0x5A));
        QCOMPARE(m.payload, QByteArray::fromHex("01000000"));
        QCOMPARE(assembler.pendingChannels(), 0);
        // The channel is ready for the next message.
        QCOMPARE(feed(assembler, 0x041, framesOf(0x1000, {}, 4)).first().status, ReceivedMessage::Complete);
    }

    void frameWithoutSync()
    {
        MessageAssembler assembler;
        const QList<ReceivedMessage> results = feed(assembler, 0x041, {QByteArray::fromHex("0102030405060708")});
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().status, ReceivedMessage::NoSync);
        QVERIFY(!results.first().isMessage());
        QCOMPARE(results.first().frames.first().data, QByteArray::fromHex("0102030405060708"));
    }

    void shortFrameLeavesTheMessageInAssembly()
    {
        MessageAssembler assembler;
        const FrameList frames = framesOf(0x4500, QByteArray::fromHex("01000000"), 3);
        QVERIFY(assembler.take(RawFrame{1, 0x041, frames.at(0)}).isEmpty());
        const QList<ReceivedMessage> shortFrame = assembler.take(RawFrame{2, 0x041, QByteArray::fromHex("a5")});
        QCOMPARE(shortFrame.size(), 1);
        QCOMPARE(shortFrame.first().status, ReceivedMessage::ShortFrame);
        const QList<ReceivedMessage> results = assembler.take(RawFrame{3, 0x041, frames.at(1)});
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().status, ReceivedMessage::Complete);
    }

    void emptyKeepAwakeFrame()
    {
        MessageAssembler assembler;
        const QList<ReceivedMessage> results = assembler.take(RawFrame{1, 0x7FF, QByteArray()});
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().status, ReceivedMessage::ShortFrame);
    }

    void channelsAssembleIndependently()
    {
        MessageAssembler assembler;
        const FrameList a = framesOf(0x3C00, QByteArray(40, '\2'), 5);
        const FrameList b = framesOf(0x4600, QByteArray::fromHex("0100000000000000"), 6);
        QList<ReceivedMessage> results;
        for (int i = 0; i < qMax(a.size(), b.size()); ++i) {
            if (i < a.size())
                results += assembler.take(RawFrame{i, 0x100, a.at(i)});
            if (i < b.size())
                results += assembler.take(RawFrame{i, 0x040, b.at(i)});
        }
        QCOMPARE(results.size(), 2);
        QCOMPARE(results.at(0).id, quint16(0x4600));
        QCOMPARE(results.at(1).id, quint16(0x3C00));
        QCOMPARE(results.at(1).payload, QByteArray(40, '\2'));
    }

    // A header promising 255 bytes swallows what follows on its channel and
    // ends in a CRC failure; the channel then works again.
    void longHeaderThenGarbage()
    {
        MessageAssembler assembler;
        QByteArray header = QByteArray::fromHex("a5010000ffff");
        header.append(2, '\0');
        QList<ReceivedMessage> results = assembler.take(RawFrame{0, 0x041, header});
        for (int i = 0; i < 32; ++i)
            results += assembler.take(RawFrame{i, 0x041, QByteArray(8, char(0xA5))});
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().status, ReceivedMessage::CrcError);
        QCOMPARE(results.first().payload.size(), 255);
        QCOMPARE(feed(assembler, 0x041, framesOf(0x1000, {}, 9)).first().status, ReceivedMessage::Complete);
    }

    void garbageNeverCrashes()
    {
        MessageAssembler assembler;
        QRandomGenerator random(20240611);
        int reported = 0;
        for (int i = 0; i < 20000; ++i) {
            QByteArray frame(int(random.bounded(10)), '\0');
            for (char &byte : frame)
                byte = char(random.bounded(256));
            if (random.bounded(4) == 0 && !frame.isEmpty())
                frame[0] = char(0xA5);
            reported += assembler.take(RawFrame{i, quint32(0x040 + random.bounded(3)), frame}).size();
        }
        QVERIFY(reported > 0);
        QVERIFY(assembler.pendingChannels() <= 3);
    }
};

QTEST_GUILESS_MAIN(TestMessageAssembler)
#include "tst_messageassembler.moc"
