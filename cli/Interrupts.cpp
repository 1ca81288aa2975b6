#include "cli/Interrupts.h"

#include "compress/SafeOutput.h"

namespace {

volatile std::sig_atomic_t Catching = 0;
volatile std::sig_atomic_t InterruptFlag = 0;

extern "C" void OnInterrupt(int Signal)
{
    if (Catching && !InterruptFlag) {
        InterruptFlag = 1;
        return;
    }
    TSafeOutput::RemoveTemporariesNow();
    ::signal(Signal, SIG_DFL);
    ::raise(Signal);
}

}  // namespace

void EndOnInterrupt()
{
    struct sigaction Action {};
    Action.sa_handler = OnInterrupt;
    sigemptyset(&Action.sa_mask);
    // No SA_RESTART: a wait on the terminal or a nap ends at once and sees the flag.
    Action.sa_flags = 0;
    for (const int Signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(Signal, &Action, nullptr);
}

void CatchInterrupts()
{
    Catching = 1;
    EndOnInterrupt();
}

bool Interrupted()
{
    return InterruptFlag != 0;
}
