#pragma once

#include <QByteArray>

// The message checksum: CRC-8, polynomial 0x31, initial value 0, most
// significant bit first, no reflection, no final XOR.
quint8 crc8(const QByteArray &bytes);

// The same over raw bytes, continuing from crc, so a checksum over several
// pieces needs no concatenated copy: crc8(b, nb, crc8(a, na)) == crc8(a + b).
quint8 crc8(const char *bytes, int size, quint8 crc = 0);
