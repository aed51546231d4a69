#include "platform/hang_up.h"

#include <csignal>

namespace ondaline::platform {

void catchHangUp(void (*handler)(int))
{
    struct sigaction atStart {};
    if (::sigaction(SIGHUP, nullptr, &atStart) != 0 || atStart.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGHUP, &action, nullptr);
}

}  // namespace ondaline::platform
