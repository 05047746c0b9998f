#pragma once

#include <QFileInfoList>
#include <QString>

namespace Storage {

// One log folder, held open for the life of the process.
//
// Without an SD card the logs live under the world-writable temporary folder
// while the service runs as root. So the folder is opened without following
// a link and refused when a user other than this one (or root) owns it, and
// every file in it is reached through the open folder, never again by path:
// a link planted under a log file's name, or later in place of the folder
// itself, is never followed.
class LogFolder
{
public:
    LogFolder() = default;
    ~LogFolder();
    LogFolder(const LogFolder &) = delete;
    LogFolder &operator=(const LogFolder &) = delete;

    // Opens path, creating it (with missing parents) when it does not exist;
    // ownerOnly makes a folder created here private to this user. On refusal
    // the reason is in why() and nothing is open.
    bool open(const QString &path, bool ownerOnly);
    // Records where the folder would be without opening it: its files then
    // fail to open under that path.
    void setPath(const QString &path) { _path = path; }
    bool isOpen() const { return _fd >= 0; }
    const QString &path() const { return _path; }
    const QString &why() const { return _why; }

    // Opens name in the folder for appending, creating it; never through a
    // link. Returns the descriptor, or -1 with errno set.
    int openForAppend(const QString &name) const;

    // The regular files of the folder (never links, never sub-folders) whose
    // names match the wildcards, newest first; case matters.
    QFileInfoList files(const QStringList &nameFilters) const;
    // Size in bytes of the volume that holds the folder; 0 when unknown.
    qint64 volumeBytes() const;
    // Removes one entry of the folder itself (a link is removed, not followed).
    bool remove(const QString &name) const;

private:
    bool refuse(const QString &why);

    int _fd = -1;
    QString _path;
    QString _why;
};

} // namespace Storage
