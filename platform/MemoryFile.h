// An anonymous file in memory that has a path while it is open, for the code that opens files
// only by name (libdsk, the engine's file mode). Nothing is left behind, whatever ends the
// program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileHandle.h"

class TMemoryFile {
public:
    // Both throw std::runtime_error when no such file can be made or filled.
    TMemoryFile();
    explicit TMemoryFile(const std::vector<uint8_t>& Bytes);
    TMemoryFile(const TMemoryFile&) = delete;
    TMemoryFile& operator=(const TMemoryFile&) = delete;

    // Adds Count bytes at the end.
    void Append(const void* Bytes, size_t Count);
    // Everything in the file, whoever wrote it (a child process shares it).
    std::vector<uint8_t> Contents() const;

    // Opened by this name it reads back the bytes (the descriptor's /proc entry).
    const std::string& Path() const { return Name; }

private:
    TFileHandle Handle;
    std::string Name;
};
