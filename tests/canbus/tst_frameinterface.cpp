#include <QSignalSpy>
#include <QtTest>

#include "canbus/CanInterface.h"
#include "canbus/ChannelFilter.h"
#include "CommandLine.h"
#include "canbus/FrameInterface.h"
#include "common/LogSpy.h"
#include "canbus/MessageBuilder.h"
#include "MessageFactory.h"
#include "MessageGlobals.h"
#include "Threads.h"
#include "canbus/TransmitQueue.h"

using namespace Can;

Q_DECLARE_METATYPE(Can::ChannelFilter::ChannelGroup)

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(quint8(value)));
    return result;
}

TransmitQueue::Frame frameOf(Can_Id id, int index)
{
    return TransmitQueue::Frame{id, QByteArray(8, char(quint8(index)))};
}

// A message of one frame.
bool append(TransmitQueue &queue, const TransmitQueue::Frame &frame)
{
    return queue.append(frame.can_Id, {frame.data});
}

constexpr qint64 kMs = 1000000; // ns

// Asks a queue for a frame at every millisecond 1 .. ms, as a caller would
// that wakes far more often than needed; returns the frames offered, with
// the millisecond each went out on.
struct Offer {
    int tick;
    TransmitQueue::Frame frame;
};

QList<Offer> runTicks(TransmitQueue &queue, int ms, bool keepAwake, bool confirmEach, int from = 0)
{
    QList<Offer> offers;
    for (int t = from + 1; t <= from + ms; ++t) {
        TransmitQueue::Frame frame;
        if (!queue.offer(t * kMs, keepAwake, frame))
            continue;
        offers.append({t, frame});
        if (confirmEach)
            queue.confirm(1);
    }
    return offers;
}

// The frames the service hands to the device, in order.
class FrameRecorder : public QObject
{
public:
    explicit FrameRecorder(FrameInterface &service)
    {
        connect(&service, &FrameInterface::didFrameTransmit, this,
                [this](const QCanBusFrame &frame) { _frames.append(frame); });
    }
    int count() const { return _frames.size(); }
    bool isEmpty() const { return _frames.isEmpty(); }
    QCanBusFrame last() const { return _frames.last(); }

private:
    QList<QCanBusFrame> _frames;
};

} // namespace

class TestFrameInterface : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Channel table
    void checkChannel_data();
    void checkChannel();
    void checkChannelTestToolWithOption_data();
    void checkChannelTestToolWithOption();
    void checkChannelNullPointers();
    void aliasesShareOneEntry();

    // Receiving
    void listenedChannelPassedOn();
    void ignoredAndOutputChannelsDroppedSilently_data();
    void ignoredAndOutputChannelsDroppedSilently();
    void unexpectedChannelLogged();
    void testToolChannelWithOptionLogsBothAndDrops();
    void testToolChannelWithoutOptionPassedSilently();
    void fpTestToolChannelAlwaysUnexpected();
    void unexpectedLinesThrottledPerChannel();
    void debugLinesThrottledPerChannel();
    void channelCountsStayBounded();
    void oversizeReceivedFramePassedAsIs();
    void onlyStandardDataFramesPassedOn_data();
    void onlyStandardDataFramesPassedOn();

    // Queueing
    void overflowDropsAndThrottlesLog();
    void overflowCounterKeepsCountingAcrossBursts();
    void queueStaysBoundedWhileWritesFail();
    void messageAdmittedWholeOrNotAtAll_data();
    void messageAdmittedWholeOrNotAtAll();
    void fullQueueDrainingSendsOnlyWholeMessages();

    // Pacing
    void oneFramePerSevenTicks();
    void headOfferedAgainEverySevenTicksWhenWriteFails();
    void keepAwakeOnlyWhenQueueEmptyAndEnabled();
    void noKeepAwakeWhenDisabled();

    // Write confirmations
    void keepAwakeConfirmationNeverRemovesQueuedFrame();
    void queueFillingWhileKeepAwakeInFlightLosesNothing();
    void staleAndDuplicateConfirmationsIgnored();
    void confirmationWithCountReleasesOneFrame();
    void headNotReofferedWhileInFlight();
    void unconfirmedHeadReofferedAfterTimeout();
    void lateConfirmationAfterTimeoutRemovesOnce();
    void msUntilNext_data();
    void msUntilNext();
    void timerFollowingTheQueueNeverOffersWithinSevenMs();

    // The service
    void serviceTransmitsQueuedFramesWithChannelAndPayload();
    void serviceSendsKeepAwakeOnLowestChannel();
    void serviceRoutesConfirmationAndWriteResult();
    void serviceDropsOversizeFrameWithoutBlockingQueue();
    void serviceTimerRunsOnlyWhileThereIsSomethingToSend();
    void serviceTakesMessagesFromAnotherThread();
    void serviceHoldsReceivedFramesBehindALongQueue();
    void serviceInitOnceAndWiredToDevice(); // last: starts the real timer

private:
    // Brings the service's queue to empty with nothing in flight and the
    // pacing counter just past an offer.
    void drainService();
    // Moves the service's clock on 1 ms at a time, pacing at every step,
    // until it emits a frame; the milliseconds that took, or -1 when none
    // came within maxTicks.
    int ticksToNextOffer(const FrameRecorder &spy, int maxTicks = 7);
    void step()
    {
        _nowNs += kMs;
        FrameInterface::I().pace();
    }

    LogSpy _log;
    qint64 _nowNs = 0;
};

void TestFrameInterface::initTestCase()
{
    Threads::registerTypes();
    FrameInterface::I().setClock([this] { return _nowNs; });
    qRegisterMetaType<Can::ChannelFilter::ChannelGroup>();
}

void TestFrameInterface::init()
{
    gDisableOrvaneUnhandled = false;
    gSendEmptyKeepAwake = false;
    _log.clear();
}

void TestFrameInterface::cleanup()
{
    gDisableOrvaneUnhandled = false;
    gSendEmptyKeepAwake = false;
}

// ---------------------------------------------------------------- channels

void TestFrameInterface::checkChannel_data()
{
    QTest::addColumn<quint32>("channel");
    QTest::addColumn<Can::ChannelFilter::ChannelGroup>("group");
    QTest::addColumn<bool>("ok");

    const auto listens = ChannelFilter::eChannel_Listens;
    const auto outputs = ChannelFilter::eChannel_Outputs;
    const auto ignores = ChannelFilter::eChannel_Ignores;
    const auto unknown = ChannelFilter::eChannel_Unknown;

    QTest::newRow("TD alarm 0x001") << 0x001u << listens << true;
    QTest::newRow("DD alarm 0x002") << 0x002u << listens << true;
    QTest::newRow("DD to TD 0x011") << 0x011u << listens << true;
    QTest::newRow("TD to UI 0x040") << 0x040u << listens << true;
    QTest::newRow("UI to TD 0x041") << 0x041u << listens << true;
    QTest::newRow("TD sync 0x100") << 0x100u << listens << true;
    QTest::newRow("DD sync 0x101") << 0x101u << listens << true;
    QTest::newRow("UI alarm 0x004") << 0x004u << outputs << true;
    QTest::newRow("UI sync 0x103") << 0x103u << outputs << true;
    QTest::newRow("TD to DD 0x010") << 0x010u << ignores << true;
    QTest::newRow("test tool 0x400") << 0x400u << listens << true;
    QTest::newRow("test tool 0x401") << 0x401u << listens << true;
    QTest::newRow("test tool 0x402") << 0x402u << listens << true;
    QTest::newRow("test tool 0x403") << 0x403u << listens << true;
    QTest::newRow("test tool 0x406") << 0x406u << listens << true;
    QTest::newRow("test tool 0x407") << 0x407u << listens << true;
    QTest::newRow("FP alarm 0x003") << 0x003u << unknown << false;
    QTest::newRow("FP to DD 0x020") << 0x020u << unknown << false;
    QTest::newRow("DD to FP 0x021") << 0x021u << unknown << false;
    QTest::newRow("FP sync 0x102") << 0x102u << unknown << false;
    QTest::newRow("test tool FP 0x404") << 0x404u << unknown << false;
    QTest::newRow("FP test tool 0x405") << 0x405u << unknown << false;
    QTest::newRow("lowest 0x7FF") << 0x7FFu << unknown << false;
    QTest::newRow("zero") << 0x000u << unknown << false;
    QTest::newRow("extended identifier") << 0x18DAF141u << unknown << false;
}

void TestFrameInterface::checkChannel()
{
    QFETCH(quint32, channel);
    QFETCH(Can::ChannelFilter::ChannelGroup, group);
    QFETCH(bool, ok);

    bool isOk = !ok;
    bool isDebug = true;
    QCOMPARE(FrameInterface::checkChannel(channel, &isOk, &isDebug), group);
    QCOMPARE(isOk, ok);
    QCOMPARE(isDebug, false);
}

void TestFrameInterface::checkChannelTestToolWithOption_data()
{
    QTest::addColumn<quint32>("channel");
    for (quint32 channel : {0x400u, 0x401u, 0x402u, 0x403u, 0x406u, 0x407u})
        QTest::newRow(qPrintable(QString::number(channel, 16))) << channel;
}

void TestFrameInterface::checkChannelTestToolWithOption()
{
    QFETCH(quint32, channel);
    gDisableOrvaneUnhandled = true;
    bool ok = true;
    bool debug = false;
    QCOMPARE(ChannelFilter::checkChannel(channel, &ok, &debug), ChannelFilter::eChannel_Ignores);
    QCOMPARE(ok, false);
    QCOMPARE(debug, true);

    // The FP's test-tool channels are not debug channels, option or not.
    QCOMPARE(ChannelFilter::checkChannel(0x404, &ok, &debug), ChannelFilter::eChannel_Unknown);
    QCOMPARE(ok, false);
    QCOMPARE(debug, false);
}

void TestFrameInterface::checkChannelNullPointers()
{
    QCOMPARE(ChannelFilter::checkChannel(eChlid_UI_TD), ChannelFilter::eChannel_Listens);
    QCOMPARE(ChannelFilter::checkChannel(0x102, nullptr, nullptr), ChannelFilter::eChannel_Unknown);
}

void TestFrameInterface::aliasesShareOneEntry()
{
    QCOMPARE(int(eChlid_DD_UI), int(eChlid_DD_Sync));
    QCOMPARE(int(eChlid_FP_UI), int(eChlid_FP_Sync));
    QCOMPARE(int(eChlid_UI_DD), int(eChlid_UI_Sync));
    QCOMPARE(ChannelFilter::checkChannel(eChlid_DD_UI), ChannelFilter::eChannel_Listens);
    QCOMPARE(ChannelFilter::checkChannel(eChlid_UI_DD), ChannelFilter::eChannel_Outputs);
    QCOMPARE(ChannelFilter::checkChannel(eChlid_FP_UI), ChannelFilter::eChannel_Unknown);
}

// ---------------------------------------------------------------- receiving

void TestFrameInterface::listenedChannelPassedOn()
{
    QSignalSpy spy(&FrameInterface::I(), &FrameInterface::didFrameReceive);
    const QByteArray payload = bytes({0xA5, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00, 0x42});
    FrameInterface::I().onFrameReceive(QCanBusFrame(eChlid_UI_TD, payload));

    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<Can::Can_Id>(), eChlid_UI_TD);
    QCOMPARE(spy.at(0).at(1).toByteArray(), payload);
    QVERIFY(_log.contents().isEmpty());
}

void TestFrameInterface::ignoredAndOutputChannelsDroppedSilently_data()
{
    QTest::addColumn<quint32>("channel");
    QTest::newRow("UI sync 0x103") << 0x103u;
    QTest::newRow("TD to DD 0x010") << 0x010u;
    QTest::newRow("UI alarm 0x004") << 0x004u;
}

void TestFrameInterface::ignoredAndOutputChannelsDroppedSilently()
{
    QFETCH(quint32, channel);
    QSignalSpy spy(&FrameInterface::I(), &FrameInterface::didFrameReceive);
    FrameInterface::I().onFrameReceive(QCanBusFrame(channel, bytes({1, 2, 3})));
    QCOMPARE(spy.count(), 0);
    QVERIFY(_log.contents().isEmpty());
}

void TestFrameInterface::unexpectedChannelLogged()
{
    QSignalSpy spy(&FrameInterface::I(), &FrameInterface::didFrameReceive);
    FrameInterface::I().onFrameReceive(QCanBusFrame(0x102, bytes({0x01, 0xAB, 0x00})));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(_log.contents(), QStringList{QStringLiteral("Unexpected Channel\r\n102 -- 01 ab 00")});
    QCOMPARE(_log.lines().at(0).type, Storage::Logger::eLogDebug);
    QCOMPARE(_log.lines().at(0).timestamp, true);
}

void TestFrameInterface::testToolChannelWithOptionLogsBothAndDrops()
{
    gDisableOrvaneUnhandled = true;
    QSignalSpy spy(&FrameInterface::I(), &FrameInterface::didFrameReceive);
    FrameInterface::I().onFrameReceive(QCanBusFrame(eOrvane_TD, bytes({0xDE, 0xAD})));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(_log.contents(), (QStringList{QStringLiteral("Debug Channel\r\n400 -- de ad"),
                                           QStringLiteral("Unexpected Channel\r\n400 -- de ad")}));
}

void TestFrameInterface::testToolChannelWithoutOptionPassedSilently()
{
    QSignalSpy spy(&FrameInterface::I(), &FrameInterface::didFrameReceive);
    FrameInterface::I().onFrameReceive(QCanBusFrame(eOrvane_TD, bytes({0xDE, 0xAD})));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<Can::Can_Id>(), eOrvane_TD);
    QVERIFY(_log.contents().isEmpty());
}

void TestFrameInterface::fpTestToolChannelAlwaysUnexpected()
{
    QSignalSpy spy(&FrameInterface::I(), &FrameInterface::didFrameReceive);
    for (bool option : {false, true}) {
        gDisableOrvaneUnhandled = option;
        ChannelFilter filter; // fresh, so each run gets its first line
        QVERIFY(!filter.accept(eOrvane_FP, bytes({7})));
    }
    FrameInterface::I().onFrameReceive(QCanBusFrame(eOrvane_FP, bytes({7})));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(_log.count(QStringLiteral("Unexpected Channel\r\n404 -- 07")), 3);
    QCOMPARE(_log.count(QStringLiteral("Debug Channel")), 0);
}

void TestFrameInterface::unexpectedLinesThrottledPerChannel()
{
    ChannelFilter filter;
    // Two chatty unexpected channels interleaved: each keeps its own count.
    for (int i = 0; i < 2500; ++i) {
        QVERIFY(!filter.accept(0x102, bytes({0x11})));
        if (i < 1001)
            QVERIFY(!filter.accept(0x003, bytes({0x22})));
    }
    QCOMPARE(filter.count(0x102), quint64(2500));
    QCOMPARE(filter.count(0x003), quint64(1001));
    QCOMPARE(_log.contents(), (QStringList{
                                  QStringLiteral("Unexpected Channel\r\n102 -- 11"),
                                  QStringLiteral("Unexpected Channel\r\n003 -- 22"),
                                  QStringLiteral("Unexpected Channel\r\n102 -- 11 (1001 frames)"),
                                  QStringLiteral("Unexpected Channel\r\n003 -- 22 (1001 frames)"),
                                  QStringLiteral("Unexpected Channel\r\n102 -- 11 (2001 frames)"),
                              }));
}

void TestFrameInterface::debugLinesThrottledPerChannel()
{
    gDisableOrvaneUnhandled = true;
    ChannelFilter filter;
    for (int i = 0; i < 1001; ++i)
        filter.accept(eUI_Orvane, bytes({0x05}));
    filter.accept(eOrvane_UI, QByteArray());
    QCOMPARE(_log.contents(), (QStringList{
                                  QStringLiteral("Debug Channel\r\n407 -- 05"),
                                  QStringLiteral("Unexpected Channel\r\n407 -- 05"),
                                  QStringLiteral("Debug Channel\r\n407 -- 05 (1001 frames)"),
                                  QStringLiteral("Unexpected Channel\r\n407 -- 05 (1001 frames)"),
                                  QStringLiteral("Debug Channel\r\n406 -- "),
                                  QStringLiteral("Unexpected Channel\r\n406 -- "),
                              }));
}

void TestFrameInterface::channelCountsStayBounded()
{
    ChannelFilter filter;
    for (quint32 id = 0x20000; id < 0x20000 + ChannelFilter::_countsMax + 10; ++id)
        filter.accept(id, QByteArray());
    QVERIFY(filter.count(0x20000 + ChannelFilter::_countsMax + 9) == 1);
    QCOMPARE(filter.count(0x20000), quint64(0)); // forgotten once the table filled
}

void TestFrameInterface::oversizeReceivedFramePassedAsIs()
{
    // Only a misbehaving plug-in hands over more than 8 bytes; nothing may
    // break, and the bytes go on untouched for the framing to cope with.
    QSignalSpy spy(&FrameInterface::I(), &FrameInterface::didFrameReceive);
    const QCanBusFrame frame(eChlid_UI_TD, QByteArray(12, char(0x5A)));
    FrameInterface::I().onFrameReceive(frame);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(1).toByteArray(), QByteArray(12, char(0x5A)));

    const QCanBusFrame unexpected(0x3F0, QByteArray(12, char(0x01)));
    FrameInterface::I().onFrameReceive(unexpected);
    QCOMPARE(_log.contents(),
             QStringList{QStringLiteral("Unexpected Channel\r\n3F0 -- 01 01 01 01 01 01 01 01 01 01 01 01")});
}

void TestFrameInterface::onlyStandardDataFramesPassedOn_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<QString>("line"); // empty: passed on
    QTest::newRow("standard data") << int(QCanBusFrame::DataFrame) << false << "";
    QTest::newRow("remote request") << int(QCanBusFrame::RemoteRequestFrame) << false
                                    << "Unexpected Frame Format\r\nRemote request frame 041 -- ";
    QTest::newRow("extended data") << int(QCanBusFrame::DataFrame) << true
                                   << "Unexpected Frame Format\r\nExtended data frame 041 -- a5 01 00 00 10 00 00 42";
    QTest::newRow("extended remote") << int(QCanBusFrame::RemoteRequestFrame) << true
                                     << "Unexpected Frame Format\r\nExtended remote request frame 041 -- ";
    QTest::newRow("error") << int(QCanBusFrame::ErrorFrame) << false
                           << "Unexpected Frame Format\r\nError frame 000 -- ";
}

void TestFrameInterface::onlyStandardDataFramesPassedOn()
{
    QFETCH(int, type);
    QFETCH(bool, extended);
    QFETCH(QString, line);
    QSignalSpy spy(&FrameInterface::I(), &FrameInterface::didFrameReceive);
    QCanBusFrame frame{QCanBusFrame::FrameType(type)};
    frame.setFrameId(eChlid_UI_TD);
    frame.setExtendedFrameFormat(extended);
    if (type == QCanBusFrame::DataFrame)
        frame.setPayload(bytes({0xA5, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00, 0x42}));
    ChannelFilter filter;
    const bool passed = line.isEmpty();
    for (int i = 0; i < 3; ++i) // the line once, not per frame
        QCOMPARE(filter.acceptFormat(frame), passed);
    QCOMPARE(filter.otherFormatCount(), passed ? quint64(0) : quint64(3));
    QCOMPARE(_log.contents(), passed ? QStringList() : QStringList{line});
    FrameInterface::I().onFrameReceive(frame);
    QCOMPARE(spy.count(), passed ? 1 : 0);
}

// ---------------------------------------------------------------- queueing

void TestFrameInterface::overflowDropsAndThrottlesLog()
{
    TransmitQueue queue;
    for (int i = 0; i < 4000; ++i)
        QVERIFY(append(queue, frameOf(eChlid_TD_UI, i)));
    QCOMPARE(queue.size(), 4000);
    QVERIFY(_log.contents().isEmpty());

    const QString overflow = QStringLiteral("Transmit buffer overflow of 4000");
    QVERIFY(!append(queue, frameOf(eChlid_TD_UI, 4001))); // 4001st: dropped and logged
    QCOMPARE(_log.contents(), QStringList{overflow});
    QCOMPARE(_log.lines().at(0).type, Storage::Logger::eLogDebug);

    for (int i = 4002; i <= 4060; ++i) // 4002nd to 4060th: dropped silently
        QVERIFY(!append(queue, frameOf(eChlid_TD_UI, i)));
    QCOMPARE(_log.count(overflow), 1);

    QVERIFY(!append(queue, frameOf(eChlid_TD_UI, 4061))); // the 61st drop
    QCOMPARE(_log.count(overflow), 2);
    QCOMPARE(queue.size(), 4000);
    QCOMPARE(queue.frames().last().data, QByteArray(8, char(quint8(3999))));
}

void TestFrameInterface::overflowCounterKeepsCountingAcrossBursts()
{
    TransmitQueue queue;
    for (int i = 0; i < 4000; ++i)
        append(queue, frameOf(eChlid_TD_UI, i));
    for (int i = 0; i < 30; ++i)
        append(queue, frameOf(eChlid_TD_UI, i));
    QCOMPARE(queue.dropCounter(), 30u);

    // Room again for a while: the drop count is not reset by that.
    TransmitQueue::Frame frame;
    QVERIFY(queue.takeNext(frame, false));
    queue.confirm(1);
    QVERIFY(append(queue, frameOf(eChlid_TD_UI, 1)));
    for (int i = 0; i < 31; ++i)
        append(queue, frameOf(eChlid_TD_UI, i));
    QCOMPARE(_log.count(QStringLiteral("Transmit buffer overflow of 4000")), 2); // drops 1 and 61
}

void TestFrameInterface::queueStaysBoundedWhileWritesFail()
{
    TransmitQueue queue;
    int offers = 0;
    for (int t = 0; t < 70000; ++t) {
        append(queue, frameOf(eChlid_TD_Sync, t)); // a producer faster than the bus
        TransmitQueue::Frame frame;
        if (queue.offer(t * kMs, true, frame)) {
            ++offers;
            queue.writeResult(false); // no device
        }
        QVERIFY(queue.size() <= 4000);
    }
    QCOMPARE(queue.size(), 4000);
    QCOMPARE(offers, 10000); // the head, again every 7 ticks
    QCOMPARE(queue.frames().first().data, QByteArray(8, char(0)));
}

void TestFrameInterface::messageAdmittedWholeOrNotAtAll_data()
{
    QTest::addColumn<int>("queued"); // frames already waiting
    QTest::addColumn<int>("frames"); // frames of the new message
    QTest::addColumn<bool>("admitted");
    QTest::newRow("fits exactly") << 3997 << 3 << true;
    QTest::newRow("one frame short of room") << 3998 << 3 << false;
    QTest::newRow("full, one-frame message") << 4000 << 1 << false;
    QTest::newRow("longest message, empty queue") << 0 << 33 << true;
}

void TestFrameInterface::messageAdmittedWholeOrNotAtAll()
{
    QFETCH(int, queued);
    QFETCH(int, frames);
    QFETCH(bool, admitted);
    TransmitQueue queue;
    for (int i = 0; i < queued; ++i)
        append(queue, frameOf(eChlid_TD_UI, i));
    QCOMPARE(queue.append(eChlid_TD_Sync, FrameList(QVector<QByteArray>(frames, QByteArray(8, char(0x5A))).toList())),
             admitted);
    QCOMPARE(queue.size(), queued + (admitted ? frames : 0));
    // Dropped frames are counted one by one, as the overflow line counts.
    QCOMPARE(queue.dropCounter(), admitted ? 0u : quint32(frames));
    QCOMPARE(_log.count(QStringLiteral("Transmit buffer overflow of 4000")), admitted ? 0 : 1);
}

void TestFrameInterface::fullQueueDrainingSendsOnlyWholeMessages()
{
    // A producer far faster than the bus keeps the queue full while it
    // drains: every message that reaches the bus must reassemble with a good
    // CRC, and so must every message behind it.
    TransmitQueue queue;
    QRandomGenerator random(7);
    QList<QByteArray> sent;
    int admitted = 0;
    qint64 nowMs = 0;
    const auto step = [&] {
        TransmitQueue::Frame frame;
        if (queue.offer(++nowMs * kMs, false, frame)) {
            sent.append(frame.data);
            queue.confirm(1);
        }
    };
    for (int t = 1; t <= 20000; ++t) {
        const QByteArray payload(int(random.bounded(120)), char(t));
        admitted += queue.append(eChlid_TD_Sync, MessageFactory::frames(0x3C00, Sequence(t), payload)) ? 1 : 0;
        step();
    }
    while (!queue.isEmpty())
        step();
    QVERIFY(queue.dropCounter() > 1000); // the queue really was full

    MessageBuilder builder;
    Can::Message message;
    int complete = 0;
    for (const QByteArray &frame : qAsConst(sent)) {
        QVERIFY(builder.buildMessage(frame, message, eChlid_TD_Sync));
        if (message.isComplete()) {
            ++complete;
            message = Can::Message();
        }
    }
    QVERIFY(message.isEmpty());
    QCOMPARE(complete, admitted);
}

// ---------------------------------------------------------------- pacing

void TestFrameInterface::oneFramePerSevenTicks()
{
    TransmitQueue queue;
    for (int i = 0; i < 5; ++i)
        append(queue, frameOf(eChlid_TD_UI, i));

    const QList<Offer> offers = runTicks(queue, 50, false, true);
    QCOMPARE(offers.size(), 5);
    for (int i = 0; i < offers.size(); ++i) {
        QCOMPARE(offers.at(i).tick, 1 + 7 * i); // the first at once
        QCOMPARE(offers.at(i).frame.data, QByteArray(8, char(i)));
    }
    QVERIFY(queue.isEmpty());
}

void TestFrameInterface::headOfferedAgainEverySevenTicksWhenWriteFails()
{
    TransmitQueue queue;
    append(queue, frameOf(eChlid_TD_UI, 1));
    append(queue, frameOf(eChlid_TD_UI, 2));
    QList<int> offerTicks;
    for (int t = 1; t <= 28; ++t) {
        TransmitQueue::Frame frame;
        if (!queue.offer(t * kMs, false, frame))
            continue;
        QCOMPARE(frame.data, QByteArray(8, char(1)));
        offerTicks << t;
        queue.writeResult(false);
    }
    QCOMPARE(offerTicks, (QList<int>{1, 8, 15, 22}));
    QCOMPARE(queue.size(), 2);
}

void TestFrameInterface::keepAwakeOnlyWhenQueueEmptyAndEnabled()
{
    TransmitQueue queue;
    QList<Offer> offers = runTicks(queue, 21, true, true);
    QCOMPARE(offers.size(), 3);
    for (const Offer &offer : offers) {
        QCOMPARE(offer.frame.can_Id, eChlid_LOWEST);
        QCOMPARE(int(offer.frame.can_Id), 0x7FF);
        QVERIFY(offer.frame.data.isEmpty());
    }

    // With frames queued, the frames go first and no keep-awake frame is sent.
    append(queue, frameOf(eChlid_TD_UI, 1));
    append(queue, frameOf(eChlid_TD_UI, 2));
    offers = runTicks(queue, 21, true, true, 21);
    QCOMPARE(offers.size(), 3);
    QCOMPARE(offers.at(0).frame.can_Id, eChlid_TD_UI);
    QCOMPARE(offers.at(1).frame.can_Id, eChlid_TD_UI);
    QCOMPARE(offers.at(2).frame.can_Id, eChlid_LOWEST);
}

void TestFrameInterface::noKeepAwakeWhenDisabled()
{
    TransmitQueue queue;
    QVERIFY(runTicks(queue, 70, false, true).isEmpty());
    QCOMPARE(queue.inFlight(), TransmitQueue::eInFlight_None);
}

// ---------------------------------------------------------------- confirmations

void TestFrameInterface::keepAwakeConfirmationNeverRemovesQueuedFrame()
{
    TransmitQueue queue;
    TransmitQueue::Frame frame;
    QVERIFY(queue.takeNext(frame, true));
    QCOMPARE(frame.can_Id, eChlid_LOWEST);
    QCOMPARE(queue.inFlight(), TransmitQueue::eInFlight_KeepAwake);

    // A message frame arrives while the keep-awake frame is with the device;
    // the keep-awake frame's confirmation must not take it.
    append(queue, frameOf(eChlid_TD_UI, 9));
    queue.confirm(1);
    QCOMPARE(queue.size(), 1);
    QCOMPARE(queue.inFlight(), TransmitQueue::eInFlight_None);

    QVERIFY(queue.takeNext(frame, true));
    QCOMPARE(frame.can_Id, eChlid_TD_UI);
    QCOMPARE(frame.data, QByteArray(8, char(9)));
    queue.confirm(1);
    QVERIFY(queue.isEmpty());
}

void TestFrameInterface::queueFillingWhileKeepAwakeInFlightLosesNothing()
{
    // The device confirms each write some ticks after it (as over a queued
    // connection) while the dispatcher adds frames at its own pace, often
    // while a keep-awake frame is with the device: every message frame must
    // go out exactly once and in order, keep-awake frames filling the gaps.
    TransmitQueue queue;
    QList<TransmitQueue::Frame> sent;
    int pendingConfirmAt = -1;
    int next = 0;
    int appendedDuringKeepAwake = 0;
    for (int t = 1; t <= 6000 && (next < 120 || !queue.isEmpty()); ++t) {
        if ((t % 23 == 3 || t % 37 == 5) && next < 120) {
            if (queue.inFlight() == TransmitQueue::eInFlight_KeepAwake)
                ++appendedDuringKeepAwake;
            append(queue, frameOf(eChlid_TD_UI, next++));
        }
        if (t == pendingConfirmAt) {
            queue.confirm(1);
            pendingConfirmAt = -1;
        }
        TransmitQueue::Frame frame;
        if (queue.offer(t * kMs, true, frame)) {
            sent.append(frame);
            pendingConfirmAt = t + 5;
        }
    }
    QVERIFY(appendedDuringKeepAwake > 10); // the case is really exercised

    QList<QByteArray> messages;
    int keepAwakes = 0;
    for (const TransmitQueue::Frame &frame : sent) {
        if (frame.can_Id == eChlid_LOWEST) {
            QVERIFY(frame.data.isEmpty());
            ++keepAwakes;
        } else {
            messages.append(frame.data);
        }
    }
    QCOMPARE(messages.size(), 120);
    for (int i = 0; i < messages.size(); ++i)
        QCOMPARE(messages.at(i), QByteArray(8, char(i)));
    QVERIFY(keepAwakes > 0);
    QCOMPARE(queue.timeouts(), quint64(0));
}

void TestFrameInterface::staleAndDuplicateConfirmationsIgnored()
{
    TransmitQueue queue;
    append(queue, frameOf(eChlid_TD_UI, 1));
    append(queue, frameOf(eChlid_TD_UI, 2));

    queue.confirm(1); // nothing offered yet
    QCOMPARE(queue.size(), 2);

    TransmitQueue::Frame frame;
    QVERIFY(queue.takeNext(frame, false));
    queue.confirm(1);
    queue.confirm(1); // duplicate
    QCOMPARE(queue.size(), 1);
    QCOMPARE(queue.frames().first().data, QByteArray(8, char(2)));

    // A confirmation after a failed write (which will never be confirmed)
    // is stale too.
    QVERIFY(queue.takeNext(frame, false));
    queue.writeResult(false);
    queue.confirm(1);
    QCOMPARE(queue.size(), 1);

    // A successful write result alone does not release the frame.
    QVERIFY(queue.takeNext(frame, false));
    queue.writeResult(true);
    QCOMPARE(queue.inFlight(), TransmitQueue::eInFlight_Head);
    QCOMPARE(queue.size(), 1);
}

void TestFrameInterface::confirmationWithCountReleasesOneFrame()
{
    TransmitQueue queue;
    for (int i = 0; i < 4; ++i)
        append(queue, frameOf(eChlid_TD_UI, i));
    TransmitQueue::Frame frame;
    QVERIFY(queue.takeNext(frame, false));
    queue.confirm(3);
    QCOMPARE(queue.size(), 3);
    QCOMPARE(queue.inFlight(), TransmitQueue::eInFlight_None);
}

void TestFrameInterface::headNotReofferedWhileInFlight()
{
    TransmitQueue queue;
    append(queue, frameOf(eChlid_TD_UI, 1));
    const QList<Offer> offers = runTicks(queue, 99, true, false);
    QCOMPARE(offers.size(), 1); // neither the head again nor a keep-awake frame
    QCOMPARE(offers.at(0).tick, 1);
    QCOMPARE(queue.inFlight(), TransmitQueue::eInFlight_Head);
}

void TestFrameInterface::unconfirmedHeadReofferedAfterTimeout()
{
    TransmitQueue queue;
    append(queue, frameOf(eChlid_TD_UI, 1));
    const QList<Offer> offers = runTicks(queue, 120, false, false);
    // Offered at 1 ms; given up 100 ms later and offered again then.
    QCOMPARE(offers.size(), 2);
    QCOMPARE(offers.at(0).tick, 1);
    QCOMPARE(offers.at(1).tick, 101);
    QCOMPARE(offers.at(1).frame.data, QByteArray(8, char(1)));
    QCOMPARE(queue.timeouts(), quint64(1));
}

void TestFrameInterface::lateConfirmationAfterTimeoutRemovesOnce()
{
    TransmitQueue queue;
    append(queue, frameOf(eChlid_TD_UI, 1));
    append(queue, frameOf(eChlid_TD_UI, 2));
    runTicks(queue, 101, false, false); // offered, timed out, offered again
    queue.confirm(1);                   // the late one for the first offer
    queue.confirm(1);                   // and the one for the second: stale
    QCOMPARE(queue.size(), 1);
    QCOMPARE(queue.frames().first().data, QByteArray(8, char(2)));
}

void TestFrameInterface::msUntilNext_data()
{
    QTest::addColumn<int>("queued");
    QTest::addColumn<bool>("keepAwake");
    QTest::addColumn<int>("offeredMsAgo"); // -1: never offered
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<int>("writtenMsLater"); // the device returned this long after the offer
    QTest::addColumn<int>("wait");
    // When a frame appended now could go at the earliest: after the pacing's
    // wait and one interval per frame queued ahead of it.
    QTest::addColumn<int>("appendedGoes");
    QTest::newRow("idle: the timer stops") << 0 << false << 3 << true << 0 << -1 << 4;
    QTest::newRow("idle with keep-awake") << 0 << true << 3 << true << 0 << 4 << 4;
    QTest::newRow("first frame: at once") << 1 << false << -1 << true << 0 << 0 << 7;
    QTest::newRow("3 ms after an offer") << 2 << false << 3 << true << 0 << 4 << 18;
    QTest::newRow("8 ms after an offer") << 2 << false << 8 << true << 0 << 0 << 14;
    QTest::newRow("8 ms after, write held up 2 ms") << 2 << false << 8 << true << 2 << 1 << 15;
    QTest::newRow("awaiting its confirmation") << 2 << false << 30 << false << 0 << 70 << 14;
    QTest::newRow("long queue") << 4000 << false << 3 << true << 0 << 4 << 28004;
}

void TestFrameInterface::msUntilNext()
{
    QFETCH(int, queued);
    QFETCH(bool, keepAwake);
    QFETCH(int, offeredMsAgo);
    QFETCH(bool, confirmed);
    QFETCH(int, writtenMsLater);
    QFETCH(int, wait);
    QFETCH(int, appendedGoes);
    TransmitQueue queue;
    const qint64 offeredAt = 1000 * kMs;
    if (offeredMsAgo >= 0) {
        TransmitQueue::Frame frame;
        QVERIFY(queue.offer(offeredAt, true, frame));
        queue.written(offeredAt + writtenMsLater * kMs);
        if (confirmed)
            queue.confirm(1);
    }
    for (int i = 0; i < queued; ++i)
        append(queue, frameOf(eChlid_TD_UI, i));
    QCOMPARE(queue.msUntilNext(offeredAt + qMax(offeredMsAgo, 0) * kMs, keepAwake), wait);
    QCOMPARE(queue.msUntilAppendedGoes(offeredAt + qMax(offeredMsAgo, 0) * kMs), appendedGoes);
}

void TestFrameInterface::timerFollowingTheQueueNeverOffersWithinSevenMs()
{
    // A timer set as the queue asks and firing up to a millisecond late, with
    // frames queued at odd moments between: every gap between two offers is
    // 7 ms or more (the old 1 ms tick counter let it fall to 6 ms), and no
    // more than a timer's lateness above.
    TransmitQueue queue;
    QRandomGenerator random(11);
    qint64 now = 123456789;
    QList<qint64> offers;
    int queued = 0;
    for (int i = 0; i < 2000; ++i) {
        if (random.bounded(3) == 0 && queued < 300)
            append(queue, frameOf(eChlid_TD_UI, queued++));
        const int wait = queue.msUntilNext(now, false);
        now += (wait < 0 ? 5 : wait) * kMs + qint64(random.bounded(1000000));
        TransmitQueue::Frame frame;
        if (queue.offer(now, false, frame)) {
            offers << now;
            queue.confirm(1);
        }
    }
    QVERIFY(offers.size() > 250);
    qint64 shortest = std::numeric_limits<qint64>::max();
    for (int i = 1; i < offers.size(); ++i)
        shortest = qMin(shortest, offers.at(i) - offers.at(i - 1));
    QVERIFY2(shortest >= 7 * kMs, qPrintable(QString::number(shortest)));
    QVERIFY(queue.isEmpty() || queued == 300);
}

// ---------------------------------------------------------------- the service

void TestFrameInterface::drainService()
{
    FrameInterface &service = FrameInterface::I();
    service.onFrameWritten(1); // whatever was in flight
    FrameRecorder spy(service);
    gSendEmptyKeepAwake = true;
    // Keep-awake makes every step offer something, so the pacing phase shows.
    for (int t = 0; t < 7 * 5000 && (spy.isEmpty() || !service.queue().isEmpty()); ++t) {
        const int before = spy.count();
        step();
        if (spy.count() != before)
            service.onFrameWritten(1);
    }
    gSendEmptyKeepAwake = false;
    service.pace(); // keep-awake off: the timer stops
    QVERIFY(service.queue().isEmpty());
    QCOMPARE(service.queue().inFlight(), TransmitQueue::eInFlight_None);
}

int TestFrameInterface::ticksToNextOffer(const FrameRecorder &spy, int maxTicks)
{
    const int before = spy.count();
    for (int t = 1; t <= maxTicks; ++t) {
        step();
        if (spy.count() != before)
            return t;
    }
    return -1;
}

void TestFrameInterface::serviceTransmitsQueuedFramesWithChannelAndPayload()
{
    drainService();
    FrameInterface &service = FrameInterface::I();
    FrameRecorder spy(service);

    const QByteArray first = bytes({0xA5, 1, 2, 3, 4, 5, 6, 7});
    const QByteArray second = bytes({8, 9, 10, 11, 12, 13, 14, 15});
    service.onFrameTransmit(eChlid_TD_UI, {first});
    service.onFrameTransmit(eChlid_TD_Sync, {second});
    QCOMPARE(service.queue().size(), 2);

    QCOMPARE(ticksToNextOffer(spy), 7);
    QCanBusFrame frame = spy.last();
    QCOMPARE(frame.frameType(), QCanBusFrame::DataFrame);
    QCOMPARE(frame.frameId(), quint32(eChlid_TD_UI));
    QCOMPARE(frame.payload(), first);
    service.onFrameWritten(1);

    QCOMPARE(ticksToNextOffer(spy), 7);
    frame = spy.last();
    QCOMPARE(frame.frameId(), quint32(eChlid_TD_Sync));
    QCOMPARE(frame.payload(), second);
    service.onFrameWritten(1);
    QVERIFY(service.queue().isEmpty());

    QCOMPARE(ticksToNextOffer(spy), -1); // keep-awake off: nothing
}

void TestFrameInterface::serviceSendsKeepAwakeOnLowestChannel()
{
    drainService();
    gSendEmptyKeepAwake = true;
    FrameInterface &service = FrameInterface::I();
    FrameRecorder spy(service);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(ticksToNextOffer(spy), 7);
        const QCanBusFrame frame = spy.last();
        QCOMPARE(frame.frameId(), 0x7FFu);
        QVERIFY(frame.payload().isEmpty());
        QCOMPARE(frame.frameType(), QCanBusFrame::DataFrame);
        service.onFrameWritten(1);
    }
}

void TestFrameInterface::serviceRoutesConfirmationAndWriteResult()
{
    drainService();
    gSendEmptyKeepAwake = true;
    FrameInterface &service = FrameInterface::I();
    FrameRecorder spy(service);

    QCOMPARE(ticksToNextOffer(spy), 7); // keep-awake in flight
    service.onFrameTransmit(eChlid_TD_UI, {QByteArray(8, char(0x33))});
    service.onFrameWritten(1); // confirms the keep-awake frame only
    QCOMPARE(service.queue().size(), 1);

    QCOMPARE(ticksToNextOffer(spy), 7);
    QCOMPARE(spy.last().frameId(), quint32(eChlid_TD_UI));
    service.onFrameTransmitResult(false); // the device could not write it
    QCOMPARE(service.queue().size(), 1);
    QCOMPARE(ticksToNextOffer(spy), 7); // offered again at the next step
    QCOMPARE(spy.last().frameId(), quint32(eChlid_TD_UI));
    service.onFrameTransmitResult(true);
    service.onFrameWritten(1);
    QVERIFY(service.queue().isEmpty());
    service.onFrameWritten(1); // stale
    QVERIFY(service.queue().isEmpty());
}

void TestFrameInterface::serviceDropsOversizeFrameWithoutBlockingQueue()
{
    drainService();
    FrameInterface &service = FrameInterface::I();
    FrameRecorder spy(service);
    service.onFrameTransmit(eChlid_TD_UI, {QByteArray(9, char(1))});
    service.onFrameTransmit(eChlid_TD_UI, {QByteArray(8, char(2))});

    QCOMPARE(ticksToNextOffer(spy, 21), 14); // the long one is not sent...
    QCOMPARE(_log.contents(), QStringList{QStringLiteral("Payload cannot be larger than 8 bytes")});
    // ...and does not hold up the frame behind it.
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.last().payload(), QByteArray(8, char(2)));
    service.onFrameWritten(1);
    QVERIFY(service.queue().isEmpty());
}

void TestFrameInterface::serviceTimerRunsOnlyWhileThereIsSomethingToSend()
{
    drainService();
    FrameInterface &service = FrameInterface::I();
    FrameRecorder spy(service);
    QVERIFY(!service.isPacing()); // idle: no wake-ups at all
    service.onFrameTransmit(eChlid_TD_UI, {QByteArray(8, char(1)), QByteArray(8, char(2))});
    QVERIFY(service.isPacing());
    QCOMPARE(ticksToNextOffer(spy), 7);
    service.onFrameWritten(1);
    QVERIFY(service.isPacing());
    QCOMPARE(ticksToNextOffer(spy), 7);
    service.onFrameWritten(1);
    QVERIFY(service.queue().isEmpty());
    QVERIFY(!service.isPacing());
}

// The dispatcher hands messages over from its own thread. The first on an
// idle interface wakes it and goes at once; those behind it, and those that
// come while it paces, wait for its steps: all go, in order, 7 ms apart.
void TestFrameInterface::serviceTakesMessagesFromAnotherThread()
{
    drainService();
    _nowNs += 7 * kMs; // the last offer is long past
    FrameInterface &service = FrameInterface::I();
    FrameRecorder spy(service);
    const auto handOver = [&service](QList<int> payloads) {
        QScopedPointer<QThread> dispatcher(QThread::create([&service, payloads] {
            for (int payload : payloads)
                service.onFrameTransmit(eChlid_TD_UI, {QByteArray(8, char(payload))});
        }));
        dispatcher->start();
        dispatcher->wait();
    };
    handOver({1, 2});
    QCOMPARE(spy.count(), 0); // nothing runs on the sender's thread
    QTRY_COMPARE(spy.count(), 1);
    handOver({3});
    QCoreApplication::processEvents();
    for (int payload = 1; payload <= 3; ++payload) {
        if (payload > 1)
            QCOMPARE(ticksToNextOffer(spy), 7);
        QCOMPARE(spy.count(), payload);
        QCOMPARE(spy.last().payload(), QByteArray(8, char(payload)));
        service.onFrameWritten(1);
    }
    QVERIFY(!service.isPacing());
}

// Behind a long transmit queue a received frame waits for the next pacing
// step, and the ones after it too, in order; with the queue gone they pass
// at once again.
void TestFrameInterface::serviceHoldsReceivedFramesBehindALongQueue()
{
    drainService();
    FrameInterface &service = FrameInterface::I();
    FrameRecorder sent(service);
    QSignalSpy received(&service, &FrameInterface::didFrameReceive);
    for (int i = 0; i < 3; ++i)
        service.onFrameTransmit(eChlid_TD_UI, {QByteArray(8, char(i))});
    for (int i = 1; i <= 2; ++i)
        service.onFrameReceive(QCanBusFrame(eChlid_UI_TD, QByteArray(8, char(i))));
    QCOMPARE(received.count(), 0);
    _nowNs += 7 * kMs; // the pacing timer's step, which fires for real here
    QTRY_COMPARE(received.count(), 2);
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray(8, char(1)));
    QCOMPARE(received.at(1).at(1).toByteArray(), QByteArray(8, char(2)));
    drainService();
    service.onFrameReceive(QCanBusFrame(eChlid_UI_TD, QByteArray(8, char(3))));
    QCOMPARE(received.count(), 3);
}

void TestFrameInterface::serviceInitOnceAndWiredToDevice()
{
    drainService();
    FrameInterface &service = FrameInterface::I();
    QVERIFY(service.init());
    QCOMPARE(_log.contents(), QStringList{QStringLiteral("Can::FrameInterface Initialized")});
    QVERIFY(!service.init());
    QThread thread;
    QVERIFY(!service.init(thread));
    QVERIFY(!thread.isRunning());
    QCOMPARE(_log.contents().size(), 1);

    // Wired to a CAN interface without a device: every write fails, so the
    // head is offered to it again every 7 ms and stays queued.
    CanInterface &device = CanInterface::I();
    const FrameCount before = device.txFrameCount();
    service.onFrameTransmit(eChlid_TD_UI, {QByteArray(8, char(7))});
    for (int t = 0; t < 21; ++t)
        step();
    QCOMPARE(device.txFrameCount(), before + 3);
    QCOMPARE(service.queue().size(), 1);
    QCOMPARE(service.queue().inFlight(), TransmitQueue::eInFlight_None);
}

QTEST_GUILESS_MAIN(TestFrameInterface)
#include "tst_frameinterface.moc"
