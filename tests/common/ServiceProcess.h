#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

class QSocketNotifier;

// The real rararoz binary run as a child process, with its logs in a
// temporary folder and its console output collected.
class ServiceProcess
{
public:
    ServiceProcess();
    ~ServiceProcess();

    // Starts the service; extra arguments follow --log-path, --settings-path and the bus options.
    bool start(const QStringList &arguments = {}, bool virtualBus = true);
    // Runs the binary with only these arguments and waits for it to end.
    static int run(const QStringList &arguments, QString *output, int timeoutMs = 10000);

    // The service's command line (without starting it).
    void setArguments(const QStringList &arguments);
    // Sets a program to run, through the emulator of a cross build if any.
    static void emulate(QProcess &process, const QString &program, const QStringList &arguments);

    bool waitForOutput(const QString &fragment, int timeoutMs = 10000);
    bool waitForLog(const QString &relativeFolder, const QString &fragment, int timeoutMs = 10000);
    // Sends a signal and waits for the exit; returns the exit code or -1.
    int stop(int signal, int timeoutMs = 15000);

    // The service reports to a socket of this test as it would to systemd,
    // with these variables (WATCHDOG_USEC, WATCHDOG_PID) besides; call before start().
    bool listenAsSystemd(const QProcessEnvironment &variables = {});
    struct Notification {
        qint64 atMs; // since listenAsSystemd
        QByteArray message;
    };
    const QList<Notification> &notifications();
    bool waitForNotification(const QByteArray &message, int timeoutMs = 10000);

    QString output();
    QString logText(const QString &relativeFolder) const;
    QString logPath() const { return _logDir.path(); }
    QProcess &process() { return _process; }

private:
    static void run(QProcess &process, const QString &emulator, const QString &program, const QStringList &arguments);
    void readNotifications();

    QTemporaryDir _logDir;
    QProcess _process;
    QString _output;
    int _notifySocket = -1;
    std::unique_ptr<QSocketNotifier> _notifyReader;
    QElapsedTimer _notifyClock;
    QList<Notification> _notifications;
};
