// The files through which the program follows a run: Status.dat and check.dat for progress,
// error.dat for a failure, working.dat for a run in progress.
#pragma once

#include <string>

#include "platform/FileHandle.h"

class TExchangeFiles {
public:
    explicit TExchangeFiles(std::string WorkDir);

    // WorkDir joined with Name (an absolute Name stands as it is).
    std::string PathOf(const std::string& Name) const;

    // Removes an error.dat left by an earlier run, which would make this run count as failed.
    // Throws ETransferError when it cannot be removed.
    void RemoveStaleError() const;

    // Replaces Status.dat with "Value\r\n" (complete before it appears under that name), then
    // creates check.dat. Throws ETransferError.
    void ReportProgress(int Value) const;

    // Creates error.dat holding Line as its only line, complete and closed; false on failure.
    bool WriteError(const std::string& Line) const;

    // Removes working.dat (absent counts as removed); false on failure.
    bool RemoveWorking() const;

    // Opens Name with Flags, never through a symbolic link and only when it is a regular file
    // (a FIFO or device planted there is refused without blocking). What names the file in
    // the error, Failing says what could not be done ("created", "opened"). Throws
    // ETransferError.
    TFileHandle OpenRegular(const std::string& Name, int Flags, const std::string& What,
                            const std::string& Failing) const;

private:
    // Writes Text to a temporary file beside Name and renames it into place; errno on failure.
    int ReplaceFile(const std::string& Name, const std::string& Text) const;

    std::string WorkDir;
};
