// Files as the program expects them of Windows: names matched without regard to case, copies
// that replace, and text-file reads whose failures carry the I/O error numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Path itself when it exists; else the entry of its folder whose name equals the last
// component without regard to case; else Path unchanged.
std::string ResolveNoCase(const std::string& Path);

// A file (not a folder) exists at Path.
bool FileExists(const std::string& Path);

// A file exists under exactly this name: for the user's own files, whose names differ by case
// on this system.
bool FileExistsExactly(const std::string& Path);

// Writes all Length bytes to Fd, going on after interrupted and partial writes. False on
// failure, with errno saying why.
bool WriteAll(int Fd, const void* Data, size_t Length);

// Reads Fd to its end, handing each piece to Take and going on after interrupted reads; stops
// once more than Limit bytes have come (the caller refuses that). The byte count, or -1 on a
// read error with errno saying why.
int64_t ReadAll(int Fd, int64_t Limit, const std::function<void(const char*, size_t)>& Take);

// Deletes the file; false when there was none or it could not be deleted.
bool DeleteFile(const std::string& Path);

// Bytes in the file, or -1 when it cannot be examined.
int64_t FileSize(const std::string& Path);

// Copies Source to Target. With FailIfExists false an existing Target is replaced; the copy is
// made beside it and renamed into place, so a running program's file is replaced safely. The
// executable bits of Source are kept. False on any failure; Target is then as it was.
bool CopyFile(const std::string& Source, const std::string& Target, bool FailIfExists);

// Creates an empty text file, emptying an existing one. Throws EInOutError.
void RewriteTextFile(const std::string& Path);

// The first line of a text file, without its line end ("" for an empty file). Other processes
// may read the file meanwhile but not write it: a writer holding it gives the sharing
// violation, I/O error 32. Throws EInOutError.
std::string ReadFirstLine(const std::string& Path);
