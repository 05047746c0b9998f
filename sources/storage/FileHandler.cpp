#include "storage/FileHandler.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QStorageInfo>
#include <QTextStream>

#include <cerrno>
#include <cstdio>

namespace Storage {

void FileHandler::errOut(const QString &message)
{
    // Process-wide flood guard: one message repeated without pause is printed
    // on its 1st, 1001st, 2001st ... occurrence.
    static QMutex mutex;
    static QString lastMessage;
    static quint32 counter = 0;

    QMutexLocker locker(&mutex);
    if (message != lastMessage || counter % 1000 == 0) {
        const QDateTime now = QDateTime::currentDateTime();
        const QString line =
            QStringLiteral("FS %1 %2 %3\n")
                .arg(now.toString(QStringLiteral("yyyy_MM_dd")), now.toString(QStringLiteral("HH:mm:ss")), message);
        std::fputs(line.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
        counter = 0;
        lastMessage = message;
    }
    ++counter;
}

bool FileHandler::write(const QString &filePath, const QString &content, bool append)
{
    QFile file(filePath);
    const QIODevice::OpenMode mode =
        QIODevice::Text | (append ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate);
    if (!file.open(mode)) {
        errOut(QStringLiteral("Cannot open file for write (%1). Possible corrupted file system.").arg(filePath));
        return false;
    }
    QTextStream out(&file);
    out << content;
    out.flush();
    if (out.status() == QTextStream::Ok && file.flush() && file.error() == QFileDevice::NoError)
        return true;
    // A full card fails here, after a good open: lost text is never silent.
    errOut(QStringLiteral("Cannot write file (%1). %2.").arg(filePath, qt_error_string(errno)));
    return false;
}

QString FileHandler::folderPath(const QString &base, const QString &sub)
{
    QString path = base;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    path += sub;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

bool FileHandler::makeFolder(const QString &path)
{
    if (QDir().mkpath(path))
        return true;
    errOut(QStringLiteral("Cannot create folder ") + path);
    return false;
}

QFileInfoList FileHandler::find(const QString &path, const QStringList &nameFilters)
{
    QDir dir(path);
    if (!dir.exists())
        return {};
    // Regular files only: a link is not a file of this folder.
    return dir.entryInfoList(nameFilters, QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Time);
}

quint64 FileHandler::totalSize(const QFileInfoList &files)
{
    quint64 total = 0;
    for (const QFileInfo &info : files)
        total += quint64(info.size());
    return total;
}

QFileInfoList FileHandler::select(const QFileInfoList &newestFirst, qint64 volumeBytes, quint8 percent)
{
    if (percent >= 100 || percent == 0 || newestFirst.isEmpty() || volumeBytes <= 0)
        return {};
    const quint64 limit = quint64(double(volumeBytes) * (double(percent) / 100.0));
    quint64 used = totalSize(newestFirst);
    QFileInfoList result;
    for (int i = newestFirst.size() - 1; i >= 0 && used > limit; --i) {
        const QFileInfo &info = newestFirst.at(i);
        used -= qMin(used, quint64(info.size()));
        result.append(info);
    }
    return result;
}

QFileInfoList FileHandler::find(const QString &path, const QStringList &nameFilters, quint8 percent)
{
    if (percent >= 100 || !QDir(path).exists())
        return {};
    const QStorageInfo storage(path);
    return select(find(path, nameFilters), storage.bytesTotal(), percent);
}

} // namespace Storage
