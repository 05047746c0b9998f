#include <QtTest>

#include <cstdio>
#include <unistd.h>

#include "StderrCapture.h"
#include "FileHandler.h"

using Storage::FileHandler;

namespace {

void makeFile(const QString &path, int size, const QDateTime &modified)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(size, 'x'));
    QVERIFY(file.flush());
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}
} // namespace

class tst_FileHandler : public QObject
{
    Q_OBJECT

private slots:
    void writeAndAppend()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.txt");
        QVERIFY(FileHandler::write(path, "one\n", true));
        QVERIFY(FileHandler::write(path, "two\n", true));
        QFile in(path);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(in.readAll(), QByteArray("one\ntwo\n"));
        in.close();
        QVERIFY(FileHandler::write(path, "three", false));
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(in.readAll(), QByteArray("three"));
    }

    void writeFailureReported()
    {
        StderrCapture capture;
        QVERIFY(!FileHandler::write("/nonexistent-folder/x/y.log", "z", true));
        const QString text = capture.text();
        QVERIFY2(text.contains(QRegularExpression(
                     "^FS \\d{4}_\\d{2}_\\d{2} \\d{2}:\\d{2}:\\d{2} Cannot open file for write "
                     "\\(/nonexistent-folder/x/y.log\\)\\. Possible corrupted file system\\.\n")),
                 qPrintable(text));
    }

    void errOutThrottled()
    {
        StderrCapture capture;
        // A different message first, so the repeated one starts a fresh count.
        FileHandler::errOut("reset");
        for (int i = 0; i < 2500; ++i)
            FileHandler::errOut("same failure");
        const QString text = capture.text();
        QCOMPARE(text.count("same failure"), 3);
        QCOMPARE(text.count("reset"), 1);
    }

    void makeFolder()
    {
        QTemporaryDir dir;
        QVERIFY(FileHandler::makeFolder(dir.filePath("a/b/c")));
        QVERIFY(QDir(dir.filePath("a/b/c")).exists());
        QVERIFY(FileHandler::makeFolder(dir.filePath("a/b/c")));
        StderrCapture capture;
        QVERIFY(!FileHandler::makeFolder("/proc/forbidden/x"));
        QVERIFY(capture.text().contains("Cannot create folder /proc/forbidden/x"));
    }

    void findNewestFirst()
    {
        QTemporaryDir dir;
        const QDateTime now = QDateTime::currentDateTime();
        makeFile(dir.filePath("old.log"), 30, now.addDays(-3));
        makeFile(dir.filePath("mid.log"), 20, now.addDays(-2));
        makeFile(dir.filePath("new.log"), 10, now.addDays(-1));
        makeFile(dir.filePath("other.txt"), 5, now);
        QDir(dir.path()).mkdir("sub.log");
        const QFileInfoList files = FileHandler::find(dir.path(), {"*.log"});
        QCOMPARE(files.size(), 3);
        QCOMPARE(files.at(0).fileName(), QStringLiteral("new.log"));
        QCOMPARE(files.at(2).fileName(), QStringLiteral("old.log"));
        QCOMPARE(FileHandler::totalSize(files), quint64(60));
        QVERIFY(FileHandler::find(dir.filePath("missing"), {"*.log"}).isEmpty());
    }

    void selectOldestUntilWithinLimit_data()
    {
        QTest::addColumn<qint64>("volume");
        QTest::addColumn<int>("percent");
        QTest::addColumn<QStringList>("expected");
        // 60 bytes of files: 30 (oldest), 20, 10 (newest).
        QTest::newRow("limit 25: two oldest") << qint64(100) << 25 << QStringList{"old.log", "mid.log"};
        QTest::newRow("limit 30: oldest only") << qint64(100) << 30 << QStringList{"old.log"};
        QTest::newRow("limit 60: nothing") << qint64(100) << 60 << QStringList{};
        QTest::newRow("limit 5: all") << qint64(100) << 5 << QStringList{"old.log", "mid.log", "new.log"};
        QTest::newRow("0 percent never") << qint64(100) << 0 << QStringList{};
        QTest::newRow("100 percent never") << qint64(100) << 100 << QStringList{};
        QTest::newRow("fraction truncated") << qint64(99) << 30 << QStringList{"old.log", "mid.log"};
    }

    void selectOldestUntilWithinLimit()
    {
        QFETCH(qint64, volume);
        QFETCH(int, percent);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QDateTime now = QDateTime::currentDateTime();
        makeFile(dir.filePath("old.log"), 30, now.addDays(-3));
        makeFile(dir.filePath("mid.log"), 20, now.addDays(-2));
        makeFile(dir.filePath("new.log"), 10, now.addDays(-1));
        QStringList names;
        for (const QFileInfo &info : FileHandler::select(FileHandler::find(dir.path(), {"*.log"}), volume, quint8(percent)))
            names << info.fileName();
        QCOMPARE(names, expected);
    }

    void findOnRealVolume()
    {
        QTemporaryDir dir;
        makeFile(dir.filePath("a.log"), 10, QDateTime::currentDateTime());
        QVERIFY(FileHandler::find(dir.path(), {"*.*"}, 100).isEmpty());
        QVERIFY(FileHandler::find(dir.path(), {"*.*"}, 0).isEmpty());
        QVERIFY(FileHandler::find(dir.path(), {"*.*"}, 50).isEmpty()); // 10 bytes never fill half a volume
        QVERIFY(FileHandler::find(dir.filePath("missing"), {"*.*"}, 1).isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_FileHandler)
#include "tst_filehandler.moc"
