#include <QtTest>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "common/StderrCapture.h"
#include "storage/FileHandler.h"
#include "storage/LogFolder.h"

using Storage::FileHandler;
using Storage::LogFolder;

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

class TestFileHandler : public QObject
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
        QVERIFY2(text.contains(
                     QRegularExpression("^FS \\d{4}_\\d{2}_\\d{2} \\d{2}:\\d{2}:\\d{2} Cannot open file for write "
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

    void folderPath_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("expected");
        QTest::newRow("root") << "/"
                              << "/log/";
        QTest::newRow("with slash") << "/tmp/"
                                    << "/tmp/log/";
        QTest::newRow("without slash") << "/tmp"
                                       << "/tmp/log/";
        QTest::newRow("relative") << "run/demo"
                                  << "run/demo/log/";
    }

    void folderPath()
    {
        QFETCH(QString, base);
        QFETCH(QString, expected);
        QCOMPARE(FileHandler::folderPath(base, "log/"), expected);
    }

    // What a log folder under someone else's control may hold: the folder
    // itself a link, or owned by another user, is refused with its reason
    // and nothing is created or touched behind it.
    void logFolderRefusesLinksAndStrangers_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("why");
        QTest::newRow("missing: made private") << "missing"
                                               << "";
        QTest::newRow("own folder") << "own"
                                    << "";
        QTest::newRow("link to a folder") << "link"
                                          << "is a symbolic link: not used";
        QTest::newRow("another user's folder") << "foreign"
                                               << "belongs to another user (uid 65534): not used";
    }

    void logFolderRefusesLinksAndStrangers()
    {
        QFETCH(QString, setup);
        QFETCH(QString, why);
        QTemporaryDir dir;
        const QString path = dir.filePath("service");
        QVERIFY(QDir(dir.path()).mkdir("elsewhere"));
        if (setup == "own")
            QVERIFY(QDir(dir.path()).mkdir("service"));
        if (setup == "link")
            QVERIFY(QFile::link(dir.filePath("elsewhere"), path));
        if (setup == "foreign") {
            QVERIFY(QDir(dir.path()).mkdir("service"));
            if (::chown(QFile::encodeName(path).constData(), 65534, 65534) != 0)
                QSKIP("changing a folder's owner needs root");
        }
        LogFolder folder;
        QCOMPARE(folder.open(path + '/', true), why.isEmpty());
        QVERIFY2(why.isEmpty() ? folder.why().isEmpty() : folder.why().endsWith(why), qPrintable(folder.why()));
        QCOMPARE(folder.isOpen(), why.isEmpty());
        QCOMPARE(folder.openForAppend("2026_01_01_rararoz.err") >= 0, why.isEmpty());
        QVERIFY(QDir(dir.filePath("elsewhere")).isEmpty());
        struct stat info {
        };
        if (setup == "missing")
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0u, 0700u);
    }

    void logFolderListsOnlyOwnRegularFiles()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("service");
        QDir(dir.path()).mkdir("service/2026_01_04_rararoz.err");
        const QDateTime now = QDateTime::currentDateTime();
        makeFile(dir.filePath("service/2026_01_01_rararoz.err"), 10, now.addDays(-3));
        makeFile(dir.filePath("service/20260102_101010_BootPOST_NoRunning.err"), 10, now.addDays(-2));
        makeFile(dir.filePath("service/notes.txt"), 10, now.addDays(-9));
        makeFile(dir.filePath("service/2026_01_02_RARAROZ.err"), 10, now.addDays(-9));
        makeFile(dir.filePath("precious.db"), 10, now.addDays(-9));
        QVERIFY(QFile::link(dir.filePath("precious.db"), dir.filePath("service/2026_01_03_rararoz.err")));
        LogFolder folder;
        QVERIFY(folder.open(dir.filePath("service/"), false));
        QStringList names;
        for (const QFileInfo &info :
             folder.files({"[0-9][0-9][0-9][0-9]_[0-9][0-9]_[0-9][0-9]_rararoz.err",
                           "[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]_*_BootPOST_NoRunning.err"}))
            names << info.fileName();
        QCOMPARE(names, (QStringList{"20260102_101010_BootPOST_NoRunning.err", "2026_01_01_rararoz.err"}));
        // A link is removed as a link; what it points at stays.
        QVERIFY(folder.remove("2026_01_03_rararoz.err"));
        QVERIFY(QFile::exists(dir.filePath("precious.db")));
        QVERIFY(folder.volumeBytes() > 0);
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
        for (const QFileInfo &info :
             FileHandler::select(FileHandler::find(dir.path(), {"*.log"}), volume, quint8(percent)))
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

QTEST_GUILESS_MAIN(TestFileHandler)
#include "tst_filehandler.moc"
