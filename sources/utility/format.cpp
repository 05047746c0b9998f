#include "utility/format.h"

#include "utility/types.h"

namespace Format {

namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";

template <typename T, typename V> void appendTyped(QByteArray &buffer, V value)
{
    T typed;
    typed.value = value;
    Types::setValue(typed, buffer);
}

void appendVariant(QByteArray &buffer, const QVariant &value)
{
    // Called for every value of every transmitted message: switch on the type
    // id and read the stored value directly, without QVariant's conversions.
    const void *data = value.constData();
    switch (value.userType()) {
    case QMetaType::Bool:
        buffer.append(static_cast<char>(*static_cast<const bool *>(data) ? 1 : 0));
        break;
    case QMetaType::Int:
        appendTyped<Types::S32>(buffer, *static_cast<const int *>(data));
        break;
    case QMetaType::UInt:
        appendTyped<Types::U32>(buffer, *static_cast<const uint *>(data));
        break;
    case QMetaType::Double:
        appendTyped<Types::F32>(buffer, static_cast<float>(*static_cast<const double *>(data)));
        break;
    case QMetaType::Float:
        appendTyped<Types::F32>(buffer, *static_cast<const float *>(data));
        break;
    case QMetaType::QVariantList:
        for (const QVariant &item : *static_cast<const QVariantList *>(data))
            appendVariant(buffer, item);
        break;
    case QMetaType::QString:
        buffer.append(static_cast<const QString *>(data)->toUtf8());
        break;
    case QMetaType::QByteArray:
        buffer.append(*static_cast<const QByteArray *>(data));
        break;
    case QMetaType::Short:
        appendTyped<Types::S16>(buffer, *static_cast<const short *>(data));
        break;
    case QMetaType::SChar:
        appendTyped<Types::S08>(buffer, *static_cast<const signed char *>(data));
        break;
    case QMetaType::Char:
        // Plain char is unsigned on some targets; only its bit pattern matters.
        buffer.append(*static_cast<const char *>(data));
        break;
    case QMetaType::UShort:
        appendTyped<Types::U16>(buffer, *static_cast<const ushort *>(data));
        break;
    case QMetaType::UChar:
        appendTyped<Types::U08>(buffer, *static_cast<const uchar *>(data));
        break;
    default:
        buffer.append('\0');
        break;
    }
}

} // namespace

QString toHexString(quint16 value, bool prefix, quint8 width)
{
    QString text = QString::number(value, 16).toUpper();
    if (text.size() < width)
        text.prepend(QString(width - text.size(), QLatin1Char('0')));
    if (prefix)
        text.prepend(QLatin1String("0x"));
    return text;
}

QByteArray toHexByteArray(const QByteArray &bytes, char separator)
{
    const int count = bytes.size();
    if (count == 0)
        return QByteArray();
    QByteArray text(count * 3 - 1, Qt::Uninitialized);
    char *out = text.data();
    const auto *in = reinterpret_cast<const quint8 *>(bytes.constData());
    for (int i = 0; i < count; ++i) {
        if (i)
            *out++ = separator;
        *out++ = kHexUpper[in[i] >> 4];
        *out++ = kHexUpper[in[i] & 0x0F];
    }
    return text;
}

QString toHexString(const QByteArray &bytes, char separator)
{
    return QString::fromLatin1(toHexByteArray(bytes, separator));
}

QByteArray fromVariant(const QVariant &value)
{
    QByteArray buffer;
    appendVariant(buffer, value);
    return buffer;
}

} // namespace Format
