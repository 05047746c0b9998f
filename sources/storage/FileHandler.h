#pragma once

#include <QFileInfoList>
#include <QString>
#include <QStringList>

namespace Storage {

// Static file-system operations shared by the logger, the configuration reader
// and the start-up code. Failures go to standard error, throttled.
class FileHandler
{
public:
    FileHandler() = delete;

    static void errOut(const QString &message);
    static bool write(const QString &filePath, const QString &content, bool append = true);
    static bool makeFolder(const QString &path);
    // base and sub joined by exactly one slash, ending in a slash: "/" and
    // "log" give "/log/".
    static QString folderPath(const QString &base, const QString &sub);
    static QFileInfoList find(const QString &path, const QStringList &nameFilters);
    static QFileInfoList find(const QString &path, const QStringList &nameFilters, quint8 percent);
    static quint64 totalSize(const QFileInfoList &files);
    // The selection rule of find(path, filters, percent) on its own, for a
    // volume of the given size and files listed newest first.
    static QFileInfoList select(const QFileInfoList &newestFirst, qint64 volumeBytes, quint8 percent);
};

} // namespace Storage
