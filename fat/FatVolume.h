// A read-only view of a FAT12 or FAT16 volume held in memory: a diskette dump, whole or cut
// short. Every field read from it is checked against the bytes there are, so a damaged or
// hostile image gives messages about the entries it concerns, never a hang or a read outside.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/FatBoot.h"

// The dump holds no FAT12 or FAT16 volume the reader can follow (the text says why).
class EFatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum : uint8_t {
    FatReadOnly = 0x01,
    FatHidden = 0x02,
    FatSystem = 0x04,
    FatVolumeId = 0x08,
    FatDirectory = 0x10,
    FatArchive = 0x20,
};

struct TFatEntry {
    // The long name when there is a valid one, else the 8.3 name, in UTF-8. Made safe as one
    // path component: a '/', '\' or control byte becomes '_', and "." or ".." gets a '_' in
    // front (the entry then carries a problem saying so).
    std::string Name;
    std::string ShortName;  // "README.TXT"; a deleted entry's lost first letter is '?'
    std::string Path;       // the names from the root down, joined with '/'
    int Depth = 0;          // 0 for the root directory's entries
    uint8_t Attributes = 0;
    uint32_t Size = 0;      // as the entry says; 0 for a directory
    uint16_t Date = 0;      // modification date and time as DOS packs them
    uint16_t Time = 0;
    uint32_t FirstCluster = 0;
    bool Deleted = false;
    // A deleted entry: how many bytes of it can still be read back from the clusters that
    // follow its first one (the usual way of undeleting), none of them taken by a live file.
    uint32_t IntactBytes = 0;
    // What is wrong with this entry, one sentence each; the entry is still listed.
    std::vector<std::string> Problems;
    // The clusters that hold it, as far as its chain could be followed: the chain ends early
    // where it leaves the volume or the dump, runs into a free or bad cluster, loops, or meets
    // the chain of an entry listed before it.
    std::vector<uint32_t> Clusters;

    bool IsDirectory() const { return (Attributes & FatDirectory) != 0; }
};

class TFatVolume {
public:
    // Reads the boot sector, the FATs and every directory. EFatError when the dump holds no
    // FAT12 or FAT16 volume, or its first FAT lies beyond the dump.
    // Dump must outlive the volume.
    explicit TFatVolume(std::span<const uint8_t> Dump, bool WithDeleted = false);

    const TBootParameters& Boot() const { return P; }
    int FatBits() const { return Bits; }           // 12 or 16
    std::string OemName() const;                   // boot sector bytes 3..10, blanks dropped
    // The root directory's label entry, else the boot sector's; "" for none or "NO NAME".
    const std::string& Label() const { return VolumeLabel; }
    bool HasSerial() const;                        // the extended parameter block is there
    uint32_t Serial() const;
    std::string SerialText() const;                // "1234-ABCD", "" without a serial
    uint32_t ClusterBytes() const { return uint32_t(P.SectorsPerCluster) * P.BytesPerSector; }
    uint64_t FreeBytes() const { return uint64_t(FreeClusters) * ClusterBytes(); }

    // Every entry, the tree in order (each directory followed by what it holds), deleted ones
    // too when asked for. Volume labels and long-name pieces are not entries.
    const std::vector<TFatEntry>& Entries() const { return List; }
    // What is wrong with the volume as a whole (FAT copies that differ, a dump cut short ...).
    const std::vector<std::string>& Problems() const { return VolumeProblems; }

    // A live file's contents: Size bytes from its cluster chain. EFatError naming the file
    // when the chain cannot give them all.
    std::vector<uint8_t> ReadFile(const TFatEntry& File) const;

private:
    uint32_t FatEntry(uint32_t Cluster) const;
    const uint8_t* ClusterData(uint32_t Cluster) const;  // nullptr when beyond the dump
    std::vector<uint8_t> ChainBytes(const std::vector<uint32_t>& Clusters) const;
    void CompareFats();
    void ReadTree(bool WithDeleted);
    std::vector<TFatEntry> ReadDirectory(std::span<const uint8_t> Bytes, const TFatEntry* Parent,
                                         bool WithDeleted);
    void FollowChain(TFatEntry& Entry, int32_t Index);
    void MeasureDeleted(TFatEntry& Entry) const;

    std::span<const uint8_t> Dump;
    TBootParameters P{};
    int Bits = 12;
    uint32_t MaxCluster = 0;  // the highest cluster number both the FAT and the volume hold
    uint32_t FreeClusters = 0;
    std::string VolumeLabel;
    std::vector<TFatEntry> List;
    std::vector<std::string> VolumeProblems;
    std::vector<int32_t> Owner;  // per cluster, the index of the entry whose chain holds it
};

// The volume label of the dump's FAT volume ("" when it has none or is no FAT volume); the
// dump may be only its first sectors.
std::string FatVolumeLabel(std::span<const uint8_t> Dump);

// "2024-03-09 14:05:30", or "-" for a date that is no date.
std::string FatTimeText(uint16_t Date, uint16_t Time);
// The same moment as local time for the file system; 1980-01-01 for a date that is no date.
std::time_t FatTimeToUnix(uint16_t Date, uint16_t Time);
// "RHSDA" with '-' for each attribute not set.
std::string FatAttributeText(uint8_t Attributes);
