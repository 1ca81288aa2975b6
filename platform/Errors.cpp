#include "platform/Errors.h"

#include <cerrno>

EInOutError::EInOutError(int Code) : std::runtime_error(InOutErrorText(Code)), ErrorCode(Code) {}

std::string InOutErrorText(int Code)
{
    switch (Code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return "I/O error " + std::to_string(Code);
    }
}

int InOutErrorOfErrno(int Errno)
{
    switch (Errno) {
    case ENOENT: return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return 5;
    case ENOSPC:
    case EDQUOT: return 101;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: return 32;  // sharing violation
    default: return Errno > 0 ? 1000 + Errno : 1000;
    }
}
