// Open modes of the program-wide default for non-text files: the low two bits give the access
// (0 read, 1 write, 2 read and write); 64 also allows full sharing.
#pragma once

constexpr int FileModeReadWrite = 2;
constexpr int FileModeReadShareAll = 64;
