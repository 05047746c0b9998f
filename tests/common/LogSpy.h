#pragma once

#include <QObject>
#include <QStringList>

#include "storage/Logger.h"

// Records every line sent to the logger while it lives, on the sending
// thread, so a test can assert on log lines without files or threads.
class LogSpy : public QObject
{
    Q_OBJECT
public:
    struct Line {
        QString content;
        Storage::Logger::LogType type;
        bool timestamp;
    };

    LogSpy();

    const QList<Line> &lines() const { return _lines; }
    QStringList contents() const;
    QStringList contents(Storage::Logger::LogType type) const;
    // Lines whose text contains the fragment.
    int count(const QString &fragment) const;
    void clear() { _lines.clear(); }

private:
    QList<Line> _lines;
};
