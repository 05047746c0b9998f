#include <QtTest>

#include "CommandLine.h"
#include "common/LogSpy.h"
#include "model/settings/MSettings.h"
#include "MessageFactory.h"
#include "canbus/MessageInterpreter.h"

using Storage::Logger;
using namespace Can;

namespace {

// Console (debug) messages written while a test runs.
QStringList consoleLines;
QtMessageHandler previousHandler = nullptr;

void captureConsole(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg)
        consoleLines << text;
    else if (previousHandler)
        previousHandler(type, context, text);
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class TestMessageInterpreter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Defined messages: the readable line and the action list
    void checkInLineAndActionList();
    void otherMessagesAreCopiedToTheConsole();
    void identifierIsPaddedLowerCaseHex();
    void nameOnlyGivesTwoElements();
    void fieldTypesPrint_data();
    void fieldTypesPrint();
    void boolConsumesFourBytes();
    void shortPayloadPrintsQuestionMarks();
    void fieldBeyondPayloadReadsTheCrc();
    void unknownTagsPrintAndReadNothing();
    void acknowledgementsAreLoggedButNotPassedOn();
    void testToolAndUnknownSendersArePassedOn();

    // Messages of the other controllers
    void otherControllersAreDropped_data();
    void otherControllersAreDropped();
    void logUnhandledOnlyReportsOtherControllers();

    // Undefined messages
    void undefinedMessageIsReported();
    void disabledReportLogsUndefinedOnly();

    // Definitions
    void nonHexadecimalGroupsAreSkipped();
    void reloadReplacesAndKeeps();

    // Senders and receivers
    void identifySource_data();
    void identifySource();
    void identifyDestination_data();
    void identifyDestination();
};

void TestMessageInterpreter::init()
{
    Storage::MSettings::I().clear();
    consoleLines.clear();
    previousHandler = qInstallMessageHandler(captureConsole);
}

void TestMessageInterpreter::cleanup()
{
    qInstallMessageHandler(previousHandler);
    Storage::MSettings::I().clear();
    gLogUnhandledOnly = false;
    gDisableUnhandledReport = false;
}

void TestMessageInterpreter::checkInLineAndActionList()
{
    MessageFactory::define(QStringLiteral("1000"), {QStringLiteral("UI_CHECK_IN"), QStringLiteral("U32")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    QSignalSpy ready(&interpreter, &MessageInterpreter::didUnhandledMsgReady);
    LogSpy log;

    const Message message = MessageFactory::message(eChlid_UI_TD, 3, ID_UI_CHECK_IN, hex("05000000"));
    QVariantList actions;
    QCOMPARE(interpreter.interpretMessage(message, actions), false);

    QCOMPARE(log.contents(Logger::eLogAppED), QStringList{QStringLiteral("1000,UI,~UI_CHECK_IN,5")});
    QCOMPARE(log.lines().first().timestamp, true);
    // Logged, and handed no further: nothing the simulator does needs them.
    QCOMPARE(ready.count(), 0);
    const QVariantList expected{4096, 3, MessageFactory::dataOf(3, ID_UI_CHECK_IN, hex("05000000"))};
    QCOMPARE(actions, expected);
    QVERIFY2(consoleLines.isEmpty(), qPrintable(consoleLines.join(QLatin1Char('|'))));
}

void TestMessageInterpreter::otherMessagesAreCopiedToTheConsole()
{
    MessageFactory::define(QStringLiteral("9000"), {QStringLiteral("RINSEBACK"), QStringLiteral("U32")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    QSignalSpy ready(&interpreter, &MessageInterpreter::didUnhandledMsgReady);

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, -4, 0x9000, hex("02000000")), actions);

    QCOMPARE(consoleLines, QStringList{QStringLiteral("Message 9000,UI,~RINSEBACK,2")});
    QCOMPARE(ready.count(), 1);
    QCOMPARE(ready.first().first().toList().at(1).toInt(), -4);
}

void TestMessageInterpreter::identifierIsPaddedLowerCaseHex()
{
    MessageFactory::define(QStringLiteral("600"), {QStringLiteral("ALARM_ACTION")});
    MessageFactory::define(QStringLiteral("A100"), {QStringLiteral("ADJUST_START")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x0600, {}), actions);
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 2, 0xA100, {}), actions);

    QCOMPARE(log.contents(Logger::eLogAppED),
             (QStringList{QStringLiteral(" 600,UI,~ALARM_ACTION"), QStringLiteral("a100,UI,~ADJUST_START")}));
}

void TestMessageInterpreter::nameOnlyGivesTwoElements()
{
    MessageFactory::define(QStringLiteral("9800"), {QStringLiteral("BLOOD_PRIME")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    QSignalSpy ready(&interpreter, &MessageInterpreter::didUnhandledMsgReady);

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 8, 0x9800, hex("01000000")), actions);

    QCOMPARE(ready.count(), 1);
    QCOMPARE(ready.first().first().toList(), (QVariantList{0x9800, 8}));
}

void TestMessageInterpreter::fieldTypesPrint_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("printed");

    QTest::newRow("S16 -1") << "S16" << hex("ffff") << "-1";
    QTest::newRow("U16 65535") << "U16" << hex("ffff") << "65535";
    QTest::newRow("S08 -1") << "S08" << hex("ff") << "-1";
    QTest::newRow("U08 255") << "U08" << hex("ff") << "255";
    QTest::newRow("S32 min") << "S32" << hex("00000080") << "-2147483648";
    QTest::newRow("U32 max") << "U32" << hex("ffffffff") << "4294967295";
    QTest::newRow("BOOL 1") << "BOOL" << hex("01000000") << "1";
    QTest::newRow("F32 1.5") << "F32" << hex("0000c03f") << "1.5";
    QTest::newRow("F32 one third") << "F32" << hex("abaaaa3e") << "0.333333";
    QTest::newRow("F32 1e7") << "F32" << hex("8096184b") << "1e+07";
    QTest::newRow("F32 -250") << "F32" << hex("00007ac3") << "-250";
    QTest::newRow("F32 0") << "F32" << hex("00000000") << "0";
    QTest::newRow("F32 -0") << "F32" << hex("00000080") << "-0";
    QTest::newRow("F32 1e-5") << "F32" << hex("acc52737") << "1e-05";
    QTest::newRow("F32 -inf") << "F32" << hex("000080ff") << "-inf";
    QTest::newRow("F32 nan") << "F32" << hex("0000c07f") << "nan";
    QTest::newRow("F32 negative nan") << "F32" << hex("0000c0ff") << "-nan";
}

void TestMessageInterpreter::fieldTypesPrint()
{
    QFETCH(QString, tag);
    QFETCH(QByteArray, payload);
    QFETCH(QString, printed);

    MessageFactory::define(QStringLiteral("7200"), {QStringLiteral("FIELD"), tag});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x7200, payload), actions);

    QCOMPARE(log.contents(Logger::eLogAppED), QStringList{QStringLiteral("7200,UI,~FIELD,") + printed});
}

void TestMessageInterpreter::boolConsumesFourBytes()
{
    MessageFactory::define(QStringLiteral("b800"), {QStringLiteral("VITALS"), QStringLiteral("BOOL"),
                                                    QStringLiteral("U08"), QStringLiteral("U16")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0xB800,
                                                         hex("01000000"
                                                             "09"
                                                             "3412")),
                                 actions);

    QCOMPARE(log.contents(Logger::eLogAppED), QStringList{QStringLiteral("b800,UI,~VITALS,1,9,4660")});
    QCOMPARE(actions.size(), 5);
}

void TestMessageInterpreter::shortPayloadPrintsQuestionMarks()
{
    MessageFactory::define(QStringLiteral("4700"),
                           {QStringLiteral("UF_PAUSE"), QStringLiteral("U08"), QStringLiteral("U32")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    QSignalSpy ready(&interpreter, &MessageInterpreter::didUnhandledMsgReady);
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x4700, hex("07")), actions);

    QCOMPARE(log.contents(Logger::eLogAppED), QStringList{QStringLiteral("4700,UI,~UF_PAUSE,7,?")});
    // The field that did not fit says so, naming the field.
    QCOMPARE(log.count(QStringLiteral("Not enough data from position 1 to the length of 4")), 1);
    QCOMPARE(log.count(QStringLiteral("for value param")), 1);
    // Handed on all the same, one copy of the (short) data per field.
    QCOMPARE(ready.count(), 1);
    const QByteArray data = MessageFactory::dataOf(1, 0x4700, hex("07"));
    QCOMPARE(ready.first().first().toList(), (QVariantList{0x4700, 1, data, data}));
}

void TestMessageInterpreter::fieldBeyondPayloadReadsTheCrc()
{
    MessageFactory::define(QStringLiteral("5f00"),
                           {QStringLiteral("BOLUS"), QStringLiteral("U08"), QStringLiteral("U08")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x5F00, hex("2a")), actions);

    const int crc = MessageFactory::crcOf(1, 0x5F00, hex("2a"));
    QCOMPARE(log.contents(Logger::eLogAppED), QStringList{QStringLiteral("5f00,UI,~BOLUS,42,%1").arg(crc)});
}

void TestMessageInterpreter::unknownTagsPrintAndReadNothing()
{
    MessageFactory::define(QStringLiteral("7400"),
                           {QStringLiteral("BOLUS_VOLUME"), QStringLiteral("U08"), QStringLiteral("X99"),
                            QStringLiteral("u08"), QStringLiteral("U08")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    QSignalSpy ready(&interpreter, &MessageInterpreter::didUnhandledMsgReady);
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x7400, hex("0102")), actions);

    QCOMPARE(log.contents(Logger::eLogAppED), QStringList{QStringLiteral("7400,UI,~BOLUS_VOLUME,1,2")});
    // Every tag, known or not, carries its copy of the data.
    QCOMPARE(ready.first().first().toList().size(), 2 + 4);
}

void TestMessageInterpreter::acknowledgementsAreLoggedButNotPassedOn()
{
    MessageFactory::define(QStringLiteral("FFFF"), {QStringLiteral("ACK")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    QSignalSpy ready(&interpreter, &MessageInterpreter::didUnhandledMsgReady);
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 12, ID_Acknow, {}), actions);

    QCOMPARE(log.contents(Logger::eLogAppED), QStringList{QStringLiteral("ffff,UI,~ACK")});
    QCOMPARE(ready.count(), 0);
    QVERIFY(consoleLines.isEmpty());
}

void TestMessageInterpreter::testToolAndUnknownSendersArePassedOn()
{
    MessageFactory::define(QStringLiteral("9800"), {QStringLiteral("UI_BLOOD_PRIME_CMD")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    QSignalSpy ready(&interpreter, &MessageInterpreter::didUnhandledMsgReady);
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eOrvane_TD, 1, ID_UI_BLOOD_PRIME_CMD_RQST, {}), actions);
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_Alarm, 2, ID_UI_BLOOD_PRIME_CMD_RQST, {}), actions);

    QCOMPARE(log.contents(Logger::eLogAppED), (QStringList{QStringLiteral("9800,OV,~UI_BLOOD_PRIME_CMD"),
                                                           QStringLiteral("9800,XX,~UI_BLOOD_PRIME_CMD")}));
    QCOMPARE(ready.count(), 2);
}

void TestMessageInterpreter::otherControllersAreDropped_data()
{
    QTest::addColumn<int>("channel");
    for (const int channel : {0x001, 0x002, 0x003, 0x010, 0x011, 0x021, 0x040, 0x100, 0x101, 0x102})
        QTest::newRow(qPrintable(QString::number(channel, 16))) << channel;
}

void TestMessageInterpreter::otherControllersAreDropped()
{
    QFETCH(int, channel);
    MessageFactory::define(QStringLiteral("1000"), {QStringLiteral("UI_CHECK_IN")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    QSignalSpy ready(&interpreter, &MessageInterpreter::didUnhandledMsgReady);
    LogSpy log;

    QVariantList actions{1, 2, 3};
    QCOMPARE(
        interpreter.interpretMessage(MessageFactory::message(Can_Id(channel), -1, ID_UI_CHECK_IN, hex("01")), actions),
        false);
    // Also an undefined one: no report either.
    interpreter.interpretMessage(MessageFactory::message(Can_Id(channel), -1, 0x4500, hex("01")), actions);

    QVERIFY(actions.isEmpty());
    QCOMPARE(ready.count(), 0);
    QVERIFY2(log.lines().isEmpty(), qPrintable(log.contents().join(QLatin1Char('|'))));
}

void TestMessageInterpreter::logUnhandledOnlyReportsOtherControllers()
{
    gLogUnhandledOnly = true;
    MessageFactory::define(QStringLiteral("9800"), {QStringLiteral("UI_BLOOD_PRIME_CMD"), QStringLiteral("U08")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    QSignalSpy ready(&interpreter, &MessageInterpreter::didUnhandledMsgReady);
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_DD_TD, 1, ID_UI_BLOOD_PRIME_CMD_RQST, hex("05")),
                                 actions);
    interpreter.interpretMessage(MessageFactory::message(eChlid_FP_Sync, 2, 0x4500, hex("01")), actions);

    QCOMPARE(log.contents(Logger::eLogAppED), QStringList{QStringLiteral("9800,DD,~UI_BLOOD_PRIME_CMD,5")});
    QCOMPARE(ready.count(), 1);
    QCOMPARE(log.count(QStringLiteral("Unhandled Message ID (TD)\n102 # 4500 01.")), 1);
}

void TestMessageInterpreter::undefinedMessageIsReported()
{
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    QSignalSpy ready(&interpreter, &MessageInterpreter::didUnhandledMsgReady);
    LogSpy log;

    QVariantList actions;
    QCOMPARE(interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x4500, hex("01000000")), actions),
             false);
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0xc5ab, hex("abcdef")), actions);

    const QString crc1 =
        QStringLiteral("%1").arg(MessageFactory::crcOf(1, 0x4500, hex("01000000")), 2, 16, QLatin1Char('0')).toUpper();
    const QString crc2 =
        QStringLiteral("%1").arg(MessageFactory::crcOf(1, 0xc5ab, hex("abcdef")), 2, 16, QLatin1Char('0')).toUpper();
    QCOMPARE(log.contents(Logger::eLogDebug),
             (QStringList{QStringLiteral("Unhandled Message ID (TD)\n041 # 4500 01.00.00.00.") + crc1,
                          QStringLiteral("Unhandled Message ID (TD)\n041 # C5AB AB.CD.EF.") + crc2}));
    QVERIFY(log.contents(Logger::eLogAppED).isEmpty());
    QCOMPARE(ready.count(), 0);
}

void TestMessageInterpreter::disabledReportLogsUndefinedOnly()
{
    gDisableUnhandledReport = true;
    MessageInterpreter interpreter;
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x4500, hex("01000000")), actions);
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x0600, {}), actions);

    QCOMPARE(log.contents(), (QStringList{QStringLiteral("Undefined unhandled message [4500]"),
                                          QStringLiteral("Undefined unhandled message [600]")}));
}

void TestMessageInterpreter::nonHexadecimalGroupsAreSkipped()
{
    // Were "Hello" read as a number it would define identifier 0.
    MessageFactory::define(QStringLiteral("Hello"), {QStringLiteral("NOT_A_MESSAGE")});
    MessageFactory::define(QStringLiteral("12345"), {QStringLiteral("TOO_WIDE")});
    MessageFactory::define(QStringLiteral("6300"), {QStringLiteral("BLOOD_PRESSURE")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();
    QSignalSpy ready(&interpreter, &MessageInterpreter::didUnhandledMsgReady);
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x0000, {}), actions);
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x2345, {}), actions);
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x6300, {}), actions);

    QCOMPARE(log.count(QStringLiteral("Unhandled Message ID (TD)")), 2);
    QCOMPARE(log.contents(Logger::eLogAppED), QStringList{QStringLiteral("6300,UI,~BLOOD_PRESSURE")});
    QCOMPARE(ready.count(), 1);
}

void TestMessageInterpreter::reloadReplacesAndKeeps()
{
    MessageFactory::define(QStringLiteral("7600"), {QStringLiteral("DURATION_OLD")});
    MessageFactory::define(QStringLiteral("7800"), {QStringLiteral("DURATION_CONFIRM")});
    MessageInterpreter interpreter;
    interpreter.updateUnhandledMessages();

    Storage::MSettings::I().clear();
    MessageFactory::define(QStringLiteral("7600"), {QStringLiteral("DURATION_NEW"), QStringLiteral("U08")});
    interpreter.updateUnhandledMessages();
    LogSpy log;

    QVariantList actions;
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x7600, hex("03")), actions);
    interpreter.interpretMessage(MessageFactory::message(eChlid_UI_TD, 1, 0x7800, {}), actions);

    QCOMPARE(log.contents(Logger::eLogAppED),
             (QStringList{QStringLiteral("7600,UI,~DURATION_NEW,3"), QStringLiteral("7800,UI,~DURATION_CONFIRM")}));
}

void TestMessageInterpreter::identifySource_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("text");

    const struct {
        int channel;
        Can_Source source;
        const char *text;
    } rows[] = {
        {0x001, eCan_TD, "TD"},      {0x040, eCan_TD, "TD"},      {0x100, eCan_TD, "TD"},
        {0x010, eCan_TD, "TD"},      {0x002, eCan_DD, "DD"},      {0x021, eCan_DD, "DD"},
        {0x101, eCan_DD, "DD"},      {0x011, eCan_DD, "DD"},      {0x003, eCan_FP, "FP"},
        {0x102, eCan_FP, "FP"},      {0x041, eCan_UI, "UI"},      {0x400, eCan_OV, "OV"},
        {0x403, eCan_OV, "OV"},      {0x404, eCan_OV, "OV"},      {0x407, eCan_OV, "OV"},
        {0x004, eCan_Unknown, "XX"}, {0x020, eCan_Unknown, "XX"}, {0x103, eCan_Unknown, "XX"},
        {0x408, eCan_Unknown, "XX"}, {0x7FF, eCan_Unknown, "XX"}, {0x000, eCan_Unknown, "XX"},
    };
    for (const auto &row : rows)
        QTest::newRow(qPrintable(QString::number(row.channel, 16)))
            << row.channel << int(row.source) << QString::fromLatin1(row.text);
}

void TestMessageInterpreter::identifySource()
{
    QFETCH(int, channel);
    QFETCH(int, source);
    QFETCH(QString, text);
    MessageInterpreter interpreter;
    QString result;
    QCOMPARE(int(interpreter.identifySource(Can_Id(channel), &result)), source);
    QCOMPARE(result, text);
    QCOMPARE(int(interpreter.identifySource(Can_Id(channel))), source);
}

void TestMessageInterpreter::identifyDestination_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("reply");
    QTest::addColumn<QString>("text");

    const struct {
        int channel;
        int reply;
        const char *text;
    } rows[] = {
        {0x001, 0x041, "TD"}, {0x040, 0x041, "TD"}, {0x100, 0x041, "TD"}, {0x010, 0x103, "XX"},
        {0x002, 0x103, "DD"}, {0x021, 0x103, "DD"}, {0x101, 0x103, "DD"}, {0x011, 0x103, "XX"},
        {0x003, 0x103, "FP"}, {0x102, 0x103, "FP"}, {0x041, 0x040, "TD"}, {0x400, 0x103, "OV"},
        {0x407, 0x103, "OV"}, {0x004, 0x103, "XX"}, {0x020, 0x103, "XX"}, {0x103, 0x103, "XX"},
    };
    for (const auto &row : rows)
        QTest::newRow(qPrintable(QString::number(row.channel, 16)))
            << row.channel << row.reply << QString::fromLatin1(row.text);
}

void TestMessageInterpreter::identifyDestination()
{
    QFETCH(int, channel);
    QFETCH(int, reply);
    QFETCH(QString, text);
    MessageInterpreter interpreter;
    QString result;
    QCOMPARE(int(interpreter.identifyDestination(Can_Id(channel), &result)), reply);
    QCOMPARE(result, text);
}

QTEST_GUILESS_MAIN(TestMessageInterpreter)
#include "tst_messageinterpreter.moc"
