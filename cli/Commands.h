// The console tool's commands. Each returns the exit status: 0 done, 1 failed.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"

// The file name a batch job gives its output: the input's stem, plus the extension of its
// diskette format when the dump has the size of one, else ".mwi".
std::string PackedName(const std::string& Input, int64_t InputSize);
// The input's stem plus ".img".
std::string UnpackedName(const std::string& Input);

struct TTask {
    std::string Input;
    std::string Output;
};

// The input and output of each job of a pack or unpack. Refuses (EUsage) an output that is
// its input or the output of another job.
std::vector<TTask> PlanTasks(const TOptions& Options);

// Refuses (std::runtime_error) a directory, or anything else that is neither a regular file nor
// a pipe; a missing path passes.
void RefuseNonFile(const std::string& Path);

// True when A and B are one file, or would be once made.
bool SameFile(const std::string& A, const std::string& B);

// True when Path is the file or pipe our standard output goes to.
bool IsStandardOutput(const std::string& Path);

// Refuses (std::runtime_error) what RefuseNonFile refuses, and an output that exists already
// unless Force or it is our standard output. True when the output may be replaced: the final
// placement then replaces whatever another program put there meanwhile; else it never does.
bool CheckOutput(const std::string& Path, bool Force);

// Out gets the summaries and the results, Err the failures.
int RunCommand(const TOptions& Options, std::ostream& Out, std::ostream& Err);
