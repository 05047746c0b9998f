#include <QtTest>

#include <climits>

#include "common/LogSpy.h"
#include "utility/types.h"

using Storage::Logger;

class TestTypes : public QObject
{
    Q_OBJECT

private slots:
    // Reading
    void readsLittleEndian();
    void readsSignedValues();
    void readsFloat();
    void readsFieldsWithOneRunningIndex();
    void failsWhenValueDoesNotFit();
    void failureNamesTheField();
    void failureNamesEachType();
    void failsOnNegativeIndex();
    void failsOnHugeIndexWithoutOverflow();
    void failsOnEmptyBuffer();

    // Writing
    void writes_data();
    void writes();
    void appendsToExistingBytes();
    void roundTripsExtremes();

    // Counters
    void safeIncrement16_data();
    void safeIncrement16();
    void safeIncrementWrapsWiderCounters();
};

void TestTypes::readsLittleEndian()
{
    const QByteArray buffer = QByteArray::fromHex("0102");
    int index = 0;
    Types::U16 u16{};
    QVERIFY(Types::getValue(buffer, index, u16));
    QCOMPARE(u16.value, quint16(0x0201));
    QCOMPARE(index, 2);

    index = 0;
    Types::U32 u32{};
    QVERIFY(Types::getValue(QByteArray::fromHex("78563412"), index, u32));
    QCOMPARE(u32.value, quint32(0x12345678));

    index = 0;
    Types::U08 u08{};
    QVERIFY(Types::getValue(QByteArray::fromHex("fe"), index, u08));
    QCOMPARE(u08.value, quint8(0xFE));
}

void TestTypes::readsSignedValues()
{
    int index = 0;
    Types::S16 s16{};
    QVERIFY(Types::getValue(QByteArray::fromHex("ffff"), index, s16));
    QCOMPARE(s16.value, qint16(-1));

    index = 0;
    QVERIFY(Types::getValue(QByteArray::fromHex("0080"), index, s16));
    QCOMPARE(s16.value, qint16(SHRT_MIN));

    index = 0;
    Types::S08 s08{};
    QVERIFY(Types::getValue(QByteArray::fromHex("80"), index, s08));
    QCOMPARE(s08.value, qint8(-128));

    index = 0;
    Types::S32 s32{};
    QVERIFY(Types::getValue(QByteArray::fromHex("feffffff"), index, s32));
    QCOMPARE(s32.value, qint32(-2));
    index = 0;
    QVERIFY(Types::getValue(QByteArray::fromHex("00000080"), index, s32));
    QCOMPARE(s32.value, qint32(INT_MIN));
}

void TestTypes::readsFloat()
{
    int index = 0;
    Types::F32 f32{};
    QVERIFY(Types::getValue(QByteArray::fromHex("0000803f"), index, f32));
    QCOMPARE(f32.value, 1.0f);
    index = 0;
    QVERIFY(Types::getValue(QByteArray::fromHex("000020c1"), index, f32));
    QCOMPARE(f32.value, -10.0f);
}

void TestTypes::readsFieldsWithOneRunningIndex()
{
    // U08, S16, F32, U32 packed back to back, as a payload is read field by field.
    const QByteArray payload = QByteArray::fromHex("07"
                                                   "fdff"
                                                   "0000c03f"
                                                   "0a000000");
    int index = 0;
    Types::U08 a{};
    Types::S16 b{};
    Types::F32 c{};
    Types::U32 d{};
    QVERIFY(Types::getValue(payload, index, a));
    QVERIFY(Types::getValue(payload, index, b));
    QVERIFY(Types::getValue(payload, index, c));
    QVERIFY(Types::getValue(payload, index, d));
    QCOMPARE(a.value, quint8(7));
    QCOMPARE(b.value, qint16(-3));
    QCOMPARE(c.value, 1.5f);
    QCOMPARE(d.value, quint32(10));
    QCOMPARE(index, payload.size());
}

void TestTypes::failsWhenValueDoesNotFit()
{
    LogSpy spy;
    const QByteArray buffer = QByteArray::fromHex("00010203040506");
    Types::U32 value{};
    value.value = 0xDEADBEEF;

    int index = 4;
    QVERIFY(!Types::getValue(buffer, index, value));
    QCOMPARE(index, 4);
    QCOMPARE(value.value, quint32(0xDEADBEEF));
    QCOMPARE(spy.lines().size(), 1);
    QCOMPARE(spy.lines().first().content,
             QStringLiteral("Not enough data from position 4 to the length of 4 to get data of "
                            "type 'Types::U32' in buffer 00.01.02.03.04.05.06 "));
    QCOMPARE(spy.lines().first().type, Logger::eLogDebug);
    QVERIFY(spy.lines().first().timestamp);

    // The last position where it still fits.
    spy.clear();
    index = 3;
    QVERIFY(Types::getValue(buffer, index, value));
    QCOMPARE(index, 7);
    QCOMPARE(value.value, quint32(0x06050403));
    QVERIFY(spy.lines().isEmpty());
}

void TestTypes::failureNamesTheField()
{
    LogSpy spy;
    int index = 1;
    Types::S16 value{};
    QVERIFY(!Types::getValue(QByteArray::fromHex("ab"), index, value, QStringLiteral("param")));
    QCOMPARE(spy.contents(), QStringList(QStringLiteral("Not enough data from position 1 to the length of 2 to get "
                                                        "data of type 'Types::S16' in buffer AB for value param")));
}

void TestTypes::failureNamesEachType()
{
    // Each union reports its own name and size, so a log line tells which
    // field type was expected.
    LogSpy spy;
    const QByteArray empty;
    int index = 0;
    Types::U08 u08{};
    Types::S08 s08{};
    Types::U16 u16{};
    Types::S16 s16{};
    Types::U32 u32{};
    Types::S32 s32{};
    Types::F32 f32{};
    QVERIFY(!Types::getValue(empty, index, u08));
    QVERIFY(!Types::getValue(empty, index, s08));
    QVERIFY(!Types::getValue(empty, index, u16));
    QVERIFY(!Types::getValue(empty, index, s16));
    QVERIFY(!Types::getValue(empty, index, u32));
    QVERIFY(!Types::getValue(empty, index, s32));
    QVERIFY(!Types::getValue(empty, index, f32));
    const QStringList lines = spy.contents();
    QCOMPARE(lines.size(), 7);
    const char *names[] = {"U08", "S08", "U16", "S16", "U32", "S32", "F32"};
    const int sizes[] = {1, 1, 2, 2, 4, 4, 4};
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(lines.at(i), QStringLiteral("Not enough data from position 0 to the length of %1 to get data "
                                             "of type 'Types::%2' in buffer  ")
                                  .arg(sizes[i])
                                  .arg(QLatin1String(names[i])));
    }
}

void TestTypes::failsOnNegativeIndex()
{
    LogSpy spy;
    const QByteArray buffer = QByteArray::fromHex("0102030405060708");
    int index = -2;
    Types::U16 value{};
    value.value = 0x1234;
    // -2 + 2 is within the buffer length, but there is nothing before byte 0.
    QVERIFY(!Types::getValue(buffer, index, value));
    QCOMPARE(index, -2);
    QCOMPARE(value.value, quint16(0x1234));
    QCOMPARE(spy.count(QStringLiteral("Not enough data from position -2 to the length of 2")), 1);
}

void TestTypes::failsOnHugeIndexWithoutOverflow()
{
    const QByteArray buffer = QByteArray::fromHex("01020304");
    int index = INT_MAX - 1;
    Types::U32 value{};
    QVERIFY(!Types::getValue(buffer, index, value));
    QCOMPARE(index, INT_MAX - 1);
}

void TestTypes::failsOnEmptyBuffer()
{
    int index = 0;
    Types::U08 value{};
    QVERIFY(!Types::getValue(QByteArray(), index, value));
    QCOMPARE(index, 0);
}

void TestTypes::writes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected");

    auto encode = [](auto value) {
        QByteArray buffer;
        const bool ok = Types::setValue(value, buffer);
        return ok ? buffer : QByteArray("setValue failed");
    };
    QTest::newRow("F32 1.0") << encode(Types::F32{1.0f}) << QByteArray::fromHex("0000803f");
    QTest::newRow("F32 -0.5") << encode(Types::F32{-0.5f}) << QByteArray::fromHex("000000bf");
    QTest::newRow("U16") << encode(Types::U16{0x0201}) << QByteArray::fromHex("0102");
    QTest::newRow("S16 -2") << encode(Types::S16{-2}) << QByteArray::fromHex("feff");
    QTest::newRow("U32") << encode(Types::U32{0x12345678}) << QByteArray::fromHex("78563412");
    QTest::newRow("S32 -1") << encode(Types::S32{-1}) << QByteArray::fromHex("ffffffff");
    QTest::newRow("S32 min") << encode(Types::S32{INT_MIN}) << QByteArray::fromHex("00000080");
    QTest::newRow("U08") << encode(Types::U08{0xC3}) << QByteArray::fromHex("c3");
    QTest::newRow("S08 -1") << encode(Types::S08{-1}) << QByteArray::fromHex("ff");
}

void TestTypes::writes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);
    QCOMPARE(bytes.toHex(), expected.toHex());
}

void TestTypes::appendsToExistingBytes()
{
    QByteArray buffer = QByteArray::fromHex("aa");
    QVERIFY(Types::setValue(Types::U16{0xBBCC}, buffer));
    QVERIFY(Types::setValue(Types::S08{0x11}, buffer));
    QCOMPARE(buffer, QByteArray::fromHex("aaccbb11"));
}

void TestTypes::roundTripsExtremes()
{
    QByteArray buffer;
    Types::setValue(Types::U32{0xFFFFFFFF}, buffer);
    Types::setValue(Types::S32{INT_MAX}, buffer);
    Types::setValue(Types::S16{SHRT_MIN}, buffer);
    Types::setValue(Types::F32{-123.25f}, buffer);
    Types::setValue(Types::S08{-128}, buffer);
    QCOMPARE(buffer.size(), 15);

    int index = 0;
    Types::U32 u32{};
    Types::S32 s32{};
    Types::S16 s16{};
    Types::F32 f32{};
    Types::S08 s08{};
    QVERIFY(Types::getValue(buffer, index, u32));
    QVERIFY(Types::getValue(buffer, index, s32));
    QVERIFY(Types::getValue(buffer, index, s16));
    QVERIFY(Types::getValue(buffer, index, f32));
    QVERIFY(Types::getValue(buffer, index, s08));
    QCOMPARE(u32.value, quint32(0xFFFFFFFF));
    QCOMPARE(s32.value, qint32(INT_MAX));
    QCOMPARE(s16.value, qint16(SHRT_MIN));
    QCOMPARE(f32.value, -123.25f);
    QCOMPARE(s08.value, qint8(-128));
}

void TestTypes::safeIncrement16_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("expected");

    QTest::newRow("plain") << 10 << 5 << 15;
    QTest::newRow("wraps to zero") << 65535 << 1 << 0;
    QTest::newRow("step 0 counts as 1 at the top") << 65535 << 0 << 0;
    QTest::newRow("step 0 counts as 1") << 0 << 0 << 1;
    QTest::newRow("wraps past zero") << 65534 << 3 << 1;
    QTest::newRow("largest step") << 65500 << 255 << 219;
}

void TestTypes::safeIncrement16()
{
    QFETCH(int, start);
    QFETCH(int, step);
    QFETCH(int, expected);

    quint16 counter = static_cast<quint16>(start);
    const quint16 result = Types::safeIncrement(counter, static_cast<quint8>(step));
    QCOMPARE(int(result), expected);
    QCOMPARE(int(counter), expected); // stored as well as returned
}

void TestTypes::safeIncrementWrapsWiderCounters()
{
    quint32 c32 = 0xFFFFFFFFu;
    QCOMPARE(Types::safeIncrement(c32, 1), quint32(0));
    QCOMPARE(c32, quint32(0));
    c32 = 0xFFFF;
    QCOMPARE(Types::safeIncrement(c32, 1), quint32(0x10000)); // no 16-bit truncation

    quint64 c64 = std::numeric_limits<quint64>::max();
    QCOMPARE(Types::safeIncrement(c64, 0), quint64(0));
    c64 = 0xFFFFFFFFull;
    QCOMPARE(Types::safeIncrement(c64, 2), quint64(0x100000001ull));
}

QTEST_GUILESS_MAIN(TestTypes)
#include "tst_types.moc"
