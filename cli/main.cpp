// marrowtide-img: packs raw diskette dumps into image files and back, from a terminal or a script.
#include <exception>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Interrupts.h"
#include "cli/Options.h"

int main(int argc, char** argv)
{
    EndOnInterrupt();
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
