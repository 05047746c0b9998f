#include "common/ServiceProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QSocketNotifier>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

ServiceProcess::ServiceProcess()
{
    setArguments({});
    _process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Tests run under systemd must not have the service report to it.
    for (const char *name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
        env.remove(QString::fromLatin1(name));
    _process.setProcessEnvironment(env);
}

ServiceProcess::~ServiceProcess()
{
    if (_process.state() != QProcess::NotRunning) {
        _process.kill();
        _process.waitForFinished(5000);
    }
    _notifyReader.reset();
    if (_notifySocket >= 0)
        ::close(_notifySocket);
}

bool ServiceProcess::listenAsSystemd(const QProcessEnvironment &variables)
{
    const QByteArray path = QFile::encodeName(_logDir.filePath(QStringLiteral("notify")));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (_notifySocket >= 0 || size_t(path.size()) >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    _notifySocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (_notifySocket < 0 || ::bind(_notifySocket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0)
        return false;
    _notifyReader = std::make_unique<QSocketNotifier>(_notifySocket, QSocketNotifier::Read);
    QObject::connect(_notifyReader.get(), &QSocketNotifier::activated, _notifyReader.get(),
                     [this] { readNotifications(); });
    _notifyClock.start();

    QProcessEnvironment env = _process.processEnvironment();
    env.insert(variables);
    env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(path));
    _process.setProcessEnvironment(env);
    return true;
}

void ServiceProcess::readNotifications()
{
    char buffer[4096];
    ssize_t size;
    while (_notifySocket >= 0 && (size = ::recv(_notifySocket, buffer, sizeof(buffer), 0)) > 0)
        _notifications.append({_notifyClock.elapsed(), QByteArray(buffer, int(size))});
}

const QList<ServiceProcess::Notification> &ServiceProcess::notifications()
{
    readNotifications();
    return _notifications;
}

bool ServiceProcess::waitForNotification(const QByteArray &message, int timeoutMs)
{
    const auto received = [this, &message] {
        const QList<Notification> &all = notifications();
        return std::any_of(all.cbegin(), all.cend(),
                           [&message](const Notification &notification) { return notification.message == message; });
    };
    QDeadlineTimer deadline(timeoutMs);
    while (!received()) {
        if (deadline.hasExpired() || _process.state() == QProcess::NotRunning)
            return received();
        QTest::qWait(20);
    }
    return true;
}

bool ServiceProcess::start(const QStringList &arguments, bool virtualBus)
{
    QStringList all{QStringLiteral("--log-path"), _logDir.path(), QStringLiteral("--settings-path"),
                    QStringLiteral(RARAROZ_SOURCE_DIR) + QStringLiteral("/config")};
    if (virtualBus)
        all << QStringLiteral("--can-plugin") << QStringLiteral("virtualcan") << QStringLiteral("-A")
            << QStringLiteral("can0");
    setArguments(all + arguments);
    _process.start();
    return _process.waitForStarted(5000);
}

int ServiceProcess::run(const QStringList &arguments, QString *output, int timeoutMs)
{
    ServiceProcess service;
    service.setArguments(arguments);
    service._process.start();
    if (!service._process.waitForFinished(timeoutMs))
        return -1;
    if (output)
        *output = service.output();
    return service._process.exitStatus() == QProcess::NormalExit ? service._process.exitCode() : -1;
}

void ServiceProcess::setArguments(const QStringList &arguments)
{
    // A cross build runs these tests natively against its own service binary
    // under an emulator; both are then given in the environment.
    const QString binary = qEnvironmentVariable("RARAROZ_SERVICE_BINARY", QStringLiteral(RARAROZ_BINARY));
    const QString emulator = qEnvironmentVariable("RARAROZ_SERVICE_EMULATOR", QStringLiteral(RARAROZ_EMULATOR));
    run(_process, emulator, binary, arguments);
}

void ServiceProcess::emulate(QProcess &process, const QString &program, const QStringList &arguments)
{
    run(process, QStringLiteral(RARAROZ_EMULATOR), program, arguments);
}

void ServiceProcess::run(QProcess &process, const QString &emulator, const QString &program,
                         const QStringList &arguments)
{
    if (emulator.isEmpty()) {
        process.setProgram(program);
        process.setArguments(arguments);
    } else {
        process.setProgram(emulator);
        process.setArguments(QStringList{program} + arguments);
    }
}

QString ServiceProcess::output()
{
    _output += QString::fromLocal8Bit(_process.readAll());
    return _output;
}

bool ServiceProcess::waitForOutput(const QString &fragment, int timeoutMs)
{
    // Waits with the event loop running: a virtual bus hosted by this
    // process must keep serving the service meanwhile.
    QDeadlineTimer deadline(timeoutMs);
    while (!output().contains(fragment)) {
        if (deadline.hasExpired() || _process.state() == QProcess::NotRunning)
            return output().contains(fragment);
        QTest::qWait(20);
    }
    return true;
}

QString ServiceProcess::logText(const QString &relativeFolder) const
{
    QString text;
    const QDir dir(_logDir.filePath(relativeFolder));
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files, QDir::Name)) {
        QFile file(info.absoluteFilePath());
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

bool ServiceProcess::waitForLog(const QString &relativeFolder, const QString &fragment, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!logText(relativeFolder).contains(fragment)) {
        if (deadline.hasExpired())
            return false;
        output();
        QTest::qWait(20);
    }
    return true;
}

int ServiceProcess::stop(int signal, int timeoutMs)
{
    // Never signal pid 0 or below: that would reach this whole process group.
    const qint64 pid = _process.processId();
    if (pid <= 0 || _process.state() == QProcess::NotRunning)
        return -1;
    ::kill(pid_t(pid), signal);
    QDeadlineTimer deadline(timeoutMs);
    while (_process.state() != QProcess::NotRunning) {
        if (deadline.hasExpired())
            return -1;
        QTest::qWait(20);
    }
    output();
    return _process.exitStatus() == QProcess::NormalExit ? _process.exitCode() : -1;
}
