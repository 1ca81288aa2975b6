#include "platform/System.h"

#include <chrono>
#include <climits>
#include <cstdlib>
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
