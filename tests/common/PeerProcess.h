#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

// The rararoz-peer binary run as a child process, for the tool's end-to-end
// tests. Header-only: only those tests know where the tool was built
// (RARAROZ_PEER_BINARY).
class PeerProcess
{
public:
    PeerProcess()
    {
        _process.setProcessChannelMode(QProcess::SeparateChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        _process.setProcessEnvironment(env);
    }
    ~PeerProcess()
    {
        if (_process.state() != QProcess::NotRunning) {
            _process.kill();
            _process.waitForFinished(5000);
        }
    }

    void start(const QStringList &arguments)
    {
        // A cross build runs these tests natively against its own service
        // under an emulator, given in the environment; its tool is built
        // beside that service.
        const QString service = qEnvironmentVariable("RARAROZ_SERVICE_BINARY");
        const QString program = service.isEmpty() ? QStringLiteral(RARAROZ_PEER_BINARY)
                                                  : QFileInfo(service).dir().filePath(QStringLiteral("rararoz-peer"));
        const QString emulator = qEnvironmentVariable("RARAROZ_SERVICE_EMULATOR", QStringLiteral(RARAROZ_EMULATOR));
        if (emulator.isEmpty()) {
            _process.setProgram(program);
            _process.setArguments(arguments);
        } else {
            _process.setProgram(emulator);
            _process.setArguments(QStringList{program} + arguments);
        }
        _process.start();
        _process.waitForStarted(5000);
        if (_hasInput) {
            _process.write(_input);
            _process.closeWriteChannel();
        }
    }

    // What the tool reads on its standard input, closed after it.
    void setInput(const QByteArray &input)
    {
        _input = input;
        _hasInput = true;
    }

    // Waits with the event loop running, since a virtual bus hosted by the
    // test process must keep serving meanwhile. The exit code, or -1.
    int wait(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (_process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
            collect();
            QTest::qWait(20);
        }
        collect();
        if (_process.state() != QProcess::NotRunning)
            return -1;
        return _process.exitStatus() == QProcess::NormalExit ? _process.exitCode() : -1;
    }

    // Waits until the tool has written the fragment on either stream.
    bool waitForOutput(const QString &fragment, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            collect();
            if (_out.contains(fragment) || _err.contains(fragment))
                return true;
            if (deadline.hasExpired() || _process.state() == QProcess::NotRunning)
                return false;
            QTest::qWait(20);
        }
    }

    int run(const QStringList &arguments, int timeoutMs = 20000)
    {
        start(arguments);
        return wait(timeoutMs);
    }

    QString out() const { return _out; }
    QString err() const { return _err; }
    QStringList outLines() const { return _out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

private:
    void collect()
    {
        _out += QString::fromUtf8(_process.readAllStandardOutput());
        _err += QString::fromUtf8(_process.readAllStandardError());
    }

    QProcess _process;
    QByteArray _input;
    bool _hasInput = false;
    QString _out;
    QString _err;
};
