// The interpreter: definitions text in the service's configuration format,
// a zero byte, then received messages (channel choice, identifier,
// sequence, payload), through the definitions parser and the interpreter to
// the log line and the action list.
#include <QHash>

#include "fuzz/FuzzInput.h"
#include "storage/Logger.h"
#include "model/settings/MSettings.h"
#include "canbus/MessageInterpreter.h"
#include "storage/Settings.h"
#include "utility/crc.h"

using namespace Can;

namespace {

const Can_Id kChannels[] = {eChlid_UI_TD,   eChlid_UI_Sync,  eChlid_UI_Alarm, eChlid_TD_UI, eChlid_DD_TD,
                            eChlid_TD_Sync, eChlid_DD_Alarm, eOrvane_UI,      eUI_Orvane,   eOrvane_TD};

QStringList gLogged;

Can::Message messageOf(FuzzInput &input)
{
    Can::Message message;
    message.can_id = kChannels[input.byte() % (sizeof kChannels / sizeof *kChannels)];
    message.actionId = input.u16();
    message.sequence = Sequence(input.u16());
    const QByteArray payload = input.bytes(input.byte());
    const auto bits = quint16(message.sequence);
    const char head[] = {char(bits & 0xFF), char(bits >> 8), char(message.actionId >> 8), char(message.actionId & 0xFF),
                         char(payload.size())};
    message.head = QByteArray(head, int(sizeof head));
    message.data = payload + char(crc8(message.head + payload));
    message.length = message.data.size();
    message.initialized = true;
    return message;
}

// The field tags of each identifier the definitions name, as the interpreter
// must read them: the last group naming the identifier defines it, however
// written. Worked out once per input, not once per message.
QHash<quint16, QStringList> definedTags(Storage::MSettings &settings, const QString &category)
{
    QHash<quint16, QStringList> tags;
    for (const QString &group : settings.groups(category)) {
        bool ok = false;
        const uint id = group.toUInt(&ok, 16);
        if (ok && id <= 0xFFFF)
            tags.insert(quint16(id), settings.keys(category, group));
    }
    return tags;
}

// What an input left behind goes with it: libFuzzer runs a full leak check
// after every input that ends with more blocks allocated than freed, which
// would triple the time per input.
void forgetInput(Storage::MSettings &settings)
{
    settings.clear();
    gLogged = QStringList();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzSetUp(argc, argv);
    QObject::connect(&Storage::Logger::I(), &Storage::Logger::didLog,
                     [](const QString &content, Storage::Logger::LogType, bool) { gLogged.append(content); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto *end = static_cast<const uint8_t *>(memchr(data, 0, size));
    const size_t textSize = end ? size_t(end - data) : size;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(textSize));
    FuzzInput input(data + textSize, size - textSize);
    input.byte(); // the zero byte

    const QString category = Storage::Settings::category(Storage::Settings::eMessagesUnhandled);
    Storage::MSettings &settings = Storage::MSettings::I();
    Storage::Settings::parse({category, {}, text});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    const QHash<quint16, QStringList> tags = definedTags(settings, category);

    while (!input.atEnd()) {
        const Can::Message message = messageOf(input);
        gLogged.clear();
        QVariantList actions;
        FUZZ_CHECK(!interpreter.interpretMessage(message, actions), QStringLiteral("a message was handled"));
        if (actions.isEmpty())
            continue; // another controller's traffic
        FUZZ_CHECK(actions.size() >= 2 && actions.at(0).toInt() == message.actionId &&
                       actions.at(1).toInt() == message.sequence,
                   QStringLiteral("action list does not start with identifier and sequence"));
        const QStringList texts = tags.value(quint16(message.actionId));
        if (texts.isEmpty())
            continue; // undefined: reported, not interpreted
        // One value per field tag, each the whole received data.
        FUZZ_CHECK(actions.size() == 2 + texts.size() - 1,
                   QStringLiteral("%1 values for %2 field tags").arg(actions.size() - 2).arg(texts.size() - 1));
        for (int i = 2; i < actions.size(); ++i)
            FUZZ_CHECK(actions.at(i).toByteArray() == message.data, QStringLiteral("a value is not the data"));
        // Short fields are complained about first; the message's own line last.
        const QString idText = QString::number(message.actionId, 16).rightJustified(4, QLatin1Char(' '));
        FUZZ_CHECK(!gLogged.isEmpty() && gLogged.last().startsWith(idText + QLatin1Char(',')),
                   QStringLiteral("no log line for a defined message: ") + gLogged.value(0));
    }
    forgetInput(settings);
    return 0;
}
