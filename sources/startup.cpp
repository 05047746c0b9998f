#include "startup.h"

#include <QDebug>

#include "ApplicationController.h"
#include "canbus/CanInterface.h"
#include "canbus/FrameInterface.h"
#include "canbus/MessageAcknowModel.h"
#include "canbus/MessageDispatcher.h"
#include "CommandLine.h"
#include "storage/FileHandler.h"
#include "storage/Logger.h"
#include "model/settings/MSettings.h"
#include "MainTimer.h"
#include "storage/StorageGlobals.h"
#include "rararoz/StateController.h"
#include "SystemdNotifier.h"
#include "Threads.h"

void prepareEnvironment()
{
    qputenv("QT_IM_MODULE", "qtvirtualkeyboard");
    qputenv("QT_VIRTUALKEYBOARD_STYLE", "kestin");
    qputenv("QT_VIRTUALKEYBOARD_LAYOUT_PATH", ":/plugins/QtQuick/VirtualKeyboard/Layouts");
    // Every log line asks for the local time; without TZ glibc then checks
    // /etc/localtime for a change each time. Named once here, the zone is
    // read once: a zone changed while the service runs is seen at its next
    // start, which a demo board can live with.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
    // Qt's own event loop, not GLib's: each wake-up of the worker threads
    // then costs a fraction. The service uses nothing of GLib.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // The service has no window: never ask for a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

namespace {

void logTestModeBanner()
{
    const QString banner = QStringLiteral("  ~~ !!!!! APPLICATION RUNNING IN THE TEST MODE !!!!! ~~ ");
    const QString tildes(54, QLatin1Char('~'));
    qDebug().noquote() << banner;
    LOG_APPED(QStringLiteral(" \n ") + tildes + QStringLiteral("  \n ") + banner + QStringLiteral(" \n ") + tildes +
              QStringLiteral(" "));
}

} // namespace

void startServices()
{
    if (Storage::Logger::I().init(Threads::_Logger_Thread))
        Storage::Logger::I().enableConsoleOut(gConsoleoutLogs);
    Storage::Logger::I().postInit();
    Storage::MSettings::I();

    if (gFakeInterval != 0)
        logTestModeBanner();
    if (!gParserErrorText.isEmpty())
        LOG_DEBUG(QStringLiteral("Command-line arguments process failed:") + gParserErrorText);

    // Before the bus opens, so that it hears the bus's first word.
    SystemdNotifier::I().init();
    // The switches are set on the services' own threads, where they are read.
    if (Can::CanInterface::I().init(Threads::_CanFrame_Thread))
        QMetaObject::invokeMethod(&Can::CanInterface::I(),
                                  [] { Can::CanInterface::I().enableConsoleOut(gConsoleoutCanInterface); });
    Can::FrameInterface::I().init(Threads::_CanFrame_Thread);
    Can::MessageAcknowModel::I().init(Threads::_CanAcknow_Thread);
    // The dispatcher shares the CAN-frame thread: on a thread of its own every
    // tick's messages and every read woke two threads in turn, and an idle
    // board paid for both. Its CAN-message thread is never started.
    if (Can::MessageDispatcher::I().init(Threads::_CanFrame_Thread))
        QMetaObject::invokeMethod(&Can::MessageDispatcher::I(),
                                  [] { Can::MessageDispatcher::I().enableConsoleOut(gConsoleoutFrameInterface); });

    ApplicationController::I().init(Threads::_Application_Thread);
    MainTimer::I().init();
    StateController::I().init();
}

void stopServices()
{
    // At aboutToQuit the CAN service closes its device on its own thread and
    // comes back to this one; wait for that before touching it from here
    // (this call then only covers a device that never left the main thread).
    Threads::drain(Threads::_CanFrame_Thread);
    Can::CanInterface::I().quitDevice();
    Threads::quitThreads();
}

void lockdown()
{
    if (!gEnableManufacturing && !gEnableUpdating)
        return;
    // The script is named but not run here; its (empty) output is recorded.
    const QString script = Storage::Scripts_Path_Name() + QString::fromLatin1(Storage::Device_Lockdown);
    Q_UNUSED(script)
    const QString output;
    qDebug().noquote() << output;
    Storage::FileHandler::write(QStringLiteral("/home/root/lockdown.log"), output, false);
}
