// Configuration files: a category choice, then arbitrary text as that
// category's file, through the reader into the settings model, and the
// message definitions through the service's interpreter and the peer
// tool's definitions as well.
#include "fuzz/FuzzInput.h"
#include "model/settings/MSettings.h"
#include "peer/MessageDefinitions.h"
#include "canbus/MessageInterpreter.h"
#include "storage/Settings.h"

using Storage::MSettings;
using Storage::Settings;

namespace {

// The text files the settings model reads; translations are binary and
// read by Qt.
const Settings::Category_Enum kCategories[] = {
    Settings::eSettingsSystem,
    Settings::eInstructions,
    Settings::eParametersDataList,
    Settings::eAlarms,
    Settings::eEvents,
    Settings::eRejects,
    Settings::eMessagesUnhandled,
    Settings::eGenericConfirm,
    Settings::eConfigurationsLocale,
};

void checkModel(const QString &category, bool duplicates)
{
    MSettings &settings = MSettings::I();
    for (const QString &group : settings.groups(category)) {
        const QStringList keys = settings.keys(category, group);
        FUZZ_CHECK(keys.size() == settings.values(category, group).size(),
                   QStringLiteral("group %1: keys and values differ in number").arg(group));
        // Without the attribute a repeated key replaces the earlier one.
        if (!duplicates)
            FUZZ_CHECK(QStringList(keys).removeDuplicates() == 0, QStringLiteral("group %1 repeats a key").arg(group));
        // A key is trimmed before its escaped line feeds (backslash, n) become
        // real ones, so it may end in one; no other blank stays at an end.
        for (const QString &key : keys) {
            const QString written = QString(key).replace(QLatin1Char('\n'), QLatin1String("\\n"));
            FUZZ_CHECK(written == written.trimmed(), QStringLiteral("key '%1' keeps blanks").arg(written));
        }
    }
}

void checkDefinitions(const MessageDefinitions &definitions, bool loaded)
{
    FUZZ_CHECK(loaded || definitions.isEmpty(), QStringLiteral("definitions kept after a failed load"));
    for (const quint16 id : definitions.ids()) {
        const MessageDefinition *definition = definitions.find(id);
        FUZZ_CHECK(definition && definition->id == id, QStringLiteral("definition %1 not found").arg(id, 0, 16));
        for (const MessageDefinition::Field &field : definition->fields)
            FUZZ_CHECK(field.type.isValid(), QStringLiteral("%1 has a field of no type").arg(definition->name));
        FUZZ_CHECK(definition->payloadSize() <= 4 * definition->fields.size(),
                   QStringLiteral("%1 is longer than its fields").arg(definition->name));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzSetUp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const Settings::Category_Enum which = kCategories[input.byte() % (sizeof kCategories / sizeof *kCategories)];
    const QByteArray bytes = input.rest();
    const QString text = QString::fromUtf8(bytes);
    const QString category = Settings::category(which);
    const bool duplicates = text.contains(QLatin1String("#--duplicate_key_on"));

    MSettings::I().clear();
    if (Settings::parse({category, QStringLiteral("/nowhere/"), text}))
        checkModel(category, duplicates);
    MSettings::I().systemLocale();
    MSettings::I().datetimeFormat();

    if (which == Settings::eMessagesUnhandled) {
        Can::MessageInterpreter interpreter;
        interpreter.updateUnhandledMessages();
        // The peer tool reads the same format, from its own file.
        MessageDefinitions definitions;
        QString error;
        const bool loaded = definitions.loadText(text, QStringLiteral("fuzz"), error);
        FUZZ_CHECK(loaded || !error.isEmpty(), QStringLiteral("a failed load without a reason"));
        checkDefinitions(definitions, loaded);
    }
    return 0;
}
