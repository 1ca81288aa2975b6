// Diskette images of other programs, through libdsk: ImageDisk (.imd) read and written, and
// what else the library reads (TeleDisk, CopyQM ...). Failures are std::runtime_error naming the
// file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The file starts as an ImageDisk, TeleDisk or CopyQM image does.
bool IsForeignImage(const std::string& Path);

// The raw dump of the diskette the image holds, sector after sector (track, side, sector); its
// geometry is the one its boot sector gives.
std::vector<uint8_t> ReadForeignImage(const std::string& Path);

// Writes Dump, a raw dump of a format of the table, as an ImageDisk file at Path.
void WriteImdImage(const std::vector<uint8_t>& Dump, const std::string& Path);
