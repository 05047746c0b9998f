#include "canbus/FieldType.h"

#include <cmath>
#include <limits>

#include "utility/types.h"

namespace {

struct TagName {
    FieldType::Kind kind;
    const char *tag;
};

constexpr TagName kTags[] = {
    {FieldType::U08, "U08"}, {FieldType::S08, "S08"}, {FieldType::U16, "U16"}, {FieldType::S16, "S16"},
    {FieldType::U32, "U32"}, {FieldType::S32, "S32"}, {FieldType::F32, "F32"}, {FieldType::Bool, "BOOL"},
};

// Integers are given in decimal or, with 0x, in hexadecimal; a sign is only
// meaningful for the signed types.
bool parseSigned(const QString &text, qint64 &value)
{
    bool ok = false;
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = t.mid(2).toLongLong(&ok, 16);
    else if (t.startsWith(QLatin1String("-0x"), Qt::CaseInsensitive))
        value = -t.mid(3).toLongLong(&ok, 16);
    else
        value = t.toLongLong(&ok, 10);
    return ok;
}

template <typename Union, typename V> void append(V value, QByteArray &payload)
{
    Union field;
    field.value = value;
    Types::setValue(field, payload);
}

template <typename Union> bool readAs(const QByteArray &payload, int &index, QVariant &value)
{
    Union field{};
    if (!Types::getValue(payload, index, field))
        return false;
    value = QVariant::fromValue(field.value);
    return true;
}

} // namespace

FieldType FieldType::fromTag(const QString &tag)
{
    for (const TagName &t : kTags)
        if (tag == QLatin1String(t.tag))
            return FieldType(t.kind);
    return FieldType();
}

QString FieldType::knownTags()
{
    QStringList tags;
    for (const TagName &t : kTags)
        tags << QLatin1String(t.tag);
    return tags.join(QLatin1Char(' '));
}

QString FieldType::tag() const
{
    for (const TagName &t : kTags)
        if (t.kind == _kind)
            return QLatin1String(t.tag);
    return QStringLiteral("?");
}

int FieldType::size() const
{
    switch (_kind) {
    case U08:
    case S08:
        return 1;
    case U16:
    case S16:
        return 2;
    case U32:
    case S32:
    case F32:
    case Bool:
        return 4;
    case Invalid:
        break;
    }
    return 0;
}

bool FieldType::read(const QByteArray &payload, int &index, QVariant &value) const
{
    switch (_kind) {
    case U08:
        return readAs<Types::U08>(payload, index, value);
    case S08:
        return readAs<Types::S08>(payload, index, value);
    case U16:
        return readAs<Types::U16>(payload, index, value);
    case S16:
        return readAs<Types::S16>(payload, index, value);
    case U32:
    case Bool:
        return readAs<Types::U32>(payload, index, value);
    case S32:
        return readAs<Types::S32>(payload, index, value);
    case F32:
        return readAs<Types::F32>(payload, index, value);
    case Invalid:
        break;
    }
    return false;
}

QString FieldType::text(const QVariant &value)
{
    if (value.userType() == QMetaType::Float)
        return QString::number(double(value.toFloat()), 'g', 6);
    switch (value.userType()) {
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
        return QString::number(value.toInt());
    default:
        break;
    }
    return QString::number(value.toULongLong());
}

bool FieldType::write(const QString &text, QByteArray &payload, QString &error) const
{
    if (_kind == F32) {
        bool ok = false;
        const float value = text.trimmed().toFloat(&ok);
        if (!ok || !std::isfinite(value)) {
            error = QStringLiteral("'%1' is not a number (F32)").arg(text);
            return false;
        }
        append<Types::F32>(value, payload);
        return true;
    }
    if (_kind == Bool) {
        const QString t = text.trimmed().toLower();
        if (t == QLatin1String("1") || t == QLatin1String("true")) {
            append<Types::U32>(quint32(1), payload);
            return true;
        }
        if (t == QLatin1String("0") || t == QLatin1String("false")) {
            append<Types::U32>(quint32(0), payload);
            return true;
        }
        error = QStringLiteral("'%1' is not a boolean (BOOL: 0, 1, true or false)").arg(text);
        return false;
    }

    qint64 low = 0;
    qint64 high = 0;
    switch (_kind) {
    case U08:
        high = std::numeric_limits<quint8>::max();
        break;
    case S08:
        low = std::numeric_limits<qint8>::min();
        high = std::numeric_limits<qint8>::max();
        break;
    case U16:
        high = std::numeric_limits<quint16>::max();
        break;
    case S16:
        low = std::numeric_limits<qint16>::min();
        high = std::numeric_limits<qint16>::max();
        break;
    case U32:
        high = std::numeric_limits<quint32>::max();
        break;
    case S32:
        low = std::numeric_limits<qint32>::min();
        high = std::numeric_limits<qint32>::max();
        break;
    default:
        error = QStringLiteral("the field has no known type");
        return false;
    }
    qint64 value = 0;
    if (!parseSigned(text, value) || value < low || value > high) {
        error = QStringLiteral("'%1' is not an integer from %2 to %3 (%4)").arg(text).arg(low).arg(high).arg(tag());
        return false;
    }
    switch (_kind) {
    case U08:
        append<Types::U08>(quint8(value), payload);
        break;
    case S08:
        append<Types::S08>(qint8(value), payload);
        break;
    case U16:
        append<Types::U16>(quint16(value), payload);
        break;
    case S16:
        append<Types::S16>(qint16(value), payload);
        break;
    case U32:
        append<Types::U32>(quint32(value), payload);
        break;
    default:
        append<Types::S32>(qint32(value), payload);
        break;
    }
    return true;
}
