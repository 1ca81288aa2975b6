// Library code that may crash or hang on damaged input runs in a child process of its own, so
// that the program reports a failure instead of dying with it.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

// The child ended by a signal (a crash, or SIGALRM when it ran out of time), or by an exit of
// its own before the work was done (Signal 0).
class EChildCrashed : public std::runtime_error {
public:
    EChildCrashed(const std::string& Text, int Signal) : std::runtime_error(Text), Signal(Signal) {}
    int Signal;
};

// Runs Work in a child process and gives what it returned. A std::exception Work throws comes
// back as a std::runtime_error with its text; a child that crashes, exits by itself, or runs
// longer than Seconds, as EChildCrashed (its text names the signal or the exit status). Only for work whose result is all
// that counts: the child's other effects on memory are lost.
std::vector<uint8_t> RunInChildProcess(const std::function<std::vector<uint8_t>()>& Work,
                                       unsigned Seconds);
