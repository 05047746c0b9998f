#include "common/SimulatorDriver.h"

#include <QTest>
#include <QtNumeric>

#include "ApplicationController.h"
#include "rararoz/ChartNames.h"
#include "rararoz/StateController.h"
#include "utility/format.h"
#include "utility/types.h"

SimulatorDriver::SimulatorDriver()
    : _controller(std::make_unique<StateController>())
{
    connect(
        &ApplicationController::I(), &ApplicationController::didActionTransmit, this,
        [this](const QVariantList &list) { _sent.append(list); }, Qt::DirectConnection);
}

SimulatorDriver::~SimulatorDriver() = default;

SimulatorDriver::Messages SimulatorDriver::tick()
{
    _sent.clear();
    _controller->tick();
    ++_tickCount;
    Messages sent;
    sent.swap(_sent);
    return sent;
}

SimulatorDriver::Messages SimulatorDriver::ticks(int count)
{
    Messages all;
    for (int i = 0; i < count; ++i)
        all.append(tick());
    return all;
}

QString SimulatorDriver::state() const
{
    return _controller->getActiveStateName();
}

bool SimulatorDriver::tickUntilState(const QString &state, int limit)
{
    for (int i = 0; i < limit; ++i) {
        tick();
        if (this->state() == state)
            return true;
    }
    return false;
}

bool SimulatorDriver::tickUntil(const std::function<bool()> &condition, int limit, Messages *sent)
{
    for (int i = 0; i < limit; ++i) {
        const Messages messages = tick();
        if (sent)
            sent->append(messages);
        if (condition())
            return true;
    }
    return false;
}

bool SimulatorDriver::enterByDemoMenu(User_Command_ID command, const QString &state)
{
    if (this->state().isEmpty())
        tick();
    demoMenu(command);
    if (!tickUntilState(state))
        return false;
    // The tick that entered the state ran its entry step; one more runs its
    // first per-tick step.
    tick();
    return this->state() == state;
}

bool SimulatorDriver::startTreatment(const Prescription &prescription, Messages *sent)
{
    if (state().isEmpty())
        tick();
    request(Can::ID_INITIATE_TREATMENT, u32(1));
    if (!tickUntilState(Chart::State::Pre_Tx))
        return false;
    request(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE, prescription.bytes());
    tick();
    requestWithoutPayload(Can::ID_UI_ADJUST_START_TREATMENT_RQST);
    if (!tickUntilState(Chart::State::Blood_Prime))
        return false;
    // The blood prime runs until its volume is in.
    if (!tickUntilState(Chart::State::Treatment, 5000))
        return false;
    const Messages entered = tick();
    if (sent)
        sent->append(entered);
    return state() == Chart::State::Treatment;
}

QByteArray Prescription::bytes() const
{
    using D = SimulatorDriver;
    const QList<quint32> unsignedFields{1,
                                        modality,
                                        hdfDilution,
                                        bloodFlowMLPM,
                                        dialysateFlowMLPM,
                                        durationMin,
                                        heparinDurationMin,
                                        0,
                                        0,
                                        0,
                                        0,
                                        0,
                                        100,
                                        1800000,
                                        rinsebackVolumeML,
                                        0,
                                        0};
    const QList<float> floatFields{substitutionVolumeL, 0.0f, 0.0f, dialysateTemperatureC, 0.0f, 0.0f, 0.0f, ufVolumeL};
    QByteArray bytes;
    for (quint32 value : unsignedFields)
        bytes += D::u32(value);
    for (float value : floatFields)
        bytes += D::f32(value);
    return bytes;
}

void SimulatorDriver::receive(const QVariantList &list)
{
    _controller->doStateControllerUnhandledMsgReceived(list);
}

void SimulatorDriver::request(Can::Message_ID_Enum id, const QByteArray &payload, int sequence)
{
    receive({int(id), sequence, payload});
}

void SimulatorDriver::requestWithoutPayload(Can::Message_ID_Enum id, int sequence)
{
    receive({int(id), sequence});
}

void SimulatorDriver::demoMenu(qint32 command)
{
    confirmationResult(99, quint32(command));
}

void SimulatorDriver::confirmationResult(quint32 first, quint32 second)
{
    request(Can::ID_UI_CONFIRMATION_RESULT_RESP, u32(first) + u32(second));
}

QByteArray SimulatorDriver::u32(quint32 value)
{
    QByteArray bytes;
    Types::U32 field;
    field.value = value;
    Types::setValue(field, bytes);
    return bytes;
}

QByteArray SimulatorDriver::f32(float value)
{
    QByteArray bytes;
    Types::F32 field;
    field.value = value;
    Types::setValue(field, bytes);
    return bytes;
}

QByteArray SimulatorDriver::payloadBytes(const QVariantList &message)
{
    QByteArray bytes;
    for (int i = 2; i < message.size(); ++i)
        bytes.append(Format::fromVariant(message.at(i)));
    return bytes;
}

SimulatorDriver::Messages SimulatorDriver::withId(const Messages &messages, Can::Message_ID_Enum id)
{
    Messages found;
    for (const QVariantList &message : messages)
        if (!message.isEmpty() && message.first().toInt() == int(id))
            found.append(message);
    return found;
}

int SimulatorDriver::indexOf(const Messages &messages, Can::Message_ID_Enum id)
{
    for (int i = 0; i < messages.size(); ++i)
        if (!messages.at(i).isEmpty() && messages.at(i).first().toInt() == int(id))
            return i;
    return -1;
}

QVariant SimulatorDriver::field(const QVariantList &message, int index)
{
    return message.value(2 + index);
}

bool SimulatorDriver::floatsAreFinite(const Messages &messages)
{
    for (const QVariantList &message : messages)
        for (const QVariant &value : message)
            if ((value.userType() == QMetaType::Float || value.userType() == QMetaType::Double) &&
                !qIsFinite(value.toDouble()))
                return false;
    return true;
}

QString SimulatorDriver::answerOf(const Messages &messages, Can::Message_ID_Enum id)
{
    const Messages answers = withId(messages, id);
    if (answers.size() != 1)
        return QStringLiteral("%1 answers").arg(answers.size());
    return QStringLiteral("%1/%2").arg(field(answers.first(), 0).toUInt()).arg(field(answers.first(), 1).toInt());
}

QByteArray encodedPayload(const QVariantList &values)
{
    QByteArray bytes;
    for (const QVariant &value : values)
        bytes.append(Format::fromVariant(value));
    return bytes;
}

void SimulatorDriver::addDemoMenuStateRows()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("state");
    QTest::newRow("Pre_Tx") << int(CMD_PRE_TX) << QString(Chart::State::Pre_Tx);
    QTest::newRow("Blood_Prime") << int(CMD_BLOOD_PRIME) << QString(Chart::State::Blood_Prime);
    QTest::newRow("Treatment") << int(CMD_MAIN_TX) << QString(Chart::State::Treatment);
    QTest::newRow("Treatment_Rinseback") << int(CMD_RINSEBACK) << QString(Chart::State::Treatment_Rinseback);
    QTest::newRow("Treatment_Recirculate") << int(CMD_RICIRCULATE) << QString(Chart::State::Treatment_Recirculate);
    QTest::newRow("Treatment_End") << int(CMD_END_TX) << QString(Chart::State::Treatment_End);
    QTest::newRow("Post_Tx") << int(CMD_POST_TX) << QString(Chart::State::Post_Tx);
}
