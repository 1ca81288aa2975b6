// Diskette images of other programs, through libdsk: ImageDisk (.imd) read and written, and
// what else the library reads (TeleDisk, CopyQM ...). Failures are std::runtime_error naming the
// file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// "ImageDisk", "TeleDisk" or "CopyQM" when the first Count bytes of a file of FileSize bytes
// start as such an image does, else "". The two or three bytes that start the last two can
// begin a raw dump too: a file of a diskette's size is taken as a dump then.
std::string ForeignImageKind(const uint8_t* Start, size_t Count, int64_t FileSize);

// The kind of the regular file at Path, as above; "" for anything else (a pipe is not read, so
// that what it holds is still there for whoever reads it next).
std::string ForeignImageKind(const std::string& Path);
inline bool IsForeignImage(const std::string& Path) { return !ForeignImageKind(Path).empty(); }

// The raw dump of the diskette the image holds, sector after sector (track, side, sector), as
// long as its format's medium (MediumBytes). Messages name the file Name (Path when empty).
std::vector<uint8_t> ReadForeignImage(const std::string& Path, const std::string& Name = "");
// The same of an image held in memory.
std::vector<uint8_t> ReadForeignImage(const std::vector<uint8_t>& Image, const std::string& Name);

// Writes Dump, a raw dump of a format of the table, as an ImageDisk file at Path.
void WriteImdImage(const std::vector<uint8_t>& Dump, const std::string& Path);
