#include "app/signal_quit.h"

#include "platform/hang_up.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace ondaline::app {

namespace {

int wakeFds[2] = {-1, -1};

// Only async-signal-safe work here: a byte into the pipe that the event
// loop watches.
void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakeFds[1], &byte, 1);
}

}  // namespace

void quitOnTerminationSignals()
{
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char drain[16];
        while (::read(wakeFds[0], drain, sizeof drain) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    platform::catchHangUp(onSignal);
}

}  // namespace ondaline::app
