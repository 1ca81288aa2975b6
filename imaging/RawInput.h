// Raw dumps given where an image is expected.
#pragma once

#include <cstdint>
#include <string>

enum class TInputKind { Image, RawDump, Foreign, Neither };

// What the file at Path is: an image (it starts with a codec's tag, cannot be opened, or is a
// pipe, which only an image may be), a raw dump of a diskette size (FormatIndex set), another
// program's image (ImageDisk ...), or neither.
TInputKind KindOfInput(const std::string& Path, uint8_t& FormatIndex);

// The refusal of a file that is neither, naming it.
std::string NeitherImageNorDump(const std::string& Path);
