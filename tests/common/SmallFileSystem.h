#pragma once

#include <QFile>
#include <QString>

#include <sys/statvfs.h>

// The small tmpfs that run-isolated --small-fs mounts for one test (a card
// that fills up), or an empty string where the machine allowed none. Only a
// file system this small is ever filled: never anything of the machine's.
inline QString smallFileSystem()
{
    const QString path = qEnvironmentVariable("RARAROZ_SMALL_FS");
    struct statvfs volume {
    };
    if (path.isEmpty() || ::statvfs(QFile::encodeName(path).constData(), &volume) != 0 ||
        quint64(volume.f_blocks) * volume.f_frsize > 16u * 1024 * 1024)
        return QString();
    return path;
}
