#include <QtConcurrent>
#include <QtTest>

#include "CommandLine.h"
#include "common/LogSpy.h"
#include "model/settings/MSettings.h"
#include "storage/Settings.h"

using Storage::MSettings;
using Storage::Settings;

// The configuration line grammar, the file rules and the error codes.
class TestSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir _dir;

    static bool parse(const QString &content, const QString &category = "Cat")
    {
        return Settings::parse({category, "/x/", content});
    }

    void writeConfig(const QString &relative, const QByteArray &content)
    {
        const QString path = _dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

private slots:
    void initTestCase() { gSettingsPath = _dir.path() + '/'; }
    void init() { MSettings::I().clear(); }
    void cleanupTestCase() { resetOptions(); }

    void groupsKeysAndValues()
    {
        QVERIFY(parse("ignored = before any group\n[G1]\nname = value\nflag\n  spaced   =  padded value  \n"));
        QCOMPARE(MSettings::I().keys("Cat", "G1"), QStringList({"name", "flag", "spaced"}));
        QCOMPARE(MSettings::I().value("Cat", "G1", "name").toString(), QStringLiteral("value"));
        QCOMPARE(MSettings::I().value("Cat", "G1", "flag").toString(), QString());
        QCOMPARE(MSettings::I().value("Cat", "G1", "spaced").toString(), QStringLiteral("padded value"));
        QVERIFY(MSettings::I().keys("Cat", "").isEmpty());
    }

    void lineRules_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("second = dropped") << "key = a=b"
                                          << "key"
                                          << "a";
        QTest::newRow("backslash-n") << "text = one\\ntwo"
                                     << "text"
                                     << "one\ntwo";
        QTest::newRow("trailing comment") << "word #comment"
                                          << "word"
                                          << "";
        QTest::newRow("comment after value") << "k = v # note"
                                             << "k"
                                             << "v";
    }

    void lineRules()
    {
        QFETCH(QString, line);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QVERIFY(parse("[G]\n" + line));
        QCOMPARE(MSettings::I().keys("Cat", "G"), QStringList{key});
        QCOMPARE(MSettings::I().value("Cat", "G", key).toString(), value);
    }

    void bracketsRemovedFromGroupNames()
    {
        QVERIFY(parse("[[odd]]\nk\n[1000]\nU32"));
        QCOMPARE(MSettings::I().groups("Cat"), QStringList({"1000", "odd"}));
    }

    void duplicateKeyAttribute()
    {
        QVERIFY(parse("#--duplicate_key_on\n[G]\nU32\nU32\n#--duplicate_key_off\n[H]\nU32 = 1\nU32 = 2\n"));
        QCOMPARE(MSettings::I().keys("Cat", "G"), QStringList({"U32", "U32"}));
        QCOMPARE(MSettings::I().keys("Cat", "H"), QStringList({"U32"}));
        QCOMPARE(MSettings::I().value("Cat", "H", "U32").toString(), QStringLiteral("2"));
    }

    void unknownAttributeAbortsKeepingEarlierEntries()
    {
        LogSpy spy;
        QVERIFY(!parse("[G]\nfirst\n#--duplicate_keys\nsecond\n", "Messages/Unhandled"));
        QCOMPARE(MSettings::I().keys("Messages/Unhandled", "G"), QStringList({"first"}));
        QCOMPARE(spy.contents(Storage::Logger::eLogAppED),
                 QStringList({"POST,UI,Unknown '#--duplicate_keys' attribute in Messages/Unhandled"}));
    }

    void fileNames()
    {
        QCOMPARE(Settings::fileName(Settings::eMessagesUnhandled), _dir.path() + "/Messages/Unhandled.conf");
        QCOMPARE(Settings::fileName(Settings::eAlarms), _dir.path() + "/Alarms/Alarms.conf");
        MSettings::I().add("settings/locale", "Localization", "Locale", "fr_FR", false);
        QCOMPARE(Settings::fileName(Settings::eAlarms), _dir.path() + "/Alarms/Alarms_fr_FR.conf");
        QCOMPARE(Settings::fileName(Settings::eMessagesUnhandled), _dir.path() + "/Messages/Unhandled.conf");
        QCOMPARE(Settings::locale(Settings::eAlarms, false), QStringLiteral("fr_FR"));
        QCOMPARE(Settings::fileName(Settings::Category_Enum(42)), QString());
    }

    void errorMessages()
    {
        QCOMPARE(Settings::errorMessage(12, "Unhandled.conf"),
                 QStringLiteral("The setting file Unhandled.conf doesn't exists."));
        QCOMPARE(Settings::errorMessage(2), QStringLiteral("The settings path is empty."));
        QCOMPARE(Settings::errorMessage(16), QStringLiteral("[unknown]"));
        QCOMPARE(Settings::errorMessage(-1), QStringLiteral("[unknown]"));
        QCOMPARE(Settings::errorMessage(7, QString(), "x"), QStringLiteral("The settings file  parse error."));
    }

    void readCategoryCodes()
    {
        LogSpy spy;
        QCOMPARE(Settings::readCategory(Settings::eSettingsSystem), int(Settings::eError_SettingNotExists));
        writeConfig("Settings/System.conf", "  \n\t \n");
        QCOMPARE(Settings::readCategory(Settings::eSettingsSystem), int(Settings::eError_Empty));
        writeConfig("Settings/System.conf", "[Date]\nFormat = yyyy\n#--bogus\n");
        QCOMPARE(Settings::readCategory(Settings::eSettingsSystem), int(Settings::eError_Parse));
        writeConfig("Settings/System.conf", "[Date]\nFormat = yyyy\n");
        QCOMPARE(Settings::readCategory(Settings::eSettingsSystem), int(Settings::eError_None));
        QVERIFY(spy.contents().contains("POST,UI,The setting file System.conf doesn't exists."));
        QVERIFY(spy.contents().contains("POST,UI,The settings file System.conf is empty."));
        QVERIFY(spy.contents().contains("POST,UI,The settings file System.conf parse error."));
        QVERIFY(spy.contents().contains("POST,UI,The configuration file 'System.conf' successfully loaded,"));
    }

    void binaryAndHugeFilesDoNotStopTheLoad()
    {
        QByteArray garbage;
        for (int i = 0; i < 200000; ++i)
            garbage.append(char(i * 7919 % 256));
        writeConfig("Instructions/Instructions.conf", garbage);
        QByteArray huge = "[G]\n";
        for (int i = 0; i < 100000; ++i)
            huge += "key" + QByteArray::number(i) + " = " + QByteArray::number(i) + "\n";
        writeConfig("Parameters/DataList.conf", huge);
        writeConfig("Messages/Unhandled.conf", "[1000]\nCheck In\nU32\n");
        Settings::readConfigurations();
        QCOMPARE(MSettings::I().keys("Parameters/DataList", "G").size(), 100000);
        QCOMPARE(MSettings::I().keys("Messages/Unhandled", "1000"), QStringList({"Check In", "U32"}));
    }

    // The whole load with a locale present: localized categories ask the
    // model for the locale while the load is filling it.
    void loadWithLocale()
    {
        writeConfig("settings/locale.conf", "[Localization]\nLocale = en_US\n");
        MSettings::I().add("settings/locale", "Localization", "Locale", "en_US", false);
        writeConfig("Alarms/Alarms_en_US.conf", "[1]\nTitle = Alarm\n");
        writeConfig("Messages/Unhandled.conf", "#--duplicate_key_on\n[600]\nAlarm User Action\nU32\n");
        QFuture<int> load = QtConcurrent::run(&Settings::readConfigurations);
        QVERIFY(load.result() == 0);
        QCOMPARE(MSettings::I().value("Alarms/Alarms", "1", "Title").toString(), QStringLiteral("Alarm"));
        QCOMPARE(MSettings::I().keys("Messages/Unhandled", "600"), QStringList({"Alarm User Action", "U32"}));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
