#pragma once

#include <QDateTime>
#include <QDir>
#include <QFutureWatcher>
#include <QHash>
#include <QMutex>
#include <QObject>

#include <array>
#include <functional>
#include <limits>

#include "utility/CoalescingQueue.h"
#include "storage/LogFile.h"
#include "storage/LogFolder.h"
#include "Singleton.h"

class QThread;

namespace Storage {

// The one writer of the event and service logs. Any thread sends a line with
// didLog(); the lines are written, in order, on the logger's own thread.
class Logger : public QObject
{
    Q_OBJECT
    RARAROZ_SINGLETON(Logger)

public:
    enum LogType {
        eLogNone = -1,
        eLogAppED = 0,
        eLogDebug,
        eLogCloud,
        eLogTrtmt,
        eLogType_Count,
        eLogFiles,
    };
    Q_ENUM(LogType)

    using TLogData = QHash<LogType, QString>;
    using TLogMaxUse = QHash<LogType, quint16>;
    using Clock = std::function<QDateTime()>;

    bool init();
    bool init(QThread &thread);
    void postInit();
    void enableConsoleOut(bool enable);
    const QString &logPath(LogType type) const;
    QString logFileName() const { return _logFileName; }

    // Test seam: where "now" comes from (the wall clock by default).
    void setClock(Clock clock);

    // Writes every line sent so far; on the logger's thread only. Lines are
    // otherwise written in batches, a few milliseconds after they are sent.
    void flush();

    bool concurrentExportIsOk();
    int removeLogs(LogType type);

signals:
    void didLog(const QString &content, Storage::Logger::LogType type = eLogDebug, bool timestamp = true);
    void didLogIOFail();
    void didLogPathSet(Storage::Logger::LogType type, const QString &path);
    void didLogBackup(const QString &filePath);
    void didRetentionLogCS(quint8 percent);
    void didExportLogs();
    void didExportStat(quint32 index, const QString &fileName, quint8 percent);
    void didRemoveLogs(bool running);

public slots:
    void quit();
    bool concurrentRemoveLogs(Storage::Logger::LogType type = eLogFiles);
    void onSDCardStateChange(bool ready, bool readOnly);
    void onSDCardSpaceChange(bool ready, qint64 total, qint64 available, quint8 availablePercent);
    void onSettingsPartitionStateChange(bool ready, bool readOnly);
    void onSettingsPartitionSpaceChange(bool ready, qint64 total, qint64 available, quint8 availablePercent);

private slots:
    void onLog(const QString &content, Storage::Logger::LogType type, bool timestamp);
    void onRemoveLogs();
    void onExportLogs();

private:
    void initThread(QThread &thread);
    void quitThread();
    bool checkThread() const;
    void log(const QString &content, LogType type, bool timestamp);
    void checkLogPath();
    void setLogBasePath(bool useTemp);
    bool setLogPath();
    bool setLogPath(LogType type);
    QString fileName(LogType type) const;
    QString composeFileName(const QString &date, const QString &time, const QString &ext) const;
    QStringList ownFileNames(const QString &ext) const;
    void announceFinishedFile(LogType type, const QString &name);
    QDateTime now() const;
    qint64 nowMs() const;
    // The texts of one second's local time.
    struct Stamp {
        qint64 second = std::numeric_limits<qint64>::min();
        QString day;             // _fileDateFormat
        QString fileTime;        // _fileTimeFormat
        QByteArray timeToSecond; // _timeFormat as written, without the milliseconds
    };
    const Stamp &stampOf(qint64 ms);
    int removeOwnLogs(LogType type, quint16 percent);

    // Where the lines of a kind of file go: its folder, its open file, and
    // the lines of the batch being written, which go in one write.
    struct Output {
        LogFolder folder;
        LogFile file;
        QString name; // of the current day's file
        QString pendingName;
        QByteArray pending;
        int pendingLines = 0;
    };
    void writePending(Output &out);
    void noteLastFile(const Output &out);
    void writePending();
    Output &output(LogType type);
    const Output &output(LogType type) const;

    // A line as sent, until the logger's thread writes it.
    struct Line {
        QString content;
        LogType type;
        bool timestamp;
    };
    // Lines reach the logger's thread in batches rather than each waking it.
    // Under load a line waits up to one window: a longer one costs nothing on
    // the bus, and each wake-up writes each file once (shutdown still writes
    // every line sent).
    static constexpr int _batchWindowMs = 50;
    CoalescingQueue<Line> _lines;

    bool _logStorageReady = true;
    const QString _headerA =
        QStringLiteral("TimeStamp,ID,SubSys,Name,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,"
                       "21,22,23,24,25,26,27,28,29,30,31,32,33,34,35,36,37,38,39,40");
    const QString _headerD = QStringLiteral("TimeStamp,Description");
    QDir _dir;
    // Folders made under the world-writable temporary base are private.
    bool _ownerOnlyFolders = false;
    std::array<Output, 2> _outputs; // event log, service log
    const QString _logFileNameHDSN = QStringLiteral("BootPOST");
    const QString _logFileNameMode_init = QStringLiteral("NoRunning");
    QString _logFileNameMode;
    // The date (and opening time) of each type's current file. Kept per type so
    // that every type's first line of a new day starts its file with a header.
    TLogData _logFileNameDate;
    TLogData _logFileNameTime;
    TLogData _logPathNames;
    TLogData _logBasePathNames;
    TLogData _logNames;
    const QString _logFileNamePendingSubExt = QStringLiteral("u.");
    const QString _logFileNameCompressExt = QStringLiteral(".gz");
    TLogData _logFileNameExt;
    TLogMaxUse _logTypeMaxUsageLimit;
    QString _fileDateFormat;
    const QString _fileTimeFormat = QStringLiteral("HHmmss");
    const QString _timeFormat = QStringLiteral("HH:mm:ss.zzz");
    const QString _fileSeparator = QStringLiteral("_");
    const QString _separator = QStringLiteral(",");
    const QByteArray _separatorUtf8 = _separator.toUtf8();
    bool _enableConsoleOut = false;
    QString _logFileName;
    TLogData _lastFileName; // per type, for the finished-file announcement
    QMutex _logRemoveRunning;
    LogType _exportLogsType = eLogNone;
    QFutureWatcher<bool> _exportLogsWatcher;
    QFutureWatcher<int> _removeLogsWatcher;
    Clock _clock;
    Stamp _stamp;

    QThread *_thread = nullptr;
    bool _init = false;
};

} // namespace Storage

// Shorthands for the two common kinds of line: a time-stamped service (debug)
// line and a time-stamped event line.
#define LOG_DEBUG(vCONTENT) Storage::Logger::I().didLog((vCONTENT), Storage::Logger::eLogDebug, true)
#define LOG_APPED(vCONTENT) Storage::Logger::I().didLog((vCONTENT), Storage::Logger::eLogAppED, true)
