// The peer tool's decoders: text read as candump lines, each frame put
// back into messages as the tool's monitor does and printed with the
// shipped definitions.
#include "peer/CandumpReader.h"
#include "fuzz/FuzzInput.h"
#include "peer/MessageAssembler.h"
#include "peer/MessageFormatter.h"
#include "fuzz/OutgoingCheck.h"

namespace {

const OutgoingCheck *gCheck = nullptr;

void checkRoundTrip(const QString &interface, const RawFrame &frame)
{
    // A trace without times has none to write back.
    if (frame.timeUs < 0)
        return;
    const QString written = MessageFormatter::candump(frame, interface);
    QString again;
    RawFrame read;
    FUZZ_CHECK(CandumpReader::parse(written, again, read) && again == interface && read.channel == frame.channel &&
                   read.data == frame.data && read.timeUs == frame.timeUs,
               QStringLiteral("'%1' does not read back").arg(written));
}

void checkMessage(const ReceivedMessage &message, const MessageFormatter &formatter)
{
    if (message.isMessage()) {
        FUZZ_CHECK(message.payload.size() <= Can::eLenMaxData, QStringLiteral("payload over 255 bytes"));
        const bool good =
            OutgoingCheck::crcIsGood(message.sequence, message.id, message.payload + char(message.receivedCrc));
        FUZZ_CHECK(good == (message.status == ReceivedMessage::Complete),
                   QStringLiteral("a message's CRC verdict is wrong"));
    }
    FUZZ_CHECK(!formatter.line(message).isEmpty(), QStringLiteral("no line for a message"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzSetUp(argc, argv);
    gCheck = &OutgoingCheck::shipped();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const MessageFormatter formatter(gCheck->definitions());
    MessageAssembler assembler;
    for (const QStringRef &line : text.splitRef(QLatin1Char('\n'))) {
        QString interface;
        RawFrame frame;
        if (!CandumpReader::parse(line.toString(), interface, frame))
            continue;
        FUZZ_CHECK(frame.data.size() <= Can::eLenCanFrame,
                   QStringLiteral("a frame of %1 bytes").arg(frame.data.size()));
        checkRoundTrip(interface, frame);
        for (const ReceivedMessage &message : assembler.take(frame))
            checkMessage(message, formatter);
    }
    return 0;
}
