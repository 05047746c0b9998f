#include <QScopeGuard>
#include <QtTest>

#include <csignal>

#include "rararoz/ReceivedRequests.h"
#include "common/ServiceProcess.h"
#include "common/UiBoard.h"

// The real service on the virtual bus answers every request the simulator
// takes, each in a state that serves it; the demo menu moves it from state
// to state. One row per request, so that one unanswered request does not
// hide the others.

namespace {

// The state a request is served in: the demo-menu command that reaches it
// and the operation mode it announces.
struct Stage {
    const char *label;
    int command;
    int mode;
};

const Stage kStandby{"standby", 0, 3};
const Stage kPreTreatment{"pre-treatment", 1, 4};
const Stage kBloodPrime{"blood prime", 2, 5};
const Stage kTreatment{"treatment", 3, 5};
const Stage kRinseback{"rinseback", 4, 5};
const Stage kRecirculation{"recirculation", 5, 5};
const Stage kTreatmentEnd{"treatment end", 7, 5};
const Stage kPostTreatment{"post-treatment", 8, 6};

// One request, its fields by name, and the message that shows it was
// served: its definition's response unless named.
struct Case {
    Stage stage;
    QString request;
    QStringList values;
    QString answer;
};

QStringList prescription()
{
    // Modality, dilution and acid concentrate 0: later set-point and HDF
    // requests resend them unchanged and so raise no alarm.
    return {QStringLiteral("finalConfirmation=1"),
            QStringLiteral("treatmentModality=0"),
            QStringLiteral("hdfDilution=0"),
            QStringLiteral("bloodFlowMLPM=400"),
            QStringLiteral("dialysateFlowMLPM=350"),
            QStringLiteral("treatmentDurationMin=240"),
            QStringLiteral("heparinDeliveryDurationMin=0"),
            QStringLiteral("heparinType=0"),
            QStringLiteral("dryBicarbCartSize=0"),
            QStringLiteral("sodiumMEQL=0"),
            QStringLiteral("bicarbonateMEQL=0"),
            QStringLiteral("dialyzerType=0"),
            QStringLiteral("fluidBolusVolumeML=100"),
            QStringLiteral("bloodPressureIntervalMin=1800000"),
            QStringLiteral("rinsebackVolumeML=300"),
            QStringLiteral("hepatitisBStatus=0"),
            QStringLiteral("acidConcentrate=0"),
            QStringLiteral("hdfSubstitutionVolumeL=0"),
            QStringLiteral("heparinBolusVolumeML=0"),
            QStringLiteral("heparinDeliveryRateMLHR=0"),
            QStringLiteral("dialysateTemperatureC=37"),
            QStringLiteral("acidKConversionFactor=0"),
            QStringLiteral("ufPreWeightKG=0"),
            QStringLiteral("ufTargetWeightKG=0"),
            QStringLiteral("ufVolumeL=2")};
}

QStringList setPoints()
{
    return QStringList{QStringLiteral("bloodFlowMLPM=400"),
                       QStringLiteral("dialysateFlowMLPM=350"),
                       QStringLiteral("dialysateTemperatureC=37"),
                       QStringLiteral("acidConcentrate=0"),
                       QStringLiteral("acidKConversionFactor=0"),
                       QStringLiteral("bicarbonateMEQL=0"),
                       QStringLiteral("treatmentModality=0"),
                       QStringLiteral("hepatitisBStatus=0"),
                       QStringLiteral("sodiumMEQL=0"),
                       QStringLiteral("bicarbonateMEQL2=0")};
}

// In this order: a request that moves the service on comes last in its
// stage, and the row after it jumps anew.
QList<Case> cases()
{
    const QString ack = QStringLiteral("ID_ACK_MESSAGE_THAT_REQUIRES_ACK");
    return {
        {kStandby, QStringLiteral("ID_UI_CHECK_IN"), {}, ack},
        // A cancel: the simulator stays in Standby.
        {kStandby, QStringLiteral("ID_INITIATE_TREATMENT"), {QStringLiteral("request=0")}, {}},
        {kPreTreatment, QStringLiteral("ID_UI_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RQST"), {}, {}},
        {kPreTreatment, QStringLiteral("ID_UI_WATER_SAMPLE_RESULT_RQST"), {QStringLiteral("result=0.5")}, {}},
        {kPreTreatment, QStringLiteral("ID_UI_ADJUST_DISPOSABLES_CONFIRM_RQST"), {}, {}},
        {kPreTreatment, QStringLiteral("ID_UI_TREATMENT_PARAMS_TO_VALIDATE"), prescription(), {}},
        // On to Blood_Prime.
        {kPreTreatment, QStringLiteral("ID_UI_ADJUST_START_TREATMENT_RQST"), {}, {}},
        {kBloodPrime, QStringLiteral("ID_UI_BLOOD_PRIME_CMD_RQST"), {QStringLiteral("command=1")}, {}},
        {kTreatment, QStringLiteral("ID_UI_TREATMENT_UF_VOLUME_VALIDATE_RQST"), {QStringLiteral("ufVolumeL=2.5")}, {}},
        {kTreatment,
         QStringLiteral("ID_UI_ULTRAFILTRATION_CHANGE_CONFIRM_RQST"),
         {QStringLiteral("ufVolumeL=2.5"), QStringLiteral("ufRateLHR=0.5")},
         {}},
        {kTreatment, QStringLiteral("ID_UI_UF_PAUSE_RESUME_RQST"), {QStringLiteral("command=1")}, {}},
        {kTreatment, QStringLiteral("ID_UI_FLUID_BOLUS_RQST"), {QStringLiteral("command=0")}, {}},
        {kTreatment, QStringLiteral("ID_UI_BOLUS_VOLUME_CHANGE_RQST"), {QStringLiteral("bolusVolumeML=100")}, {}},
        {kTreatment,
         QStringLiteral("ID_UI_PRESSURE_LIMITS_CHANGE_RQST"),
         {QStringLiteral("arterialWindowMMHG=50"), QStringLiteral("venousHighWindowMMHG=50"),
          QStringLiteral("venousLowWindowMMHG=35"), QStringLiteral("tmpWindowMMHG=20")},
         {}},
        {kTreatment, QStringLiteral("ID_UI_PRESSURE_LIMIT_WIDEN_RQST"), {}, {}},
        {kTreatment, QStringLiteral("ID_UI_DURATION_VALIDATE_RQST"), {QStringLiteral("durationMin=300")}, {}},
        {kTreatment,
         QStringLiteral("ID_UI_DURATION_CONFIRM_RQST"),
         {QStringLiteral("durationMin=300"), QStringLiteral("heparinDurationMin=0"), QStringLiteral("ufRateLHR=0.5")},
         {}},
        {kTreatment, QStringLiteral("ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST"), setPoints(), {}},
        {kTreatment,
         QStringLiteral("ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST"),
         {QStringLiteral("bloodFlowMLPM=400")},
         {}},
        {kTreatment,
         QStringLiteral("ID_UI_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RQST"),
         {QStringLiteral("dialysateFlowMLPM=350")},
         {}},
        {kTreatment,
         QStringLiteral("ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST"),
         {QStringLiteral("dialysateTemperatureC=37")},
         {}},
        {kTreatment,
         QStringLiteral("ID_UI_VITALS_ADJUSTMENT_RQST"),
         {QStringLiteral("reserved1=0"), QStringLiteral("reserved2=0"), QStringLiteral("reserved3=0"),
          QStringLiteral("reserved4=0"), QStringLiteral("bpIntervalMin=30")},
         {}},
        {kTreatment, QStringLiteral("ID_UI_BLOOD_PRESSURE_RQST"), {}, {}},
        {kTreatment, QStringLiteral("ID_UI_PAUSE_SUB_FLOW_RQST"), {QStringLiteral("command=1")}, {}},
        {kTreatment,
         QStringLiteral("ID_UI_HDF_ADJUSTMENT_RQST"),
         {QStringLiteral("hdfDilution=0"), QStringLiteral("substitutionVolumeL=1")},
         {}},
        {kRinseback, QStringLiteral("ID_UI_RINSEBACK_CMD_RQST"), {QStringLiteral("action=0")}, {}},
        {kRecirculation, QStringLiteral("ID_UI_RECIRCULATE_RQST"), {QStringLiteral("action=4")}, {}},
        // The end-of-treatment alarm's rinseback action opens a confirmation.
        {kTreatmentEnd,
         QStringLiteral("ID_UI_ALARM_USER_ACTION_REQUEST"),
         {QStringLiteral("action=1")},
         QStringLiteral("ID_TD_UI_GENERIC_CONFIRMATION_RQST")},
        // On to Treatment_Rinseback.
        {kTreatmentEnd, QStringLiteral("ID_TD_END_TREATMENT_RQST"), {}, {}},
        {kPostTreatment, QStringLiteral("ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST"), {}, {}},
        {kPostTreatment, QStringLiteral("ID_UI_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RQST"), {}, {}},
        {kPostTreatment, QStringLiteral("ID_UI_DRY_BICART_DISCONNECT_RQST"), {QStringLiteral("action=3")}, {}},
    };
}

} // namespace

class TestEveryRequest : public QObject
{
    Q_OBJECT

    ServiceProcess _service;
    UiBoard _ui;
    int _stage = -1; // the demo-menu command whose state the service is in; -1 when not known

    static constexpr int kWait = 15000; // ms; generous, the machine may be busy

    // The demo menu's jump: a confirmation result of 99 and the command. It
    // passes through Standby, which announces itself, and the target's
    // operation mode follows; the target then has time for its entry.
    bool jump(const Stage &stage)
    {
        const int mark = _ui.mark();
        if (_ui.send(QStringLiteral("ID_UI_CONFIRMATION_RESULT_RESP"),
                     {QStringLiteral("confirmId=99"), QStringLiteral("status=%1").arg(stage.command)}) == 0) {
            qWarning("%s", qPrintable(_ui.error()));
            return false;
        }
        const QString mode = QStringLiteral("mode");
        const int standby = _ui.waitFor(mark, Can::ID_TD_OP_MODE_DATA, mode, 3, kWait);
        if (standby < 0 || _ui.waitFor(standby + 1, Can::ID_TD_OP_MODE_DATA, mode, stage.mode, kWait) < 0)
            return false;
        QTest::qWait(600);
        return true;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(_ui.open(error), qPrintable(error));
        QVERIFY(_service.start());
        QVERIFY(_ui.waitForService());
    }

    void cleanupTestCase() { QCOMPARE(_service.stop(SIGTERM), 0); }

    void everyRequestHasARow()
    {
        QSet<int> covered{int(Can::ID_UI_CONFIRMATION_RESULT_RESP)}; // carries every jump
        for (const Case &c : cases()) {
            const MessageDefinition *definition = _ui.definitions().lookup(c.request);
            QVERIFY2(definition, qPrintable(c.request));
            covered << definition->id;
        }
        for (const ReceivedRequests::Request &request : ReceivedRequests::requests())
            QVERIFY2(covered.contains(int(request.id)), qPrintable(QString::number(request.id, 16)));
    }

    void requestIsAnswered_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("answer");
        for (const Case &c : cases())
            QTest::addRow("%s: %s", c.stage.label, qPrintable(c.request))
                << c.stage.command << c.stage.mode << c.request << c.values << c.answer;
    }

    void requestIsAnswered()
    {
        QFETCH(int, command);
        QFETCH(int, mode);
        QFETCH(QString, request);
        QFETCH(QStringList, values);
        QFETCH(QString, answer);

        // A row that fails leaves the state unknown: the next one jumps anew.
        auto unknown = qScopeGuard([this] { _stage = -1; });
        if (_stage != command)
            QVERIFY2(jump({"", command, mode}), qPrintable(QStringLiteral("jump %1").arg(command)));
        _stage = command;

        const MessageDefinition *definition = _ui.definitions().lookup(request);
        QVERIFY(definition);
        const MessageDefinition *answered =
            answer.isEmpty() ? _ui.definitions().find(definition->responseId) : _ui.definitions().lookup(answer);
        QVERIFY2(answered, qPrintable(request + QStringLiteral(" has no answer")));

        // The check-in asks for an acknowledgement, every other request for
        // its answer.
        const bool acknowledged = answered->id == Can::ID_ACK_MESSAGE_THAT_REQUIRES_ACK;
        const int mark = _ui.mark();
        const Sequence sequence = _ui.send(request, values, acknowledged);
        QVERIFY2(sequence != 0, qPrintable(_ui.error()));
        if (acknowledged)
            QVERIFY(_ui.session().waitForAcknowledgement(sequence, kWait));
        else
            QVERIFY2(_ui.waitFor(mark, Can::eChlid_TD_UI, answered->id, kWait) >= 0, qPrintable(answered->name));
        unknown.dismiss();
    }
};

QTEST_GUILESS_MAIN(TestEveryRequest)
#include "tst_every_request.moc"
