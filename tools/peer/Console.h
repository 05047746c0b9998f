#pragma once

#include <QString>

// Line output of the tool: every line is written whole and flushed at once,
// so that a pipe or a log sees each line as soon as it is known.
class Console
{
public:
    static void out(const QString &line);
    static void err(const QString &line);
    // A line written in two parts: the start now, the rest when it is known.
    static void outPart(const QString &text);
};
