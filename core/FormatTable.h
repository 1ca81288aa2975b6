// The five diskette formats the program knows, and the row for a format it does not know: plain
// data shared by the workflows, the helper and the console tool.
// TGeometry and FillGeometry are built on this table; the make-disk workflow and the console
// tool recognise a raw dump's format by its exact size (TotalBytes).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

struct TFormatRow {
    uint8_t FormatIndex;
    std::string_view FormatName;
    int32_t Heads;
    int32_t Tracks;
    int32_t SectorsPerTrack;
    int32_t TotalBytes;
    std::string_view TracksText;
    std::string_view SectorsText;
    std::string_view Extension;  // of the image file, with its point
};

constexpr uint8_t KnownFormatCount = 5;
constexpr uint8_t UnknownFormatIndex = 5;

// 720KB is 40 tracks of 18 sectors, and the 1.2MB and 360KB dumps are longer than their tracks
// hold: stored images and the helper's command lines depend on these values as they stand.
inline constexpr std::array<TFormatRow, 6> FormatTable{{
    {0, "2.88MB", 2, 80, 36, 2949120, "80", "36", ".288"},
    {1, "1.44MB", 2, 80, 18, 1474560, "80", "18", ".144"},
    {2, "1.2MB", 2, 80, 15, 1231872, "80", "15", ".120"},
    {3, "720KB", 2, 40, 18, 737280, "40", "18", ".720"},
    {4, "360KB", 2, 40, 9, 377856, "40", "09", ".360"},
    {5, "Unknown Format", 0, 0, 0, 0, "0", "0", ""},
}};

// The format whose raw dump is exactly Size bytes long (0 to 4), or UnknownFormatIndex.
constexpr uint8_t FormatIndexOfDumpSize(int64_t Size)
{
    for (uint8_t i = 0; i < KnownFormatCount; ++i)
        if (FormatTable[i].TotalBytes == Size)
            return i;
    return UnknownFormatIndex;
}

// The table row of a format index; any index above 4 gives the unknown format.
constexpr const TFormatRow& FormatOfIndex(unsigned Index)
{
    return FormatTable[Index < KnownFormatCount ? Index : UnknownFormatIndex];
}
