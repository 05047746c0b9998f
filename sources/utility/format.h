#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Hexadecimal text for log lines and the encoding of action-list values into
// payload bytes.
namespace Format {

// Upper-case hex, zero-padded to width (never cut), "0x" first when prefix.
QString toHexString(quint16 value, bool prefix = false, quint8 width = 4);

// Each byte as two upper-case hex digits, separator between bytes.
QByteArray toHexByteArray(const QByteArray &bytes, char separator = '.');
QString toHexString(const QByteArray &bytes, char separator = '.');

// Payload bytes of one action-list value, chosen by the variant's type;
// unsupported types give one 0x00 byte so the payload keeps its shape.
QByteArray fromVariant(const QVariant &value);

} // namespace Format
