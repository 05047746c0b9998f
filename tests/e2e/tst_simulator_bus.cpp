#include <QtTest>

#include <csignal>

#include "common/ServiceProcess.h"
#include "common/UiBoard.h"

// The real service on the virtual bus answers the UI's initiate-treatment
// request and moves to pre-treatment, which its operation-mode broadcasts
// show.
class TestSimulatorBus : public QObject
{
    Q_OBJECT

    static constexpr int kWait = 15000; // ms; generous, the machine may be busy

private slots:
    void initiateTreatmentMovesToPreTreatment()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        UiBoard ui;
        QString error;
        QVERIFY2(ui.open(error), qPrintable(error));
        const QString mode = QStringLiteral("mode");
        // Standby announces itself once a second.
        QVERIFY(ui.waitFor(0, Can::ID_TD_OP_MODE_DATA, mode, Can::MODE_STAN, kWait) >= 0);
        QVERIFY(ui.waitFor(0, Can::ID_TD_OP_MODE_DATA, mode, Can::MODE_PRET, 0) < 0);

        const int mark = ui.mark();
        QVERIFY2(ui.send(QStringLiteral("ID_INITIATE_TREATMENT"), {QStringLiteral("request=1")}) != 0,
                 qPrintable(ui.error()));
        QVERIFY(ui.waitFor(mark, Can::ID_TD_OP_MODE_DATA, mode, Can::MODE_PRET, kWait) >= 0);

        // The response on the TD-to-UI channel: accepted, no reason.
        const int answer = ui.waitFor(mark, Can::eChlid_TD_UI, Can::ID_TD_RESP_INITIATE_TREATMENT, 0);
        QVERIFY(answer >= 0);
        const ReceivedMessage &response = ui.session().history().at(answer);
        QCOMPARE(response.payload.size(), 8);
        QCOMPARE(ui.decode(response).value(QStringLiteral("accepted")).toInt(), 1);
        QCOMPARE(ui.decode(response).value(QStringLiteral("rejectReason")).toInt(), 0);
        QCOMPARE(service.stop(SIGTERM), 0);
    }
};

QTEST_GUILESS_MAIN(TestSimulatorBus)
#include "tst_simulator_bus.moc"
