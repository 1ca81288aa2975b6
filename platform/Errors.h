// Errors of the platform layer. Each carries the fixed text the program shows.
#pragma once

#include <stdexcept>
#include <string>

// A system service failed (the temporary path, the registry, a launch).
class EAPIException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file operation failed with an I/O error number; the text is the one the program shows
// for that number (see InOutErrorText).
class EInOutError : public std::runtime_error {
public:
    explicit EInOutError(int Code);
    int ErrorCode;
};

// "File not found" (2), "Invalid filename" (3), "Too many open files" (4),
// "File access denied" (5), "Read beyond end of file" (100), "Disk full" (101),
// "Invalid numeric input" (106), otherwise "I/O error N".
std::string InOutErrorText(int Code);

// The I/O error number of a POSIX errno value, as the Windows file services would report it.
int InOutErrorOfErrno(int Errno);
