#include "Threads.h"

#include <QCanBusFrame>
#include <QCoreApplication>
#include <QMetaObject>

#include "storage/Logger.h"
#include "MessageGlobals.h"

namespace Threads {

QThread _CanFrame_Thread;
QThread _CanAcknow_Thread;
QThread _CanMessage_Thread;
QThread _DeviceController_Thread;
QThread _Logger_Thread;
QThread _Application_Thread;
QThread _Gui_Thread;
QThread _Wifi_Thread;
QThread _Bluetooth_Thread;
QThread _CloudSync_Thread;

void registerTypes()
{
    qRegisterMetaType<Storage::Logger::LogType>("LogType");
    qRegisterMetaType<Storage::Logger::LogType>("Logger::LogType");
    qRegisterMetaType<Storage::Logger::LogType>("Storage::Logger::LogType");
    qRegisterMetaType<QCanBusFrame>("QCanBusFrame");
    qRegisterMetaType<Can::Can_Id>("Can_Id");
    qRegisterMetaType<Can::Can_Id>("Can::Can_Id");
    qRegisterMetaType<Sequence>("Sequence");
    qRegisterMetaType<FrameList>("FrameList");
    qRegisterMetaType<Can::Message>("Can::Message");
}

void drain(QThread &thread)
{
    if (!thread.isRunning() || QThread::currentThread() == &thread)
        return;
    auto *marker = new QObject;
    marker->moveToThread(&thread);
    QMetaObject::invokeMethod(
        marker, [] {}, Qt::BlockingQueuedConnection);
    marker->deleteLater();
}

void quitThread(QThread &thread)
{
    // Let the thread finish what was queued to it before it stops, so no
    // line or frame posted during shutdown is silently dropped.
    drain(thread);
    thread.quit();
    thread.wait();
}

void quitThreads()
{
    quitThread(_CloudSync_Thread);
    quitThread(_CanFrame_Thread);
    quitThread(_CanAcknow_Thread);
    quitThread(_CanMessage_Thread);
    quitThread(_DeviceController_Thread);
    quitThread(_Bluetooth_Thread);
    quitThread(_Wifi_Thread);
    quitThread(_Application_Thread);
    quitThread(_Gui_Thread);
    quitThread(_Logger_Thread);
}

void initThread(QObject &service, QThread &thread, QThread *&serviceThread)
{
    Q_ASSERT_X(QThread::currentThread() == qApp->thread(), "initThread",
               "The Class initialization must be done in Main Thread");
    if (QThread::currentThread() != qApp->thread())
        qFatal("initThread: The Class initialization must be done in Main Thread");

    serviceThread = &thread;
    thread.setObjectName(QStringLiteral("%1_Thread").arg(QString::fromLatin1(service.metaObject()->className())));
    QObject::connect(qApp, SIGNAL(aboutToQuit()), &service, SLOT(quit()));
    thread.start(QThread::InheritPriority);
    service.moveToThread(&thread);
}

void returnToMainThread(QObject &service, QThread *serviceThread)
{
    if (serviceThread)
        service.moveToThread(qApp->thread());
}

} // namespace Threads
