#pragma once

#include <QStringList>

#include <functional>

#include "peer/RawFrame.h"

// Reads CAN traces in candump's two forms: the log form that monitor --raw
// and candump -L write, "(1700000000.123456) can0 041#A50C001000008500",
// and candump's screen form, "  can0  041   [8]  A5 0C 00 10 00 00 85 00",
// with or without its absolute time in front. A frame of the screen form
// without a time has the time -1.
class CandumpReader
{
public:
    using FrameSink = std::function<void(const QString &interface, const RawFrame &frame)>;
    using ProblemSink = std::function<void(const QString &problem)>;

    // False for a line in neither form.
    static bool parse(const QString &line, QString &interface, RawFrame &frame);

    // Reads the files one after the other, standard input when none is
    // given. Each line that is neither blank nor a frame is reported as
    // "file:line: cannot read: <line>" and skipped; a file that cannot be
    // opened is reported too.
    void read(const QStringList &files, const FrameSink &onFrame, const ProblemSink &onProblem);

    int unreadableLines() const { return _unreadableLines; }
    int unreadableFiles() const { return _unreadableFiles; }
    int frames() const { return _frames; }

private:
    int _unreadableLines = 0;
    int _unreadableFiles = 0;
    int _frames = 0;
};
