#include <QtConcurrent>
#include <QtTest>

#include "model/settings/MSettings.h"

using Storage::MSettings;

class TestMSettings : public QObject
{
    Q_OBJECT

private slots:
    void init() { MSettings::I().clear(); }

    void replaceKeepsPosition()
    {
        MSettings &s = MSettings::I();
        s.add("C", "G", "a", "1", false);
        s.add("C", "G", "b", "x", false);
        s.add("C", "G", "a", "2", false);
        QCOMPARE(s.keys("C", "G"), QStringList({"a", "b"}));
        QCOMPARE(s.value("C", "G", "a").toString(), QStringLiteral("2"));
    }

    void duplicatesKeepBoth()
    {
        MSettings &s = MSettings::I();
        s.add("C", "G", "a", "1", true);
        s.add("C", "G", "a", "2", true);
        QCOMPARE(s.keys("C", "G"), QStringList({"a", "a"}));
        QCOMPARE(s.value("C", "G", "a").toString(), QStringLiteral("1"));
        QCOMPARE(s.values("C", "G"), QVariantList({"1", "2"}));
    }

    void groupsAndCategoriesSorted()
    {
        MSettings &s = MSettings::I();
        s.add("Z", "Zed", "k", "", false);
        s.add("Z", "Alpha", "k", "", false);
        s.add("A", "G", "k", "", false);
        QCOMPARE(s.groups("Z"), QStringList({"Alpha", "Zed"}));
        QCOMPARE(s.categorys(), QStringList({"A", "Z"}));
        QVERIFY(s.groups("missing").isEmpty());
        QVERIFY(s.keys("Z", "missing").isEmpty());
        QVERIFY(!s.value("Z", "Zed", "missing").isValid());
    }

    void keyByIndex()
    {
        MSettings &s = MSettings::I();
        s.add("C", "G", "first", "", true);
        s.add("C", "G", "second", "", true);
        QCOMPARE(s.key("C", "G", 1), QStringLiteral("second"));
        QCOMPARE(s.key("C", "G", 2), QStringLiteral("[Unknown 2]"));
        QCOMPARE(s.key("C", "G", -1), QStringLiteral("[Unknown -1]"));
    }

    // Composite reads take the one mutex once: a locale lookup made while
    // the store is being filled neither deadlocks nor misses.
    void compositeReadsDoNotDeadlock()
    {
        MSettings &s = MSettings::I();
        s.add("settings/locale", "Localization", "Locale", "de_DE", false);
        s.add("settings/locale", "Localization", "Language", "German", false);
        QCOMPARE(s.systemLocale(), QStringLiteral("de_DE"));
        QCOMPARE(s.systemLanguage(), QStringLiteral("German"));
        QCOMPARE(s.datetimeFormat(), QStringLiteral("MM/dd/yyyy HH:mm:ss"));
        s.add("Settings/System", "Date", "Format", "yyyy-MM-dd", false);
        QCOMPARE(s.datetimeFormat(), QStringLiteral("MM/dd/yyyy HH:mm:ss")); // time format still missing
        s.add("Settings/System", "Time", "Format", "HH:mm", false);
        QCOMPARE(s.datetimeFormat(), QStringLiteral("yyyy-MM-dd HH:mm"));
        QCOMPARE(s.dateFormat(), QStringLiteral("yyyy-MM-dd"));
    }

    void concurrentWritersAndReaders()
    {
        MSettings &s = MSettings::I();
        QFuture<void> writer = QtConcurrent::run([&s] {
            for (int i = 0; i < 20000; ++i)
                s.add("Messages/Unhandled", QString::number(i % 50, 16), "U32", i, true);
        });
        int reads = 0;
        while (!writer.isFinished()) {
            for (const QString &group : s.groups("Messages/Unhandled"))
                reads += s.keys("Messages/Unhandled", group).size();
            s.systemLocale();
        }
        writer.waitForFinished();
        QCOMPARE(s.groups("Messages/Unhandled").size(), 50);
        QCOMPARE(s.keys("Messages/Unhandled", "0").size(), 400);
        QVERIFY(reads >= 0);
    }
};

QTEST_GUILESS_MAIN(TestMSettings)
#include "tst_msettings.moc"
