#include <QApplication>
#include <QDebug>
#include <QFont>
#include <QThread>

#include "ApplicationController.h"
#include "CommandLine.h"
#include "storage/FileHandler.h"
#include "storage/Logger.h"
#include "MainTimer.h"
#include "SignalHandler.h"
#include "rararoz/SimulatorTrace.h"
#include "storage/StorageGlobals.h"
#include "Threads.h"
#include "startup.h"

int main(int argc, char **argv)
{
    installSignalHandlers();
    prepareEnvironment();
    installSimulatorTraceFormat();

    QCoreApplication::setApplicationName(QStringLiteral("RarAroz"));
    QCoreApplication::setOrganizationName(QStringLiteral("Brenvix Inc."));
    QApplication::setFont(QFont(QStringLiteral("Barlow")));

    auto *application = new QApplication(argc, argv);
    QThread::currentThread()->setObjectName(QStringLiteral("Main Thread"));
    SignalHandler signals_;

    setApplicationVersion();
    commandlineParse();
    Threads::registerTypes();

    startServices();
    ApplicationController::I().startPOST();

    const int exitCode = application->exec();

    stopServices();
    lockdown();
    delete application;
    return exitCode;
}
