#include "common/LogSpy.h"

LogSpy::LogSpy()
{
    connect(
        &Storage::Logger::I(), &Storage::Logger::didLog, this,
        [this](const QString &content, Storage::Logger::LogType type, bool timestamp) {
            _lines.append({content, type, timestamp});
        },
        Qt::DirectConnection);
}

QStringList LogSpy::contents() const
{
    QStringList result;
    for (const Line &line : _lines)
        result << line.content;
    return result;
}

QStringList LogSpy::contents(Storage::Logger::LogType type) const
{
    QStringList result;
    for (const Line &line : _lines)
        if (line.type == type)
            result << line.content;
    return result;
}

int LogSpy::count(const QString &fragment) const
{
    int n = 0;
    for (const Line &line : _lines)
        if (line.content.contains(fragment))
            ++n;
    return n;
}
