#include "SignalHandler.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int gSignalFd[2] = {-1, -1};
}

void signalhandler(int signal)
{
    if (signal != SIGINT && signal != SIGTERM)
        return;
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    if (gSignalFd[0] >= 0) {
        const ssize_t written = ::write(gSignalFd[0], &byte, 1);
        (void)written;
    }
    errno = saved;
}

bool installSignalHandlers()
{
    if (gSignalFd[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalFd) != 0)
        return false;
    ::fcntl(gSignalFd[0], F_SETFL, O_NONBLOCK);
    std::signal(SIGINT, signalhandler);
    std::signal(SIGTERM, signalhandler);
    return true;
}

SignalHandler::SignalHandler(QObject *parent)
    : QObject(parent)
{
    if (gSignalFd[1] < 0)
        return;
    _notifier = new QSocketNotifier(gSignalFd[1], QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &SignalHandler::onReadable);
}

SignalHandler::~SignalHandler()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    for (int &fd : gSignalFd) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void SignalHandler::onReadable()
{
    unsigned char byte = 0;
    if (::read(gSignalFd[1], &byte, 1) != 1)
        return;
    const int signal = byte;
    if (signal == SIGINT)
        qDebug().noquote() << QCoreApplication::translate("main", "Application terminated by SIGINT");
    else if (signal == SIGTERM)
        qDebug().noquote() << QCoreApplication::translate("main", "Application terminated by SIGTERM");
    else
        return;
    emit didSignal(signal);
    QCoreApplication::quit();
}
