// The files on an image's diskette: ls, extract and mount, and the dump they are read from.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "fat/FatVolume.h"

struct TLoadedDump {
    std::vector<uint8_t> Bytes;
    std::string Kind;  // "LZH image", "LZRW1/KH image", "raw dump", "ImageDisk image" ...
    std::string Codec;  // "LZH", "LZRW1/KH", or "" for a raw dump or another program's image
    int64_t FileSize = 0;  // the bytes the file held
};

// An image file's dump, decoded in memory; another program's image (ImageDisk ...) is read
// through libdsk, and any other file without an image header is taken as a raw dump. Failures
// are std::runtime_error naming Path.
TLoadedDump LoadDump(const std::string& Path);

// Each problem of the volume and of the entries on Err, named by image and path. True when any.
bool ReportProblems(const TFatVolume& Volume, const std::string& Image, std::ostream& Err);

// True when Entry is selected by Pattern: DOS-style ("*.TXT", "*.*") or shell-style
// ("[a-c]*.doc"), matched without regard to case against the long or the 8.3 name, or against
// the path from the root when the pattern holds a '/'.
bool MatchesPattern(const std::string& Pattern, const TFatEntry& Entry);

int RunLs(const TOptions& Options, std::ostream& Out, std::ostream& Err);
int RunExtract(const TOptions& Options, std::ostream& Out, std::ostream& Err);
// Serves the image's files read-only at the folder Options.Output until it is unmounted or
// the program is interrupted.
int RunMount(const TOptions& Options, std::ostream& Out, std::ostream& Err);
