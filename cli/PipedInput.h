// A pipe given where an image or a dump is read: taken whole into memory first, so that what it
// holds (an image, a raw dump, another program's image) is told apart as in a file, and the
// code that opens files by name can open it again.
#pragma once

#include <memory>
#include <string>

#include "platform/MemoryFile.h"

class TPipedInput {
public:
    // Anything but a pipe stays where it is. Throws std::runtime_error naming Path when the pipe
    // cannot be read or holds more than an image can.
    explicit TPipedInput(const std::string& Path);

    // What to open: the copy in memory, or the file itself.
    const std::string& Path() const { return Copy ? Copy->Path() : Given; }
    // Text with the copy's name replaced by the one the user gave.
    std::string Named(std::string Text) const;

private:
    std::string Given;
    std::unique_ptr<TMemoryFile> Copy;
};
