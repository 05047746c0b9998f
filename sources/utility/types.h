#pragma once

#include <QByteArray>
#include <QString>

// Typed payload values. Payload bytes are little-endian on the wire; getValue
// and setValue encode and decode that order explicitly, so the result does not
// depend on the host's byte order.
namespace Types {

union U08 {
    quint8 value;
    quint8 bytes[sizeof(quint8)];
};
union S08 {
    qint8 value;
    quint8 bytes[sizeof(qint8)];
};
union U16 {
    quint16 value;
    quint8 bytes[sizeof(quint16)];
};
union S16 {
    qint16 value;
    quint8 bytes[sizeof(qint16)];
};
union U32 {
    quint32 value;
    quint8 bytes[sizeof(quint32)];
};
union S32 {
    qint32 value;
    quint8 bytes[sizeof(qint32)];
};
union F32 {
    float value;
    quint8 bytes[sizeof(float)];
};

// Reads T from buffer at index. On success advances index past the value; on
// failure logs why and leaves index and value untouched. name, when given,
// tells in the log which field could not be read.
template <typename T> bool getValue(const QByteArray &buffer, int &index, T &value, QString name = QString());

// Appends the value's bytes, least significant first.
template <typename T> bool setValue(const T &value, QByteArray &buffer);

// Adds step (0 counts as 1) with wrap-around, stores and returns the sum.
template <typename T> T safeIncrement(T &value, quint8 step = 1);

#define RARAROZ_TYPES_EXTERN(vTYPE)                                                                                    \
    extern template bool getValue<vTYPE>(const QByteArray &, int &, vTYPE &, QString);                                 \
    extern template bool setValue<vTYPE>(const vTYPE &, QByteArray &);
RARAROZ_TYPES_EXTERN(U08)
RARAROZ_TYPES_EXTERN(S08)
RARAROZ_TYPES_EXTERN(U16)
RARAROZ_TYPES_EXTERN(S16)
RARAROZ_TYPES_EXTERN(U32)
RARAROZ_TYPES_EXTERN(S32)
RARAROZ_TYPES_EXTERN(F32)
#undef RARAROZ_TYPES_EXTERN

extern template quint16 safeIncrement<quint16>(quint16 &, quint8);
extern template quint32 safeIncrement<quint32>(quint32 &, quint8);
extern template quint64 safeIncrement<quint64>(quint64 &, quint8);

} // namespace Types
