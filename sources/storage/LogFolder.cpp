#include "storage/LogFolder.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <vector>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace Storage {

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

// Root owns the card's mount and the system folders; anyone else's folder is
// not ours to write into.
bool trustedOwner(uid_t owner)
{
    return owner == ::geteuid() || owner == 0;
}

QString withoutSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

LogFolder::~LogFolder()
{
    if (_fd >= 0)
        ::close(_fd);
}

bool LogFolder::refuse(const QString &why)
{
    _why = why;
    return false;
}

bool LogFolder::open(const QString &path, bool ownerOnly)
{
    _path = path;
    _why.clear();
    const QString bare = withoutSlash(path);
    const QByteArray name = native(bare);

    struct stat info {
    };
    if (::lstat(name.constData(), &info) != 0) {
        const QString parent = QFileInfo(bare).path();
        const bool made =
            QDir().mkpath(parent) && (::mkdir(name.constData(), ownerOnly ? 0700 : 0777) == 0 || errno == EEXIST);
        if (!made || ::lstat(name.constData(), &info) != 0)
            return refuse(QStringLiteral("Cannot create folder ") + path);
    }
    if (S_ISLNK(info.st_mode))
        return refuse(QStringLiteral("Log folder %1 is a symbolic link: not used").arg(path));

    // Opened without following a link: the checks below are about the
    // folder that is then used, not about a name that may change meanwhile.
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            return refuse(QStringLiteral("Log folder %1 is a symbolic link: not used").arg(path));
        return refuse(QStringLiteral("Cannot create folder ") + path);
    }
    if (::fstat(fd, &info) != 0 || !trustedOwner(info.st_uid)) {
        ::close(fd);
        return refuse(
            QStringLiteral("Log folder %1 belongs to another user (uid %2): not used").arg(path).arg(info.st_uid));
    }
    if (_fd >= 0)
        ::close(_fd);
    _fd = fd;
    return true;
}

int LogFolder::openForAppend(const QString &name) const
{
    if (_fd < 0) {
        errno = ENOENT;
        return -1;
    }
    // Non-blocking so that a FIFO planted under the name cannot hold the
    // logger; only a regular file is written.
    const int fd = ::openat(_fd, native(name).constData(),
                            O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    struct stat info {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

QFileInfoList LogFolder::files(const QStringList &nameFilters) const
{
    if (_fd < 0)
        return {};
    QList<QRegularExpression> patterns;
    for (const QString &filter : nameFilters)
        patterns << QRegularExpression(QRegularExpression::wildcardToRegularExpression(filter));

    const int listing = ::dup(_fd);
    DIR *dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return {};
    }
    ::rewinddir(dir);
    struct Entry {
        QString name;
        qint64 modifiedNs;
    };
    std::vector<Entry> entries;
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        const bool wanted = std::any_of(patterns.cbegin(), patterns.cend(),
                                        [&name](const QRegularExpression &p) { return p.match(name).hasMatch(); });
        struct stat info {
        };
        if (!wanted || ::fstatat(_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            continue;
        entries.push_back({name, qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec});
    }
    ::closedir(dir);

    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return a.modifiedNs > b.modifiedNs; });
    QFileInfoList result;
    for (const Entry &entry : entries)
        result << QFileInfo(_path + entry.name);
    return result;
}

qint64 LogFolder::volumeBytes() const
{
    struct statvfs volume {
    };
    if (_fd < 0 || ::fstatvfs(_fd, &volume) != 0)
        return 0;
    return qint64(volume.f_blocks) * qint64(volume.f_frsize);
}

bool LogFolder::remove(const QString &name) const
{
    return _fd >= 0 && ::unlinkat(_fd, native(name).constData(), 0) == 0;
}

} // namespace Storage
