// The clips the main window plays, in the one format the build makes them
// (resources/animations): a RIFF AVI file whose first stream holds 8-bit palette frames, RLE8
// compressed and stored bottom row first, in '00dc' chunks of the 'movi' list. The whole clip is
// read and decoded at once; anything else is refused with EInvalidAvi. No Qt here.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

// A file the player cannot play. what() is always "Cannot open AVI", the text the user sees;
// Detail() says what was wrong, for logs and tests.
class EInvalidAvi : public std::runtime_error {
public:
    explicit EInvalidAvi(std::string Detail);
    const std::string& Detail() const { return FDetail; }

private:
    std::string FDetail;
};

// Limits on what a clip may ask of memory: the side of a frame, and all frames' pixels together.
constexpr int32_t MaxAviFrameSide = 2048;
constexpr int64_t MaxAviTotalPixels = 16 * 1024 * 1024;
constexpr int64_t MaxAviFileSize = 64 * 1024 * 1024;

struct TAviClip {
    int32_t Width = 0;
    int32_t Height = 0;
    // Milliseconds between frames: the main header's period, 67 when it gives none, kept
    // within 10..5000.
    int FramePeriodMs = 0;
    // Width * Height pixels each, top row first, as 0xAARRGGBB. Palette colour 0 is the
    // transparent one: its pixels have alpha 0, all others alpha 255.
    std::vector<std::vector<uint32_t>> Frames;
};

// Parses and decodes an AVI file held in memory. Throws EInvalidAvi.
TAviClip ReadAvi(std::span<const uint8_t> File);
// Reads the file at Path and decodes it. Throws EInvalidAvi, also for a missing or unreadable
// file.
TAviClip ReadAviFile(const std::string& Path);
