// UI requests into the simulator: the bytes choose a state through the demo
// menu, then a sequence of requests (an identifier the simulator parks, a
// payload of any length, rich in NaN, infinities, huge and negative values)
// interleaved with ticks. Every message queued must be well-formed.
#include <QtGlobal>

#include <cmath>
#include <cstring>
#include <limits>

#include "ApplicationController.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/OutgoingCheck.h"
#include "rararoz/ReceivedRequests.h"
#include "rararoz/StateController.h"

using namespace Can;

namespace {

const OutgoingCheck *gCheck = nullptr;
QList<QVariantList> gSent;

// Messages one tick may hand on; more means something piles up.
constexpr int kMessagesPerTickMax = 64;
// Ticks one step may run. Short bursts keep an input cheap (a tick is most of
// its time) while requests still land between ticks at any phase; long runs of
// simulated time are the soak's work.
constexpr int kTicksPerStepMax = 4;

const User_Command_ID kDemoMenu[] = {CMD_STAND_BY,      CMD_PRE_TX,       CMD_BLOOD_PRIME,     CMD_MAIN_TX,
                                     CMD_RINSEBACK,     CMD_RICIRCULATE,  CMD_TX_STOP,         CMD_END_TX,
                                     CMD_POST_TX,       CMD_DISINFECTION, CMD_HIGH_PRIO_ALARM, CMD_MEDIUM_PRIO_ALARM,
                                     CMD_LOW_PRIO_ALARM};

QByteArray bytesOf(quint32 bits)
{
    const char bytes[] = {char(bits & 0xFF), char((bits >> 8) & 0xFF), char((bits >> 16) & 0xFF), char(bits >> 24)};
    return QByteArray(bytes, int(sizeof bytes));
}

QByteArray floatBytes(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bytesOf(bits);
}

// One 4-byte field: mostly the values that break arithmetic.
QByteArray fieldOf(FuzzInput &input)
{
    switch (input.byte() % 12) {
    case 0:
        return floatBytes(std::numeric_limits<float>::quiet_NaN());
    case 1:
        return floatBytes(std::numeric_limits<float>::infinity());
    case 2:
        return floatBytes(-std::numeric_limits<float>::infinity());
    case 3:
        return floatBytes(std::numeric_limits<float>::max());
    case 4:
        return floatBytes(-std::numeric_limits<float>::max());
    case 5:
        return floatBytes(float(qint8(input.byte())) * 10.0f);
    case 6:
        return bytesOf(0xFFFFFFFFu);
    case 7:
        return bytesOf(0x80000000u);
    case 8:
        return bytesOf(input.byte()); // small integers, the usual choices
    case 9:
        return floatBytes(std::numeric_limits<float>::denorm_min());
    default:
        return bytesOf(input.u32());
    }
}

void request(StateController &controller, FuzzInput &input)
{
    static const QList<ReceivedRequests::Request> requests = ReceivedRequests::requests();
    const ReceivedRequests::Request &chosen = requests.at(input.pick(requests.size()));
    QByteArray payload;
    const int fields = input.byte() % 32;
    for (int i = 0; i < fields; ++i)
        payload += fieldOf(input);
    // Any length, not only whole fields.
    payload.chop(input.byte() % 4);
    QVariantList list{int(chosen.id), int(qint16(input.u16()))};
    if (!payload.isEmpty() || input.flag())
        list.append(payload);
    controller.doStateControllerUnhandledMsgReceived(list);
}

void tick(StateController &controller)
{
    gSent.clear();
    controller.tick();
    FUZZ_CHECK(gSent.size() <= kMessagesPerTickMax, QStringLiteral("%1 messages in one tick").arg(gSent.size()));
    for (const QVariantList &message : qAsConst(gSent)) {
        const QString problem = gCheck->messageProblem(message);
        FUZZ_CHECK(problem.isEmpty(), QStringLiteral("in %1: %2").arg(controller.getActiveStateName(), problem));
    }
    FUZZ_CHECK(controller.uiConfirmMessages().size() <= NUM_OF_GENERIC_CONFIRM_IDS,
               QStringLiteral("%1 confirmations open").arg(controller.uiConfirmMessages().size()));
}

void demoMenu(StateController &controller, User_Command_ID command)
{
    controller.doStateControllerUnhandledMsgReceived(
        {int(ID_UI_CONFIRMATION_RESULT_RESP), 0, bytesOf(99) + bytesOf(quint32(command))});
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzSetUp(argc, argv);
    gCheck = &OutgoingCheck::shipped();
    QObject::connect(&ApplicationController::I(), &ApplicationController::didActionTransmit,
                     [](const QVariantList &list) { gSent.append(list); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    StateController controller;
    tick(controller);
    demoMenu(controller, kDemoMenu[input.byte() % (sizeof kDemoMenu / sizeof *kDemoMenu)]);
    // Long enough for any demo-menu jump to land and run its entry.
    for (int i = 0; i < 4; ++i)
        tick(controller);
    for (int steps = 0; !input.atEnd() && steps < 2000; ++steps) {
        const quint8 op = input.byte();
        switch (op & 3) {
        case 0:
            for (int i = 0; i <= (op >> 2) % kTicksPerStepMax; ++i)
                tick(controller);
            break;
        case 1:
            demoMenu(controller, kDemoMenu[(op >> 2) % (sizeof kDemoMenu / sizeof *kDemoMenu)]);
            break;
        default:
            request(controller, input);
            break;
        }
    }
    tick(controller);
    // Nothing of this input outlives it: with as many frees as allocations,
    // libFuzzer need not run the input a second time looking for a leak.
    gSent = {};
    return 0;
}
