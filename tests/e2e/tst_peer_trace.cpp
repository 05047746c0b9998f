#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "common/PeerProcess.h"

// The tool's commands that need no bus, run as a user runs them: decode and
// plot on a trace of the demo cut down to eight seconds (tests/tools/data),
// in both candump forms, whole and broken, and check on scenario files.
// Among the end-to-end tests so that a cross build runs its own tool under
// the emulator from a native test program.
class TestPeerTrace : public QObject
{
    Q_OBJECT

    QTemporaryDir _dir;
    QStringList _logLines;

    static QString traceFile() { return QStringLiteral(RARAROZ_SOURCE_DIR "/tests/tools/data/demo-trace.log"); }
    static QStringList withDefinitions(QStringList arguments)
    {
        return arguments << QStringLiteral("--definitions")
                         << QStringLiteral(RARAROZ_SOURCE_DIR "/config/Messages/Peer.conf");
    }

    // A decoded line from the channel on, without the time of day.
    static QStringList untimed(const QStringList &lines)
    {
        QStringList result;
        for (const QString &line : lines)
            result << line.mid(12);
        return result;
    }

    // The trace in candump's screen form, with or without its times.
    QByteArray screenForm(bool withTimes) const
    {
        static const QRegularExpression log(QStringLiteral("^(\\(\\S+\\)) (\\S+) ([0-9A-F]+)#([0-9A-F]*)$"));
        QByteArray text;
        for (const QString &line : _logLines) {
            const QRegularExpressionMatch m = log.match(line);
            QStringList bytes;
            for (int i = 0; i < m.captured(4).size(); i += 2)
                bytes << m.captured(4).mid(i, 2);
            text += QStringLiteral("%1  %2  %3   [%4]  %5\n")
                        .arg(withTimes ? m.captured(1) : QString(), m.captured(2), m.captured(3))
                        .arg(bytes.size())
                        .arg(bytes.join(' '))
                        .toLatin1();
        }
        return text;
    }

    QString writeFile(const QString &name, const QByteArray &text)
    {
        QFile file(_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(text);
        return file.fileName();
    }

private slots:
    void initTestCase()
    {
        QFile file(traceFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        _logLines = QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(_logLines.size(), 519);
    }

    void decodesTheDemoTrace()
    {
        PeerProcess peer;
        QCOMPARE(peer.run(withDefinitions({"decode", traceFile()})), 0);
        const QStringList lines = peer.outLines();
        QCOMPARE(lines.size(), 166);
        QCOMPARE(
            untimed(lines.mid(0, 3)),
            (QStringList{"  041  UI->TD   seq    -57  1000 ID_UI_CHECK_IN",
                         "  100  TD->all  seq    892  3C00 ID_TD_TREATMENT_STATE_DATA  txState=2 bloodPrimeState=0 "
                         "dialysisSubState=0 reserved1=0 reserved2=0 rinsebackState=0 recircState=0 txEndState=0 "
                         "fluidBolusState=0 reserved3=0",
                         "  041  UI->TD   seq    -58  7600 ID_UI_DURATION_VALIDATE_RQST  durationMin=240"}));
        QVERIFY(lines.indexOf(
                    QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  040  TD->UI   seq +\\d+  7700 "
                                       "ID_TD_DURATION_VALIDATE_RESP  accepted=1 rejectReason=0 "
                                       "durationMin=240 heparinDurationMin=180 ufVolumeL=2 ufRateLHR=0.499993$")) >= 0);
        QVERIFY(peer.err().isEmpty());
    }

    // Both of candump's forms give the same messages; standard input as a file.
    void decodesTheScreenForm_data()
    {
        QTest::addColumn<bool>("withTimes");
        QTest::newRow("with times") << true;
        QTest::newRow("without times") << false;
    }

    void decodesTheScreenForm()
    {
        QFETCH(bool, withTimes);
        PeerProcess log;
        QCOMPARE(log.run(withDefinitions({"decode", traceFile()})), 0);
        PeerProcess screen;
        screen.setInput(screenForm(withTimes));
        QCOMPARE(screen.run(withDefinitions({"decode"})), 0);
        QCOMPARE(untimed(screen.outLines()), untimed(log.outLines()));
        const QString time = screen.outLines().value(0).left(12);
        QCOMPARE(time == log.outLines().value(0).left(12), withTimes);
        QCOMPARE(time == QStringLiteral("--:--:--.---"), !withTimes);
    }

    void reportsLinesItCannotRead()
    {
        QStringList lines = _logLines.mid(0, 40);
        // The second frame of the state broadcast with one bit changed: its
        // CRC fails, and the lines after the garbage still count.
        lines[2] = lines[2].replace("#0000000000000000", "#0100000000000000");
        lines.insert(4, QStringLiteral("garbage"));
        lines.insert(9, QStringLiteral("(1.5) can0 041#A5C"));
        PeerProcess peer;
        peer.setInput((lines.join('\n') + '\n').toLatin1());
        QCOMPARE(peer.run(withDefinitions({"decode"})), 1);
        QCOMPARE(peer.err().split('\n', Qt::SkipEmptyParts),
                 (QStringList{"<stdin>:5: cannot read: garbage", "<stdin>:10: cannot read: (1.5) can0 041#A5C",
                              "rararoz-peer: 2 line(s) could not be read"}));
        QVERIFY2(
            peer.out().contains("  100  TD->all  seq    892  3C00 ID_TD_TREATMENT_STATE_DATA  CRC ERROR expected "),
            qPrintable(peer.out()));
        QVERIFY(peer.out().contains("7600 ID_UI_DURATION_VALIDATE_RQST  durationMin=240"));

        PeerProcess missing;
        QCOMPARE(missing.run(withDefinitions({"decode", _dir.filePath("none.log")})), 2);
        QVERIFY(missing.err().startsWith(_dir.filePath("none.log") + ": cannot read: "));
    }

    void decodeFilters()
    {
        PeerProcess all;
        QCOMPARE(all.run(withDefinitions({"decode", traceFile()})), 0);
        const int modes = all.out().count(" 1200 ID_TD_OP_MODE_DATA  mode=");
        const int checkIns = all.out().count(" 1000 ID_UI_CHECK_IN");
        QCOMPARE(modes, 19);
        QVERIFY(checkIns > 5);

        PeerProcess only;
        QCOMPARE(only.run(withDefinitions({"decode", traceFile(), "--only", "ID_TD_OP_MODE_DATA"})), 0);
        QCOMPARE(only.outLines().size(), modes);
        for (const QString &line : only.outLines())
            QVERIFY2(line.contains("  100  TD->all  seq ") && line.contains(" 1200 ID_TD_OP_MODE_DATA  mode="),
                     qPrintable(line));
        PeerProcess except;
        QCOMPARE(except.run(withDefinitions({"decode", traceFile(), "--except", "1200,*CHECK_IN"})), 0);
        QCOMPARE(except.outLines().size(), 166 - modes - checkIns);
        QVERIFY(!except.out().contains("ID_TD_OP_MODE_DATA") && !except.out().contains("ID_UI_CHECK_IN"));
    }

    void plots_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("png") << "treatment.png";
        QTest::newRow("svg") << "treatment.svg";
    }

    void plots()
    {
        QFETCH(QString, file);
        const QString image = _dir.filePath(file);
        PeerProcess peer;
        QCOMPARE(peer.run(withDefinitions({"plot", traceFile(), "-o", image}), 60000), 0);
        QCOMPARE(peer.out().trimmed(),
                 QStringLiteral("Wrote %1: 166 messages over 7.8 s, 14 state changes").arg(image));
        if (file.endsWith(".svg")) {
            QFile svg(image);
            QVERIFY(svg.open(QIODevice::ReadOnly));
            const QByteArray text = svg.readAll();
            QVERIFY(text.contains("<svg "));
            QVERIFY(text.contains("7.8 s from "));
            QVERIFY(text.contains(">Treatment state<") || text.contains("Treatment state"));
            return;
        }
        const QImage png(image);
        QCOMPARE(png.size(), QSize(1600, 1494));
        // Each chart in its band: the measured arterial pressure in the
        // first, the blood flow's red in the fourth, the state's line in the
        // last.
        // Pixels of about the colour: the lines are drawn antialiased.
        const auto pixelsOf = [&png](QRgb color, int top, int bottom) {
            int count = 0;
            for (int y = top; y < bottom; ++y)
                for (int x = 0; x < png.width(); ++x) {
                    const QRgb p = png.pixel(x, y);
                    count +=
                        qAbs(qRed(p) - qRed(color)) + qAbs(qGreen(p) - qGreen(color)) + qAbs(qBlue(p) - qBlue(color)) <
                                40
                            ? 1
                            : 0;
                }
            return count;
        };
        QVERIFY(pixelsOf(0xc0392b, 44, 254) > 200);
        QVERIFY(pixelsOf(0x2962ff, 44, 254) == 0);
        QVERIFY(pixelsOf(0x2962ff, 254, 464) > 200);
        QVERIFY(pixelsOf(0xc0392b, 674, 884) > 500);
        QVERIFY(pixelsOf(0x2c3e50, 1094, 1474) > 1000);
    }

    void plotNeedsTimes()
    {
        PeerProcess peer;
        peer.setInput(screenForm(false));
        QCOMPARE(peer.run(withDefinitions({"plot", "-o", _dir.filePath("none.png")}), 60000), 1);
        QVERIFY(peer.err().contains("rararoz-peer: no message with a time in the trace"));
        QVERIFY(!QFile::exists(_dir.filePath("none.png")));
    }

    void checksScenarios()
    {
        const QString bad = writeFile("bad.scenario", "step Initiate\n"
                                                      "    send ID_INITIATE_TREATMENT 1 2\n"
                                                      "    await ID_TD_OP_MODE_DATA mode=4 within soon\n"
                                                      "demo standby\n");
        PeerProcess peer;
        QCOMPARE(peer.run(withDefinitions({"check", RARAROZ_SOURCE_DIR "/config/Scenarios/demo.scenario", bad})), 2);
        QCOMPARE(peer.outLines(),
                 (QStringList{RARAROZ_SOURCE_DIR "/config/Scenarios/demo.scenario: 33 steps, no problems",
                              bad + ":2: ID_INITIATE_TREATMENT takes 1 value; '2' is one too many",
                              bad + ":3: 'soon' is no time (500ms, 5s, 2min)"}));
    }
};

QTEST_GUILESS_MAIN(TestPeerTrace)
#include "tst_peer_trace.moc"
