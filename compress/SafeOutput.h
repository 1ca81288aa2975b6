// The output file of one file-mode operation. A regular file (or a new one) is written as a
// TAtomicFile and put into place only by Commit(), so a failed or cut-short run never leaves a
// truncated file nor destroys the one it would replace. A device or pipe is written directly
// and never deleted.
#pragma once

#include <string>

#include "platform/AtomicFile.h"
#include "platform/FileHandle.h"

class TSafeOutput {
public:
    TSafeOutput() = default;
    ~TSafeOutput();
    TSafeOutput(const TSafeOutput&) = delete;
    TSafeOutput& operator=(const TSafeOutput&) = delete;

    // False when the output cannot be created. Without Replace, whatever has the name Path when
    // Commit() comes is never replaced: Commit() fails then (errno EEXIST), keeping the output.
    bool Open(const std::string& Path, bool Replace = true);
    int Handle() const { return Direct.Valid() ? Direct.Get() : File.Handle(); }
    // Flushes, closes and moves the temporary file into place; false on failure (then discarded).
    bool Commit();
    // Where a Commit() that found the name taken (EEXIST) kept the finished file; "" when not.
    const std::string& KeptAs() const { return File.KeptAs(); }
    // Closes and removes what this object created; the target itself stays as it was.
    void Discard();

    // Removes every temporary file still open in this process. Async-signal-safe, for a
    // program's SIGINT/SIGTERM handler, so that an interrupted run leaves nothing behind.
    static void RemoveTemporariesNow();

private:
    TFileHandle Direct;  // a device or pipe written in place
    TAtomicFile File;
};
