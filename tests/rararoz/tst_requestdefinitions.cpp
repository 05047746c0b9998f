#include <QtTest>

#include "canbus/FieldType.h"
#include "model/settings/MSettings.h"
#include "rararoz/ReceivedRequests.h"
#include "storage/Settings.h"

// The shipped message definitions against the requests the simulator takes:
// a request whose definition is missing, or shorter than what its handler
// reads, would silently never reach the simulator or be answered with zeros.
class TestRequestDefinitions : public QObject
{
    Q_OBJECT

    const QString kCategory = QStringLiteral("Messages/Unhandled");
    QMap<quint32, QStringList> _definitions;

    static int tagBytes(const QString &tag)
    {
        const FieldType type = FieldType::fromTag(tag);
        return type.isValid() ? type.size() : -1;
    }

private slots:
    void initTestCase()
    {
        QFile file(QStringLiteral(RARAROZ_SOURCE_DIR) + "/config/Messages/Unhandled.conf");
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QVERIFY(Storage::Settings::parse({kCategory, "/", QString::fromUtf8(file.readAll()).trimmed()}));
        for (const QString &group : Storage::MSettings::I().groups(kCategory)) {
            bool ok = false;
            const quint32 id = group.toUInt(&ok, 16);
            QVERIFY2(ok, qPrintable(group));
            _definitions.insert(id, Storage::MSettings::I().keys(kCategory, group));
        }
    }

    void everyRequestIsDefined_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("bytesRead");
        for (const ReceivedRequests::Request &request : ReceivedRequests::requests())
            QTest::newRow(qPrintable(QString::number(request.id, 16)))
                << int(request.id) << int(request.kind) << request.bytesRead;
    }

    void everyRequestIsDefined()
    {
        QFETCH(int, id);
        QFETCH(int, kind);
        QFETCH(int, bytesRead);
        QVERIFY2(_definitions.contains(quint32(id)), "no definition");
        const QStringList texts = _definitions.value(quint32(id));
        QVERIFY(!texts.isEmpty());
        QVERIFY2(!texts.first().isEmpty() && tagBytes(texts.first()) < 0, "the first text must be a readable name");
        int bytes = 0;
        for (const QString &tag : texts.mid(1)) {
            QVERIFY2(tagBytes(tag) > 0, qPrintable("unknown tag " + tag));
            bytes += tagBytes(tag);
        }
        if (kind == ReceivedRequests::WithFields) {
            // The fields must reach the last byte the handler reads, and at
            // least one field makes the interpreter hand the payload on.
            QVERIFY(texts.size() >= 2);
            QCOMPARE(bytes, bytesRead);
        } else {
            QCOMPARE(texts.size(), 1);
        }
    }

    void nothingElseIsDefined()
    {
        QSet<quint32> taken;
        for (const ReceivedRequests::Request &request : ReceivedRequests::requests())
            taken.insert(quint32(request.id));
        for (quint32 id : _definitions.keys())
            QVERIFY2(taken.contains(id), qPrintable(QString::number(id, 16)));
    }

    void repeatedTagsAreKept()
    {
        // Without the duplicate-key attribute the 25 prescription fields
        // would merge into two.
        QCOMPARE(_definitions.value(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE).size(), 26);
    }
};

QTEST_GUILESS_MAIN(TestRequestDefinitions)
#include "tst_requestdefinitions.moc"
