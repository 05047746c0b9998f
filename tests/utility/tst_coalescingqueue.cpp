#include <QtTest>

#include <atomic>

#include "utility/CoalescingQueue.h"

// Items pushed from any thread reach the receiver's thread in order: after a
// quiet spell the first at once and alone, the next at once too, and the ones
// within the window after that together.
class TestCoalescingQueue : public QObject
{
    Q_OBJECT

private slots:
    void quietItemAloneThenTheWindowTogether()
    {
        QThread thread;
        auto *receiver = new QObject;
        QMutex mutex;
        QList<QVector<int>> batches;
        std::atomic<int> count{0};
        std::atomic<bool> onReceiverThread{true};
        CoalescingQueue<int> queue(receiver, 300, [&](const QVector<int> &items) {
            onReceiverThread = onReceiverThread && QThread::currentThread() == &thread;
            QMutexLocker lock(&mutex);
            batches << items;
            ++count;
        });
        receiver->moveToThread(&thread);
        thread.start();

        for (int round = 0; round < 2; ++round) {
            const int base = round * 10;
            for (int i = 1; i <= 2; ++i) {
                queue.push(base + i);
                QTRY_COMPARE(count.load(), 3 * round + i);
            }
            for (int i = 3; i <= 4; ++i)
                queue.push(base + i);
            QTRY_COMPARE_WITH_TIMEOUT(count.load(), 3 * round + 3, 3000);
            // A window without items closes it: the next item goes at once.
            QTest::qWait(700);
        }
        QMutexLocker lock(&mutex);
        QCOMPARE(batches, (QList<QVector<int>>{{1}, {2}, {3, 4}, {11}, {12}, {13, 14}}));
        QVERIFY(onReceiverThread);
        lock.unlock();
        receiver->deleteLater();
        thread.quit();
        thread.wait();
    }

    void deliverAllTakesWhatTheDeliveriesPush()
    {
        // A delivery may push again (a log line that logs another): all of
        // it is delivered before deliverAll returns, as at shutdown.
        QObject receiver;
        QVector<int> delivered;
        CoalescingQueue<int> *self = nullptr;
        CoalescingQueue<int> queue(&receiver, 1000, [&](const QVector<int> &items) {
            delivered += items;
            if (items.contains(1))
                self->push(2);
        });
        self = &queue;
        queue.push(1);
        queue.deliverAll();
        QCOMPARE(delivered, (QVector<int>{1, 2}));
        QVERIFY(!queue.hasPending());
    }
};

QTEST_GUILESS_MAIN(TestCoalescingQueue)
#include "tst_coalescingqueue.moc"
