#include <QMetaEnum>
#include <QtTest>

#include "model/settings/MSettings.h"
#include "peer/MessageDefinitions.h"
#include "MessageGlobals.h"
#include "storage/Settings.h"

// The peer tool's message definitions: the shipped file against the
// protocol's identifiers and the service's own request definitions, and
// the loader's checks of a broken file.
class TestPeerDefinitions : public QObject
{
    Q_OBJECT

    MessageDefinitions _shipped;

    static QString shippedFile() { return QStringLiteral(RARAROZ_SOURCE_DIR "/config/Messages/Peer.conf"); }

    // The service's request definitions, read the way the service reads them.
    static QMap<quint16, QStringList> unhandled()
    {
        QFile file(QStringLiteral(RARAROZ_SOURCE_DIR "/config/Messages/Unhandled.conf"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        Storage::MSettings::I().clear();
        const QString category = QStringLiteral("Messages/Unhandled");
        Storage::Settings::parse({category, QString(), QString::fromUtf8(file.readAll()).trimmed()});
        QMap<quint16, QStringList> result;
        for (const QString &group : Storage::MSettings::I().groups(category))
            result.insert(quint16(group.toUInt(nullptr, 16)), Storage::MSettings::I().keys(category, group));
        Storage::MSettings::I().clear();
        return result;
    }

    QString loadError(const QString &text)
    {
        MessageDefinitions definitions;
        QString error;
        if (definitions.loadText(text, QStringLiteral("test.conf"), error))
            return QString();
        return error.isEmpty() ? QStringLiteral("(failed without a message)") : error;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(_shipped.load(shippedFile(), error), qPrintable(error));
        QCOMPARE(_shipped.fileName(), shippedFile());
    }

    // Every identifier of the protocol that travels between the UI board
    // and the TD is defined, under the protocol's own name.
    void definesEveryIdentifierByItsName()
    {
        const QMetaEnum ids = QMetaEnum::fromType<Can::Message_ID_Enum>();
        for (int i = 0; i < ids.keyCount(); ++i) {
            const auto id = quint16(ids.value(i));
            const QString name = QString::fromLatin1(ids.key(i));
            if (id == Can::ID_NONE || id == Can::ID_ALARM_CLEARED)
                continue; // never sent by either side
            const MessageDefinition *definition = _shipped.find(id);
            QVERIFY2(definition, qPrintable(name));
            QCOMPARE(definition->name, name);
        }
    }

    // The tool sends exactly what the service expects to read.
    void requestsMatchTheServiceDefinitions()
    {
        const QMap<quint16, QStringList> service = unhandled();
        QVERIFY(service.size() > 30);
        for (auto it = service.constBegin(); it != service.constEnd(); ++it) {
            const MessageDefinition *definition = _shipped.find(it.key());
            QVERIFY2(definition, qPrintable(it.value().value(0)));
            QStringList tags;
            for (const MessageDefinition::Field &field : definition->fields)
                tags << field.type.tag();
            QCOMPARE(tags, it.value().mid(1));
        }
    }

    // Requests name a defined response; the three answered otherwise do not.
    void requestsNameTheirResponse()
    {
        const QList<quint16> withoutResponse = {Can::ID_UI_ALARM_USER_ACTION_REQUEST, Can::ID_UI_CHECK_IN,
                                                Can::ID_UI_CONFIRMATION_RESULT_RESP};
        const QMap<quint16, QStringList> service = unhandled();
        for (quint16 id : service.keys()) {
            const MessageDefinition *definition = _shipped.find(id);
            QVERIFY(definition);
            QCOMPARE(definition->hasResponse, !withoutResponse.contains(id));
            if (definition->hasResponse)
                QVERIFY2(_shipped.find(definition->responseId), qPrintable(definition->name));
        }
        QCOMPARE(_shipped.find(Can::ID_UI_WATER_SAMPLE_RESULT_RQST)->responseId,
                 quint16(Can::ID_TD_WATER_SAMPLE_RESULT_RESP));
        QCOMPARE(_shipped.find(Can::ID_INITIATE_TREATMENT)->responseId, quint16(Can::ID_TD_RESP_INITIATE_TREATMENT));
    }

    void payloadSizes_data()
    {
        QTest::addColumn<quint16>("id");
        QTest::addColumn<int>("size");
        QTest::newRow("prescription") << quint16(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE) << 100;
        QTest::newRow("its response") << quint16(Can::ID_TD_RESP_TREATMENT_PARAMS_TO_VALIDATE) << 104;
        QTest::newRow("pressures") << quint16(Can::ID_TD_PRESSURE_DATA) << 56;
        QTest::newRow("treatment states") << quint16(Can::ID_TD_TREATMENT_STATE_DATA) << 40;
        QTest::newRow("confirmation request") << quint16(Can::ID_TD_UI_GENERIC_CONFIRMATION_RQST) << 28;
        QTest::newRow("set points edit response") << quint16(Can::ID_TD_TREATMENT_SET_POINTS_CHANGE_RESP) << 44;
        QTest::newRow("duration validation") << quint16(Can::ID_TD_DURATION_VALIDATE_RESP) << 24;
        QTest::newRow("hemodiafiltration") << quint16(Can::ID_TD_HEMODIAFILTRATION_DATA) << 36;
        QTest::newRow("alarm status") << quint16(Can::ID_ALARM_STATUS_DATA) << 16;
        QTest::newRow("op mode") << quint16(Can::ID_TD_OP_MODE_DATA) << 8;
        QTest::newRow("acknowledgement") << quint16(Can::ID_ACK_MESSAGE_THAT_REQUIRES_ACK) << 0;
    }

    void payloadSizes()
    {
        QFETCH(quint16, id);
        QFETCH(int, size);
        QVERIFY(_shipped.find(id));
        QCOMPARE(_shipped.find(id)->payloadSize(), size);
    }

    void lookupByNameOrIdentifier()
    {
        const MessageDefinition *byName = _shipped.lookup(QStringLiteral("ID_INITIATE_TREATMENT"));
        QVERIFY(byName);
        QCOMPARE(byName->id, quint16(0x4500));
        QCOMPARE(_shipped.lookup(QStringLiteral("initiate_treatment")), byName);
        QCOMPARE(_shipped.lookup(QStringLiteral("4500")), byName);
        QCOMPARE(_shipped.lookup(QStringLiteral("0x4500")), byName);
        QCOMPARE(_shipped.lookup(QStringLiteral("0X4500")), byName);
        QVERIFY(!_shipped.lookup(QStringLiteral("NO_SUCH_MESSAGE")));
        QVERIFY(!_shipped.lookup(QStringLiteral("4501")));
        QVERIFY(!_shipped.lookup(QString()));
    }

    void selectPatterns()
    {
        QCOMPARE(_shipped.select(QStringLiteral("ID_TD_OP_MODE_DATA")), QList<quint16>{0x1200});
        QCOMPARE(_shipped.select(QStringLiteral("1200")), QList<quint16>{0x1200});
        // An identifier the file does not define can still be selected.
        QCOMPARE(_shipped.select(QStringLiteral("0x0000")), QList<quint16>{0x0000});
        const QList<quint16> rinseback = _shipped.select(QStringLiteral("*RINSEBACK*"));
        QCOMPARE(rinseback, (QList<quint16>{0x8F00, 0x9000, 0x9100}));
        QCOMPARE(_shipped.select(QStringLiteral("id_ui_check_?n")), QList<quint16>{0x1000});
        QVERIFY(_shipped.select(QStringLiteral("*NOTHING*")).isEmpty());
        QVERIFY(_shipped.select(QStringLiteral("NOTHING")).isEmpty());
    }

    void defaultLocations()
    {
        const QStringList locations = MessageDefinitions::defaultLocations(QStringLiteral("/etc/x"));
        QCOMPARE(locations.first(), QStringLiteral("/etc/x/Messages/Peer.conf"));
        QVERIFY(locations.contains(shippedFile()));
        QCOMPARE(locations.last(), QStringLiteral("/opt/talvo/configurations/Messages/Peer.conf"));
    }

    void loadsTheFormat()
    {
        MessageDefinitions definitions;
        QString error;
        QVERIFY2(definitions.loadText(QStringLiteral("#--duplicate_key_on\n[9800]\nID_X   # comment\n"
                                                     "@response = 9900\ncommand = U32 # values\nb=BOOL\n"
                                                     "[9900]\nID_Y\naccepted = U32\n"),
                                      QStringLiteral("t"), error),
                 qPrintable(error));
        QCOMPARE(definitions.size(), 2);
        const MessageDefinition *x = definitions.find(0x9800);
        QVERIFY(x);
        QCOMPARE(x->name, QStringLiteral("ID_X"));
        QVERIFY(x->hasResponse);
        QCOMPARE(x->responseId, quint16(0x9900));
        QCOMPARE(x->fields.size(), 2);
        QCOMPARE(x->fields.at(0).name, QStringLiteral("command"));
        QCOMPARE(x->fields.at(0).type.kind(), FieldType::U32);
        QCOMPARE(x->fields.at(1).type.kind(), FieldType::Bool);
        QCOMPARE(x->payloadSize(), 8);
        QVERIFY(!definitions.find(0x9900)->hasResponse);
        QCOMPARE(definitions.name(0x9900), QStringLiteral("ID_Y"));
    }

    void rejectsBrokenFiles_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown type") << "[9800]\nID_X\ncommand = U64\n"
                                      << "[9800] field 'command' has type 'U64'";
        QTest::newRow("no type") << "[9800]\nID_X\ncommand\n"
                                 << "[9800] field 'command' has type ''";
        QTest::newRow("name with a type") << "[9800]\nID_X = U32\n"
                                          << "[9800] must start with the message's name";
        QTest::newRow("field twice") << "#--duplicate_key_on\n[9800]\nID_X\na = U32\na = U32\n"
                                     << "[9800] field 'a' is defined twice";
        QTest::newRow("group not hexadecimal") << "[Blood]\nID_X\n"
                                               << "[Blood] is not a hexadecimal message identifier";
        QTest::newRow("identifier too long") << "[98000]\nID_X\n"
                                             << "[98000] is not a hexadecimal";
        QTest::newRow("bad response") << "[9800]\nID_X\n@response = zz\n"
                                      << "[9800] has a bad or second @response";
        QTest::newRow("name twice") << "[9800]\nID_X\n[9900]\nid_x\n"
                                    << "[9900] reuses the name id_x";
        QTest::newRow("unknown attribute") << "#--sorted_on\n[9800]\nID_X\n"
                                           << "Unknown '#--sorted_on' attribute";
        QTest::newRow("empty") << "# nothing\n"
                               << "test.conf: defines no message";
    }

    void rejectsBrokenFiles()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        const QString got = loadError(text);
        QVERIFY2(got.contains(error), qPrintable(got));
        QVERIFY(got.startsWith(QStringLiteral("test.conf")));
    }

    void failedLoadLeavesNothing()
    {
        MessageDefinitions definitions;
        QString error;
        QVERIFY(definitions.loadText(QStringLiteral("[9800]\nID_X\n"), QStringLiteral("t"), error));
        QVERIFY(!definitions.loadText(QStringLiteral("[9800]\nID_X\na = X\n"), QStringLiteral("t"), error));
        QVERIFY(definitions.isEmpty());
        QVERIFY(!definitions.load(QStringLiteral("/nonexistent/Peer.conf"), error));
        QVERIFY(error.contains(QStringLiteral("/nonexistent/Peer.conf")));
    }
};

QTEST_GUILESS_MAIN(TestPeerDefinitions)
#include "tst_peerdefinitions.moc"
