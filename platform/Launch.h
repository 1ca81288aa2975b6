// Starting programs detached, as the desktop shell does.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// Results below 33 are failures, with the shell's numbers.
constexpr intptr_t SE_ERR_FNF = 2;
constexpr intptr_t SE_ERR_PNF = 3;
constexpr intptr_t SE_ERR_ACCESSDENIED = 5;
constexpr intptr_t SE_ERR_OOM = 8;
constexpr intptr_t LaunchSuccess = 42;

struct TLaunch {
    intptr_t Result = 0;  // above 32 on success
    pid_t Pid = -1;       // the started process, when there is one
};

// The desktop's opener for documents (it hands a document to its default application), found
// on PATH; "" when there is none.
std::string DocumentOpener();

// Starts the program at the absolute path Program, exactly that file (no search, no case
// matching), detached and hidden (its standard streams on /dev/null: it has no terminal), in Directory,
// the Parameters split at blanks (double quotes group).
TLaunch StartProgram(const std::string& Program, const std::string& Parameters,
                     const std::string& Directory);

// The process has not ended (an ended one that is not yet reaped counts as ended).
bool ProcessRunning(pid_t Pid);

// Parameters split at blanks; a double-quoted part may hold blanks.
std::vector<std::string> SplitParameters(const std::string& Parameters);
