#include "ServiceProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTest>

#include <csignal>

ServiceProcess::ServiceProcess()
{
    setArguments({});
    _process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    _process.setProcessEnvironment(env);
}

ServiceProcess::~ServiceProcess()
{
    if (_process.state() != QProcess::NotRunning) {
        _process.kill();
        _process.waitForFinished(5000);
    }
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
