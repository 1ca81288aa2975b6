// The console tool's commands. Each returns the exit status: 0 done, 1 failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"

// The file name a batch job gives its output: the input's stem, plus the extension of its
// diskette format when the dump has the size of one, else ".mwi".
std::string PackedName(const std::string& Input, int64_t InputSize);
// The size of the dump pack makes an image of: the file's, or the dump another program's image
// (ImageDisk ...) holds.
int64_t DumpSizeOf(const std::string& Input);
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

// Refuses (EUsage) to write What ("compressed data" ...) to standard output (Path
// "/dev/stdout") when that is a terminal, unless Force.
void RefuseTerminal(const std::string& Path, bool Force,
                    const std::string& What = "compressed data");

// True when Path is the file or pipe our standard output goes to.
bool IsStandardOutput(const std::string& Path);

// Refuses (std::runtime_error) what RefuseNonFile refuses, and an output that exists already
// unless Force or it is our standard output. True when the output may be replaced: the final
// placement then replaces whatever another program put there meanwhile; else it never does.
bool CheckOutput(const std::string& Path, bool Force);

// Writes Size bytes at Data to Path: a pipe gets them as they come; a file is replaced whole, or
// left as it was. Without Replace, a file another program put there meanwhile stays, and the
// message says where What (the catalogue, the dump ...) was kept. Failures are
// std::runtime_error naming Path.
void WriteOutput(const std::string& Path, const void* Data, size_t Size, bool Replace,
                 const std::string& What);

// Out gets the summaries and the results, Err the failures.
int RunCommand(const TOptions& Options, std::ostream& Out, std::ostream& Err);
