#include "platform/System.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>

std::string ExecutableDir()
{
    char Path[PATH_MAX];
    ssize_t Length = ::readlink("/proc/self/exe", Path, sizeof Path - 1);
    if (Length <= 0)
        return "./";
    std::string Full(Path, static_cast<size_t>(Length));
    return Full.substr(0, Full.rfind('/') + 1);
}

std::vector<std::string> CommandLineParameters()
{
    // The kernel's copy: toolkits may take their own options out of argv.
    std::ifstream In("/proc/self/cmdline", std::ios::binary);
    std::string All((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    std::vector<std::string> Parts;
    size_t Start = 0;
    while (Start < All.size()) {
        size_t End = All.find('\0', Start);
        if (End == std::string::npos)
            End = All.size();
        Parts.push_back(All.substr(Start, End - Start));
        Start = End + 1;
    }
    if (!Parts.empty())
        Parts.erase(Parts.begin());
    return Parts;
}

int OSMajorVersion()
{
    utsname Name{};
    if (::uname(&Name) != 0)
        return 0;
    return std::atoi(Name.release);
}

void SleepMs(unsigned Milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}
