#include <QtTest>

#include <QHash>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

#include "common/StderrCapture.h"
#include "common/LogSpy.h"
#include "canbus/MessageBuilder.h"
#include "utility/crc.h"

using Can::MessageBuilder;

namespace {

FrameList frames(quint16 id, const QByteArray &payload, Sequence sequence)
{
    MessageBuilder builder;
    FrameList list;
    builder.buildFrames(id, payload, list, sequence);
    return list;
}

QByteArray patternPayload(int size)
{
    QByteArray payload;
    for (int i = 0; i < size; ++i)
        payload.append(static_cast<char>((i * 37 + 0x81) & 0xFF));
    return payload;
}

quint64 crcErrorNumber(const QString &line)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d+) - CRC error, "));
    const QRegularExpressionMatch match = pattern.match(line);
    return match.hasMatch() ? match.captured(1).toULongLong() : 0;
}

const QString kNoSync = QStringLiteral("Expected Header, got frame without Sync byte");

} // namespace

class TestMessageBuilder : public QObject
{
    Q_OBJECT

private slots:
    // The message record
    void recordDefaults();
    void recordPredicates();
    void channelAliasesShareOneKey();
    void identifierNames();

    // Transmit side
    void framesByteExact_data();
    void framesByteExact();
    void negativeSequenceIsTwosComplementLowByteFirst();
    void frameCount_data();
    void frameCount();
    void payloadBeyondMaximumIsDropped();

    // Receive side
    void emptyPayloadCompleteAfterFirstFrame();
    void onePayloadByte();
    void twoPayloadBytesTakeCrcFromSecondFrame();
    void roundTrip_data();
    void roundTrip();
    void headerFieldsWithHighBits();
    void continuationStartingWithSyncIsPayload();
    void missingSyncIsRejected();
    void crcMismatchIsRejectedAndCounted();
    void corruptedPayloadFailsCrc();
    void shortOpeningFrames_data();
    void shortOpeningFrames();
    void headerWithoutDataLeavesRecordEmpty();
    void shortContinuationKeepsCollecting();
    void longFramesAreCutToEightBytes();

    // Console trace
    void consoleSwitchLogsOnlyChanges();
    void consoleTraceOfHeaderAndPayloadFrames();
    void rejectedFrameIsPrintedEvenWhenConsoleIsOff();
    void nothingPrintedWhenConsoleIsOff();
};

void TestMessageBuilder::recordDefaults()
{
    const Can::Message message;
    QCOMPARE(message.can_id, Can::eChlid_NONE);
    QCOMPARE(message.sequence, Sequence(0));
    QCOMPARE(message.actionId, 0);
    QCOMPARE(message.length, 0);
    QVERIFY(message.head.isEmpty());
    QVERIFY(message.data.isEmpty());
    QVERIFY(!message.initialized);
    QVERIFY(message.isEmpty());
    QVERIFY(!message.isComplete());
}

void TestMessageBuilder::recordPredicates()
{
    Can::Message message;
    message.length = 1;
    message.data = QByteArray(1, '\x85');
    // Data without the opening frame having been taken is still empty.
    QVERIFY(message.isEmpty());
    QVERIFY(!message.isComplete());

    message.initialized = true;
    QVERIFY(!message.isEmpty());
    QVERIFY(message.isComplete());

    // Header taken, nothing after it yet: empty, so the next frame opens anew.
    message.data.clear();
    QVERIFY(message.isEmpty());

    // Length 3: two payload bytes and the CRC; the first frame brings two.
    message.length = 3;
    message.data = QByteArray::fromHex("0102");
    QVERIFY(!message.isEmpty());
    QVERIFY(!message.isComplete());
    message.data.append('\x00');
    QVERIFY(message.isComplete());
}

void TestMessageBuilder::channelAliasesShareOneKey()
{
    QCOMPARE(Can::eChlid_DD_UI, Can::eChlid_DD_Sync);
    QCOMPARE(Can::eChlid_FP_UI, Can::eChlid_FP_Sync);
    QCOMPARE(Can::eChlid_UI_DD, Can::eChlid_UI_Sync);
    QCOMPARE(Can::eChlid_LOWEST, Can::eChlid_NONE);
    QHash<Can::Can_Id, int> byChannel;
    byChannel[Can::eChlid_DD_UI] = 1;
    byChannel[Can::eChlid_DD_Sync] = 2;
    QCOMPARE(byChannel.size(), 1);
    QCOMPARE(quint16(Can::eChlid_UI_TD), quint16(0x041));
    QCOMPARE(quint16(Can::ID_Acknow), quint16(0xFFFF));
}

void TestMessageBuilder::identifierNames()
{
    // Log readers and the simulator name messages by these identifiers; each
    // of the 85 must be present once, with its value.
    const QMetaEnum ids = QMetaEnum::fromType<Can::Message_ID_Enum>();
    QCOMPARE(ids.keyCount(), 85);
    QCOMPARE(QByteArray(ids.valueToKey(0x4500)), QByteArray("ID_INITIATE_TREATMENT"));
    QCOMPARE(QByteArray(ids.valueToKey(0xD700)), QByteArray("ID_TD_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RESP"));
    QCOMPARE(QByteArray(ids.valueToKey(0xFFFF)), QByteArray("ID_ACK_MESSAGE_THAT_REQUIRES_ACK"));
    for (int i = 0; i < ids.keyCount(); ++i) {
        const int value = ids.value(i);
        // Only the acknowledgement has a non-zero low byte.
        QVERIFY2((value & 0xFF) == 0 || value == 0xFFFF, ids.key(i));
    }
    QCOMPARE(QMetaEnum::fromType<Can::Can_Id>().keyCount(), 27);
}

void TestMessageBuilder::framesByteExact_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("check-in, no payload") << 0x1000 << 12 << QByteArray() << QStringList{"a50c001000008500"};
    QTest::newRow("acknowledgement") << 0xFFFF << 5 << QByteArray() << QStringList{"a50500ffff000600"};
    QTest::newRow("three 32-bit values") << 0x3C00 << 2 << QByteArray::fromHex("010000000200000003000000")
                                         << QStringList{"a502003c000c0100", "0000020000000300", "0000a40000000000"};
}

void TestMessageBuilder::framesByteExact()
{
    QFETCH(int, id);
    QFETCH(int, sequence);
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, expected);

    MessageBuilder builder;
    FrameList list;
    QVERIFY(builder.buildFrames(static_cast<quint16>(id), payload, list, static_cast<Sequence>(sequence)));
    QStringList actual;
    for (const QByteArray &frame : list)
        actual << QString::fromLatin1(frame.toHex());
    QCOMPARE(actual, expected);
}

void TestMessageBuilder::negativeSequenceIsTwosComplementLowByteFirst()
{
    const FrameList list = frames(0x1000, QByteArray(), -5);
    QCOMPARE(list.size(), 1);
    const QByteArray frame = list.first();
    QCOMPARE(frame.left(6), QByteArray::fromHex("a5fbff100000"));
    QCOMPARE(quint8(frame.at(6)), crc8(frame.mid(1, 5)));

    const QByteArray lowest = frames(0x1000, QByteArray(), -32768).first();
    QCOMPARE(lowest.mid(1, 2), QByteArray::fromHex("0080"));
}

void TestMessageBuilder::frameCount_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("count");

    QTest::newRow("L=0") << 0 << 1;
    QTest::newRow("L=1") << 1 << 1;
    QTest::newRow("L=2") << 2 << 2;
    QTest::newRow("L=9") << 9 << 2;
    QTest::newRow("L=10") << 10 << 3;
    QTest::newRow("L=255") << 255 << 33;
}

void TestMessageBuilder::frameCount()
{
    QFETCH(int, length);
    QFETCH(int, count);

    const QByteArray payload = patternPayload(length);
    const FrameList list = frames(0x9000, payload, 300);
    QCOMPARE(list.size(), count);

    QByteArray joined;
    for (const QByteArray &frame : list) {
        QCOMPARE(frame.size(), 8);
        joined += frame;
    }
    // Header, payload, CRC over all but the sync byte, then zero padding.
    QByteArray message = QByteArray::fromHex("a52c01900000");
    message[5] = static_cast<char>(length);
    message += payload;
    message.append(static_cast<char>(crc8(message.mid(1))));
    QCOMPARE(joined.left(message.size()).toHex(), message.toHex());
    QCOMPARE(joined.mid(message.size()), QByteArray(joined.size() - message.size(), '\0'));
}

void TestMessageBuilder::payloadBeyondMaximumIsDropped()
{
    const QByteArray payload = patternPayload(300);
    const FrameList list = frames(0x4F00, payload, 1);
    QCOMPARE(list.size(), 33);
    QByteArray joined;
    for (const QByteArray &frame : list)
        joined += frame;
    QCOMPARE(quint8(joined.at(5)), quint8(255));
    QCOMPARE(joined.mid(6, 255), payload.left(255));
    QCOMPARE(quint8(joined.at(6 + 255)), crc8(joined.mid(1, 5 + 255)));
}

void TestMessageBuilder::emptyPayloadCompleteAfterFirstFrame()
{
    MessageBuilder builder;
    Can::Message message;
    QVERIFY(builder.buildMessage(QByteArray::fromHex("a50c001000008500"), message, Can::eChlid_UI_TD));
    QVERIFY(message.initialized);
    QVERIFY(message.isComplete());
    QCOMPARE(message.can_id, Can::eChlid_UI_TD);
    QCOMPARE(message.sequence, Sequence(12));
    QCOMPARE(message.actionId, 0x1000);
    QCOMPARE(message.length, 1);
    QCOMPARE(message.head, QByteArray::fromHex("0c00100000"));
    QCOMPARE(message.data, QByteArray::fromHex("85")); // only the CRC, no padding
}

void TestMessageBuilder::onePayloadByte()
{
    const FrameList list = frames(0x9800, QByteArray::fromHex("07"), 3);
    QCOMPARE(list.size(), 1);
    MessageBuilder builder;
    Can::Message message;
    QVERIFY(builder.buildMessage(list.first(), message, Can::eChlid_UI_TD));
    QVERIFY(message.isComplete());
    QCOMPARE(message.length, 2);
    QCOMPARE(message.data.size(), 2);
    QCOMPARE(message.data.at(0), '\x07');
}

void TestMessageBuilder::twoPayloadBytesTakeCrcFromSecondFrame()
{
    const FrameList list = frames(0x7400, QByteArray::fromHex("abcd"), 9);
    QCOMPARE(list.size(), 2);
    MessageBuilder builder;
    Can::Message message;
    QVERIFY(builder.buildMessage(list.at(0), message, Can::eChlid_UI_TD));
    QVERIFY(!message.isComplete());
    QCOMPARE(message.data, QByteArray::fromHex("abcd"));
    QVERIFY(builder.buildMessage(list.at(1), message, Can::eChlid_UI_TD));
    QVERIFY(message.isComplete());
    QCOMPARE(message.data.size(), 3);
    QCOMPARE(message.data.left(2), QByteArray::fromHex("abcd"));
    QCOMPARE(quint8(message.data.at(2)), quint8(list.at(1).at(0)));
}

void TestMessageBuilder::roundTrip_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("L=3") << 3;
    QTest::newRow("L=9") << 9;
    QTest::newRow("L=10") << 10;
    QTest::newRow("L=255") << 255;
}

void TestMessageBuilder::roundTrip()
{
    QFETCH(int, length);
    const QByteArray payload = patternPayload(length);
    const FrameList list = frames(0xB500, payload, -321);

    LogSpy spy;
    MessageBuilder builder;
    Can::Message message;
    for (int i = 0; i < list.size(); ++i) {
        QVERIFY(builder.buildMessage(list.at(i), message, Can::eChlid_TD_UI));
        // Complete exactly with the last frame, not before.
        QCOMPARE(message.isComplete(), i == list.size() - 1);
    }
    QCOMPARE(message.data.size(), length + 1);
    QCOMPARE(message.data.left(length), payload);
    QCOMPARE(message.sequence, Sequence(-321));
    QCOMPARE(message.actionId, 0xB500);
    QCOMPARE(message.can_id, Can::eChlid_TD_UI);
    QVERIFY(spy.lines().isEmpty());
}

void TestMessageBuilder::headerFieldsWithHighBits()
{
    // Identifier and sequence bytes >= 0x80 must not sign-extend into each other.
    MessageBuilder builder;
    Can::Message message;
    QVERIFY(builder.buildMessage(frames(0xFFFF, QByteArray(), -1).first(), message, Can::eChlid_UI_TD));
    QCOMPARE(message.actionId, 0xFFFF);
    QCOMPARE(message.sequence, Sequence(-1));

    Can::Message other;
    QVERIFY(builder.buildMessage(frames(0xA580, QByteArray(), 0x7F80).first(), other, Can::eChlid_UI_TD));
    QCOMPARE(other.actionId, 0xA580);
    QCOMPARE(other.sequence, Sequence(0x7F80));
}

void TestMessageBuilder::continuationStartingWithSyncIsPayload()
{
    QByteArray payload = patternPayload(9);
    payload[2] = '\xA5'; // the first byte of the second frame
    const FrameList list = frames(0x9000, payload, 4);
    QCOMPARE(list.size(), 2);
    QCOMPARE(quint8(list.at(1).at(0)), quint8(0xA5));

    MessageBuilder builder;
    Can::Message message;
    QVERIFY(builder.buildMessage(list.at(0), message, Can::eChlid_UI_TD));
    QVERIFY(builder.buildMessage(list.at(1), message, Can::eChlid_UI_TD));
    QVERIFY(message.isComplete());
    QCOMPARE(message.data.left(9), payload);
    QCOMPARE(message.sequence, Sequence(4)); // the header was not re-read
}

void TestMessageBuilder::missingSyncIsRejected()
{
    LogSpy spy;
    MessageBuilder builder;
    Can::Message message;
    StderrCapture capture;
    QVERIFY(!builder.buildMessage(QByteArray::fromHex("5a0c001000008500"), message, Can::eChlid_UI_TD));
    capture.take();
    QCOMPARE(spy.contents(), QStringList(kNoSync));
    QCOMPARE(spy.lines().first().type, Storage::Logger::eLogDebug);
    QVERIFY(spy.lines().first().timestamp);
    QVERIFY(!message.initialized);
    QCOMPARE(message.can_id, Can::eChlid_NONE);
}

void TestMessageBuilder::crcMismatchIsRejectedAndCounted()
{
    LogSpy spy;
    MessageBuilder builder;

    Can::Message first;
    QVERIFY(!builder.buildMessage(QByteArray::fromHex("a50c001000008600"), first, Can::eChlid_UI_TD));
    QCOMPARE(spy.lines().size(), 1);
    const QString line = spy.lines().first().content;
    const quint64 number = crcErrorNumber(line);
    QVERIFY2(number >= 1, qPrintable(line));
    QCOMPARE(line, QStringLiteral("%1 - CRC error, expected 0x85 but got 0x86 : 86").arg(number));
    QCOMPARE(spy.lines().first().type, Storage::Logger::eLogDebug);

    // A good message in between does not count.
    Can::Message good;
    QVERIFY(builder.buildMessage(QByteArray::fromHex("a50c001000008500"), good, Can::eChlid_UI_TD));

    // A failing multi-frame message counts once, not once per frame, and the
    // count is shared by every builder of the process.
    FrameList list = frames(0x3C00, QByteArray::fromHex("010000000200000003000000"), 2);
    list[2][2] = '\x05'; // CRC a4 -> 05
    MessageBuilder another;
    Can::Message second;
    QVERIFY(another.buildMessage(list.at(0), second, Can::eChlid_UI_TD));
    QVERIFY(another.buildMessage(list.at(1), second, Can::eChlid_UI_TD));
    QVERIFY(!another.buildMessage(list.at(2), second, Can::eChlid_UI_TD));
    QCOMPARE(spy.lines().size(), 2);
    QCOMPARE(spy.lines().last().content, QStringLiteral("%1 - CRC error, expected 0xA4 but got 0x05 : "
                                                        "01.00.00.00.02.00.00.00.03.00.00.00.05")
                                             .arg(number + 1));
}

void TestMessageBuilder::corruptedPayloadFailsCrc()
{
    FrameList list = frames(0x7400, QByteArray::fromHex("abcd"), 9);
    list[0][7] = '\xCC'; // second payload byte damaged on the way
    LogSpy spy;
    MessageBuilder builder;
    Can::Message message;
    QVERIFY(builder.buildMessage(list.at(0), message, Can::eChlid_UI_TD));
    QVERIFY(!builder.buildMessage(list.at(1), message, Can::eChlid_UI_TD));
    QCOMPARE(spy.count(QStringLiteral(" - CRC error, expected ")), 1);
}

void TestMessageBuilder::shortOpeningFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("empty") << QByteArray() << kNoSync;
    QTest::newRow("sync only") << QByteArray::fromHex("a5") << "Incorrect Message Header";
    QTest::newRow("no length byte") << QByteArray::fromHex("a50c001000") << "Incorrect Message Header";
    QTest::newRow("short, no sync") << QByteArray::fromHex("00") << kNoSync;
}

void TestMessageBuilder::shortOpeningFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, logLine);

    LogSpy spy;
    MessageBuilder builder;
    Can::Message message;
    StderrCapture capture;
    QVERIFY(!builder.buildMessage(frame, message, Can::eChlid_UI_TD));
    capture.take();
    QCOMPARE(spy.contents(), QStringList(logLine));
    QVERIFY(message.isEmpty());
}

void TestMessageBuilder::headerWithoutDataLeavesRecordEmpty()
{
    // Six bytes: a header with nothing after it. The record stays empty, so
    // the next frame on the channel is taken as a new opening frame.
    MessageBuilder builder;
    Can::Message message;
    QVERIFY(builder.buildMessage(QByteArray::fromHex("a50c00100000"), message, Can::eChlid_UI_TD));
    QVERIFY(message.initialized);
    QVERIFY(message.isEmpty());
    QVERIFY(!message.isComplete());

    QVERIFY(builder.buildMessage(QByteArray::fromHex("a50500ffff000600"), message, Can::eChlid_UI_TD));
    QVERIFY(message.isComplete());
    QCOMPARE(message.actionId, 0xFFFF);
    QCOMPARE(message.sequence, Sequence(5));
}

void TestMessageBuilder::shortContinuationKeepsCollecting()
{
    const QByteArray payload = patternPayload(9);
    const FrameList list = frames(0x9000, payload, 4);
    MessageBuilder builder;
    Can::Message message;
    QVERIFY(builder.buildMessage(list.at(0), message, Can::eChlid_UI_TD));
    QVERIFY(builder.buildMessage(list.at(1).left(3), message, Can::eChlid_UI_TD));
    QCOMPARE(message.data.size(), 5);
    QVERIFY(!message.isComplete());
    QVERIFY(builder.buildMessage(QByteArray(), message, Can::eChlid_UI_TD));
    QVERIFY(builder.buildMessage(list.at(1).mid(3), message, Can::eChlid_UI_TD));
    QVERIFY(message.isComplete());
    QCOMPARE(message.data.left(9), payload);
}

void TestMessageBuilder::longFramesAreCutToEightBytes()
{
    const QByteArray junk(56, '\xEE');

    // A no-payload message: the bytes past the eighth are not data.
    MessageBuilder builder;
    Can::Message single;
    QVERIFY(builder.buildMessage(QByteArray::fromHex("a50c001000008500") + junk, single, Can::eChlid_UI_TD));
    QCOMPARE(single.data, QByteArray::fromHex("85"));

    // A long message: every frame is taken as its first 8 bytes only.
    const QByteArray payload = patternPayload(255);
    const FrameList list = frames(0xBC00, payload, 77);
    Can::Message message;
    for (const QByteArray &frame : list)
        QVERIFY(builder.buildMessage(frame + junk, message, Can::eChlid_TD_Sync));
    QVERIFY(message.isComplete());
    QCOMPARE(message.data.left(255), payload);

    // An L=9 message whose first frame is long: only 2 payload bytes come
    // from it, the rest must come from the next frame.
    const FrameList nine = frames(0x9000, patternPayload(9), 4);
    Can::Message third;
    QVERIFY(builder.buildMessage(nine.at(0) + nine.at(1), third, Can::eChlid_UI_TD));
    QCOMPARE(third.data.size(), 2);
    QVERIFY(!third.isComplete());
    QVERIFY(builder.buildMessage(nine.at(1), third, Can::eChlid_UI_TD));
    QVERIFY(third.isComplete());
}

void TestMessageBuilder::consoleSwitchLogsOnlyChanges()
{
    LogSpy spy;
    MessageBuilder builder;
    builder.enableConsoleOut(false); // already off
    builder.enableConsoleOut(true);
    builder.enableConsoleOut(true);
    builder.enableConsoleOut(false);
    QCOMPARE(spy.contents(),
             (QStringList{"Console out MessageBuilder enabled", "Console out MessageBuilder disabled"}));
    for (const LogSpy::Line &line : spy.lines()) {
        QCOMPARE(line.type, Storage::Logger::eLogDebug);
        QVERIFY(line.timestamp);
    }
}

void TestMessageBuilder::consoleTraceOfHeaderAndPayloadFrames()
{
    MessageBuilder builder;
    builder.enableConsoleOut(true);
    const FrameList list = frames(0x7400, QByteArray::fromHex("abcd"), 9);

    Can::Message message;
    // The separator after a complete message goes to the debug output.
    QTest::ignoreMessage(QtDebugMsg, " ");
    StderrCapture capture;
    QVERIFY(builder.buildMessage(list.at(0), message, Can::eChlid_UI_TD));
    QVERIFY(builder.buildMessage(list.at(1), message, Can::eChlid_UI_TD));
    const QByteArray out = capture.take();

    const QByteArray header = "041   "
                              "\033[32ma5.\033[33m09.\033[33m00."
                              "\033[36m74\033[0m.\033[36m00\033[0m.\033[36m02\033[0m."
                              "\033[36mab\033[0m.\033[36mcd\033[0m\n";
    QByteArray payload = "041   ";
    const QByteArray second = list.at(1).toHex();
    for (int i = 0; i < 8; ++i) {
        if (i)
            payload += '.';
        payload += "\033[36m" + second.mid(2 * i, 2) + "\033[0m";
    }
    payload += '\n';
    QCOMPARE(out, header + payload);
}

void TestMessageBuilder::rejectedFrameIsPrintedEvenWhenConsoleIsOff()
{
    MessageBuilder builder;
    Can::Message message;
    StderrCapture capture;
    QVERIFY(!builder.buildMessage(QByteArray::fromHex("00ff000000000000"), message, Can::eChlid_TD_Sync));
    QCOMPARE(capture.take(), QByteArray("100   "
                                        "\033[36m00\033[0m.\033[36mff\033[0m."
                                        "\033[36m00\033[0m.\033[36m00\033[0m."
                                        "\033[36m00\033[0m.\033[36m00\033[0m."
                                        "\033[36m00\033[0m.\033[36m00\033[0m\n"));
}

void TestMessageBuilder::nothingPrintedWhenConsoleIsOff()
{
    MessageBuilder builder;
    Can::Message message;
    StderrCapture capture;
    const FrameList list = frames(0x7400, QByteArray::fromHex("abcd"), 9);
    QVERIFY(builder.buildMessage(list.at(0), message, Can::eChlid_UI_TD));
    QVERIFY(builder.buildMessage(list.at(1), message, Can::eChlid_UI_TD));
    QVERIFY(capture.take().isEmpty());
}

QTEST_GUILESS_MAIN(TestMessageBuilder)
#include "tst_messagebuilder.moc"
