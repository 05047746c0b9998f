#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Captures what the process writes to standard error while it lives (the
// console traces and the file helpers' lines go there).
class StderrCapture
{
public:
    StderrCapture()
    {
        if (!_file.open())
            return;
        std::fflush(stderr);
        _saved = ::dup(STDERR_FILENO);
        if (_saved >= 0)
            ::dup2(_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    // Ends the capture and returns what was written.
    QByteArray take()
    {
        restore();
        _file.seek(0);
        return _file.readAll();
    }
    QString text() { return QString::fromLocal8Bit(take()); }

private:
    void restore()
    {
        if (_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(_saved, STDERR_FILENO);
        ::close(_saved);
        _saved = -1;
    }

    QTemporaryFile _file;
    int _saved = -1;
};
