#include <QtTest>

#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// Blood pressure readings on request, and the measurement interval.

namespace {

using Messages = SimulatorDriver::Messages;

QByteArray intervalRequest(quint32 minutes)
{
    // The interval is the fifth field; the four before it are not read.
    return QByteArray(16, '\x5A') + SimulatorDriver::u32(minutes);
}

} // namespace

class TestVitals : public SimulatorTest
{
    Q_OBJECT

private slots:
    void readingRequestGetsOneResponseAndOneReading_data() { SimulatorDriver::addDemoMenuStateRows(); }

    void readingRequestGetsOneResponseAndOneReading()
    {
        QFETCH(int, command);
        QFETCH(QString, state);
        QVERIFY(d().enterByDemoMenu(User_Command_ID(command), state));
        d().requestWithoutPayload(Can::ID_UI_BLOOD_PRESSURE_RQST);
        d().tick();
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_BLOOD_PRESSURE_RQST));
        const Messages sent = d().ticks(5);
        const Messages responses = SimulatorDriver::withId(sent, Can::ID_TD_BLOOD_PRESSURE_READING_RESP);
        QCOMPARE(responses.size(), 1);
        QCOMPARE(responses.first().at(1).toInt(), int(Can::eChlid_TD_UI));
        QCOMPARE(SimulatorDriver::payloadBytes(responses.first()), encodedPayload({1u, 0}));
        const Messages readings = SimulatorDriver::withId(sent, Can::ID_TD_BLOOD_PRESSURE_DATA);
        QCOMPARE(readings.size(), 1);
        const QVariantList &reading = readings.first();
        QCOMPARE(reading.at(1).toInt(), int(Can::eChlid_TD_Sync));
        QCOMPARE(SimulatorDriver::payloadBytes(reading).size(), 12);
        QCOMPARE(SimulatorDriver::field(reading, 0).userType(), int(QMetaType::UInt));
        // Broadcasts go out before responses.
        QVERIFY(SimulatorDriver::indexOf(sent, Can::ID_TD_BLOOD_PRESSURE_DATA) <
                SimulatorDriver::indexOf(sent, Can::ID_TD_BLOOD_PRESSURE_READING_RESP));
    }

    void readingInTreatmentPause()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().demoMenu(CMD_TX_STOP);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Pause));
        d().requestWithoutPayload(Can::ID_UI_BLOOD_PRESSURE_RQST);
        const Messages sent = d().ticks(3);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_BLOOD_PRESSURE_READING_RESP).size(), 1);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_BLOOD_PRESSURE_DATA).size(), 1);
    }

    void readingsStayInTheirHalfOpenRanges()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        QSet<quint32> systolic, diastolic, heartRate;
        for (int i = 0; i < 3000; ++i) {
            d().requestWithoutPayload(Can::ID_UI_BLOOD_PRESSURE_RQST);
            for (const QVariantList &reading : SimulatorDriver::withId(d().tick(), Can::ID_TD_BLOOD_PRESSURE_DATA)) {
                systolic << SimulatorDriver::field(reading, 0).toUInt();
                diastolic << SimulatorDriver::field(reading, 1).toUInt();
                heartRate << SimulatorDriver::field(reading, 2).toUInt();
            }
        }
        // Every value of each range comes up, and none beyond it: no 120,
        // 80 or 100.
        QCOMPARE(systolic.size(), 20);
        QCOMPARE(diastolic.size(), 20);
        QCOMPARE(heartRate.size(), 20);
        for (quint32 value = 100; value < 120; ++value)
            QVERIFY(systolic.contains(value));
        for (quint32 value = 60; value < 80; ++value)
            QVERIFY(diastolic.contains(value));
        for (quint32 value = 80; value < 100; ++value)
            QVERIFY(heartRate.contains(value));
    }

    void repeatedRequestsInOneTickGiveOneReading()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        for (int i = 0; i < 5; ++i)
            d().requestWithoutPayload(Can::ID_UI_BLOOD_PRESSURE_RQST);
        const Messages sent = d().ticks(3);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_BLOOD_PRESSURE_READING_RESP).size(), 1);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_BLOOD_PRESSURE_DATA).size(), 1);
    }

    void intervalIsStoredInMilliseconds_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<quint32>("stored");
        QTest::newRow("15 min") << intervalRequest(15) << 900000u;
        QTest::newRow("0 min") << intervalRequest(0) << 0u;
        QTest::newRow("largest that fits") << intervalRequest(71582) << 71582u * 60000u;
        // Beyond the field: held at its largest value, not wrapped.
        QTest::newRow("beyond") << intervalRequest(71583) << 0xFFFFFFFFu;
        QTest::newRow("huge") << intervalRequest(0xFFFFFFFFu) << 0xFFFFFFFFu;
        QTest::newRow("short") << QByteArray(18, '\x01') << 0u;
    }

    void intervalIsStoredInMilliseconds()
    {
        QFETCH(QByteArray, payload);
        QFETCH(quint32, stored);
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        QCOMPARE(d().controller().treatmentParams().bloodPressureIntervalMin, 1800000u);
        d().request(Can::ID_UI_VITALS_ADJUSTMENT_RQST, payload);
        d().tick();
        QCOMPARE(d().controller().treatmentParams().bloodPressureIntervalMin, stored);
        const Messages responses = SimulatorDriver::withId(d().tick(), Can::ID_TD_VITALS_ADJUSTMENT_RESP);
        QCOMPARE(responses.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(responses.first()), encodedPayload({1u, 0, 0, 0, 0, 0}));
    }

    void intervalStartsNoPeriodicReading()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().request(Can::ID_UI_VITALS_ADJUSTMENT_RQST, intervalRequest(1));
        const Messages sent = d().ticks(1500);
        QCOMPARE(d().controller().treatmentParams().bloodPressureIntervalMin, 60000u);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_BLOOD_PRESSURE_DATA).size(), 0);
    }

    void intervalChangeIsServedInTreatmentOnly()
    {
        QVERIFY(d().enterByDemoMenu(CMD_RINSEBACK, Chart::State::Treatment_Rinseback));
        d().request(Can::ID_UI_VITALS_ADJUSTMENT_RQST, intervalRequest(5));
        const Messages sent = d().ticks(5);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_VITALS_ADJUSTMENT_RESP).size(), 0);
        QVERIFY(d().controller().receivedRequests().isParked(Can::ID_UI_VITALS_ADJUSTMENT_RQST));
        QCOMPARE(d().controller().treatmentParams().bloodPressureIntervalMin, 1800000u);
    }
};

QTEST_GUILESS_MAIN(TestVitals)
#include "tst_vitals.moc"
