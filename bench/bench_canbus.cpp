// Throughput of the CAN stack's hot paths on one core:
//  - receive: frames in, per-channel assembly and CRC check, to a complete message;
//  - interpret: a complete UI message to its readable line and action list;
//  - transmit: an action list to queued frames.
// Each figure is the median of several runs. Run: build/bench/bench_canbus

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QVariantList>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "model/settings/MSettings.h"
#include "canbus/MessageBuilder.h"
#include "canbus/MessageDispatcher.h"
#include "canbus/MessageInterpreter.h"

namespace {

constexpr int kRuns = 7;

template <typename Body> double medianRate(qint64 itemsPerRun, Body body)
{
    std::vector<double> rates;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        body();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        rates.push_back(double(itemsPerRun) / seconds);
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

FrameList framesOf(quint16 id, Sequence sequence, const QByteArray &payload)
{
    Can::MessageBuilder builder;
    FrameList frames;
    builder.buildFrames(id, payload, frames, sequence);
    return frames;
}

void quietMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietMessages); // console copies are not the hot path
    Can::MessageDispatcher &dispatcher = Can::MessageDispatcher::I();

    // Receive: a 12-byte treatment-state style message (three frames) on the
    // TD broadcast channel, which is assembled, checked and then dropped.
    const FrameList tdFrames = framesOf(0x3C00, 7, QByteArray(12, '\x01'));
    constexpr int kMessages = 400000;
    qint64 completed = 0;
    const double rxRate = medianRate(qint64(kMessages) * tdFrames.size(), [&] {
        for (int i = 0; i < kMessages; ++i)
            for (const QByteArray &frame : tdFrames)
                dispatcher.onFrameReceive(Can::eChlid_TD_Sync, frame);
        completed += kMessages;
    });
    std::printf("receive:   %.0f frames/s (3-frame messages, assembly + CRC)\n", rxRate);

    // Interpret: a UI request defined with five fields.
    Storage::MSettings::I().add("Messages/Unhandled", "7A00", "Set Points Change", "", true);
    for (const char *tag : {"U32", "U32", "F32", "U32", "F32"})
        Storage::MSettings::I().add("Messages/Unhandled", "7A00", tag, "", true);
    Can::MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    Can::Message message;
    message.can_id = Can::eChlid_UI_TD;
    message.sequence = 9;
    message.actionId = 0x7A00;
    message.initialized = true;
    const QByteArray payload = QByteArray::fromHex("90010000"
                                                   "5e010000"
                                                   "00001442"
                                                   "01000000"
                                                   "0000803f");
    message.head = QByteArray::fromHex("0900"
                                       "7a00") +
                   char(payload.size());
    message.data = payload + char(0x42);
    message.length = message.data.size();
    constexpr int kInterpreted = 300000;
    const double interpretRate = medianRate(kInterpreted, [&] {
        for (int i = 0; i < kInterpreted; ++i) {
            QVariantList actions;
            interpreter.interpretMessage(message, actions);
        }
    });
    std::printf("interpret: %.0f messages/s (5-field UI request to line and action list)\n", interpretRate);

    // Transmit: a ten-field broadcast list to frames.
    qint64 frames = 0;
    QObject::connect(&dispatcher, &Can::MessageDispatcher::didFrameTransmit,
                     [&frames](Can::Can_Id, const FrameList &sent) { frames += sent.size(); });
    const QVariantList broadcast{0x3C00, 0x100, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    constexpr int kLists = 300000;
    const double txRate = medianRate(kLists, [&] {
        for (int i = 0; i < kLists; ++i)
            dispatcher.onActionTransmit(broadcast);
    });
    std::printf("transmit:  %.0f lists/s (%.0f frames/s; 40-byte payload, 6 frames each)\n", txRate,
                txRate * double(frames) / double(kLists * kRuns));
    return completed > 0 ? 0 : 1;
}
