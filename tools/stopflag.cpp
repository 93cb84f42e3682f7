#include "stopflag.h"

#include <csignal>

namespace {
volatile std::sig_atomic_t stopFlag = 0;

extern "C" void onStopSignal(int)
{
    stopFlag = 1;
}
} // namespace

void installStopHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking wait returns early so the flag is seen soon.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool stopRequested()
{
    return stopFlag != 0;
}
