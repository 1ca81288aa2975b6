// What an image file's header says about it, for `info` and the summaries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compress/Streams.h"

struct TImageInfo {
    std::string Codec;  // "LZH" or "LZRW1/KH"
    int32_t OriginalSize = 0;
    int64_t CompressedSize = 0;  // the whole file, header included
};

// Reads the 8-byte header through the engine's reader, which refuses a file with neither tag
// with its own text; every refusal is a std::runtime_error. With Whole, the entire image is read
// into it as well, so that even a pipe can then be decoded.
TImageInfo ReadImageInfo(const std::string& Path, std::vector<uint8_t>* Whole = nullptr);

// Runs the engine in stream mode over Input in memory, decoding (or, with Compress, packing with
// LZH) into Output. Engine errors are std::runtime_error with the engine's stream texts.
void RunEngineInMemory(std::vector<uint8_t> Input, bool Compress, TStream& Output);

// The lines `info` prints.
std::string DescribeImage(const TImageInfo& Info);

// Part over whole, as a percentage with one decimal ("27.4%"), or "-" for an empty whole.
std::string RatioText(int64_t Part, int64_t Whole);

// After unpack: a 360KB or 1.2MB dump of the length this program writes (377,856 or 1,231,872
// bytes) is cut to what the medium holds (368,640 or 1,228,800), as other tools take it, when the
// bytes past it are all zero. Only a regular file at Path is cut. Gives the dump's length now;
// Why says why bytes past the medium were kept.
int64_t CutToMediumSize(const std::string& Path, int64_t Length, std::string& Why);

// "1.44MB" for a dump size of a known format, "not a diskette size" otherwise.
std::string DiskFormatText(int64_t DumpSize);
