// An image's dump as an LHA archive. The LZH stream of an image is the bit stream of the
// archive's -lh1- method, so the image's data goes into the archive as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The archive's CRC-16 (polynomial 0xA001, reflected), continued from Crc.
uint16_t LhaCrc16(const uint8_t* Bytes, size_t Count, uint16_t Crc = 0);

struct TLhaMember {
    std::string Name;
    uint32_t CompressedSize = 0;
    uint32_t OriginalSize = 0;
    uint32_t Time = 0;  // Unix time
    uint16_t Crc = 0;   // of the original data
};

// The level-2 header of a -lh1- member, with its header CRC filled in.
std::vector<uint8_t> LhaHeader(const TLhaMember& Member);

struct TExportResult {
    std::string MemberName;
    int64_t DumpSize = 0;
    int64_t ArchiveSize = 0;
};

// Writes the dump of Image, opened at Path, into Archive as its one member, "<Image's
// stem>.img". An LZH image's data goes in as it is; the dump of an LZRW1/KH image, a raw dump
// or another program's image is packed with LZH first. Failures are std::runtime_error
// (ELzrw1Exception from the engine); a failed run leaves no archive behind. Without Replace an
// existing Archive stays.
TExportResult ExportImage(const std::string& Path, const std::string& Image,
                          const std::string& Archive, bool Replace);
