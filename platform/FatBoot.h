// FAT boot sectors of diskettes: the standard parameter blocks of the known formats, blank
// virtual diskettes, and the volume size Windows reports for a FAT volume.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/ByteOrder.h"

struct TBootParameters {
    uint16_t BytesPerSector = 512;
    uint8_t SectorsPerCluster;
    uint16_t ReservedSectors = 1;
    uint8_t FatCount = 2;
    uint16_t RootEntries;
    uint32_t TotalSectors;
    uint8_t Media;
    uint32_t SectorsPerFat;
    uint16_t SectorsPerTrack;
    uint16_t Heads;

    uint32_t RootSectors() const
    {
        return (RootEntries * 32u + BytesPerSector - 1) / BytesPerSector;
    }
    uint32_t FirstRootSector() const { return ReservedSectors + FatCount * SectorsPerFat; }
    uint32_t FirstDataSector() const { return FirstRootSector() + RootSectors(); }
    uint32_t ClusterCount() const
    {
        return TotalSectors > FirstDataSector()
                   ? (TotalSectors - FirstDataSector()) / SectorsPerCluster
                   : 0;
    }
    int64_t MediumBytes() const { return int64_t(TotalSectors) * BytesPerSector; }
};

// The parameter block a diskette of a format of the format table is formatted with (any row but
// the unknown format's; std::out_of_range otherwise). Its medium holds TotalSectors sectors: the
// 1.2MB and 360KB dumps are longer.
const TBootParameters& StandardBootParameters(unsigned FormatIndex);

// A boot sector with the parameter block P, volume serial Serial and an 11-character label.
void WriteBootSector(uint8_t* Boot, const TBootParameters& P, uint32_t Serial,
                     const char* Label = "NO NAME");

// A freshly formatted diskette of a format of the table: boot sector, both FATs, empty root directory,
// zeroed data area; exactly MediumBytes() long.
std::vector<uint8_t> MakeBlankDiskette(unsigned FormatIndex, uint32_t Serial);

// Reads the parameter block of a FAT boot sector (Length bytes at Sector). False when it is
// no valid FAT boot sector.
bool ParseBootSector(const uint8_t* Sector, size_t Length, TBootParameters& P);

// Data clusters times cluster size of the volume whose boot sector is at Sector; -1 when it is
// no valid FAT boot sector.
int64_t FatVolumeSize(const uint8_t* Sector, size_t Length);

