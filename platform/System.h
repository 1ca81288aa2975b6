// The running process and the operating system.
#pragma once

#include <string>
#include <vector>

// The folder of the running executable, with its separator.
std::string ExecutableDir();

// The command line's parameters (without the program name), as the process was started.
std::vector<std::string> CommandLineParameters();

// The operating system's major version number (the kernel's, here).
int OSMajorVersion();

// Blocks the calling thread for Milliseconds.
void SleepMs(unsigned Milliseconds);
