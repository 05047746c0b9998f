#include "canbus/MessageInterpreter.h"

#include <QDebug>

#include <charconv>

#include "CommandLine.h"
#include "storage/Logger.h"
#include "model/settings/MSettings.h"
#include "utility/format.h"
#include "utility/types.h"

namespace Can {

namespace {

const QString &sourceName(Can_Source source)
{
    static const QString td = QStringLiteral("TD");
    static const QString dd = QStringLiteral("DD");
    static const QString fp = QStringLiteral("FP");
    static const QString ov = QStringLiteral("OV");
    static const QString ui = QStringLiteral("UI");
    static const QString unknown = QStringLiteral("XX");
    switch (source) {
    case eCan_TD:
        return td;
    case eCan_DD:
        return dd;
    case eCan_FP:
        return fp;
    case eCan_OV:
        return ov;
    case eCan_UI:
        return ui;
    case eCan_Unknown:
        break;
    }
    return unknown;
}

// Integers are printed straight into the line: no temporary string per field.
template <typename V> void appendDecimal(QString &line, V value)
{
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    line.append(QLatin1Char(','));
    line.append(QLatin1String(buffer, int(result.ptr - buffer)));
}

// Reads one field of type T at index and prints it; a field that does not
// fit prints "?" and leaves index where it was.
template <typename T, typename Print> void readField(const QByteArray &data, int &index, QString &line, Print print)
{
    static const QString fieldName = QStringLiteral("param");
    T value;
    value.value = 0;
    if (Types::getValue(data, index, value, fieldName))
        print(line, value.value);
    else
        line.append(QLatin1String(",?"));
}

void printInteger(QString &line, qint64 value)
{
    appendDecimal(line, value);
}

// Exactly printf's %g in the C locale, whatever the process's locale: the
// sign of zero, "inf" and "nan" included.
void printFloat(QString &line, float value)
{
    char text[32];
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof text, double(value), std::chars_format::general, 6);
    line.append(QLatin1Char(','));
    line.append(QLatin1String(text, int(end.ptr - text)));
}

} // namespace

MessageInterpreter::MessageInterpreter(QObject *parent)
    : QObject(parent)
{
}

MessageInterpreter::Definition MessageInterpreter::makeDefinition(quint16 id, const QStringList &texts)
{
    Definition definition;
    definition.texts = texts;
    definition.idText =
        QString::number(id, 16).rightJustified(eLenMessageIDDigits, QLatin1Char(' ')) + QLatin1Char(',');
    definition.hasName = !texts.isEmpty();
    if (definition.hasName)
        definition.name = texts.first();
    definition.fields.reserve(qMax(0, texts.size() - 1));
    for (int i = 1; i < texts.size(); ++i)
        definition.fields.append(FieldType::fromTag(texts.at(i)));
    return definition;
}

void MessageInterpreter::updateUnhandledMessages()
{
    static const QString category = QStringLiteral("Messages/Unhandled");
    Storage::MSettings &settings = Storage::MSettings::I();
    const QStringList groups = settings.groups(category);
    for (const QString &group : groups) {
        bool ok = false;
        const uint id = group.toUInt(&ok, 16);
        // A group that is not a message identifier could never match one.
        if (!ok || id > 0xFFFF)
            continue;
        const auto key = static_cast<quint16>(id);
        _messageList.insert(key, makeDefinition(key, settings.keys(category, group)));
    }
}

Can_Source MessageInterpreter::identifySource(Can_Id channel, QString *text) const
{
    Can_Source source = eCan_Unknown;
    switch (channel) {
    case eChlid_TD_Alarm:
    case eChlid_TD_UI:
    case eChlid_TD_Sync:
    case eChlid_TD_DD:
        source = eCan_TD;
        break;
    case eChlid_DD_Alarm:
    case eChlid_DD_FP:
    case eChlid_DD_Sync:
    case eChlid_DD_TD:
        source = eCan_DD;
        break;
    case eChlid_FP_Alarm:
    case eChlid_FP_Sync:
        source = eCan_FP;
        break;
    case eChlid_UI_TD:
        source = eCan_UI;
        break;
    case eOrvane_TD:
    case eTD_Orvane:
    case eOrvane_DD:
    case eDD_Orvane:
    case eOrvane_FP:
    case eFP_Orvane:
    case eOrvane_UI:
    case eUI_Orvane:
        source = eCan_OV;
        break;
    default:
        break;
    }
    if (text)
        *text = sourceName(source);
    return source;
}

Can_Id MessageInterpreter::identifyDestination(Can_Id channel, QString *text) const
{
    Can_Source destination = eCan_Unknown;
    Can_Id reply = eChlid_UI_Sync;
    switch (channel) {
    case eChlid_TD_Alarm:
    case eChlid_TD_UI:
    case eChlid_TD_Sync:
        destination = eCan_TD;
        reply = eChlid_UI_TD;
        break;
    case eChlid_DD_Alarm:
    case eChlid_DD_FP:
    case eChlid_DD_Sync:
        destination = eCan_DD;
        break;
    case eChlid_FP_Alarm:
    case eChlid_FP_Sync:
        destination = eCan_FP;
        break;
    case eChlid_UI_TD:
        destination = eCan_TD;
        reply = eChlid_TD_UI;
        break;
    case eOrvane_TD:
    case eTD_Orvane:
    case eOrvane_DD:
    case eDD_Orvane:
    case eOrvane_FP:
    case eFP_Orvane:
    case eOrvane_UI:
    case eUI_Orvane:
        destination = eCan_OV;
        break;
    default: // the TD-DD pair and every unknown channel
        break;
    }
    if (text)
        *text = sourceName(destination);
    return reply;
}

bool MessageInterpreter::interpretMessage(const Can::Message &message, QVariantList &actions)
{
    if (gLogUnhandledOnly) {
        reportUnhandled(message, actions);
        return false;
    }
    switch (identifySource(message.can_id)) {
    case eCan_TD:
    case eCan_DD:
    case eCan_FP:
        // The other controllers' traffic is none of the simulator's business.
        actions.clear();
        return false;
    default:
        reportUnhandled(message, actions);
        return false;
    }
}

void MessageInterpreter::reportUnhandled(const Can::Message &message, QVariantList &actions)
{
    if (logByDefinition(message, actions) || gDisableUnhandledReport)
        return;
    const QString details = Format::toHexString(quint16(message.can_id), false, eLenChannelDigits) +
                            QLatin1String(" # ") +
                            Format::toHexString(quint16(message.actionId), false, eLenMessageIDDigits) +
                            QLatin1Char(' ') + Format::toHexString(message.data);
    LOG_DEBUG(tr("Unhandled Message ID (TD)") + QLatin1Char('\n') + details.toUpper());
}

bool MessageInterpreter::logByDefinition(const Can::Message &message, QVariantList &actions)
{
    actions.clear();
    actions.append(message.actionId);
    actions.append(int(message.sequence));

    const auto found = _messageList.constFind(quint16(message.actionId));
    if (found == _messageList.constEnd()) {
        if (gDisableUnhandledReport)
            LOG_DEBUG(QStringLiteral("Undefined unhandled message [%1]").arg(QString::number(message.actionId, 16)));
        return false;
    }
    const Definition &definition = found.value();

    QString line;
    line.reserve(definition.idText.size() + definition.name.size() + 4 + 12 * definition.fields.size());
    line.append(definition.idText);
    if (definition.hasName) {
        QString source;
        identifySource(message.can_id, &source);
        line.append(source);
        line.append(QLatin1String(",~"));
        line.append(definition.name);
    }

    const QByteArray &data = message.data;
    const QVariant copy(data); // shares data; every field gets one
    actions.reserve(2 + definition.fields.size());
    int index = 0;
    for (const FieldType field : definition.fields) {
        actions.append(copy);
        switch (field.kind()) {
        case FieldType::F32:
            readField<Types::F32>(data, index, line, printFloat);
            break;
        case FieldType::S32:
            readField<Types::S32>(data, index, line, printInteger);
            break;
        case FieldType::U32:
        case FieldType::Bool: // a boolean travels as 4 bytes
            readField<Types::U32>(data, index, line, printInteger);
            break;
        case FieldType::S16:
            readField<Types::S16>(data, index, line, printInteger);
            break;
        case FieldType::U16:
            readField<Types::U16>(data, index, line, printInteger);
            break;
        case FieldType::S08:
            readField<Types::S08>(data, index, line, printInteger);
            break;
        case FieldType::U08:
            readField<Types::U08>(data, index, line, printInteger);
            break;
        case FieldType::Invalid:
            break;
        }
    }

    LOG_APPED(line);

    // Acknowledgements are logged only. Check-ins arrive every second and
    // nothing the simulator does depends on them: logged here, they go no
    // further (two thread hops each, to be dropped), nor to the console.
    if (message.actionId != ID_Acknow && message.actionId != ID_UI_CHECK_IN) {
        qDebug("Message %s", qUtf8Printable(line));
        emit didUnhandledMsgReady(actions);
    }
    return true;
}

} // namespace Can
