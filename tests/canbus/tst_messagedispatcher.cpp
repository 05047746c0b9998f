#include <QtTest>

#include <QRandomGenerator>

#include <fcntl.h>
#include <unistd.h>

#include "CommandLine.h"
#include "canbus/FrameInterface.h"
#include "common/LogSpy.h"
#include "model/settings/MSettings.h"
#include "canbus/MessageDispatcher.h"
#include "MessageFactory.h"
#include "Threads.h"

using Storage::Logger;
using namespace Can;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Keeps the console quiet while a flood of rejected frames is printed.
class SilenceStderr
{
public:
    SilenceStderr()
    {
        std::fflush(stderr);
        _saved = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
    }
    ~SilenceStderr()
    {
        std::fflush(stderr);
        if (_saved >= 0) {
            ::dup2(_saved, STDERR_FILENO);
            ::close(_saved);
        }
    }
    SilenceStderr(const SilenceStderr &) = delete;
    SilenceStderr &operator=(const SilenceStderr &) = delete;

private:
    int _saved = -1;
};

// Every frame the dispatcher hands on, one entry [channel, frame] each, from
// the messages it emits whole.
class SentFrames : public QList<QVariantList>
{
public:
    explicit SentFrames(MessageDispatcher &dispatcher)
    {
        _connection = QObject::connect(&dispatcher, &MessageDispatcher::didFrameTransmit,
                                       [this](Can_Id channel, const FrameList &frames) {
                                           ++_messages;
                                           for (const QByteArray &frame : frames)
                                               append(QVariantList{QVariant::fromValue(channel), frame});
                                       });
    }
    ~SentFrames() { QObject::disconnect(_connection); }
    SentFrames(const SentFrames &) = delete;
    SentFrames &operator=(const SentFrames &) = delete;
    int messages() const { return _messages; }

private:
    QMetaObject::Connection _connection;
    int _messages = 0;
};

} // namespace

class TestMessageDispatcher : public QObject
{
    Q_OBJECT

private:
    MessageDispatcher &dispatcher() { return MessageDispatcher::I(); }
    void feed(Can_Id channel, const FrameList &frames);
    // The sequence of the next message the dispatcher sends.
    Sequence probeSequence();

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Sequence numbers (first: they need the fresh counter)
    void firstSequenceIsOne();
    void sequenceWrapsAfter32767To1();
    void acknowledgementConsumesASequence();

    // Outgoing lists
    void payloadIsEncodedAndFramed();
    void shortListsAreDropped_data();
    void shortListsAreDropped();
    void invalidIdentifierOrChannelIsDropped_data();
    void invalidIdentifierOrChannelIsDropped();
    void enumeratedChannelIsAccepted();
    void resentFramesGoOutInOrder();
    void failedTransmitIsPassedOn();

    // Acknowledgements
    void checkInIsAcknowledged();
    void framesOnItsOwnThreadAreTakenAtOnce();
    void positiveSequenceIsNotAcknowledged();
    void channelsWithoutAcknowledgement_data();
    void channelsWithoutAcknowledgement();
    void mostNegativeSequenceIsAcknowledgedWithItsBitPattern();
    void acknowledgementIsRecorded();
    void acknowLogCanBeDisabled();

    // Assembly
    void assemblesPayloadLengths_data();
    void assemblesPayloadLengths();
    void interleavedChannelsAssembleSeparately();
    void continuationMayStartWithSyncByte();
    void badCrcIsDiscardedAndNextMessageWorks();
    void missingSyncIsDiscardedAndNextMessageWorks();
    void shortFramesAreLoggedAndIgnored();
    void longFramesAreCutToEightBytes();
    void randomGarbageNeverBreaksAssembly();

    // Service
    void consoleOutGoesToTheBuilder();
};

void TestMessageDispatcher::feed(Can_Id channel, const FrameList &frames)
{
    for (const QByteArray &frame : frames)
        dispatcher().onFrameReceive(channel, frame);
}

Sequence TestMessageDispatcher::probeSequence()
{
    SentFrames sent(dispatcher());
    dispatcher().actionTransmit({int(ID_NONE), int(eChlid_TD_Sync)}, 0);
    const QByteArray frame = sent.first().at(1).toByteArray();
    return Sequence(quint8(frame.at(1)) | (quint8(frame.at(2)) << 8));
}

void TestMessageDispatcher::initTestCase()
{
    Threads::registerTypes();
    QVERIFY(dispatcher().init());
    QVERIFY(!dispatcher().init());
    // Frames stay with the test instead of filling the real transmit queue.
    QObject::disconnect(&dispatcher(), &MessageDispatcher::didFrameTransmit, &FrameInterface::I(), nullptr);
}

void TestMessageDispatcher::init()
{
    Storage::MSettings::I().clear();
    for (const char *group : {"1000", "4500", "9000", "3c00", "ffff"})
        MessageFactory::define(QString::fromLatin1(group), {QStringLiteral("MESSAGE"), QStringLiteral("RAW")});
    dispatcher().onSettingsDone();
}

void TestMessageDispatcher::cleanup()
{
    gDisableAcknowLog = false;
    gLogUnhandledOnly = false;
    Storage::MSettings::I().clear();
}

void TestMessageDispatcher::firstSequenceIsOne()
{
    SentFrames sent(dispatcher());
    dispatcher().onActionTransmit({int(ID_TD_OP_MODE_DATA), int(eChlid_TD_Sync), 3u, 0u});

    QCOMPARE(sent.count(), 2);
    QCOMPARE(sent.first().at(0).value<Can_Id>(), eChlid_TD_Sync);
    QCOMPARE(sent.first().at(1).toByteArray().left(3), hex("a50100"));
}

void TestMessageDispatcher::sequenceWrapsAfter32767To1()
{
    Sequence sequence = probeSequence();
    QVERIFY(sequence > 0);
    while (sequence < 32766)
        sequence = probeSequence();
    QCOMPARE(probeSequence(), Sequence(32767));
    QCOMPARE(probeSequence(), Sequence(1));
    QCOMPARE(probeSequence(), Sequence(2));
}

void TestMessageDispatcher::acknowledgementConsumesASequence()
{
    const Sequence before = probeSequence();
    feed(eChlid_UI_TD, MessageFactory::frames(ID_UI_CHECK_IN, -5));
    QCOMPARE(probeSequence(), Sequence(before + 2));
}

void TestMessageDispatcher::payloadIsEncodedAndFramed()
{
    SentFrames sent(dispatcher());
    QVERIFY(dispatcher().actionTransmit({int(ID_TD_TREATMENT_STATE_DATA), int(eChlid_TD_Sync), 1u, 2u, 3u}, 2));

    QCOMPARE(sent.count(), 3);
    QCOMPARE(sent.at(0).at(1).toByteArray(), hex("a502003c000c0100"));
    QCOMPARE(sent.at(1).at(1).toByteArray(), hex("0000020000000300"));
    QCOMPARE(sent.at(2).at(1).toByteArray(), hex("0000a40000000000"));
    for (const QList<QVariant> &frame : sent)
        QCOMPARE(frame.at(0).value<Can_Id>(), eChlid_TD_Sync);
}

void TestMessageDispatcher::shortListsAreDropped_data()
{
    QTest::addColumn<QVariantList>("actions");
    QTest::addColumn<int>("elements");
    QTest::newRow("empty") << QVariantList{} << 0;
    QTest::newRow("identifier only") << QVariantList{int(ID_UI_CHECK_IN)} << 1;
}

void TestMessageDispatcher::shortListsAreDropped()
{
    QFETCH(QVariantList, actions);
    QFETCH(int, elements);
    const Sequence before = probeSequence();
    SentFrames sent(dispatcher());
    LogSpy log;

    QVERIFY(!dispatcher().actionTransmit(actions, 0));
    dispatcher().onActionTransmit(actions);

    QCOMPARE(sent.count(), 0);
    const QString line =
        QStringLiteral("Dropped outgoing action list without identifier and channel: %1 elements").arg(elements);
    QCOMPARE(log.contents(Logger::eLogDebug), (QStringList{line, line}));
    // Nothing went out, so no sequence number was used up.
    QCOMPARE(probeSequence(), Sequence(before + 1));
}

void TestMessageDispatcher::invalidIdentifierOrChannelIsDropped_data()
{
    QTest::addColumn<QVariantList>("actions");
    QTest::newRow("text identifier") << QVariantList{QStringLiteral("check-in"), int(eChlid_TD_UI)};
    QTest::newRow("byte-array channel") << QVariantList{int(ID_UI_CHECK_IN), hex("40")};
    QTest::newRow("invalid channel") << QVariantList{int(ID_UI_CHECK_IN), QVariant()};
    QTest::newRow("negative identifier") << QVariantList{-1, int(eChlid_TD_UI)};
    QTest::newRow("identifier too wide") << QVariantList{0x10000, int(eChlid_TD_UI)};
    QTest::newRow("extended channel") << QVariantList{int(ID_UI_CHECK_IN), 0x800};
}

void TestMessageDispatcher::invalidIdentifierOrChannelIsDropped()
{
    QFETCH(QVariantList, actions);
    SentFrames sent(dispatcher());
    LogSpy log;

    QVERIFY(!dispatcher().actionTransmit(actions, 0));

    QCOMPARE(sent.count(), 0);
    QCOMPARE(log.count(QStringLiteral("Dropped outgoing action list with invalid identifier or channel")), 1);
    QCOMPARE(log.lines().size(), 1);
}

void TestMessageDispatcher::enumeratedChannelIsAccepted()
{
    SentFrames sent(dispatcher());
    QVERIFY(
        dispatcher().actionTransmit({QVariant::fromValue(ID_TD_OP_MODE_DATA), QVariant::fromValue(eChlid_TD_Sync)}, 9));
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.first().at(0).value<Can_Id>(), eChlid_TD_Sync);
    QCOMPARE(sent.first().at(1).toByteArray().left(6), hex("a50900120000"));
}

void TestMessageDispatcher::resentFramesGoOutInOrder()
{
    SentFrames sent(dispatcher());
    const FrameList frames = MessageFactory::frames(0x3C00, 4, hex("0102030405060708090a"));
    QCOMPARE(frames.size(), 3);

    dispatcher().onFramesTransmit(eChlid_TD_UI, 4, frames);

    QCOMPARE(sent.count(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(sent.at(i).at(0).value<Can_Id>(), eChlid_TD_UI);
        QCOMPARE(sent.at(i).at(1).toByteArray(), frames.at(i));
    }
}

void TestMessageDispatcher::failedTransmitIsPassedOn()
{
    QSignalSpy failed(&dispatcher(), &MessageDispatcher::didFailedTransmit);
    dispatcher().onFailedTransmit(77);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().value<Sequence>(), Sequence(77));
}

void TestMessageDispatcher::checkInIsAcknowledged()
{
    SentFrames sent(dispatcher());
    QSignalSpy handed(&dispatcher(), &MessageDispatcher::didUnhandledMsgDispatcher);
    LogSpy log;

    feed(eChlid_UI_TD, MessageFactory::frames(ID_UI_CHECK_IN, -5));

    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.first().at(0).value<Can_Id>(), eChlid_TD_UI);
    QCOMPARE(sent.first().at(1).toByteArray(), hex("a50500ffff000600"));
    const QStringList events = log.contents(Logger::eLogAppED);
    QVERIFY2(events.size() == 3, qPrintable(events.join(QLatin1Char('|'))));
    QCOMPARE(events.at(0), QStringLiteral("    ,UI,Ack Req, Sq:-5, ID:0x1000"));
    QCOMPARE(events.at(1), QStringLiteral("    ,UI,Ack Bak, Sq:5, Dst:TD"));
    QCOMPARE(events.at(2), QStringLiteral("1000,UI,~MESSAGE"));
    // Acknowledged and logged; nothing further needs a check-in.
    QCOMPARE(handed.count(), 0);

    // A request is acknowledged and handed on with the sender's (negative) sequence.
    feed(eChlid_UI_TD, MessageFactory::frames(0x9000, -6, hex("01000000")));
    QCOMPARE(sent.count(), 2);
    QCOMPARE(handed.count(), 1);
    QCOMPARE(handed.first().first().toList().mid(0, 2), (QVariantList{0x9000, -6}));
}

void TestMessageDispatcher::framesOnItsOwnThreadAreTakenAtOnce()
{
    SentFrames sent(dispatcher());
    // As the frame interface passes them on when both share a thread: the
    // acknowledgement is built before any event loop runs.
    for (const QByteArray &frame : MessageFactory::frames(ID_UI_CHECK_IN, -5))
        emit FrameInterface::I().didFrameReceive(eChlid_UI_TD, frame);
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.first().at(1).toByteArray(), hex("a50500ffff000600"));
}

void TestMessageDispatcher::positiveSequenceIsNotAcknowledged()
{
    SentFrames sent(dispatcher());
    QSignalSpy handed(&dispatcher(), &MessageDispatcher::didUnhandledMsgDispatcher);
    LogSpy log;

    feed(eChlid_UI_TD, MessageFactory::frames(0x4500, 5));

    QCOMPARE(sent.count(), 0);
    QCOMPARE(log.count(QStringLiteral("Ack")), 0);
    QCOMPARE(handed.count(), 1);
}

void TestMessageDispatcher::channelsWithoutAcknowledgement_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("acknowledged");
    QTest::newRow("TD-DD") << 0x010 << false;
    QTest::newRow("DD-TD") << 0x011 << false;
    QTest::newRow("test tool to TD") << 0x400 << false;
    QTest::newRow("TD to test tool") << 0x401 << false;
    QTest::newRow("test tool to DD") << 0x402 << false;
    QTest::newRow("DD to test tool") << 0x403 << false;
    QTest::newRow("test tool to UI") << 0x406 << true;
    QTest::newRow("TD broadcast") << 0x100 << true;
    QTest::newRow("UI alarm") << 0x004 << true;
}

void TestMessageDispatcher::channelsWithoutAcknowledgement()
{
    QFETCH(int, channel);
    QFETCH(bool, acknowledged);
    SentFrames sent(dispatcher());

    feed(Can_Id(channel), MessageFactory::frames(ID_UI_CHECK_IN, -3));

    QCOMPARE(sent.count(), acknowledged ? 1 : 0);
    if (acknowledged) {
        // Always answered on the TD-to-UI channel.
        QCOMPARE(sent.first().at(0).value<Can_Id>(), eChlid_TD_UI);
        QCOMPARE(sent.first().at(1).toByteArray().left(5), hex("a50300ffff"));
    }
}

void TestMessageDispatcher::mostNegativeSequenceIsAcknowledgedWithItsBitPattern()
{
    SentFrames sent(dispatcher());
    LogSpy log;

    feed(eChlid_UI_TD, MessageFactory::frames(ID_UI_CHECK_IN, -32768));

    // 0x8000 goes back: what the sender put on the wire, not 32767, which
    // would acknowledge another of its messages.
    QCOMPARE(sent.count(), 1);
    const QByteArray expected = MessageFactory::frames(ID_Acknow, -32768).first();
    QCOMPARE(sent.first().at(1).toByteArray(), expected);
    QCOMPARE(expected.mid(1, 2), hex("0080"));
    QCOMPARE(log.count(QStringLiteral("    ,UI,Ack Req, Sq:-32768, ID:0x1000")), 1);
    QCOMPARE(log.count(QStringLiteral("    ,UI,Ack Bak, Sq:-32768, Dst:TD")), 1);
}

void TestMessageDispatcher::acknowledgementIsRecorded()
{
    SentFrames sent(dispatcher());
    QSignalSpy received(&dispatcher(), &MessageDispatcher::didAcknowReceive);
    QSignalSpy handed(&dispatcher(), &MessageDispatcher::didUnhandledMsgDispatcher);
    LogSpy log;

    feed(eChlid_UI_TD, MessageFactory::frames(ID_Acknow, 7));
    // Even one asking for an acknowledgement is not answered.
    feed(eChlid_UI_TD, MessageFactory::frames(ID_Acknow, -8));

    QCOMPARE(received.count(), 2);
    QCOMPARE(received.at(0).first().value<Sequence>(), Sequence(7));
    QCOMPARE(received.at(1).first().value<Sequence>(), Sequence(-8));
    QCOMPARE(sent.count(), 0);
    QCOMPARE(handed.count(), 0);
    QCOMPARE(log.count(QStringLiteral("    ,UI,Ack Bak, Sq:7")), 1);
    QCOMPARE(log.count(QStringLiteral("ffff,UI,~MESSAGE")), 2);
}

void TestMessageDispatcher::acknowLogCanBeDisabled()
{
    gDisableAcknowLog = true;
    SentFrames sent(dispatcher());
    QSignalSpy received(&dispatcher(), &MessageDispatcher::didAcknowReceive);
    LogSpy log;

    feed(eChlid_UI_TD, MessageFactory::frames(ID_UI_CHECK_IN, -5));
    feed(eChlid_UI_TD, MessageFactory::frames(ID_Acknow, 6));

    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.first().at(1).toByteArray(), hex("a50500ffff000600"));
    QCOMPARE(received.count(), 1);
    QCOMPARE(log.count(QStringLiteral("Ack ")), 0);
}

void TestMessageDispatcher::assemblesPayloadLengths_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("frameCount");
    QTest::newRow("L=0") << 0 << 1;
    QTest::newRow("L=1") << 1 << 1;
    QTest::newRow("L=2") << 2 << 2;
    QTest::newRow("L=9") << 9 << 2;
    QTest::newRow("L=10") << 10 << 3;
    QTest::newRow("L=255") << 255 << 33;
}

void TestMessageDispatcher::assemblesPayloadLengths()
{
    QFETCH(int, length);
    QFETCH(int, frameCount);
    QByteArray payload;
    for (int i = 0; i < length; ++i)
        payload.append(char(0xA5 ^ i)); // sync bytes and padding look-alikes included
    const FrameList frames = MessageFactory::frames(0x4500, -21, payload);
    QCOMPARE(frames.size(), frameCount);
    QSignalSpy handed(&dispatcher(), &MessageDispatcher::didUnhandledMsgDispatcher);
    SentFrames sent(dispatcher());

    for (int i = 0; i < frames.size(); ++i) {
        QCOMPARE(handed.count(), 0);
        dispatcher().onFrameReceive(eChlid_UI_TD, frames.at(i));
    }

    QCOMPARE(handed.count(), 1);
    QCOMPARE(handed.first().first().toList(),
             (QVariantList{0x4500, -21, MessageFactory::dataOf(-21, 0x4500, payload)}));
    QCOMPARE(sent.count(), 1); // the acknowledgement
}

void TestMessageDispatcher::interleavedChannelsAssembleSeparately()
{
    // Messages on TD channels reach the log only in unhandled-only mode.
    gLogUnhandledOnly = true;
    const QByteArray payloadA = hex("0102030405060708090a0b0c0d0e0f10");
    const QByteArray payloadB = hex("f0e0d0c0b0a0908070"); // one frame shorter: completes first
    const FrameList a = MessageFactory::frames(0x9000, 31, payloadA);
    const FrameList b = MessageFactory::frames(0x3C00, 32, payloadB);
    QSignalSpy handed(&dispatcher(), &MessageDispatcher::didUnhandledMsgDispatcher);

    for (int i = 0; i < qMax(a.size(), b.size()); ++i) {
        if (i < a.size())
            dispatcher().onFrameReceive(eChlid_UI_TD, a.at(i));
        if (i < b.size())
            dispatcher().onFrameReceive(eChlid_TD_UI, b.at(i));
    }

    QCOMPARE(handed.count(), 2);
    QCOMPARE(handed.at(0).first().toList(), (QVariantList{0x3C00, 32, MessageFactory::dataOf(32, 0x3C00, payloadB)}));
    QCOMPARE(handed.at(1).first().toList(), (QVariantList{0x9000, 31, MessageFactory::dataOf(31, 0x9000, payloadA)}));
}

void TestMessageDispatcher::continuationMayStartWithSyncByte()
{
    const QByteArray payload = hex("0102a5a5a5a5a5a5a5");
    const FrameList frames = MessageFactory::frames(0x9000, 40, payload);
    QCOMPARE(quint8(frames.at(1).at(0)), quint8(0xA5));
    QSignalSpy handed(&dispatcher(), &MessageDispatcher::didUnhandledMsgDispatcher);

    feed(eChlid_UI_TD, frames);

    QCOMPARE(handed.count(), 1);
    QCOMPARE(handed.first().first().toList().at(2).toByteArray(), MessageFactory::dataOf(40, 0x9000, payload));
}

void TestMessageDispatcher::badCrcIsDiscardedAndNextMessageWorks()
{
    FrameList broken = MessageFactory::frames(0x4500, -2, hex("0a0b0c"));
    broken.last()[1] = char(broken.last().at(1) ^ 0x5A); // the CRC byte
    QSignalSpy handed(&dispatcher(), &MessageDispatcher::didUnhandledMsgDispatcher);
    SentFrames sent(dispatcher());
    LogSpy log;

    QTest::ignoreMessage(QtDebugMsg, "BROKEN 17664");
    feed(eChlid_UI_TD, broken);

    QCOMPARE(handed.count(), 0);
    QCOMPARE(sent.count(), 0); // not acknowledged
    QCOMPARE(log.count(QStringLiteral("CRC error")), 1);

    feed(eChlid_UI_TD, MessageFactory::frames(0x4500, -3, hex("0a0b0c")));
    QCOMPARE(handed.count(), 1);
    QCOMPARE(handed.first().first().toList().at(1).toInt(), -3);
    QCOMPARE(sent.count(), 1);
}

void TestMessageDispatcher::missingSyncIsDiscardedAndNextMessageWorks()
{
    QSignalSpy handed(&dispatcher(), &MessageDispatcher::didUnhandledMsgDispatcher);
    SentFrames sent(dispatcher());
    LogSpy log;

    // The second frame of a message whose first frame was lost.
    const FrameList frames = MessageFactory::frames(0x4500, -4, hex("0102030405060708"));
    QTest::ignoreMessage(QtDebugMsg, "BROKEN 0");
    dispatcher().onFrameReceive(eChlid_UI_TD, frames.at(1));
    QCOMPARE(log.count(QStringLiteral("Expected Header, got frame without Sync byte")), 1);

    feed(eChlid_UI_TD, frames);
    QCOMPARE(handed.count(), 1);
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.first().at(1).toByteArray().left(3), hex("a50400"));
}

void TestMessageDispatcher::shortFramesAreLoggedAndIgnored()
{
    QSignalSpy handed(&dispatcher(), &MessageDispatcher::didUnhandledMsgDispatcher);
    LogSpy log;

    for (int size = 0; size < 8; ++size)
        dispatcher().onFrameReceive(eChlid_UI_TD, QByteArray(size, char(0xA5)));
    for (int size = 0; size < 8; ++size)
        QCOMPARE(log.count(QStringLiteral("Incorrect frame length. Exp:8,got:%1").arg(size)), 1);
    QCOMPARE(log.lines().size(), 8);

    // In the middle of a message: ignored, the message goes on.
    const FrameList frames = MessageFactory::frames(0x9000, 50, hex("0102030405060708"));
    dispatcher().onFrameReceive(eChlid_UI_TD, frames.at(0));
    dispatcher().onFrameReceive(eChlid_UI_TD, hex("ffffff"));
    dispatcher().onFrameReceive(eChlid_UI_TD, frames.at(1));

    QCOMPARE(handed.count(), 1);
    QCOMPARE(handed.first().first().toList().at(2).toByteArray(),
             MessageFactory::dataOf(50, 0x9000, hex("0102030405060708")));
}

void TestMessageDispatcher::longFramesAreCutToEightBytes()
{
    QSignalSpy handed(&dispatcher(), &MessageDispatcher::didUnhandledMsgDispatcher);
    const QByteArray tail(56, char(0x77));

    // One-frame message with trailing garbage.
    dispatcher().onFrameReceive(eChlid_UI_TD, MessageFactory::frames(0x4500, 60, hex("11")).first() + tail);
    // Two-frame message with garbage behind both frames.
    const FrameList frames = MessageFactory::frames(0x9000, 61, hex("0102030405"));
    dispatcher().onFrameReceive(eChlid_UI_TD, frames.at(0) + tail);
    dispatcher().onFrameReceive(eChlid_UI_TD, frames.at(1) + hex("a5"));

    QCOMPARE(handed.count(), 2);
    QCOMPARE(handed.at(0).first().toList().at(2).toByteArray(), MessageFactory::dataOf(60, 0x4500, hex("11")));
    QCOMPARE(handed.at(1).first().toList().at(2).toByteArray(), MessageFactory::dataOf(61, 0x9000, hex("0102030405")));
}

void TestMessageDispatcher::randomGarbageNeverBreaksAssembly()
{
    // Channels the frame interface passes on, plus a few it never would.
    const int channels[] = {0x001, 0x002, 0x011, 0x040, 0x041, 0x100, 0x101, 0x400, 0x406, 0x7FF, 0x000};
    QRandomGenerator random(20240611);
    static int brokenLines = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    {
        SilenceStderr quiet;
        QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
                brokenLines += text.startsWith(QLatin1String("BROKEN")) ? 1 : 0;
            });
        for (int i = 0; i < 100000; ++i) {
            QByteArray frame(random.bounded(17), Qt::Uninitialized);
            for (int k = 0; k < frame.size(); ++k)
                frame[k] = char(random.bounded(256));
            // Often a plausible header, so that long messages start and run.
            if (!frame.isEmpty() && random.bounded(4) == 0)
                frame[0] = char(0xA5);
            const int channel = channels[random.bounded(int(sizeof channels / sizeof *channels))];
            dispatcher().onFrameReceive(Can_Id(channel), frame);
        }
        // Whatever was half assembled ends within 32 frames (256 bytes at most).
        for (const int channel : channels)
            for (int i = 0; i < 33; ++i)
                dispatcher().onFrameReceive(Can_Id(channel), QByteArray(8, '\0'));
        qInstallMessageHandler(previous);
    }
    // Thousands of broken messages, but no flood of console lines. The limit's
    // seconds need not line up with this test's: a run of E ms touches at most
    // E / 1000 + 2 of them.
    QVERIFY(brokenLines >= 1);
    QVERIFY2(brokenLines <= MessageBuilder::kConsoleLinesPerSecond * (elapsed.elapsed() / 1000 + 2),
             qPrintable(QString::number(brokenLines)));

    QSignalSpy handed(&dispatcher(), &MessageDispatcher::didUnhandledMsgDispatcher);
    SentFrames sent(dispatcher());
    feed(eChlid_UI_TD, MessageFactory::frames(0x9000, -77, hex("0102030405060708090a")));
    QCOMPARE(handed.count(), 1);
    QCOMPARE(handed.first().first().toList().at(1).toInt(), -77);
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.first().at(1).toByteArray().left(3), hex("a54d00"));
}

void TestMessageDispatcher::consoleOutGoesToTheBuilder()
{
    LogSpy log;
    dispatcher().enableConsoleOut(true);
    dispatcher().enableConsoleOut(true);
    dispatcher().enableConsoleOut(false);
    QCOMPARE(log.contents(), (QStringList{QStringLiteral("Console out MessageBuilder enabled"),
                                          QStringLiteral("Console out MessageBuilder disabled")}));
}

QTEST_GUILESS_MAIN(TestMessageDispatcher)
#include "tst_messagedispatcher.moc"
