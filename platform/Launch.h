// Starting programs and documents, as the desktop shell's open command does.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;

// Results below 33 are failures, with the shell's numbers.
constexpr intptr_t SE_ERR_FNF = 2;
constexpr intptr_t SE_ERR_PNF = 3;
constexpr intptr_t SE_ERR_ACCESSDENIED = 5;
constexpr intptr_t SE_ERR_OOM = 8;
constexpr intptr_t SE_ERR_NOASSOC = 31;
constexpr intptr_t ShellExecuteSuccess = 42;

struct TLaunch {
    intptr_t Result = 0;  // above 32 on success
    pid_t Pid = -1;       // the started process, when there is one
};

// Opens File, found in Directory (its name matched without regard to case) unless it carries a
// path. A program is started detached, with Directory as its working directory, the Parameters
// split at blanks (double quotes group), and its standard streams on /dev/null (hidden: it has
// no terminal). Any other file is opened with the desktop's default application; an opener
// that soon ends with a failure (no application for the file) makes the open fail.
TLaunch ShellExecute(const std::string& Verb, const std::string& File,
                     const std::string& Parameters, const std::string& Directory, int ShowCmd);

// The desktop's opener for documents (it hands a document to its default application), found
// on PATH; "" when there is none.
std::string DocumentOpener();

// Starts the program at the absolute path Program, exactly that file (no search, no case
// matching), detached and hidden as ShellExecute starts programs, in Directory.
TLaunch StartProgram(const std::string& Program, const std::string& Parameters,
                     const std::string& Directory);

// The process has not ended (an ended one that is not yet reaped counts as ended).
bool ProcessRunning(pid_t Pid);

// Parameters split at blanks; a double-quoted part may hold blanks.
std::vector<std::string> SplitParameters(const std::string& Parameters);
