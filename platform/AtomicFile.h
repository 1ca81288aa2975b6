// A file written completely, then put in place of its target in one step: a reader, a crash or a
// kill sees the old file or the new one, never a part of one. Where the file system allows it,
// the new file has no name until it is complete (O_TMPFILE), so a killed process leaves nothing
// behind; elsewhere it is a hidden file ".marrowtide-XXXXXX" beside the target, removed on
// failure, or by RemoveTemporariesNow() from a signal handler.
#pragma once

#include <string>
#include <sys/types.h>

#include "platform/FileHandle.h"

class TAtomicFile {
public:
    TAtomicFile() = default;
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    // Starts the file that is to replace Target (a path to a regular file or to nothing yet),
    // with the permission bits Mode; without Replace, whatever has Target's name when the file
    // is put in place (even a link to nowhere) stays. False with errno set when it cannot be
    // made.
    bool Open(const std::string& Target, mode_t Mode, bool Replace = true);
    int Handle() const { return Fd.Get(); }
    // Puts the file in place of the target, first flushing it (and afterwards the folder) to the
    // disk when Durable. False with errno set on failure; the target is then as it was. EEXIST:
    // without Replace, another file took the name meanwhile; the finished file is kept under
    // KeptAs() then (or dropped when even that fails, KeptAs() empty).
    bool Commit(bool Durable = true);
    const std::string& KeptAs() const { return Kept; }
    // Drops the file; the target stays as it was.
    void Discard();

    // Removes the named files still being written in this process. Async-signal-safe.
    static void RemoveTemporariesNow();

private:
    bool LinkIntoPlace();
    // Gives the finished file a fresh name beside the target instead.
    void Keep();

    TFileHandle Fd;
    bool Replace = true;
    std::string Target;
    std::string Kept;
    std::string Temporary;  // the named file; empty while the file has no name
    int Slot = -1;
};

// Renames From to To unless To exists (then EEXIST). 0, or the error number.
int RenameWithoutReplacing(const std::string& From, const std::string& To);

// Replaces Target with a file holding Text, as TAtomicFile does. 0, or the error number.
int ReplaceFileWithText(const std::string& Target, const std::string& Text, mode_t Mode,
                        bool Durable);
