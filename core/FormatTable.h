// The diskette formats the program knows, and the row for a format it does not know: plain
// data shared by the workflows, the helper and the console tool.
// TGeometry and FillGeometry are built on this table; the make-disk workflow and the console
// tool recognise a raw dump's format by its size (TotalBytes, or the bytes its medium holds).
// Rows 0 to 4 are the window's five formats; the rows after the unknown format's (6 on) are the
// ones only the console tool and the helper take.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// How the floppy controller meets a format in the drive made for it (the kernel floppy driver's
// terms): the data rate code (0 500 kbit/s, 2 250 kbit/s, 0x43 1 Mbit/s perpendicular), the gap
// between sectors when reading and writing, the step rate and head unload time, and the gap
// when formatting.
struct TControllerTiming {
    uint8_t Rate;
    uint8_t Gap;
    uint8_t Spec1;
    uint8_t FormatGap;
};

struct TFormatRow {
    uint8_t FormatIndex;
    std::string_view FormatName;
    // The helper's view: Tracks steps of 2 sides x SectorsPerTrack sectors of 512 bytes.
    int32_t Heads;
    int32_t Tracks;
    int32_t SectorsPerTrack;
    int32_t TotalBytes;
    std::string_view TracksText;
    std::string_view SectorsText;
    std::string_view Extension;  // of the image file, with its point
    // The diskette as its sectors lie (720KB is 80 x 2 x 9, 180KB 40 x 1 x 9).
    int32_t Cylinders;
    int32_t Sides;
    int32_t Sectors;
    TControllerTiming Timing;

    constexpr int32_t MediumSectors() const { return Cylinders * Sides * Sectors; }
    constexpr int32_t MediumBytes() const { return MediumSectors() * 512; }
};

constexpr uint8_t KnownFormatCount = 5;
constexpr uint8_t UnknownFormatIndex = 5;

// 720KB is 40 tracks of 18 sectors, and the 1.2MB and 360KB dumps are longer than their tracks
// hold: stored images and the helper's command lines depend on these values as they stand.
// A single-sided format gives the helper half as many tracks of two sides each.
inline constexpr std::array<TFormatRow, 11> FormatTable{{
    {0, "2.88MB", 2, 80, 36, 2949120, "80", "36", ".288", 80, 2, 36,
     {0x43, 0x1B, 0xAF, 0x54}},
    {1, "1.44MB", 2, 80, 18, 1474560, "80", "18", ".144", 80, 2, 18,
     {0x00, 0x1B, 0xCF, 0x6C}},
    {2, "1.2MB", 2, 80, 15, 1231872, "80", "15", ".120", 80, 2, 15,
     {0x00, 0x1B, 0xDF, 0x54}},
    {3, "720KB", 2, 40, 18, 737280, "40", "18", ".720", 80, 2, 9,
     {0x02, 0x2A, 0xDF, 0x50}},
    {4, "360KB", 2, 40, 9, 377856, "40", "09", ".360", 40, 2, 9,
     {0x02, 0x2A, 0xDF, 0x50}},
    {5, "Unknown Format", 0, 0, 0, 0, "0", "0", "", 0, 0, 0,
     {0, 0, 0, 0}},
    {6, "1.68MB", 2, 80, 21, 1720320, "80", "21", ".168", 80, 2, 21,
     {0x00, 0x1C, 0xCF, 0x0C}},
    {7, "1.72MB", 2, 82, 21, 1763328, "82", "21", ".172", 82, 2, 21,
     {0x00, 0x25, 0xDF, 0x0C}},
    {8, "320KB", 2, 40, 8, 327680, "40", "08", ".320", 40, 2, 8,
     {0x02, 0x2A, 0xDF, 0x50}},
    {9, "180KB", 2, 20, 9, 184320, "20", "09", ".180", 40, 1, 9,
     {0x02, 0x2A, 0xDF, 0x50}},
    {10, "160KB", 2, 20, 8, 163840, "20", "08", ".160", 40, 1, 8,
     {0x02, 0x2A, 0xDF, 0x50}},
}};

// A format the program can read and write: the window's five, or with AllFormats (the console
// tool and the helper) every row but the unknown format's.
constexpr bool IsKnownFormat(unsigned Index, bool AllFormats = false)
{
    return Index < KnownFormatCount ||
           (AllFormats && Index > UnknownFormatIndex && Index < FormatTable.size());
}

// The format whose raw dump is Size bytes long, or UnknownFormatIndex. A dump is either the
// length this program writes (TotalBytes) or exactly what the medium holds (368,640 bytes for a
// 360KB diskette, 1,228,800 for 1.2MB), as other tools make them.
constexpr uint8_t FormatIndexOfDumpSize(int64_t Size, bool AllFormats = false)
{
    for (uint8_t i = 0; i < FormatTable.size(); ++i)
        if (IsKnownFormat(i, AllFormats) &&
            (FormatTable[i].TotalBytes == Size || FormatTable[i].MediumBytes() == Size))
            return i;
    return UnknownFormatIndex;
}

// The table row of a format index; any other index gives the unknown format.
constexpr const TFormatRow& FormatOfIndex(unsigned Index, bool AllFormats = false)
{
    return FormatTable[IsKnownFormat(Index, AllFormats) ? Index : UnknownFormatIndex];
}

// The format whose diskette lays out TotalSectors sectors as Sides x SectorsPerTrack, or
// UnknownFormatIndex.
constexpr uint8_t FormatIndexOfLayout(int64_t TotalSectors, int32_t Sides, int32_t SectorsPerTrack,
                                      bool AllFormats = false)
{
    for (uint8_t i = 0; i < FormatTable.size(); ++i)
        if (IsKnownFormat(i, AllFormats) && FormatTable[i].MediumSectors() == TotalSectors &&
            FormatTable[i].Sides == Sides && FormatTable[i].Sectors == SectorsPerTrack)
            return i;
    return UnknownFormatIndex;
}

// The format a helper command line's tracks and sectors stand for (the write run's 80 x 9 is
// 720KB), or UnknownFormatIndex.
constexpr uint8_t FormatIndexOfHelperTracks(int32_t Tracks, int32_t SectorsPerTrack)
{
    if (Tracks == 80 && SectorsPerTrack == 9)
        return 3;
    for (uint8_t i = 0; i < FormatTable.size(); ++i)
        if (IsKnownFormat(i, true) && FormatTable[i].Tracks == Tracks &&
            FormatTable[i].SectorsPerTrack == SectorsPerTrack)
            return i;
    return UnknownFormatIndex;
}
