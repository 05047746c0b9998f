#include "storage/Logger.h"

#include <QCoreApplication>
#include <QDebug>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>

#include "CommandLine.h"
#include "storage/FileHandler.h"
#include "MainTimer.h"
#include "storage/StorageGlobals.h"
#include "Threads.h"

namespace Storage {

namespace {
// The file of a line: application event lines have their own file, every
// other type is written into the service log's file.
Logger::LogType fileType(Logger::LogType type)
{
    return type == Logger::eLogAppED ? Logger::eLogAppED : Logger::eLogDebug;
}
} // namespace

Logger::Logger(QObject *parent)
    : QObject(parent)
    , _lines(this, _batchWindowMs,
             [this](const QVector<Line> &lines) {
                 for (const Line &line : lines)
                     onLog(line.content, line.type, line.timestamp);
                 writePending();
             })
    , _exportLogsWatcher(this)
    , _removeLogsWatcher(this)
{
    _logBasePathNames = {{eLogAppED, Log_Folder_Application},
                         {eLogDebug, Log_Folder_Service},
                         {eLogCloud, Log_Folder_CloudSync},
                         {eLogTrtmt, Txr_Folder_Treatment}};
    _logNames = {{eLogAppED, "Log"}, {eLogDebug, "Service"}, {eLogCloud, "Cloud"}, {eLogTrtmt, "Treatment"}};
    _logFileNameExt = {{eLogAppED, ".log"}, {eLogDebug, ".err"}, {eLogCloud, ".log"}, {eLogTrtmt, ".txr"}};
    _logTypeMaxUsageLimit = {{eLogAppED, quint16(Log_Max_Allowable_AppED_Space_Percent)},
                             {eLogDebug, quint16(Log_Max_Allowable_Debug_Space_Percent)},
                             {eLogCloud, quint16(Log_Max_Allowable_Cloud_Space_Percent)},
                             {eLogTrtmt, quint16(Txr_Max_Allowable_Trtmt_Space_Percent)}};
    _fileDateFormat = gLogLongName ? QStringLiteral("yyyyMMdd") : QStringLiteral("yyyy_MM_dd");
}

bool Logger::init()
{
    if (_init)
        return false;
    _init = true;
    checkLogPath();
    // Taken on the sender's thread, written on the logger's, in batches.
    connect(
        this, &Logger::didLog, this,
        [this](const QString &content, LogType type, bool timestamp) {
            _lines.push({content, type, timestamp});
        },
        Qt::DirectConnection);
    connect(&MainTimer::I(), &MainTimer::didDateChange, this, [this] { concurrentRemoveLogs(); });
    connect(&_removeLogsWatcher, &QFutureWatcher<int>::finished, this, &Logger::onRemoveLogs);
    connect(&_exportLogsWatcher, &QFutureWatcher<bool>::finished, this, &Logger::onExportLogs);
    return true;
}

bool Logger::init(QThread &thread)
{
    if (!init())
        return false;
    initThread(thread);
    return true;
}

void Logger::initThread(QThread &thread)
{
    Threads::initThread(*this, thread, _thread);
    // The thread stops last at shutdown; what was sent until then is written.
    connect(&thread, &QThread::finished, this, &Logger::flush, Qt::DirectConnection);
}

void Logger::flush()
{
    _lines.deliverAll();
}

void Logger::quit()
{
    // The logger stays on its thread through shutdown, so the other services
    // can still log while they stop; its thread is stopped last.
}

void Logger::quitThread()
{
    Threads::returnToMainThread(*this, _thread);
}

void Logger::setClock(Clock clock)
{
    _clock = std::move(clock);
}

qint64 Logger::nowMs() const
{
    return _clock ? _clock().toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
}

const Logger::Stamp &Logger::stampOf(qint64 ms)
{
    // Local time and its texts change with the second at most (a zone's
    // change of offset included): worked out once a second, not per line.
    const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (second != _stamp.second) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
        _stamp.second = second;
        _stamp.day = local.toString(_fileDateFormat);
        _stamp.fileTime = local.toString(_fileTimeFormat);
        const QString time = local.toString(_timeFormat);
        // Up to the milliseconds' place, which each line fills in.
        _stamp.timeToSecond = time.leftRef(time.size() - 3).toUtf8();
    }
    return _stamp;
}

QDateTime Logger::now() const
{
    return _clock ? _clock() : QDateTime::currentDateTime();
}

bool Logger::checkThread() const
{
    if (thread() == &Threads::_Logger_Thread)
        return true;
    qDebug().noquote() << " ----- "
                       << "The main Log function rejection: The Logger is not initialized for proper use";
    return false;
}

void Logger::postInit()
{
    if (!checkThread())
        return;
    emit didLog(_headerA, eLogAppED, false);
    emit didLog(_headerD, eLogDebug, false);
    emit didLog(QStringLiteral("%1 Initialized").arg(QString::fromLatin1(metaObject()->className())), eLogDebug, true);
    emit didLog(QStringLiteral("Application %1 Started").arg(QCoreApplication::applicationName()), eLogDebug, true);
    emit didLog(QStringLiteral("    ,UI,") + QCoreApplication::applicationVersion(), eLogAppED, true);
}

void Logger::enableConsoleOut(bool enable)
{
    if (enable == _enableConsoleOut)
        return;
    _enableConsoleOut = enable;
    emit didLog(enable ? QStringLiteral("Console out Logging enabled") : QStringLiteral("Console out Logging disabled"),
                eLogDebug, true);
}

const QString &Logger::logPath(LogType type) const
{
    static const QString none;
    auto it = _logPathNames.constFind(type);
    return it == _logPathNames.constEnd() ? none : it.value();
}

void Logger::onLog(const QString &content, LogType type, bool timestamp)
{
    if (_logStorageReady || gDisableSDCFailLogStop) {
        log(content, type, timestamp);
        return;
    }
    static bool reported = false;
    if (!reported) {
        reported = true;
        qDebug().noquote() << "Log storage not ready, logging rejected";
    }
}

QString Logger::composeFileName(const QString &date, const QString &time, const QString &ext) const
{
    if (gLogLongName)
        return date + _fileSeparator + time + _fileSeparator + _logFileNameHDSN + _fileSeparator + _logFileNameMode +
               ext;
    return date + _fileSeparator + QStringLiteral("rararoz") + ext;
}

QString Logger::fileName(LogType type) const
{
    const LogType file = fileType(type);
    return composeFileName(_logFileNameDate.value(file), _logFileNameTime.value(file), _logFileNameExt.value(file));
}

QStringList Logger::ownFileNames(const QString &ext) const
{
    // Both forms, whichever this run writes: earlier runs may have used the
    // other. Every digit of a date or time stands for one digit.
    const auto digits = [](QString format) {
        return format.replace(QRegularExpression(QStringLiteral("[yMdHms]")), QStringLiteral("[0-9]"));
    };
    const QString mode = _logFileNameMode.isEmpty() ? _logFileNameMode_init : _logFileNameMode;
    return {digits(QStringLiteral("yyyy_MM_dd")) + _fileSeparator + QStringLiteral("rararoz") + ext,
            digits(QStringLiteral("yyyyMMdd")) + _fileSeparator + digits(_fileTimeFormat) + _fileSeparator +
                _logFileNameHDSN + _fileSeparator + mode + ext};
}

Logger::Output &Logger::output(LogType type)
{
    return _outputs[fileType(type) == eLogAppED ? 0 : 1];
}

const Logger::Output &Logger::output(LogType type) const
{
    return _outputs[fileType(type) == eLogAppED ? 0 : 1];
}

void Logger::announceFinishedFile(LogType type, const QString &name)
{
    const LogType file = fileType(type);
    const QString last = _lastFileName.value(file);
    if (name != last && !last.trimmed().isEmpty())
        emit didLogBackup(logPath(file) + last);
    _lastFileName[file] = name;
}

void Logger::log(const QString &content, LogType type, bool timestamp)
{
    if (!checkThread())
        return;

    const qint64 ms = nowMs();
    const Stamp &stamp = stampOf(ms);
    const LogType file = fileType(type);
    Output &out = output(type);
    if (_logFileNameMode.isEmpty())
        _logFileNameMode = _logFileNameMode_init;

    const QString previousDay = _logFileNameDate.value(file);
    const bool newDay = stamp.day != previousDay;
    if (newDay) {
        _logFileNameDate[file] = stamp.day;
        _logFileNameTime[file] = stamp.fileTime;
        // A file's name changes only with its day: worked out here, not per line.
        out.name = fileName(type);
        announceFinishedFile(type, out.name);
    }

    const bool knownType = type == eLogAppED || type == eLogDebug;
    if (!knownType)
        emit didLog(QStringLiteral("Incorrect type of logging %1").arg(int(type)), eLogDebug, true);

    if (out.pendingName != out.name) {
        writePending(out); // the lines of the previous file go there first
        out.pendingName = out.name;
    }
    noteLastFile(out);

    // The line is put together where it is written, in the batch's bytes.
    QByteArray &bytes = out.pending;
    const int lineStart = bytes.size();
    if (newDay && !previousDay.isEmpty())
        bytes += (file == eLogAppED ? _headerA : _headerD).toUtf8() + "\r\n";
    if (timestamp) {
        const int milliseconds = int(ms - stamp.second * 1000);
        bytes += stamp.timeToSecond;
        bytes += char('0' + milliseconds / 100);
        bytes += char('0' + milliseconds / 10 % 10);
        bytes += char('0' + milliseconds % 10);
        bytes += _separatorUtf8;
    }
    const int contentStart = bytes.size();
    bytes += content.toUtf8();
    std::replace(bytes.begin() + contentStart, bytes.end(), '\0', '0');
    if (_enableConsoleOut)
        qDebug().noquote() << QString::fromUtf8(bytes.constData() + lineStart, bytes.size() - lineStart);
    bytes += "\r\n";
    ++out.pendingLines;
}

void Logger::noteLastFile(const Output &out)
{
    // The same file line after line: compared, not put together again.
    const QString &folder = out.folder.path();
    if (_logFileName.size() == folder.size() + out.name.size() && _logFileName.startsWith(folder) &&
        _logFileName.endsWith(out.name))
        return;
    _logFileName = folder + out.name;
}

void Logger::writePending(Output &out)
{
    if (out.pendingLines == 0)
        return;
    // One write for the batch; when it fails, every line of it is lost.
    if (!out.file.append(out.folder, out.pendingName, out.pending)) {
        for (int i = 0; i < out.pendingLines; ++i)
            emit didLogIOFail();
    }
    out.pending.clear();
    out.pendingLines = 0;
}

void Logger::writePending()
{
    for (Output &out : _outputs)
        writePending(out);
}

void Logger::checkLogPath()
{
    if (!gLogPath.isEmpty()) {
        _dir.setPath(gLogPath);
    } else {
        const QStorageInfo card(QString::fromLatin1(SDCard_Base_Path_Name));
        setLogBasePath(!card.isValid() || card.isRoot());
    }
    setLogPath();
}

void Logger::setLogBasePath(bool useTemp)
{
    _ownerOnlyFolders = useTemp;
    if (useTemp) {
        _dir.setPath(gStandard_tmp());
        FileHandler::errOut(QStringLiteral("temp location used for events logging (%1)").arg(_dir.path()));
    } else {
        _dir.setPath(QString::fromLatin1(Log_Folder_Base));
    }
}

bool Logger::setLogPath()
{
    if (setLogPath(eLogAppED))
        return setLogPath(eLogDebug);
    // The service folder is not made when the event folder could not be, but
    // it is still recorded: its lines then fail visibly instead of landing in
    // whatever the working folder happens to be.
    _logPathNames[eLogDebug] = FileHandler::folderPath(_dir.path(), _logBasePathNames.value(eLogDebug));
    output(eLogDebug).folder.setPath(_logPathNames[eLogDebug]);
    return false;
}

bool Logger::setLogPath(LogType type)
{
    if (type == eLogTrtmt)
        return true;
    const QString folder = FileHandler::folderPath(_dir.path(), _logBasePathNames.value(type));
    _logPathNames[type] = folder;
    LogFolder &logFolder = output(type).folder;
    if (!logFolder.open(folder, _ownerOnlyFolders)) {
        // Its lines then fail, each raising didLogIOFail.
        FileHandler::errOut(logFolder.why());
        return false;
    }
    emit didLogPathSet(type, folder);
    return true;
}

bool Logger::concurrentRemoveLogs(LogType type)
{
    emit didLog(QStringLiteral("Remove Logs Starting"), eLogDebug, true);
    emit didRemoveLogs(true);
    _removeLogsWatcher.setFuture(QtConcurrent::run([this, type] { return removeLogs(type); }));
    return true;
}

int Logger::removeLogs(LogType type)
{
    emit didLog(QStringLiteral("Initializing log clean up"), eLogDebug, true);
    const QList<LogType> types =
        type == eLogFiles ? QList<LogType>{eLogAppED, eLogDebug, eLogCloud} : QList<LogType>{type};
    int count = 0;
    for (const LogType current : types) {
        const quint16 percent = _logTypeMaxUsageLimit.value(current);
        if (current == eLogCloud) {
            emit didRetentionLogCS(quint8(percent));
            continue;
        }
        count = removeOwnLogs(current, percent);
    }
    return count;
}

int Logger::removeOwnLogs(LogType type, quint16 percent)
{
    // Only this service's own files of the type count and go: never anything
    // else in the folder, never a link, never through a refused folder.
    const QString folder = logPath(type);
    const QString ext = _logFileNameExt.value(type);
    const LogFolder &logFolder = output(type).folder;
    const QFileInfoList files =
        folder.isEmpty() // a type without a folder of its own
            ? QFileInfoList()
            : FileHandler::select(logFolder.files(ownFileNames(ext)), logFolder.volumeBytes(), quint8(percent));
    if (files.isEmpty()) {
        emit didLog(QStringLiteral("No log file to delete for type(%1) more than %2% limit from folder %3")
                        .arg(ext)
                        .arg(percent)
                        .arg(folder),
                    eLogDebug, true);
        return 0;
    }
    emit didLog(QStringLiteral("Removing %1 logs of type (%2) more than %3% limit from folder %4")
                    .arg(files.size())
                    .arg(ext)
                    .arg(percent)
                    .arg(folder),
                eLogDebug, true);
    const QDate today = now().date();
    for (const QFileInfo &info : files) {
        if (!info.isWritable()) {
            emit didLog(QStringLiteral("Log %1 cannot be deleted").arg(info.fileName()), eLogDebug, true);
        } else if (info.lastModified().date() == today) {
            emit didLog(QStringLiteral("Current day log %1 cannot be deleted").arg(info.fileName()), eLogDebug, true);
        } else {
            const QString path = folder + info.fileName();
            emit didLog((logFolder.remove(info.fileName()) ? QStringLiteral("Removing %1 succeeded")
                                                           : QStringLiteral("Removing %1 failed"))
                            .arg(path),
                        eLogDebug, true);
        }
    }
    return files.size();
}

void Logger::onRemoveLogs()
{
    emit didLog(QStringLiteral("Remove Logs Ended: %1").arg(_removeLogsWatcher.result()), eLogDebug, true);
    emit didRemoveLogs(false);
}

bool Logger::concurrentExportIsOk()
{
    if (_exportLogsWatcher.isRunning()) {
        emit didLog(QStringLiteral("Export type of %1 is running").arg(_logNames.value(_exportLogsType)), eLogDebug,
                    true);
        return false;
    }
    return true;
}

void Logger::onExportLogs()
{
    const bool ok = _exportLogsWatcher.result();
    emit didLog(QStringLiteral("Export %1 ended: %2").arg(_logNames.value(_exportLogsType)).arg(ok ? 1 : 0), eLogDebug,
                true);
    if (ok)
        emit didExportLogs();
    else
        emit didLogIOFail();
}

void Logger::onSDCardStateChange(bool ready, bool readOnly)
{
    _logStorageReady = ready && !readOnly;
}

void Logger::onSDCardSpaceChange(bool ready, qint64 /*total*/, qint64 /*available*/, quint8 availablePercent)
{
    if (ready && Log_Min_Available_Total_Space_IsLow(availablePercent))
        concurrentRemoveLogs(eLogFiles);
}

void Logger::onSettingsPartitionStateChange(bool ready, bool /*readOnly*/)
{
    emit didLog(QStringLiteral("Settings Partition State Changed | vReady: %1 ").arg(ready ? 1 : 0), eLogDebug, true);
}

void Logger::onSettingsPartitionSpaceChange(bool ready, qint64 /*total*/, qint64 /*available*/, quint8 availablePercent)
{
    if (ready && Txr_Min_Available_Total_Space_IsLow(availablePercent))
        concurrentRemoveLogs(eLogTrtmt);
}

} // namespace Storage
