// Rastrel2.exe OP FILE TRACKS DRIVE SECTORS w, run with the program's WorkDir as working
// directory.
#include "helper/Transfer.h"

#include <csignal>
#include <string>

namespace {

volatile std::sig_atomic_t Interrupted = 0;

extern "C" void OnSignal(int) { Interrupted = 1; }

}  // namespace

int main(int argc, char** argv)
{
    // A caller may pass the parameter string as one argument or as six.
    std::string Parameters;
    for (int I = 1; I < argc; ++I) {
        if (I > 1)
            Parameters += ' ';
        Parameters += argv[I];
    }

    // An interrupted run still ends with error.dat and without working.dat.
    struct sigaction Action {};
    Action.sa_handler = OnSignal;
    sigemptyset(&Action.sa_mask);
    for (int Signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(Signal, &Action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    TRunOptions Options;
    Options.Interrupted = &Interrupted;
    Options.ReportOnStderr = true;
    return RunHelper(Parameters, ".", Options);
}
