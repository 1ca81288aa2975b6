// An anonymous file in memory that has a path while it is open, for the code that opens files
// only by name (libdsk, the engine's file mode). Nothing is left behind, whatever ends the
// program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileHandle.h"

class TMemoryFile {
public:
    // Throws std::runtime_error when no such file can be made or filled.
    explicit TMemoryFile(const std::vector<uint8_t>& Bytes);
    TMemoryFile(const TMemoryFile&) = delete;
    TMemoryFile& operator=(const TMemoryFile&) = delete;

    // Opened by this name it reads back the bytes (the descriptor's /proc entry).
    const std::string& Path() const { return Name; }

private:
    TFileHandle Handle;
    std::string Name;
};
