#pragma once

#include <QString>
#include <QTemporaryDir>

#include "BusRecorder.h"
#include "LocalCanServer.h"
#include "peer/PeerSession.h"
#include "ProcessUsage.h"
#include "common/ServiceProcess.h"

// What the UI board does during a measurement window.
enum class Window {
    StandbyIdle, // checks in once a second, nothing else
    Treatment,   // jumps to Treatment through the demo menu, then checks in once a second
    Flood,       // a saturated bus: check-ins and garbage, 2,000 frames a second
};

struct RunSettings {
    int warmupMs = 3000;
    int measureMs = 10000;
    int floodFramesPerSecond = 2000;
};

struct RunResult {
    bool ok = false;
    QString error;
    ProcessUsage usage;
    ProcessUsage bench; // this program's own, to judge how much it disturbed the service
    BusRecorder::Result traffic;
    double floodFramesPerSecond = 0; // as sent while measuring
    qint64 floodSkipped = 0;
    quint64 busDrops = 0; // frames the local bus could not deliver
};

// One measurement of the real service: started afresh on a bus of its own
// (the "virtualcan" or the "localcan" plug-in), brought to the window's state,
// then measured from /proc over a fixed time after a warm-up while this
// process plays the UI board.
class WindowRun
{
public:
    WindowRun(const QString &plugin, Window window, const RunSettings &settings);
    RunResult run();

    static QString name(Window window);

private:
    bool openBus();
    bool startService();
    bool waitUntilOnBus();
    bool enterTreatment();
    bool measure(RunResult &result);
    void idle(int ms);
    bool fail(const QString &error);

    const QString _plugin;
    const Window _window;
    const RunSettings _settings;
    QTemporaryDir _busDir;
    LocalCanServer _server;
    PeerSession _ui;
    BusRecorder _recorder{_ui};
    ServiceProcess _service;
    QString _error;
};
