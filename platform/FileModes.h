// Open modes of the program-wide default for non-text files: the low two bits give the access
// (0 read, 1 write, 2 read and write); 64 also allows full sharing.
#pragma once

#include <fcntl.h>

constexpr int FileModeReadWrite = 2;
constexpr int FileModeReadShareAll = 64;

// The open() access flags of FileMode.
constexpr int OpenFlagsOfFileMode(int FileMode)
{
    switch (FileMode & 3) {
    case 0: return O_RDONLY;
    case 1: return O_WRONLY;
    default: return O_RDWR;
    }
}
