#include <QtTest>

#include "canbus/FieldType.h"
#include "peer/MessageDefinitions.h"
#include "peer/PayloadCodec.h"
#include "utility/types.h"

// The peer tool's payload decoding, encoding and value checking.
class TestPayloadCodec : public QObject
{
    Q_OBJECT

    MessageDefinitions _definitions;

    const MessageDefinition &definition(quint16 id) const { return *_definitions.find(id); }

    static QByteArray f32(float value)
    {
        Types::F32 field;
        field.value = value;
        QByteArray bytes;
        Types::setValue(field, bytes);
        return bytes;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(_definitions.loadText(QStringLiteral("#--duplicate_key_on\n"
                                                      "[1]\nALL\nu8 = U08\ns8 = S08\nu16 = U16\ns16 = S16\n"
                                                      "u32 = U32\ns32 = S32\nf32 = F32\nflag = BOOL\n"
                                                      "[2]\nTWO\na = U32\nb = F32\n"
                                                      "[3]\nNONE\n"),
                                       QStringLiteral("test"), error),
                 qPrintable(error));
        QCOMPARE(f32(1.0f), QByteArray::fromHex("0000803f"));
    }

    void fieldTypes()
    {
        QCOMPARE(FieldType::fromTag(QStringLiteral("U08")).size(), 1);
        QCOMPARE(FieldType::fromTag(QStringLiteral("S16")).size(), 2);
        QCOMPARE(FieldType::fromTag(QStringLiteral("F32")).size(), 4);
        QCOMPARE(FieldType::fromTag(QStringLiteral("BOOL")).size(), 4);
        QVERIFY(!FieldType::fromTag(QStringLiteral("u32")).isValid()); // tags are upper case, as the service's
        QVERIFY(!FieldType::fromTag(QStringLiteral("U64")).isValid());
        QCOMPARE(FieldType::fromTag(QStringLiteral("S32")).tag(), QStringLiteral("S32"));
        QCOMPARE(FieldType::knownTags(), QStringLiteral("U08 S08 U16 S16 U32 S32 F32 BOOL"));
    }

    void decodesEveryType()
    {
        const QByteArray payload = QByteArray::fromHex("ff"
                                                       "ff"
                                                       "ffff"
                                                       "ffff"
                                                       "ffffffff"
                                                       "feffffff") +
                                   f32(146.6f) + QByteArray::fromHex("01000000");
        const DecodedPayload decoded = PayloadCodec::decode(definition(1), payload);
        QVERIFY(!decoded.isShort);
        QVERIFY(decoded.extra.isEmpty());
        QCOMPARE(PayloadCodec::text(decoded),
                 QStringLiteral("u8=255 s8=-1 u16=65535 s16=-1 u32=4294967295 s32=-2 f32=146.6 flag=1"));
        QCOMPARE(decoded.number(QStringLiteral("s32")), -2.0);
        QCOMPARE(decoded.value(QStringLiteral("F32")).toFloat(), 146.6f); // field names are case-insensitive
        QVERIFY(decoded.has(QStringLiteral("flag")));
        QVERIFY(!decoded.has(QStringLiteral("missing")));
    }

    void floatsPrintWithSixDigits()
    {
        QCOMPARE(FieldType::text(QVariant::fromValue(0.5f)), QStringLiteral("0.5"));
        QCOMPARE(FieldType::text(QVariant::fromValue(37.0f)), QStringLiteral("37"));
        QCOMPARE(FieldType::text(QVariant::fromValue(250.63f)), QStringLiteral("250.63"));
        QCOMPARE(FieldType::text(QVariant::fromValue(1234567.0f)), QStringLiteral("1.23457e+06"));
    }

    void shortPayloadShowsQuestionMarks()
    {
        const DecodedPayload decoded = PayloadCodec::decode(definition(2), QByteArray::fromHex("050000000000"));
        QVERIFY(decoded.isShort);
        QVERIFY(decoded.has(QStringLiteral("a")));
        QVERIFY(!decoded.has(QStringLiteral("b")));
        QCOMPARE(PayloadCodec::text(decoded), QStringLiteral("a=5 b=? (payload too short) +2 bytes 00.00"));
    }

    void extraBytesAreShown()
    {
        const DecodedPayload decoded = PayloadCodec::decode(definition(3), QByteArray::fromHex("0102ab"));
        QCOMPARE(PayloadCodec::text(decoded), QStringLiteral("+3 bytes 01.02.AB"));
        QCOMPARE(PayloadCodec::text(PayloadCodec::decode(definition(3), QByteArray())), QString());
    }

    void encodesInFieldOrder()
    {
        QByteArray payload;
        QString error;
        QVERIFY2(PayloadCodec::encode(definition(1),
                                      {"255", "-128", "0xFFFF", "-32768", "4294967295", "-2147483648", "36.5", "true"},
                                      payload, error),
                 qPrintable(error));
        QCOMPARE(payload,
                 QByteArray::fromHex("ff80ffff0080ffffffff00000080") + f32(36.5f) + QByteArray::fromHex("01000000"));
        // What is encoded decodes to the same values.
        QCOMPARE(PayloadCodec::text(PayloadCodec::decode(definition(1), payload)),
                 QStringLiteral("u8=255 s8=-128 u16=65535 s16=-32768 u32=4294967295 s32=-2147483648 f32=36.5 flag=1"));
    }

    void encodesByName()
    {
        QByteArray payload;
        QString error;
        QVERIFY(PayloadCodec::encode(definition(2), {"b=2.5", "a=7"}, payload, error));
        QCOMPARE(payload, QByteArray::fromHex("07000000") + f32(2.5f));
        // Named and positional values mix; positional ones fill the gaps.
        QVERIFY(PayloadCodec::encode(definition(2), {"b=-1", "9"}, payload, error));
        QCOMPARE(payload, QByteArray::fromHex("09000000") + f32(-1.0f));
        QVERIFY(PayloadCodec::encode(definition(3), {}, payload, error));
        QVERIFY(payload.isEmpty());
    }

    void rejectsBadValues_data()
    {
        QTest::addColumn<quint16>("id");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("error");
        const QStringList good = {"1", "1", "1", "1", "1", "1", "1", "1"};
        const auto with = [&good](int i, const char *value) {
            QStringList v = good;
            v[i] = QString::fromLatin1(value);
            return v;
        };
        QTest::newRow("U08 too big") << quint16(1) << with(0, "256")
                                     << "field 'u8' of ALL: '256' is not an integer from 0 to 255 (U08)";
        QTest::newRow("U08 negative") << quint16(1) << with(0, "-1") << "field 'u8'";
        QTest::newRow("S08 too small") << quint16(1) << with(1, "-129") << "from -128 to 127 (S08)";
        QTest::newRow("U16 too big") << quint16(1) << with(2, "65536") << "from 0 to 65535 (U16)";
        QTest::newRow("S16 too big") << quint16(1) << with(3, "32768") << "from -32768 to 32767 (S16)";
        QTest::newRow("U32 too big") << quint16(1) << with(4, "4294967296") << "from 0 to 4294967295 (U32)";
        QTest::newRow("U32 fraction") << quint16(1) << with(4, "1.5") << "field 'u32' of ALL: '1.5' is not an integer";
        QTest::newRow("S32 text") << quint16(1) << with(5, "ten") << "field 's32' of ALL: 'ten' is not an integer";
        QTest::newRow("F32 text") << quint16(1) << with(6, "warm")
                                  << "field 'f32' of ALL: 'warm' is not a number (F32)";
        QTest::newRow("F32 infinite") << quint16(1) << with(6, "inf") << "'inf' is not a number";
        QTest::newRow("F32 too big") << quint16(1) << with(6, "1e39") << "'1e39' is not a number";
        QTest::newRow("BOOL two") << quint16(1) << with(7, "2") << "field 'flag' of ALL: '2' is not a boolean";
        QTest::newRow("missing value") << quint16(2) << QStringList{"1"} << "field 'b' (F32) of TWO has no value";
        QTest::newRow("one too many") << quint16(2) << QStringList{"1", "2", "3"}
                                      << "TWO takes 2 values; '3' is one too many";
        QTest::newRow("unknown field") << quint16(2) << QStringList{"c=1"} << "TWO has no field 'c'";
        QTest::newRow("field twice") << quint16(2) << QStringList{"a=1", "a=2"} << "field 'a' of TWO is given twice";
        QTest::newRow("no values taken") << quint16(3) << QStringList{"1"} << "NONE takes 0 values";
    }

    void rejectsBadValues()
    {
        QFETCH(quint16, id);
        QFETCH(QStringList, values);
        QFETCH(QString, error);
        QByteArray payload("untouched");
        QString got;
        QVERIFY(!PayloadCodec::encode(definition(id), values, payload, got));
        QVERIFY2(got.contains(error), qPrintable(got));
        QVERIFY(payload.isEmpty()); // nothing half-built is left to send
    }

    void hexadecimalAndSignedHexadecimal()
    {
        QByteArray payload;
        QString error;
        QVERIFY(PayloadCodec::encode(definition(2), {"0x10", "1"}, payload, error));
        QCOMPARE(payload.left(4), QByteArray::fromHex("10000000"));
        QByteArray bytes;
        QVERIFY(FieldType(FieldType::S16).write(QStringLiteral("-0x10"), bytes, error));
        QCOMPARE(bytes, QByteArray::fromHex("f0ff"));
        QVERIFY(FieldType(FieldType::Bool).write(QStringLiteral("FALSE"), bytes, error));
        QCOMPARE(bytes.right(4), QByteArray::fromHex("00000000"));
    }
};

QTEST_GUILESS_MAIN(TestPayloadCodec)
#include "tst_payloadcodec.moc"
