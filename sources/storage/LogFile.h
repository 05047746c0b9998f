#pragma once

#include <QByteArray>
#include <QString>

namespace Storage {

class LogFolder;

// The current file of one kind of log, kept open between lines so that a line
// costs one write, not an open, a seek and a close.
//
// A failure to open or to write is reported on standard error (throttled) and
// closes the file; the next line opens it afresh, so writing resumes by
// itself once the card has room again.
class LogFile
{
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // Appends bytes to the file name of folder, first opening it when another
    // file (or none) is open. False when the bytes were not all written.
    bool append(const LogFolder &folder, const QString &name, const QByteArray &bytes);
    void close();

private:
    bool open(const LogFolder &folder, const QString &name);
    bool fail(const QString &message);

    int _fd = -1;
    QString _path; // of the open file
};

} // namespace Storage
