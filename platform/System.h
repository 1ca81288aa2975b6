// The running process and the operating system.
#pragma once

#include <string>

// The folder of the running executable, with its separator.
std::string ExecutableDir();

// The operating system's major version number (the kernel's, here).
int OSMajorVersion();

// Blocks the calling thread for Milliseconds.
void SleepMs(unsigned Milliseconds);
