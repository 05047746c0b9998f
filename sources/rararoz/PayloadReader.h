#pragma once

#include <QByteArray>
#include <QVariant>

// Reads the little-endian 4-byte fields of a parked request's payload. A
// field beyond the end of the payload cannot be read: the typed getters then
// give 0, the try-getters leave the target untouched (the shortfall is
// logged either way).
class PayloadReader
{
public:
    explicit PayloadReader(const QVariant &payload);
    explicit PayloadReader(const QByteArray &payload);

    // The field at a byte offset.
    quint32 u32(int offset) const;
    float f32(int offset) const;

    // The field at a running position, which advances past a field read.
    bool readU32(int &position, quint32 &value) const;
    bool readF32(int &position, float &value) const;

    int size() const { return _bytes.size(); }

private:
    QByteArray _bytes;
};
