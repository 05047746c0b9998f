#include <QtTest>

#include <QElapsedTimer>
#include <QPointer>

#include "canbus/FrameInterface.h"
#include "common/LogSpy.h"
#include "canbus/MessageAcknowModel.h"
#include "canbus/MessageDispatcher.h"
#include "MessageFactory.h"
#include "Threads.h"

using namespace Can;
using Can::Private::AcknowModel;

class TestMessageAcknowModel : public QObject
{
    Q_OBJECT

private:
    MessageAcknowModel &model() { return MessageAcknowModel::I(); }
    // The pending entry of a sequence, or null.
    AcknowModel *entry(Sequence sequence);
    static void flushDeletions() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

private slots:
    void initTestCase();
    void cleanup();

    // Entries on their own
    void entryResendsFiveTimesThenFailsOnce();

    // The service
    void fiveResendsThenOneFailure();
    void acknowledgementAfterTwoResendsStopsIt();
    void acknowledgementForUnknownSequenceChangesNothing();
    void sameSequenceReplacesItsEntry();
    void firstResendComesAfterOneSecond();
    void quitDeletesPendingEntries();

    // Wiring to the dispatcher
    void dispatcherSignalsReachTheModel();
    void receivedAcknowledgementFrameStopsTheEntry();
};

AcknowModel *TestMessageAcknowModel::entry(Sequence sequence)
{
    const auto entries = model().findChildren<AcknowModel *>();
    for (AcknowModel *candidate : entries)
        if (candidate->sequence() == sequence)
            return candidate;
    return nullptr;
}

void TestMessageAcknowModel::initTestCase()
{
    Threads::registerTypes();
    QVERIFY(model().init());
    QVERIFY(!model().init());
}

void TestMessageAcknowModel::cleanup()
{
    model().quit();
    flushDeletions();
    QVERIFY(model().findChildren<AcknowModel *>().isEmpty());
}

void TestMessageAcknowModel::entryResendsFiveTimesThenFailsOnce()
{
    const FrameList frames = MessageFactory::frames(0x4600, 3, QByteArray(12, '\x01'));
    AcknowModel single(eChlid_TD_UI, 3, frames);
    QSignalSpy resent(&single, &AcknowModel::didFramesTransmit);
    QSignalSpy failed(&single, &AcknowModel::didFailedTransmit);

    for (int i = 0; i < 5; ++i)
        single.tick();
    QCOMPARE(resent.count(), 5);
    QCOMPARE(failed.count(), 0);
    for (const QList<QVariant> &arguments : resent) {
        QCOMPARE(arguments.at(0).value<Can_Id>(), eChlid_TD_UI);
        QCOMPARE(arguments.at(1).value<Sequence>(), Sequence(3));
        QCOMPARE(arguments.at(2).value<FrameList>(), frames);
    }

    single.tick();
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().value<Sequence>(), Sequence(3));

    // Given up for good: the retry count does not wrap into new re-sends.
    for (int i = 0; i < 300; ++i)
        single.tick();
    QCOMPARE(resent.count(), 5);
    QCOMPARE(failed.count(), 1);
}

void TestMessageAcknowModel::fiveResendsThenOneFailure()
{
    QSignalSpy resent(&model(), &MessageAcknowModel::didFramesTransmit);
    QSignalSpy failed(&model(), &MessageAcknowModel::didFailedTransmit);
    LogSpy log;
    const FrameList frames = MessageFactory::frames(0x4000, 21, QByteArray(4, '\0'));

    model().onAcknowTransmit(eChlid_TD_UI, 21, frames);
    QPointer<AcknowModel> pending = entry(21);
    QVERIFY(pending);
    for (int i = 0; i < 6 && pending; ++i)
        pending->tick();

    QCOMPARE(resent.count(), 5);
    QCOMPARE(resent.last().at(2).value<FrameList>(), frames);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().value<Sequence>(), Sequence(21));
    QCOMPARE(log.contents(), QStringList{QStringLiteral("Acknow retry failed for sequence 21")});
    flushDeletions();
    QVERIFY(pending.isNull());
}

void TestMessageAcknowModel::acknowledgementAfterTwoResendsStopsIt()
{
    QSignalSpy resent(&model(), &MessageAcknowModel::didFramesTransmit);
    QSignalSpy failed(&model(), &MessageAcknowModel::didFailedTransmit);

    model().onAcknowTransmit(eChlid_TD_UI, 22, MessageFactory::frames(0x4000, 22));
    QPointer<AcknowModel> pending = entry(22);
    QVERIFY(pending);
    pending->tick();
    pending->tick();
    model().onAcknowReceive(22);
    // Should a tick slip in before the deferred deletion, it goes nowhere.
    for (int i = 0; i < 6; ++i)
        pending->tick();
    flushDeletions();

    QVERIFY(pending.isNull());
    QCOMPARE(resent.count(), 2);
    QCOMPARE(failed.count(), 0);
}

void TestMessageAcknowModel::acknowledgementForUnknownSequenceChangesNothing()
{
    QSignalSpy resent(&model(), &MessageAcknowModel::didFramesTransmit);
    QSignalSpy failed(&model(), &MessageAcknowModel::didFailedTransmit);
    LogSpy log;

    model().onAcknowTransmit(eChlid_TD_UI, 23, MessageFactory::frames(0x4000, 23));
    model().onAcknowReceive(99);
    model().onAcknowReceive(-23);
    flushDeletions();

    QPointer<AcknowModel> pending = entry(23);
    QVERIFY(pending);
    pending->tick();
    QCOMPARE(resent.count(), 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(log.lines().size(), 0);
}

void TestMessageAcknowModel::sameSequenceReplacesItsEntry()
{
    QSignalSpy resent(&model(), &MessageAcknowModel::didFramesTransmit);
    const FrameList first = MessageFactory::frames(0x4000, 24);
    const FrameList second = MessageFactory::frames(0x4200, 24);

    model().onAcknowTransmit(eChlid_TD_UI, 24, first);
    QPointer<AcknowModel> stale = entry(24);
    model().onAcknowTransmit(eChlid_TD_UI, 24, second);
    stale->tick(); // cut off already, though not yet deleted
    flushDeletions();

    QVERIFY(stale.isNull());
    QCOMPARE(model().findChildren<AcknowModel *>().size(), 1);
    entry(24)->tick();
    QCOMPARE(resent.count(), 1);
    QCOMPARE(resent.first().at(2).value<FrameList>(), second);
}

void TestMessageAcknowModel::firstResendComesAfterOneSecond()
{
    QSignalSpy resent(&model(), &MessageAcknowModel::didFramesTransmit);
    QElapsedTimer clock;
    clock.start();

    model().onAcknowTransmit(eChlid_TD_UI, 25, MessageFactory::frames(0x4000, 25));

    QVERIFY(resent.wait(3000));
    // A coarse timer may be off by 5 %.
    QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(resent.count(), 1);
    model().onAcknowReceive(25);
}

void TestMessageAcknowModel::quitDeletesPendingEntries()
{
    model().onAcknowTransmit(eChlid_TD_UI, 26, MessageFactory::frames(0x4000, 26));
    model().onAcknowTransmit(eChlid_TD_Sync, 27, MessageFactory::frames(0x4000, 27));
    QCOMPARE(model().findChildren<AcknowModel *>().size(), 2);

    model().quit();

    // At once, not deferred: the service may be leaving its thread.
    QVERIFY(model().findChildren<AcknowModel *>().isEmpty());
    QCOMPARE(model().thread(), QCoreApplication::instance()->thread());
}

void TestMessageAcknowModel::dispatcherSignalsReachTheModel()
{
    QSignalSpy resent(&model(), &MessageAcknowModel::didFramesTransmit);

    emit MessageDispatcher::I().didAcknowTransmit(eChlid_TD_UI, 28, MessageFactory::frames(0x4000, 28));
    QVERIFY(entry(28));
    emit MessageDispatcher::I().didAcknowReceive(28);
    flushDeletions();
    QVERIFY(!entry(28));
    QCOMPARE(resent.count(), 0);
}

void TestMessageAcknowModel::receivedAcknowledgementFrameStopsTheEntry()
{
    QVERIFY(MessageDispatcher::I().init());
    QObject::disconnect(&MessageDispatcher::I(), &MessageDispatcher::didFrameTransmit, &FrameInterface::I(), nullptr);
    QSignalSpy failed(&MessageDispatcher::I(), &MessageDispatcher::didFailedTransmit);

    model().onAcknowTransmit(eChlid_TD_UI, 29, MessageFactory::frames(0x4000, 29));
    model().onAcknowTransmit(eChlid_TD_UI, 30, MessageFactory::frames(0x4000, 30));
    // The UI board acknowledges 29 only.
    for (const QByteArray &frame : MessageFactory::frames(ID_Acknow, 29))
        MessageDispatcher::I().onFrameReceive(eChlid_UI_TD, frame);
    flushDeletions();

    QVERIFY(!entry(29));
    QPointer<AcknowModel> unanswered = entry(30);
    QVERIFY(unanswered);
    for (int i = 0; i < 6 && unanswered; ++i)
        unanswered->tick();
    // Its failure travels on through the dispatcher.
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().value<Sequence>(), Sequence(30));
}

QTEST_GUILESS_MAIN(TestMessageAcknowModel)
#include "tst_messageacknowmodel.moc"
