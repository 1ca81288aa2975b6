// marrowtide-img: packs raw diskette dumps into image files and back, from a terminal or a script.
#include <csignal>
#include <exception>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Options.h"
#include "compress/SafeOutput.h"

namespace {

// An interrupted run removes its unfinished outputs, then ends as the signal would have ended it.
void OnInterrupt(int Signal)
{
    TSafeOutput::RemoveTemporariesNow();
    std::signal(Signal, SIG_DFL);
    std::raise(Signal);
}

} // namespace

int main(int argc, char** argv)
{
    for (const int Signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(Signal, OnInterrupt);
    TOptions Options;
    try {
        Options = ParseArgs(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsage& E) {
        if (*E.what())
            std::cerr << "marrowtide-img: " << E.what() << "\n"
                      << "Try 'marrowtide-img --help' for the usage.\n";
        else
            std::cerr << UsageText;
        return 2;
    }
    try {
        return RunCommand(Options, std::cout, std::cerr);
    } catch (const EUsage& E) {
        std::cerr << "marrowtide-img: " << E.what() << "\n";
        return 2;
    } catch (const std::exception& E) {
        std::cerr << "marrowtide-img: " << E.what() << "\n";
        return 1;
    }
}
