#include "peer/PayloadCodec.h"

#include <QVector>

#include "utility/format.h"

DecodedPayload PayloadCodec::decode(const MessageDefinition &definition, const QByteArray &payload)
{
    DecodedPayload decoded;
    decoded.definition = &definition;
    int index = 0;
    for (const MessageDefinition::Field &field : definition.fields) {
        QVariant value;
        if (!field.type.read(payload, index, value))
            decoded.isShort = true;
        decoded.values << value;
    }
    if (index < payload.size())
        decoded.extra = payload.mid(index);
    return decoded;
}

QString PayloadCodec::text(const DecodedPayload &decoded)
{
    QStringList parts;
    if (decoded.definition) {
        for (int i = 0; i < decoded.values.size(); ++i) {
            const QVariant &value = decoded.values.at(i);
            parts << decoded.definition->fields.at(i).name + QLatin1Char('=') +
                         (value.isValid() ? FieldType::text(value) : QStringLiteral("?"));
        }
    }
    if (decoded.isShort)
        parts << QStringLiteral("(payload too short)");
    if (!decoded.extra.isEmpty())
        parts << QStringLiteral("+%1 bytes %2").arg(decoded.extra.size()).arg(Format::toHexString(decoded.extra));
    return parts.join(QLatin1Char(' '));
}

bool PayloadCodec::encode(const MessageDefinition &definition, const QStringList &values, QByteArray &payload,
                          QString &error)
{
    payload.clear();
    const int count = definition.fields.size();
    QVector<QString> given(count);
    QVector<bool> set(count, false);

    int next = 0; // the field a value without a name goes to
    for (const QString &argument : values) {
        int field = -1;
        QString text = argument;
        const int equals = argument.indexOf(QLatin1Char('='));
        if (equals > 0) {
            field = definition.fieldIndex(argument.left(equals).trimmed());
            if (field < 0) {
                error = QStringLiteral("%1 has no field '%2'").arg(definition.name, argument.left(equals).trimmed());
                return false;
            }
            text = argument.mid(equals + 1);
        } else {
            while (next < count && set.at(next))
                ++next;
            if (next >= count) {
                error = QStringLiteral("%1 takes %2 value%3; '%4' is one too many")
                            .arg(definition.name)
                            .arg(count)
                            .arg(count == 1 ? QString() : QStringLiteral("s"))
                            .arg(argument);
                return false;
            }
            field = next;
        }
        if (set.at(field)) {
            error = QStringLiteral("field '%1' of %2 is given twice")
                        .arg(definition.fields.at(field).name, definition.name);
            return false;
        }
        set[field] = true;
        given[field] = text;
    }

    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        const MessageDefinition::Field &field = definition.fields.at(i);
        if (!set.at(i)) {
            error =
                QStringLiteral("field '%1' (%2) of %3 has no value").arg(field.name, field.type.tag(), definition.name);
            return false;
        }
        QString why;
        if (!field.type.write(given.at(i), bytes, why)) {
            error = QStringLiteral("field '%1' of %2: %3").arg(field.name, definition.name, why);
            return false;
        }
    }
    payload = bytes;
    return true;
}
