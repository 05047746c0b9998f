#include "WindowRun.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <csignal>

#include "FloodLoad.h"
#include "LocalCanDevice.h"
#include "peer/MessageDefinitions.h"
#include "peer/PayloadCodec.h"
#include "Priority.h"
#include "ProcessSnapshot.h"
#include "utility/types.h"

namespace {

constexpr int kStartMs = 20000; // generous: the machine may be busy
constexpr int kReplyMs = 10000;
// About once a second, as the UI board checks in, but drifting against the
// service's one-second broadcast cycle: an acknowledgement waits behind
// whatever the service queued before it, and over a window the check-ins
// then meet every part of that cycle, not the same part every time.
constexpr int kCheckInMs = 1070;
constexpr quint32 kDemoMenu = 99;
constexpr quint32 kCmdMainTreatment = 3;
constexpr int kTxStateTreatment = 2;
const char *const kInterface = "can0";
const char *const kConfigLoaded = "POST,UI,The configuration file 'Unhandled.conf' successfully loaded,";

QByteArray demoCommand(quint32 command)
{
    QByteArray payload;
    Types::U32 value;
    value.value = kDemoMenu;
    Types::setValue(value, payload);
    value.value = command;
    Types::setValue(value, payload);
    return payload;
}

} // namespace

WindowRun::WindowRun(const QString &plugin, Window window, const RunSettings &settings)
    : _plugin(plugin)
    , _window(window)
    , _settings(settings)
{
}

QString WindowRun::name(Window window)
{
    switch (window) {
    case Window::StandbyIdle:
        return QStringLiteral("standby-idle");
    case Window::Treatment:
        return QStringLiteral("treatment");
    case Window::Flood:
        return QStringLiteral("flood");
    }
    return QString();
}

bool WindowRun::fail(const QString &error)
{
    _error = error;
    return false;
}

RunResult WindowRun::run()
{
    RunResult result;
    result.ok = openBus() && startService() && waitUntilOnBus() && (_window != Window::Treatment || enterTreatment()) &&
                measure(result);
    result.error = _error;
    const int exitCode = _service.stop(SIGTERM);
    if (exitCode != 0 && result.ok) {
        result.ok = false;
        result.error = QStringLiteral("the service did not end cleanly (exit code %1)").arg(exitCode);
    }
    _ui.bus().close();
    result.busDrops = _server.dropped();
    _server.close();
    return result;
}

bool WindowRun::openBus()
{
    QString error;
    if (_plugin == QLatin1String("localcan")) {
        // The bus is a socket in a folder of this run's own.
        const QString socket = _busDir.filePath(QLatin1String(kInterface));
        if (!_busDir.isValid() || !_server.listen(socket, error))
            return fail(QStringLiteral("local bus: %1").arg(error));
        if (!_ui.open(_plugin, socket, error))
            return fail(error);
        if (!_ui.waitFor([this] { return _server.nodes() == 1; }, kReplyMs))
            return fail(QStringLiteral("local bus: this program's node never joined"));
        // Every other node's frames are the service's.
        const LocalCanServer::Node uiNode = _server.lastNode();
        QObject::connect(&_server, &LocalCanServer::didCarry, &_recorder,
                         [this, uiNode](LocalCanServer::Node node, qint64 ns) {
                             if (node != uiNode)
                                 _recorder.onServiceWrite(ns);
                         });
        return true;
    }
    // The first node on the virtual bus hosts its server: this process, so
    // that the server's work is not counted as the service's.
    return _ui.open(_plugin, QLatin1String(kInterface), error) || fail(error);
}

bool WindowRun::startService()
{
    QProcess &process = _service.process();
    QProcessEnvironment environment = process.processEnvironment();
    QStringList arguments;
    if (_plugin == QLatin1String("localcan")) {
        environment.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(RARAROZ_BENCH_PLUGIN_DIR));
        environment.insert(QLatin1String(LocalCanDevice::kFolderVariable), _busDir.path());
        arguments << QStringLiteral("--can-plugin") << _plugin << QStringLiteral("-A") << QLatin1String(kInterface);
    }
    process.setProcessEnvironment(environment);
    // The console goes to a file, as the board's goes to the journal: never
    // to a pipe that this process would have to keep draining.
    process.setStandardOutputFile(_service.logPath() + QStringLiteral("/console.txt"));
    if (!_service.start(arguments, _plugin == QLatin1String("virtualcan")))
        return fail(QStringLiteral("the service did not start: %1").arg(process.errorString()));
    return true;
}

bool WindowRun::waitUntilOnBus()
{
    if (!_service.waitForLog(QStringLiteral("log"), QLatin1String(kConfigLoaded), kStartMs))
        return fail(QStringLiteral("the service did not load its configuration"));
    // It joins the bus a moment after it starts: check in until it answers.
    _ui.startCheckIns(200);
    const bool answered = _ui.waitFor([this] { return _ui.checkInsSent() > _ui.checkInsUnanswered(0); }, kStartMs);
    _ui.stopCheckIns();
    _ui.forgetCheckIns();
    if (!answered)
        return fail(QStringLiteral("the service never acknowledged a check-in"));
    // Started from this program, it inherited this program's priority.
    Priority::resetNormal(_service.process().processId());
    return true;
}

bool WindowRun::enterTreatment()
{
    MessageDefinitions definitions;
    QString error;
    if (!definitions.load(QStringLiteral(RARAROZ_SOURCE_DIR "/config/Messages/Peer.conf"), error))
        return fail(error);
    const int mark = _ui.mark();
    const Sequence sequence = _ui.send(Can::ID_UI_CONFIRMATION_RESULT_RESP, demoCommand(kCmdMainTreatment), true);
    if (sequence == 0 || !_ui.waitForAcknowledgement(sequence, kReplyMs))
        return fail(QStringLiteral("the demo-menu command was not acknowledged"));
    const auto inTreatment = [&definitions](const ReceivedMessage &m) {
        const MessageDefinition *definition = definitions.find(m.id);
        if (m.id != Can::ID_TD_TREATMENT_STATE_DATA || !definition)
            return false;
        const DecodedPayload decoded = PayloadCodec::decode(*definition, m.payload);
        return decoded.has(QStringLiteral("txState")) &&
               decoded.value(QStringLiteral("txState")).toInt() == kTxStateTreatment;
    };
    if (_ui.waitForMessage(mark, inTreatment, kReplyMs) < 0)
        return fail(QStringLiteral("the service did not reach Treatment"));
    return true;
}

void WindowRun::idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool WindowRun::measure(RunResult &result)
{
    _ui.setKeepHistory(false);
    FloodLoad flood(_ui, _recorder, _settings.floodFramesPerSecond);
    const auto load = [&](int ms) {
        if (_window == Window::Flood)
            flood.run(ms);
        else
            idle(ms);
    };
    if (_window != Window::Flood) {
        QObject::connect(&_ui, &PeerSession::checkInSent, &_recorder, &BusRecorder::onRequestSent);
        _ui.startCheckIns(kCheckInMs);
    }

    load(_settings.warmupMs);
    const qint64 pid = _service.process().processId();
    ProcessSnapshot before;
    ProcessSnapshot after;
    ProcessSnapshot benchBefore;
    ProcessSnapshot benchAfter;
    ProcessSnapshot::take(QCoreApplication::applicationPid(), benchBefore);
    if (!ProcessSnapshot::take(pid, before))
        return fail(QStringLiteral("the service ended before the window"));
    const qint64 sentBefore = flood.sent();
    _recorder.start();
    load(_settings.measureMs);
    _recorder.stop();
    const bool alive = ProcessSnapshot::take(pid, after);
    ProcessSnapshot::take(QCoreApplication::applicationPid(), benchAfter);
    _ui.stopCheckIns();
    if (!alive)
        return fail(QStringLiteral("the service ended during the window"));

    result.usage = ProcessUsage::between(before, after);
    result.bench = ProcessUsage::between(benchBefore, benchAfter);
    result.traffic = _recorder.result();
    result.floodFramesPerSecond = double(flood.sent() - sentBefore) / result.usage.seconds;
    result.floodSkipped = flood.skipped();
    return true;
}
