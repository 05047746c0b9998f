#include <QtTest>

#include "utility/crc.h"

namespace {

// Bit-at-a-time CRC-8 (poly 0x31, MSB first, init 0): the slow textbook form,
// independent of the table the production code uses.
quint8 referenceCrc(const QByteArray &bytes)
{
    quint8 crc = 0;
    for (const char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<quint8>((crc & 0x80) ? (crc << 1) ^ 0x31 : (crc << 1));
    }
    return crc;
}

} // namespace

class TestCrc : public QObject
{
    Q_OBJECT

private slots:
    void knownVectors_data();
    void knownVectors();
    void singleByteIsTableEntry_data();
    void singleByteIsTableEntry();
    void everySingleByteMatchesReference();
    void longAndHighBitInputsMatchReference();
    void continuationEqualsWholeBuffer();
    void detectsSingleBitFlips();
};

void TestCrc::knownVectors_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");

    QTest::newRow("check string") << QByteArray("123456789") << 0xA2;
    QTest::newRow("abc") << QByteArray("abc") << 0xA9;
    QTest::newRow("empty") << QByteArray() << 0x00;
    // Header bytes of real frames: sequence 12 / id 0x1000 / length 0 and the
    // acknowledgement with sequence 5.
    QTest::newRow("check-in header") << QByteArray::fromHex("0c00100000") << 0x85;
    QTest::newRow("ack header") << QByteArray::fromHex("0500ffff00") << 0x06;
    QTest::newRow("treatment state") << QByteArray::fromHex("02003c000c010000000200000003000000") << 0xA4;
}

void TestCrc::knownVectors()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);
    QCOMPARE(int(crc8(bytes)), crc);
}

void TestCrc::singleByteIsTableEntry_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("crc");
    // The table's first eight and last two entries.
    const int head[] = {0x00, 0x31, 0x62, 0x53, 0xC4, 0xF5, 0xA6, 0x97};
    for (int i = 0; i < 8; ++i)
        QTest::addRow("table[%d]", i) << i << head[i];
    QTest::newRow("table[254]") << 254 << 0x9D;
    QTest::newRow("table[255]") << 255 << 0xAC;
}

void TestCrc::singleByteIsTableEntry()
{
    QFETCH(int, byte);
    QFETCH(int, crc);
    QCOMPARE(int(crc8(QByteArray(1, static_cast<char>(byte)))), crc);
}

void TestCrc::everySingleByteMatchesReference()
{
    for (int i = 0; i < 256; ++i) {
        const QByteArray one(1, static_cast<char>(i));
        QCOMPARE(crc8(one), referenceCrc(one));
    }
}

void TestCrc::longAndHighBitInputsMatchReference()
{
    // Bytes >= 0x80 catch sign-extension mistakes (char is signed on x86 and
    // unsigned on Arm).
    QByteArray bytes;
    for (int i = 0; i < 600; ++i)
        bytes.append(static_cast<char>((i * 151 + 0x80) & 0xFF));
    QCOMPARE(crc8(bytes), referenceCrc(bytes));
    QCOMPARE(crc8(QByteArray(300, '\xFF')), referenceCrc(QByteArray(300, '\xFF')));
}

void TestCrc::continuationEqualsWholeBuffer()
{
    const QByteArray a = QByteArray::fromHex("a5fe0080");
    const QByteArray b = QByteArray::fromHex("7f00ff13");
    QCOMPARE(crc8(b.constData(), b.size(), crc8(a.constData(), a.size())), crc8(a + b));
    QCOMPARE(crc8(a.constData(), 0, 0x5C), quint8(0x5C));
}

void TestCrc::detectsSingleBitFlips()
{
    const QByteArray original("123456789");
    for (int i = 0; i < original.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            QByteArray flipped = original;
            flipped[i] = static_cast<char>(static_cast<quint8>(flipped[i]) ^ (1u << bit));
            QVERIFY(crc8(flipped) != 0xA2);
        }
    }
}

QTEST_APPLESS_MAIN(TestCrc)
#include "tst_crc.moc"
