#pragma once

#include <QThread>

class QObject;

// The worker threads of the process and the thread half of the service life
// cycle, written once here instead of once per service.
namespace Threads {

extern QThread _CanFrame_Thread;
extern QThread _CanAcknow_Thread;
extern QThread _CanMessage_Thread;
extern QThread _DeviceController_Thread;
extern QThread _Logger_Thread;
extern QThread _Application_Thread;
extern QThread _Gui_Thread;
extern QThread _Wifi_Thread;
extern QThread _Bluetooth_Thread;
extern QThread _CloudSync_Thread;

void registerTypes();
// Returns once the thread has handled everything queued to it so far.
void drain(QThread &thread);
void quitThread(QThread &thread);
void quitThreads();

// Body of every service's initThread: asserts the main thread, names and starts
// the thread, ties aboutToQuit to the service's quit() and moves the service.
void initThread(QObject &service, QThread &thread, QThread *&serviceThread);

// Body of every service's quitThread: hands the service back to the main thread.
void returnToMainThread(QObject &service, QThread *serviceThread);

} // namespace Threads
