#include "storage/LogFile.h"

#include <cerrno>
#include <unistd.h>

#include "storage/FileHandler.h"
#include "storage/LogFolder.h"

namespace Storage {

LogFile::~LogFile()
{
    close();
}

void LogFile::close()
{
    if (_fd >= 0)
        ::close(_fd);
    _fd = -1;
    _path.clear();
}

bool LogFile::fail(const QString &message)
{
    FileHandler::errOut(message);
    close();
    return false;
}

bool LogFile::open(const LogFolder &folder, const QString &name)
{
    close();
    const QString path = folder.path() + name;
    _fd = folder.openForAppend(name);
    if (_fd < 0)
        return fail(QStringLiteral("Cannot open file for write (%1). Possible corrupted file system.").arg(path));
    _path = path;
    return true;
}

bool LogFile::append(const LogFolder &folder, const QString &name, const QByteArray &bytes)
{
    if ((_fd < 0 || _path != folder.path() + name) && !open(folder, name))
        return false;
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(_fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return fail(QStringLiteral("Cannot write file (%1). %2.").arg(_path, qt_error_string(errno)));
        data += written;
        left -= written;
    }
    return true;
}

} // namespace Storage
