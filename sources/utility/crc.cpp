#include "utility/crc.h"

#include <array>

namespace {

constexpr quint8 kPolynomial = 0x31;

constexpr std::array<quint8, 256> makeTable()
{
    std::array<quint8, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint8 crc = static_cast<quint8>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<quint8>((crc & 0x80) ? (crc << 1) ^ kPolynomial : crc << 1);
        table[static_cast<std::size_t>(i)] = crc;
    }
    return table;
}

// Built by the compiler: every received message is checked, so no run-time set-up.
constexpr std::array<quint8, 256> kTable = makeTable();

static_assert(kTable[1] == 0x31 && kTable[7] == 0x97 && kTable[255] == 0xAC,
              "CRC table does not match the bus's polynomial");

} // namespace

quint8 crc8(const char *bytes, int size, quint8 crc)
{
    const auto *data = reinterpret_cast<const quint8 *>(bytes);
    for (int i = 0; i < size; ++i)
        crc = kTable[crc ^ data[i]];
    return crc;
}

quint8 crc8(const QByteArray &bytes)
{
    return crc8(bytes.constData(), bytes.size());
}
