// The receive path: a byte stream read as CAN frames (channel, frame type,
// 0 to 64 bytes) through the frame interface's channel filter, the
// dispatcher's per-channel assembly, CRC check and acknowledgement, and on
// to the interpreter.
#include <QCanBusFrame>
#include <QFile>

#include "canbus/FrameInterface.h"
#include "fuzz/FuzzInput.h"
#include "model/settings/MSettings.h"
#include "canbus/MessageDispatcher.h"
#include "fuzz/OutgoingCheck.h"
#include "storage/Settings.h"
#include "Threads.h"

using namespace Can;

namespace {

// The channels a bus carries, so that most frames reach the assembly; any
// other 11-bit identifier is chosen now and then.
const quint32 kChannels[] = {eChlid_UI_TD,   eChlid_UI_Sync,  eChlid_UI_Alarm, eChlid_TD_UI, eChlid_DD_TD,
                             eChlid_TD_Sync, eChlid_DD_Alarm, eOrvane_UI,      eUI_Orvane,   eOrvane_TD};
constexpr int kAssemblyMax = eLenHeaderInfo + eLenMaxData + 1; // header, payload, CRC
// The channels this system listens to are a handful, whatever the bus sprays.
constexpr int kListenedChannelsMax = 32;

QCanBusFrame frameOf(FuzzInput &input)
{
    const quint8 choice = input.byte();
    const quint32 channel =
        choice & 0x80 ? input.u16() & 0x7FF : kChannels[choice % (sizeof kChannels / sizeof *kChannels)];
    const int length = input.byte() % 65;
    QCanBusFrame frame(channel, input.bytes(length));
    switch ((choice >> 4) & 7) {
    case 1:
        frame.setFrameType(QCanBusFrame::RemoteRequestFrame);
        break;
    case 2:
        frame.setExtendedFrameFormat(true);
        break;
    case 3:
        frame.setFrameType(QCanBusFrame::ErrorFrame);
        break;
    default:
        break; // mostly standard data frames
    }
    return frame;
}

void checkHandedOn(const QVariantList &actions)
{
    FUZZ_CHECK(actions.size() >= 2, QStringLiteral("handed-on list without identifier and sequence"));
    if (actions.size() < 3)
        return; // a definition without fields carries no data
    const QByteArray data = actions.at(2).toByteArray();
    FUZZ_CHECK(OutgoingCheck::crcIsGood(Sequence(actions.at(1).toInt()), quint16(actions.at(0).toInt()), data),
               QStringLiteral("handed-on message %1 with a bad CRC or length").arg(actions.at(0).toInt(), 0, 16));
}

void checkAcknowledgement(Can_Id channel, const FrameList &frames)
{
    Can::Message message;
    const QString problem = OutgoingCheck::framesProblem(channel, frames, &message);
    FUZZ_CHECK(problem.isEmpty(), QStringLiteral("acknowledgement: ") + problem);
    FUZZ_CHECK(channel == eChlid_TD_UI && message.actionId == ID_Acknow && message.data.size() == 1,
               QStringLiteral("acknowledgement %1 on %2").arg(message.actionId, 0, 16).arg(int(channel), 0, 16));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzSetUp(argc, argv);
    Threads::registerTypes();
    // The shipped definitions, so that messages are logged field by field.
    QFile definitions(QStringLiteral(RARAROZ_SOURCE_DIR "/config/Messages/Unhandled.conf"));
    if (!definitions.open(QIODevice::ReadOnly) ||
        !Storage::Settings::parse({Storage::Settings::category(Storage::Settings::eMessagesUnhandled),
                                   {},
                                   QString::fromUtf8(definitions.readAll())}))
        fuzzFail(QStringLiteral("cannot read the shipped message definitions"));

    MessageDispatcher &dispatcher = MessageDispatcher::I();
    dispatcher.init();
    dispatcher.onSettingsDone();
    // Acknowledgements stay here instead of filling the transmit queue, and
    // frames go to the assembly at once instead of in batches, which wait
    // for an event loop.
    QObject::disconnect(&dispatcher, &MessageDispatcher::didFrameTransmit, &FrameInterface::I(), nullptr);
    QObject::disconnect(&FrameInterface::I(), &FrameInterface::didFrameReceive, &dispatcher, nullptr);
    QObject::connect(&dispatcher, &MessageDispatcher::didFrameTransmit, checkAcknowledgement);
    QObject::connect(&dispatcher, &MessageDispatcher::didUnhandledMsgDispatcher, checkHandedOn);
    QObject::connect(&FrameInterface::I(), &FrameInterface::didFrameReceive, &dispatcher,
                     &MessageDispatcher::onFrameReceive, Qt::DirectConnection);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    MessageDispatcher &dispatcher = MessageDispatcher::I();
    while (!input.atEnd()) {
        const QCanBusFrame frame = frameOf(input);
        FrameInterface::I().onFrameReceive(frame);
        const auto channel = Can_Id(frame.frameId() & 0x7FF);
        FUZZ_CHECK(
            dispatcher.assemblyBytes(channel) <= kAssemblyMax,
            QStringLiteral("%1 bytes held on channel %2").arg(dispatcher.assemblyBytes(channel)).arg(channel, 0, 16));
    }
    // Only the channels the filter passes are ever assembled.
    FUZZ_CHECK(dispatcher.assemblyChannels() <= kListenedChannelsMax,
               QStringLiteral("%1 channels in assembly").arg(dispatcher.assemblyChannels()));
    return 0;
}
