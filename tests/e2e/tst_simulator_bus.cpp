#include <QtTest>

#include <csignal>

#include "BusClient.h"
#include "ServiceProcess.h"

// The real service on the virtual bus answers the UI's initiate-treatment
// request and moves to pre-treatment, which its operation-mode broadcasts
// show.

namespace {

constexpr int kWait = 15000; // ms; generous, the machine may be busy

// The operation mode of the first frame of each operation-mode broadcast
// on the TD's broadcast channel.
QList<int> operationModes(const BusClient &bus)
{
    QList<int> modes;
    for (const QCanBusFrame &frame : bus.frames(Can::eChlid_TD_Sync)) {
        const QByteArray bytes = frame.payload();
        if (bytes.size() == 8 && quint8(bytes.at(0)) == Can::ePayload_Sync && quint8(bytes.at(3)) == 0x12 &&
            quint8(bytes.at(4)) == 0x00 && quint8(bytes.at(5)) == 8)
            modes << (quint8(bytes.at(6)) | (quint8(bytes.at(7)) << 8));
    }
    return modes;
}

bool waitForMode(BusClient &bus, int mode)
{
    QDeadlineTimer deadline(kWait);
    while (!deadline.hasExpired()) {
        if (operationModes(bus).contains(mode))
            return true;
        QTest::qWait(20);
    }
    return false;
}

} // namespace

class TestSimulatorBus : public QObject
{
    Q_OBJECT

private slots:
    void initiateTreatmentMovesToPreTreatment()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        BusClient bus;
        QVERIFY(bus.connectBus());
        // Standby announces itself once a second.
        QVERIFY(waitForMode(bus, Can::MODE_STAN));
        QVERIFY(!operationModes(bus).contains(Can::MODE_PRET));

        QByteArray request(4, '\0');
        request[0] = 1;
        QVERIFY(bus.sendMessage(Can::eChlid_UI_TD, Can::ID_INITIATE_TREATMENT, 5, request));
        QVERIFY(waitForMode(bus, Can::MODE_PRET));

        // The response on the TD-to-UI channel: accepted 1, reason 0.
        bool answered = false;
        for (const QCanBusFrame &frame : bus.frames(Can::eChlid_TD_UI)) {
            const QByteArray bytes = frame.payload();
            if (bytes.size() >= 6 && quint8(bytes.at(0)) == Can::ePayload_Sync && quint8(bytes.at(3)) == 0x46 &&
                quint8(bytes.at(4)) == 0x00 && quint8(bytes.at(5)) == 8 && bytes.mid(6, 2) == QByteArray("\x01\x00", 2))
                answered = true;
        }
        QVERIFY(answered);
        QCOMPARE(service.stop(SIGTERM), 0);
    }
};

QTEST_GUILESS_MAIN(TestSimulatorBus)
#include "tst_simulator_bus.moc"
