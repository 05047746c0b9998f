#include "peer/SignalWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A signal handler may only write to a pipe; the notifier reads it on the
// main thread.
int gPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = char(number);
    if (gPipe[1] >= 0) {
        const ssize_t written = ::write(gPipe[1], &byte, 1);
        (void)written;
    }
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent)
{
    if (gPipe[0] < 0 && ::pipe(gPipe) == 0) {
        ::fcntl(gPipe[0], F_SETFL, O_NONBLOCK);
        ::fcntl(gPipe[1], F_SETFL, O_NONBLOCK);
    }
    if (gPipe[0] < 0)
        return;
    _notifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &SignalWatcher::onReadable);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

SignalWatcher::~SignalWatcher()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

void SignalWatcher::onReadable()
{
    char byte = 0;
    while (::read(gPipe[0], &byte, 1) == 1)
        _signal = int(byte);
    emit interrupted(_signal);
}
