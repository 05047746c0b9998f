#include <QtTest>

#include "utility/format.h"

class TestFormat : public QObject
{
    Q_OBJECT

private slots:
    void hexOfValue_data();
    void hexOfValue();
    void hexOfValueDefaults();
    void hexOfBytes_data();
    void hexOfBytes();
    void hexOfBytesAsText();
    void fromVariant_data();
    void fromVariant();
    void fromVariantOfNestedLists();
};

void TestFormat::hexOfValue_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("prefix");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");

    QTest::newRow("channel") << 0x41 << false << 3 << "041";
    QTest::newRow("crc") << 0xa5 << true << 2 << "0xA5";
    QTest::newRow("small crc padded") << 0x5 << true << 2 << "0x05";
    QTest::newRow("identifier") << 0x1000 << true << 4 << "0x1000";
    QTest::newRow("upper-case digits") << 0xabcd << false << 4 << "ABCD";
    QTest::newRow("width pads, never cuts") << 0x1234 << false << 2 << "1234";
    QTest::newRow("zero width") << 0 << false << 0 << "0";
    QTest::newRow("wider than value") << 0xFFFF << true << 6 << "0x00FFFF";
}

void TestFormat::hexOfValue()
{
    QFETCH(int, value);
    QFETCH(bool, prefix);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(Format::toHexString(static_cast<quint16>(value), prefix, static_cast<quint8>(width)), expected);
}

void TestFormat::hexOfValueDefaults()
{
    QCOMPARE(Format::toHexString(quint16(0x5)), QStringLiteral("0005"));
}

void TestFormat::hexOfBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty") << QByteArray() << '.' << QByteArray();
    QTest::newRow("one zero byte") << QByteArray(1, '\0') << '.' << QByteArray("00");
    QTest::newRow("no trailing separator") << QByteArray::fromHex("01abff") << '.' << QByteArray("01.AB.FF");
    QTest::newRow("other separator") << QByteArray::fromHex("a50c") << ' ' << QByteArray("A5 0C");
    QTest::newRow("high bytes") << QByteArray::fromHex("80fe7f") << '.' << QByteArray("80.FE.7F");
}

void TestFormat::hexOfBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(char, separator);
    QFETCH(QByteArray, expected);
    QCOMPARE(Format::toHexByteArray(bytes, separator), expected);
    QCOMPARE(Format::toHexString(bytes, separator), QString::fromLatin1(expected));
}

void TestFormat::hexOfBytesAsText()
{
    // The default separator is the one every log line of the CAN stack uses.
    QCOMPARE(Format::toHexString(QByteArray::fromHex("a50500ffff000600")), QStringLiteral("A5.05.00.FF.FF.00.06.00"));
    QCOMPARE(Format::toHexByteArray(QByteArray::fromHex("0102")), QByteArray("01.02"));
}

void TestFormat::fromVariant_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("bool true") << QVariant(true) << int(QMetaType::Bool) << QByteArray::fromHex("01");
    QTest::newRow("bool false") << QVariant(false) << int(QMetaType::Bool) << QByteArray::fromHex("00");
    QTest::newRow("int") << QVariant(-2) << int(QMetaType::Int) << QByteArray::fromHex("feffffff");
    QTest::newRow("uint") << QVariant(0x01020304u) << int(QMetaType::UInt) << QByteArray::fromHex("04030201");
    QTest::newRow("double narrowed") << QVariant(1.0) << int(QMetaType::Double) << QByteArray::fromHex("0000803f");
    QTest::newRow("double 0.1") << QVariant(0.1) << int(QMetaType::Double) << QByteArray::fromHex("cdcccc3d");
    QTest::newRow("float") << QVariant(-2.0f) << int(QMetaType::Float) << QByteArray::fromHex("000000c0");
    QTest::newRow("string as UTF-8") << QVariant(QString::fromUtf8("A\xc3\xa9")) << int(QMetaType::QString)
                                     << QByteArray::fromHex("41c3a9");
    QTest::newRow("empty string") << QVariant(QString()) << int(QMetaType::QString) << QByteArray();
    QTest::newRow("byte array as is") << QVariant(QByteArray::fromHex("00ff80")) << int(QMetaType::QByteArray)
                                      << QByteArray::fromHex("00ff80");
    QTest::newRow("short") << QVariant::fromValue<short>(-1) << int(QMetaType::Short) << QByteArray::fromHex("ffff");
    QTest::newRow("ushort") << QVariant::fromValue<ushort>(0xABCD) << int(QMetaType::UShort)
                            << QByteArray::fromHex("cdab");
    QTest::newRow("signed char") << QVariant::fromValue<signed char>(-128) << int(QMetaType::SChar)
                                 << QByteArray::fromHex("80");
    QTest::newRow("char") << QVariant::fromValue<char>('A') << int(QMetaType::Char) << QByteArray::fromHex("41");
    QTest::newRow("char high bit") << QVariant::fromValue<char>(static_cast<char>(0xFF)) << int(QMetaType::Char)
                                   << QByteArray::fromHex("ff");
    QTest::newRow("uchar") << QVariant::fromValue<uchar>(0xFE) << int(QMetaType::UChar) << QByteArray::fromHex("fe");
    QTest::newRow("empty list") << QVariant(QVariantList()) << int(QMetaType::QVariantList) << QByteArray();
    // Types the payload encoding does not know keep one placeholder byte.
    QTest::newRow("qint64") << QVariant(qint64(0x0102030405060708)) << int(QMetaType::LongLong) << QByteArray(1, '\0');
    QTest::newRow("quint64") << QVariant(quint64(1)) << int(QMetaType::ULongLong) << QByteArray(1, '\0');
    QTest::newRow("invalid") << QVariant() << int(QMetaType::UnknownType) << QByteArray(1, '\0');
    QTest::newRow("string list") << QVariant(QStringList{"a", "b"}) << int(QMetaType::QStringList)
                                 << QByteArray(1, '\0');
}

void TestFormat::fromVariant()
{
    QFETCH(QVariant, value);
    QFETCH(int, type);
    QFETCH(QByteArray, expected);
    QCOMPARE(value.userType(), type); // the row tests the type it claims to
    QCOMPARE(Format::fromVariant(value).toHex(), expected.toHex());
}

void TestFormat::fromVariantOfNestedLists()
{
    // A response: accepted (U32), reject reason (S32), a float and a nested
    // list of a bool and a ushort, concatenated in order.
    const QVariantList inner{true, QVariant::fromValue<ushort>(2)};
    const QVariantList list{1u, 0, 2.5f, QVariant(inner), qint64(7)};
    QCOMPARE(Format::fromVariant(list).toHex(), QByteArray("01000000"
                                                           "00000000"
                                                           "00002040"
                                                           "01"
                                                           "0200"
                                                           "00"));
}

QTEST_APPLESS_MAIN(TestFormat)
#include "tst_format.moc"
