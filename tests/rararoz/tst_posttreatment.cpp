#include <QtTest>

#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// After the treatment: patient disconnection, disposables removal and the
// dry bicarbonate cartridge with its progress broadcast.

namespace {

using Messages = SimulatorDriver::Messages;

struct Bicart {
    quint32 showDialog;
    quint32 total;
    quint32 progress;
    quint32 drain;
    quint32 depressurise;
};

Bicart bicart(const QVariantList &message)
{
    return {message.at(2).toUInt(), message.at(3).toUInt(), message.at(4).toUInt(), message.at(5).toUInt(),
            message.at(6).toUInt()};
}

} // namespace

class TestPostTreatment : public SimulatorTest
{
    Q_OBJECT

private:
    void enterPostTx() { QVERIFY(d().enterByDemoMenu(CMD_POST_TX, Chart::State::Post_Tx)); }
    void requestBicart(Dry_Bicart_Action action)
    {
        d().request(Can::ID_UI_DRY_BICART_DISCONNECT_RQST, SimulatorDriver::u32(quint32(action)));
    }

private slots:

    void patientDisconnectAndDisposablesRemovalAreAccepted()
    {
        enterPostTx();
        d().requestWithoutPayload(Can::ID_UI_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RQST);
        d().requestWithoutPayload(Can::ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST);
        d().tick();
        const Messages sent = d().tick();
        const int disconnect = SimulatorDriver::indexOf(sent, Can::ID_TD_PATIENT_DISCONNECT_CONFIRM_RESP);
        const int removal = SimulatorDriver::indexOf(sent, Can::ID_TD_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RESP);
        QVERIFY(disconnect >= 0);
        QVERIFY(disconnect < removal);
        QCOMPARE(SimulatorDriver::payloadBytes(sent.at(disconnect)), encodedPayload({1u, 0}));
        QCOMPARE(SimulatorDriver::payloadBytes(sent.at(removal)), encodedPayload({1u, 0}));
        QCOMPARE(d().controller().treatmentSubStates().postTxState, TD_POST_TREATMENT_PATIENT_DISCONNECTION_STATE);
        QCOMPARE(d().state(), Chart::State::Post_Tx);
    }

    void postTreatmentRequestsWaitForPostTx()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().requestWithoutPayload(Can::ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST);
        requestBicart(DRY_BICART_ACTION_DRAIN);
        const Messages sent = d().ticks(30);
        QVERIFY(SimulatorDriver::withId(sent, Can::ID_TD_PATIENT_DISCONNECT_CONFIRM_RESP).isEmpty());
        QVERIFY(SimulatorDriver::withId(sent, Can::ID_TD_DRY_BICART_DISCONNECT_RESP).isEmpty());
        QVERIFY(SimulatorDriver::withId(sent, Can::ID_TD_DRY_BICART_DISCONNECT_DATA).isEmpty());
        d().demoMenu(CMD_POST_TX);
        QVERIFY(d().tickUntilState(Chart::State::Post_Tx));
        const Messages answered = d().ticks(2);
        QCOMPARE(SimulatorDriver::withId(answered, Can::ID_TD_PATIENT_DISCONNECT_CONFIRM_RESP).size(), 1);
        QCOMPARE(SimulatorDriver::withId(answered, Can::ID_TD_DRY_BICART_DISCONNECT_RESP).size(), 1);
    }

    void drainRunsHalfAPercentPerTickFor200Ticks()
    {
        // The Post_Tx entry starts a drain from 0; each step adds 0.5 %.
        enterPostTx();
        QCOMPARE(status().bicartProgress, 0.5f);
        d().ticks(198);
        QCOMPARE(status().bicartProgress, 99.5f);
        QCOMPARE(status().bicartDrainInProgress, 1u);
        d().tick();
        QCOMPARE(status().bicartProgress, 100.0f);
        QCOMPARE(status().bicartDrainInProgress, 0u);
        d().ticks(20);
        QCOMPARE(status().bicartProgress, 100.0f);
    }

    void progressIsSentWithoutItsFraction()
    {
        enterPostTx();
        while (status().bicartProgress < 99.0f)
            d().tick();
        QCOMPARE(status().bicartProgress, 99.0f);
        // A request broadcasts at once; its own call brings 99 to 99.5.
        requestBicart(DRY_BICART_ACTION_DONE);
        d().tick();
        const Messages sent = SimulatorDriver::withId(d().tick(), Can::ID_TD_DRY_BICART_DISCONNECT_DATA);
        QVERIFY(!sent.isEmpty());
        QCOMPARE(sent.first().at(1).toInt(), int(Can::eChlid_TD_Sync));
        QCOMPARE(SimulatorDriver::payloadBytes(sent.first()), encodedPayload({0u, 100u, 99u, 1u, 0u}));
        QCOMPARE(status().bicartProgress, 100.0f);
    }

    void broadcastOncePerSecondAndOncePerRequest()
    {
        enterPostTx();
        d().tick();
        QCOMPARE(SimulatorDriver::withId(d().ticks(100), Can::ID_TD_DRY_BICART_DISCONNECT_DATA).size(), 10);
        requestBicart(DRY_BICART_ACTION_DEPRESSURIZE);
        const Messages sent = d().ticks(100);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_DRY_BICART_DISCONNECT_DATA).size(), 11);
        const Messages response = SimulatorDriver::withId(sent, Can::ID_TD_DRY_BICART_DISCONNECT_RESP);
        QCOMPARE(response.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(response.first()), encodedPayload({1u, 0}));
    }

    void postTxNeverShowsTheDialog()
    {
        enterPostTx();
        Messages broadcasts;
        for (Dry_Bicart_Action action :
             {DRY_BICART_ACTION_DRAIN, DRY_BICART_ACTION_DEPRESSURIZE, DRY_BICART_ACTION_CANCEL}) {
            requestBicart(action);
            d().tick();
            QCOMPARE(status().bicartAction, action);
            broadcasts.append(SimulatorDriver::withId(d().ticks(30), Can::ID_TD_DRY_BICART_DISCONNECT_DATA));
        }
        QVERIFY(broadcasts.size() >= 6);
        for (const QVariantList &message : broadcasts)
            QCOMPARE(bicart(message).showDialog, 0u);
    }

    void drainAndDepressuriseEndTogether()
    {
        enterPostTx();
        d().ticks(10);
        requestBicart(DRY_BICART_ACTION_DEPRESSURIZE);
        d().tick();
        QCOMPARE(status().bicartDrainInProgress, 1u);
        QCOMPARE(status().bicartDepresInProgress, 1u);
        // The request restarted the progress: its broadcast and the step's
        // own call each added half a percent.
        QCOMPARE(status().bicartProgress, 1.0f);
        d().ticks(197);
        QCOMPARE(status().bicartProgress, 99.5f);
        QCOMPARE(status().bicartDrainInProgress, 1u);
        QCOMPARE(status().bicartDepresInProgress, 1u);
        d().tick();
        QCOMPARE(status().bicartDrainInProgress, 0u);
        QCOMPARE(status().bicartDepresInProgress, 0u);
    }

    void cancelStopsAndClears()
    {
        enterPostTx();
        d().ticks(40);
        requestBicart(DRY_BICART_ACTION_CANCEL);
        d().tick();
        QCOMPARE(status().bicartProgress, 0.0f);
        QCOMPARE(status().bicartDrainInProgress, 0u);
        QCOMPARE(status().bicartDepresInProgress, 0u);
        d().ticks(30);
        QCOMPARE(status().bicartProgress, 0.0f);
        // A new drain starts over from 0.
        requestBicart(DRY_BICART_ACTION_DRAIN);
        d().tick();
        QCOMPARE(status().bicartProgress, 1.0f);
    }

    void unknownActionOnlyHidesTheDialog()
    {
        enterPostTx();
        d().ticks(10);
        const float progress = status().bicartProgress;
        d().request(Can::ID_UI_DRY_BICART_DISCONNECT_RQST, SimulatorDriver::u32(77));
        d().tick();
        QCOMPARE(int(status().bicartAction), 77);
        QCOMPARE(status().bicartShowDialog, 0u);
        QCOMPARE(status().bicartProgress, progress + 1.0f);
        QCOMPARE(SimulatorDriver::withId(d().tick(), Can::ID_TD_DRY_BICART_DISCONNECT_RESP).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPostTreatment)
#include "tst_posttreatment.moc"
