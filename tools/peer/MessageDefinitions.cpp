#include "peer/MessageDefinitions.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include "peer/ConfigLocations.h"
#include "storage/Logger.h"
#include "model/settings/MSettings.h"
#include "storage/Settings.h"

namespace {

const QString kResponseKey = QStringLiteral("@response");

QString nameKey(const QString &name)
{
    QString key = name.trimmed().toUpper();
    if (key.startsWith(QLatin1String("ID_")))
        key.remove(0, 3);
    return key;
}

} // namespace

QString MessageDefinitions::category()
{
    return QStringLiteral("Messages/Peer");
}

QStringList MessageDefinitions::defaultLocations(const QString &settingsPath)
{
    return ConfigLocations::candidates(category() + QStringLiteral(".conf"), settingsPath);
}

bool MessageDefinitions::parseId(const QString &text, quint16 &id)
{
    QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        t.remove(0, 2);
    if (t.isEmpty() || t.size() > 4)
        return false;
    bool ok = false;
    const uint value = t.toUInt(&ok, 16);
    if (!ok)
        return false;
    id = quint16(value);
    return true;
}

bool MessageDefinitions::load(const QString &fileName, QString &error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QStringLiteral("cannot read the message definitions %1: %2").arg(fileName, file.errorString());
        return false;
    }
    const bool ok = loadText(QString::fromUtf8(file.readAll()), fileName, error);
    if (ok)
        _fileName = fileName;
    return ok;
}

bool MessageDefinitions::loadText(const QString &text, const QString &origin, QString &error)
{
    _definitions.clear();
    _byName.clear();
    _fileName.clear();

    // The system's own reader parses the file into the settings model; its
    // complaints come through the logger, so listen to it meanwhile.
    Storage::MSettings &model = Storage::MSettings::I();
    model.clear();
    QString parseMessage;
    const QMetaObject::Connection listening =
        QObject::connect(&Storage::Logger::I(), &Storage::Logger::didLog,
                         [&parseMessage](const QString &line, Storage::Logger::LogType, bool) { parseMessage = line; });
    const bool parsed = Storage::Settings::parse({category(), QString(), text.trimmed()});
    QObject::disconnect(listening);
    if (!parsed) {
        error =
            QStringLiteral("%1: %2").arg(origin, parseMessage.isEmpty() ? QStringLiteral("parse error") : parseMessage);
        model.clear();
        return false;
    }

    QMap<quint16, MessageDefinition> definitions;
    QHash<QString, quint16> byName;
    for (const QString &group : model.groups(category())) {
        const auto fail = [&](const QString &what) {
            error = QStringLiteral("%1: [%2] %3").arg(origin, group, what);
            model.clear();
            return false;
        };
        MessageDefinition definition;
        if (!parseId(group, definition.id))
            return fail(QStringLiteral("is not a hexadecimal message identifier"));
        const QStringList keys = model.keys(category(), group);
        const QVariantList values = model.values(category(), group);
        if (keys.isEmpty() || !values.first().toString().isEmpty())
            return fail(QStringLiteral("must start with the message's name on a line of its own"));
        definition.name = keys.first();
        for (int i = 1; i < keys.size(); ++i) {
            const QString key = keys.at(i);
            const QString value = values.at(i).toString();
            if (key == kResponseKey) {
                if (definition.hasResponse || !parseId(value, definition.responseId))
                    return fail(QStringLiteral("has a bad or second @response: '%1'").arg(value));
                definition.hasResponse = true;
                continue;
            }
            const FieldType type = FieldType::fromTag(value);
            if (!type.isValid())
                return fail(QStringLiteral("field '%1' has type '%2'; known types: %3")
                                .arg(key, value, FieldType::knownTags()));
            if (definition.fieldIndex(key) >= 0)
                return fail(QStringLiteral("field '%1' is defined twice").arg(key));
            definition.fields.append({key, type});
        }
        if (definitions.contains(definition.id))
            return fail(
                QStringLiteral("defines identifier %1 a second time").arg(definition.id, 4, 16, QLatin1Char('0')));
        const QString key = nameKey(definition.name);
        if (byName.contains(key))
            return fail(QStringLiteral("reuses the name %1").arg(definition.name));
        byName.insert(key, definition.id);
        definitions.insert(definition.id, definition);
    }
    model.clear();
    if (definitions.isEmpty()) {
        error = QStringLiteral("%1: defines no message").arg(origin);
        return false;
    }
    _definitions = definitions;
    _byName = byName;
    return true;
}

const MessageDefinition *MessageDefinitions::find(quint16 id) const
{
    const auto it = _definitions.constFind(id);
    return it == _definitions.constEnd() ? nullptr : &it.value();
}

const MessageDefinition *MessageDefinitions::lookup(const QString &nameOrId) const
{
    const auto byName = _byName.constFind(nameKey(nameOrId));
    if (byName != _byName.constEnd())
        return find(byName.value());
    quint16 id = 0;
    if (parseId(nameOrId, id))
        return find(id);
    return nullptr;
}

QList<quint16> MessageDefinitions::select(const QString &pattern) const
{
    const QString text = pattern.trimmed();
    if (text.contains(QLatin1Char('*')) || text.contains(QLatin1Char('?'))) {
        const QRegularExpression expression(QRegularExpression::wildcardToRegularExpression(nameKey(text)),
                                            QRegularExpression::CaseInsensitiveOption);
        QList<quint16> ids;
        for (auto it = _byName.constBegin(); it != _byName.constEnd(); ++it)
            if (expression.match(it.key()).hasMatch())
                ids << it.value();
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    if (const MessageDefinition *definition = lookup(text))
        return {definition->id};
    // An identifier the file does not define can still be filtered on.
    quint16 id = 0;
    if (parseId(text, id))
        return {id};
    return {};
}

QString MessageDefinitions::name(quint16 id) const
{
    const MessageDefinition *definition = find(id);
    return definition ? definition->name : QString();
}
