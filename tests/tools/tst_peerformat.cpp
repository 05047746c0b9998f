#include <QDateTime>
#include <QRegularExpression>
#include <QtTest>

#include "peer/CandumpReader.h"
#include "peer/ChannelNames.h"
#include "peer/MessageDefinitions.h"
#include "peer/MessageFilter.h"
#include "peer/MessageFormatter.h"
#include "peer/PeerOptions.h"

// The peer tool's text: the monitor's lines, the candump forms written and
// read, the filters and the command line.
class TestPeerFormat : public QObject
{
    Q_OBJECT

    MessageDefinitions _definitions;

    static qint64 at(int hour, int minute, int second, int ms, int us = 0)
    {
        const QDateTime local(QDate(2024, 6, 11), QTime(hour, minute, second, ms));
        return local.toMSecsSinceEpoch() * 1000 + us;
    }

    static ReceivedMessage message(quint32 channel, Sequence sequence, quint16 id, const QByteArray &payload)
    {
        ReceivedMessage m;
        m.timeUs = at(17, 2, 3, 456);
        m.channel = channel;
        m.sequence = sequence;
        m.id = id;
        m.payload = payload;
        return m;
    }

    static PeerOptions::Outcome parse(PeerOptions &options, const QStringList &arguments)
    {
        return options.parse(QStringList{QStringLiteral("rararoz-peer")} + arguments);
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(_definitions.load(QStringLiteral(RARAROZ_SOURCE_DIR "/config/Messages/Peer.conf"), error),
                 qPrintable(error));
    }

    void routes()
    {
        QCOMPARE(ChannelNames::route(0x041), QStringLiteral("UI->TD"));
        QCOMPARE(ChannelNames::route(0x040), QStringLiteral("TD->UI"));
        QCOMPARE(ChannelNames::route(0x100), QStringLiteral("TD->all"));
        QCOMPARE(ChannelNames::route(0x001), QStringLiteral("TD->all"));
        QCOMPARE(ChannelNames::route(0x101), QStringLiteral("DD->all"));
        QCOMPARE(ChannelNames::route(0x400), QStringLiteral("OV->TD"));
        QCOMPARE(ChannelNames::route(0x555), QStringLiteral("?->?"));
    }

    void decodedLine()
    {
        const MessageFormatter formatter(_definitions);
        QCOMPARE(formatter.line(message(0x100, 12, 0x1200, QByteArray::fromHex("0300000000000000"))),
                 QStringLiteral("17:02:03.456  100  TD->all  seq     12  1200 ID_TD_OP_MODE_DATA  mode=3 subMode=0"));
        QCOMPARE(formatter.line(message(0x041, -7, 0x1000, {})),
                 QStringLiteral("17:02:03.456  041  UI->TD   seq     -7  1000 ID_UI_CHECK_IN"));
        QCOMPARE(formatter.line(message(0x040, 3, 0x4600, QByteArray::fromHex("0100000000000000"))),
                 QStringLiteral("17:02:03.456  040  TD->UI   seq      3  4600 ID_TD_RESP_INITIATE_TREATMENT  "
                                "accepted=1 rejectReason=0"));
    }

    void unknownIdentifierInHexadecimal()
    {
        const MessageFormatter formatter(_definitions);
        QCOMPARE(formatter.line(message(0x100, 1, 0x0000, QByteArray::fromHex("00010203"))),
                 QStringLiteral("17:02:03.456  100  TD->all  seq      1  0000 (unknown)  payload 00.01.02.03"));
        QCOMPARE(formatter.line(message(0x123, 2, 0xABCD, {})),
                 QStringLiteral("17:02:03.456  123  ?->?     seq      2  ABCD (unknown)"));
    }

    void shortAndLongPayloads()
    {
        const MessageFormatter formatter(_definitions);
        QVERIFY(formatter.line(message(0x100, 1, 0x1200, QByteArray::fromHex("03000000")))
                    .endsWith(QStringLiteral("mode=3 subMode=? (payload too short)")));
        QVERIFY(formatter.line(message(0x040, 1, 0xFFFF, QByteArray::fromHex("01")))
                    .endsWith(QStringLiteral("FFFF ID_ACK_MESSAGE_THAT_REQUIRES_ACK  +1 bytes 01")));
    }

    void brokenMessagesSaySo()
    {
        const MessageFormatter formatter(_definitions);
        ReceivedMessage crc = message(0x041, -3, 0x4500, QByteArray::fromHex("01000000"));
        crc.status = ReceivedMessage::CrcError;
        crc.expectedCrc = 0x5C;
        crc.receivedCrc = 0x12;
        QCOMPARE(formatter.line(crc),
                 QStringLiteral("17:02:03.456  041  UI->TD   seq     -3  4500 ID_INITIATE_TREATMENT"
                                "  CRC ERROR expected 0x5C got 0x12, payload 01.00.00.00"));

        ReceivedMessage noSync = message(0x041, 0, 0, {});
        noSync.status = ReceivedMessage::NoSync;
        noSync.frames << RawFrame{0, 0x041, QByteArray::fromHex("0102030405060708")};
        QCOMPARE(formatter.line(noSync),
                 QStringLiteral("17:02:03.456  041  UI->TD   BROKEN frame without sync byte: 01 02 03 04 05 06 07 08"));

        ReceivedMessage shortFrame = noSync;
        shortFrame.status = ReceivedMessage::ShortFrame;
        shortFrame.frames.first().data = QByteArray::fromHex("a5ff");
        QCOMPARE(formatter.line(shortFrame),
                 QStringLiteral("17:02:03.456  041  UI->TD   BROKEN short frame (2 bytes): A5 FF"));
    }

    void candumpForm()
    {
        const RawFrame frame{1700000000123456, 0x041, QByteArray::fromHex("a50c001000008500")};
        QCOMPARE(MessageFormatter::candump(frame, QStringLiteral("can0")),
                 QStringLiteral("(1700000000.123456) can0 041#A50C001000008500"));
        QCOMPARE(MessageFormatter::candump(RawFrame{1000000000000001, 0x7FF, {}}, QStringLiteral("vcan1")),
                 QStringLiteral("(1000000000.000001) vcan1 7FF#"));
        QCOMPARE(MessageFormatter::candump(RawFrame{0, 0x18DAF110, QByteArray::fromHex("01")}, QStringLiteral("can0")),
                 QStringLiteral("(0.000000) can0 18DAF110#01"));
        // The form candump's log readers take.
        const QRegularExpression log(QStringLiteral("^\\(\\d+\\.\\d{6}\\) \\w+ [0-9A-F]{3}#([0-9A-F]{2})*$"));
        QVERIFY(log.match(MessageFormatter::candump(frame, QStringLiteral("can0"))).hasMatch());
    }

    void candumpLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("frame"); // "interface time channel#data", or empty: not a frame
        QTest::newRow("log") << "(1700000000.123456) can0 041#A50C001000008500"
                             << "can0 1700000000123456 041#a50c001000008500";
        QTest::newRow("log, no data") << "(1.000001) vcan1 7FF#"
                                      << "vcan1 1000001 7ff#";
        QTest::newRow("log, extended") << "(0.5) can0 18DAF110#01"
                                       << "can0 500000 18daf110#01";
        QTest::newRow("screen") << "  can0  041   [8]  A5 0C 00 10 00 00 85 00"
                                << "can0 -1 041#a50c001000008500";
        QTest::newRow("screen, absolute time") << " (1700000000.123456)  can1  100   [2]  A5 FF"
                                               << "can1 1700000000123456 100#a5ff";
        QTest::newRow("screen, text") << "  can0  001   [3]  41 42 43   'ABC'"
                                      << "can0 -1 001#414243";
        QTest::newRow("screen, length differs") << "  can0  041   [8]  A5 0C"
                                                << "";
        QTest::newRow("log, nine bytes") << "(1.0) can0 041#A50C00100000850011"
                                         << "";
        QTest::newRow("log, odd digits") << "(1.0) can0 041#A50"
                                         << "";
        QTest::newRow("four-digit identifier") << "(1.0) can0 0041#A5"
                                               << "";
        QTest::newRow("CAN FD") << "(1.0) can0 041##1A5"
                                << "";
        QTest::newRow("time beyond microseconds in 64 bits") << "(12345678901234567.0) can0 041#A5"
                                                             << "";
        QTest::newRow("text") << "Monitoring can0 (virtualcan)"
                              << "";
    }

    void candumpLines()
    {
        QFETCH(QString, line);
        QFETCH(QString, frame);
        QString interface;
        RawFrame read;
        const bool ok = CandumpReader::parse(line, interface, read);
        QCOMPARE(ok ? QStringLiteral("%1 %2 %3#%4")
                          .arg(interface)
                          .arg(read.timeUs)
                          .arg(read.channel, 3, 16, QLatin1Char('0'))
                          .arg(QString::fromLatin1(read.data.toHex()))
                    : QString(),
                 frame);
        // What the monitor writes, the reader reads back.
        if (ok && read.timeUs >= 0) {
            RawFrame again;
            QVERIFY(CandumpReader::parse(MessageFormatter::candump(read, interface), interface, again));
            QCOMPARE(again.timeUs, read.timeUs);
            QCOMPARE(again.data, read.data);
        }
    }

    void filters()
    {
        MessageFilter filter;
        QString error;
        QVERIFY(filter.set(_definitions, {}, {}, error));
        QVERIFY(!filter.isActive());
        QVERIFY(filter.accepts(0x1200));
        QVERIFY(filter.acceptsUnidentified());

        QVERIFY(filter.set(_definitions, {QStringLiteral("ID_TD_OP_MODE_DATA,3c00"), QStringLiteral("*RINSEBACK*")}, {},
                           error));
        QVERIFY(filter.accepts(0x1200));
        QVERIFY(filter.accepts(0x3C00));
        QVERIFY(filter.accepts(0x9000));
        QVERIFY(!filter.accepts(0x0100));
        QVERIFY(!filter.acceptsUnidentified());

        QVERIFY(filter.set(_definitions, {}, {QStringLiteral("ID_TD_PRESSURE_DATA"), QStringLiteral("0100")}, error));
        QVERIFY(!filter.accepts(0x2400));
        QVERIFY(!filter.accepts(0x0100));
        QVERIFY(filter.accepts(0x1200));
        QVERIFY(filter.acceptsUnidentified());

        QVERIFY(filter.set(_definitions, {QStringLiteral("*_DATA")}, {QStringLiteral("ID_TD_PRESSURE_DATA")}, error));
        QVERIFY(filter.accepts(0x1200));
        QVERIFY(!filter.accepts(0x2400));

        QVERIFY(!filter.set(_definitions, {QStringLiteral("ID_TD_OP_MODE_DATA,BOGUS")}, {}, error));
        QCOMPARE(error, QStringLiteral("no message is named 'BOGUS'"));
    }

    void commandLine()
    {
        PeerOptions monitor;
        QCOMPARE(parse(monitor, {"monitor", "--raw", "--only", "a,b", "--only", "c", "--except", "d", "--duration",
                                 "2.5", "-A", "vcan0", "--can-plugin", "socketcan"}),
                 PeerOptions::Run);
        QCOMPARE(monitor.command, PeerOptions::Monitor);
        QVERIFY(monitor.raw);
        QCOMPARE(monitor.only, (QStringList{"a,b", "c"}));
        QCOMPARE(monitor.except, QStringList{"d"});
        QCOMPARE(monitor.durationS, 2.5);
        QCOMPARE(monitor.interface, QStringLiteral("vcan0"));
        QCOMPARE(monitor.plugin, QStringLiteral("socketcan"));

        PeerOptions send;
        QCOMPARE(parse(send, {"send", "ID_X", "1", "b=-2", "--timeout", "500", "--", "-3"}), PeerOptions::Run);
        QCOMPARE(send.command, PeerOptions::Send);
        QCOMPARE(send.arguments, (QStringList{"ID_X", "1", "b=-2", "-3"}));
        QCOMPARE(send.timeoutMs, 500);
        QCOMPARE(send.plugin, QStringLiteral("virtualcan"));
        QCOMPARE(send.interface, QStringLiteral("can0"));

        PeerOptions walk;
        QCOMPARE(parse(walk, {"walkthrough", "--keep-going", "--join-timeout", "5", "--interface", "can1"}),
                 PeerOptions::Run);
        QCOMPARE(walk.command, PeerOptions::Walkthrough);
        QVERIFY(walk.keepGoing);
        QCOMPARE(walk.joinTimeoutS, 5);
        QCOMPARE(walk.interface, QStringLiteral("can1"));

        PeerOptions run;
        QCOMPARE(parse(run, {"run", "a.scenario", "b.scenario", "--junit", "r.xml", "--keep-going"}), PeerOptions::Run);
        QCOMPARE(run.command, PeerOptions::RunScenarios);
        QCOMPARE(run.arguments, (QStringList{"a.scenario", "b.scenario"}));
        QCOMPARE(run.junit, QStringLiteral("r.xml"));

        PeerOptions decode;
        QCOMPARE(parse(decode, {"decode", "--only", "*ALARM*"}), PeerOptions::Run);
        QCOMPARE(decode.command, PeerOptions::Decode);
        QVERIFY(decode.arguments.isEmpty());

        PeerOptions plot;
        QCOMPARE(parse(plot, {"plot", "t.log", "-o", "t.SVG"}), PeerOptions::Run);
        QCOMPARE(plot.command, PeerOptions::Plot);
        QCOMPARE(plot.output, QStringLiteral("t.SVG"));

        PeerOptions help;
        QCOMPARE(parse(help, {"--help"}), PeerOptions::ShowHelp);
        PeerOptions version;
        QCOMPARE(parse(version, {"--version"}), PeerOptions::ShowVersion);
    }

    void commandLineErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("no command") << QStringList{} << "no command given";
        QTest::newRow("unknown command") << QStringList{"listen"} << "unknown command 'listen'";
        QTest::newRow("send without message") << QStringList{"send"} << "send needs a message name or identifier";
        QTest::newRow("monitor with argument") << QStringList{"monitor", "x"} << "monitor takes no arguments, got 'x'";
        QTest::newRow("unknown option") << QStringList{"monitor", "--bogus"} << "Unknown option 'bogus'.";
        QTest::newRow("bad duration") << QStringList{"monitor", "--duration", "soon"} << "--duration needs a positive";
        QTest::newRow("bad timeout") << QStringList{"send", "x", "--timeout", "0"} << "--timeout needs a positive";
        QTest::newRow("raw for send") << QStringList{"send", "x", "--raw"} << "--raw is for monitor";
        QTest::newRow("only for run") << QStringList{"run", "x", "--only", "y"} << "--only is for monitor and decode";
        QTest::newRow("junit for decode")
            << QStringList{"decode", "--junit", "r.xml"} << "--junit is for walkthrough and run";
        QTest::newRow("run without file") << QStringList{"run"} << "run needs at least one file";
        QTest::newRow("check without file") << QStringList{"check"} << "check needs at least one file";
        QTest::newRow("plot without image") << QStringList{"plot", "t.log"} << "plot needs the image to write";
        QTest::newRow("plot to jpeg") << QStringList{"plot", "-o", "t.jpg"} << "ends in neither .png nor .svg";
        QTest::newRow("negative value") << QStringList{"send", "x", "-5"} << "Unknown option '5'.";
    }

    void commandLineErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        PeerOptions options;
        QCOMPARE(parse(options, arguments), PeerOptions::Error);
        QVERIFY2(options.error().contains(error), qPrintable(options.error()));
    }

    void helpDocumentsEveryCommandAndOption()
    {
        const QString help = PeerOptions::usage();
        for (const char *text : {"monitor",
                                 "send <name-or-id>",
                                 "walkthrough",
                                 "run <file>...",
                                 "check <file>...",
                                 "decode [<file>...]",
                                 "plot [<file>...] -o <image>",
                                 "--can-plugin <plugin>",
                                 "-A, --interface <name>",
                                 "--definitions <file>",
                                 "--settings-path <folder>",
                                 "--only <list>",
                                 "--except <list>",
                                 "--raw",
                                 "--duration <seconds>",
                                 "--timeout <ms>",
                                 "--join-timeout <seconds>",
                                 "--keep-going",
                                 "--junit <file>",
                                 "-o, --output <file>",
                                 "--help",
                                 "--version",
                                 "Exit status",
                                 "rararoz-peer run ",
                                 "rararoz-peer check ",
                                 "rararoz-peer decode",
                                 "rararoz-peer plot "})
            QVERIFY2(help.contains(QLatin1String(text)), text);
    }
};

QTEST_GUILESS_MAIN(TestPeerFormat)
#include "tst_peerformat.moc"
