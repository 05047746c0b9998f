#include "rararoz/PayloadReader.h"

#include "utility/types.h"

namespace {
const QString kU32Name = QStringLiteral("u32Var");
const QString kF32Name = QStringLiteral("f32Var");
} // namespace

PayloadReader::PayloadReader(const QVariant &payload)
    : _bytes(payload.toByteArray())
{
}

PayloadReader::PayloadReader(const QByteArray &payload)
    : _bytes(payload)
{
}

quint32 PayloadReader::u32(int offset) const
{
    quint32 value = 0;
    readU32(offset, value);
    return value;
}

float PayloadReader::f32(int offset) const
{
    float value = 0.0f;
    readF32(offset, value);
    return value;
}

bool PayloadReader::readU32(int &position, quint32 &value) const
{
    Types::U32 field;
    if (!Types::getValue(_bytes, position, field, kU32Name))
        return false;
    value = field.value;
    return true;
}

bool PayloadReader::readF32(int &position, float &value) const
{
    Types::F32 field;
    if (!Types::getValue(_bytes, position, field, kF32Name))
        return false;
    value = field.value;
    return true;
}
