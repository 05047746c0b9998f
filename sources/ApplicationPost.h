#pragma once

#include <QObject>

// The power-on self test. This system checks no hardware, so starting it
// passes at once and lets the start-up chain that waits for it go on.
class ApplicationPost : public QObject
{
    Q_OBJECT
public:
    explicit ApplicationPost(QObject *parent = nullptr);

    void start();
    bool isDone() const { return _isDone; }

signals:
    void didDone(bool passed);

private:
    bool _isDone = false;
};
