#include "platform/FatBoot.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace {

// By format index; the unknown format's row (5) is empty.
constexpr std::array<TBootParameters, 11> StandardFormats{{
    {512, 2, 1, 2, 240, 5760, 0xF0, 9, 36, 2},
    {512, 1, 1, 2, 224, 2880, 0xF0, 9, 18, 2},
    {512, 1, 1, 2, 224, 2400, 0xF9, 7, 15, 2},
    {512, 2, 1, 2, 112, 1440, 0xF9, 3, 9, 2},
    {512, 2, 1, 2, 112, 720, 0xFD, 2, 9, 2},
    {512, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    // DMF: 2 KB clusters and a root of 16 entries leave room for the data.
    {512, 4, 1, 2, 16, 3360, 0xF0, 3, 21, 2},
    {512, 1, 1, 2, 224, 3444, 0xF0, 10, 21, 2},
    {512, 2, 1, 2, 112, 640, 0xFF, 1, 8, 2},
    {512, 1, 1, 2, 64, 360, 0xFC, 2, 9, 1},
    {512, 1, 1, 2, 64, 320, 0xFE, 1, 8, 1},
}};

void PutText(uint8_t* At, const char* Text, size_t Width)
{
    size_t Length = std::strlen(Text);
    for (size_t i = 0; i < Width; ++i)
        At[i] = i < Length ? static_cast<uint8_t>(Text[i]) : ' ';
}

bool PowerOfTwo(uint32_t Value) { return Value != 0 && (Value & (Value - 1)) == 0; }

}  // namespace

const TBootParameters& StandardBootParameters(unsigned FormatIndex)
{
    if (FormatIndex >= StandardFormats.size() || StandardFormats[FormatIndex].TotalSectors == 0)
        throw std::out_of_range("no diskette format " + std::to_string(FormatIndex));
    return StandardFormats[FormatIndex];
}

void WriteBootSector(uint8_t* Boot, const TBootParameters& P, uint32_t Serial, const char* Label)
{
    std::memset(Boot, 0, P.BytesPerSector);
    static const uint8_t Jump[] = {0xEB, 0x3C, 0x90};
    std::memcpy(Boot, Jump, sizeof Jump);
    PutText(Boot + 3, "MRWTIDE1", 8);
    PutLE16(Boot + 11, P.BytesPerSector);
    Boot[13] = P.SectorsPerCluster;
    PutLE16(Boot + 14, P.ReservedSectors);
    Boot[16] = P.FatCount;
    PutLE16(Boot + 17, P.RootEntries);
    PutLE16(Boot + 19, P.TotalSectors <= 0xFFFF ? P.TotalSectors : 0);
    Boot[21] = P.Media;
    PutLE16(Boot + 22, P.SectorsPerFat);
    PutLE16(Boot + 24, P.SectorsPerTrack);
    PutLE16(Boot + 26, P.Heads);
    PutLE32(Boot + 32, P.TotalSectors > 0xFFFF ? P.TotalSectors : 0);
    Boot[38] = 0x29;  // extended parameter block follows
    PutLE32(Boot + 39, Serial);
    PutText(Boot + 43, Label, 11);
    PutText(Boot + 54, "FAT12", 8);

    // Booting a data diskette prints the usual message and waits for a key, then reboots.
    static const uint8_t Loader[] = {
        0xFA, 0x33, 0xC0, 0x8E, 0xD0, 0xBC, 0x00, 0x7C, 0x8E, 0xD8, 0xFB, 0xBE, 0x5D, 0x7C,
        0xAC, 0x0A, 0xC0, 0x74, 0x06, 0xB4, 0x0E, 0xCD, 0x10, 0xEB, 0xF5,
        0x33, 0xC0, 0xCD, 0x16, 0xCD, 0x19,
    };
    static_assert(0x3E + sizeof Loader == 0x5D, "message offset in the loader");
    std::memcpy(Boot + 0x3E, Loader, sizeof Loader);
    static const char Message[] =
        "\r\nNon-system disk or disk error\r\nReplace and press any key when ready\r\n";
    std::memcpy(Boot + 0x5D, Message, sizeof Message);
    Boot[510] = 0x55;
    Boot[511] = 0xAA;
}

std::vector<uint8_t> MakeBlankDiskette(unsigned FormatIndex, uint32_t Serial)
{
    const TBootParameters& P = StandardBootParameters(FormatIndex);
    std::vector<uint8_t> Disk(static_cast<size_t>(P.MediumBytes()), 0);
    WriteBootSector(Disk.data(), P, Serial);
    for (unsigned Fat = 0; Fat < P.FatCount; ++Fat) {
        uint8_t* At = Disk.data() + (P.ReservedSectors + Fat * P.SectorsPerFat) * P.BytesPerSector;
        // Entries 0 and 1: the media byte and the end-of-chain mark.
        At[0] = P.Media;
        At[1] = 0xFF;
        At[2] = 0xFF;
    }
    return Disk;
}

bool ParseBootSector(const uint8_t* Sector, size_t Length, TBootParameters& P)
{
    if (Length < 512)
        return false;
    // Disks of the first DOS versions lack the signature but always start with a jump.
    bool Jump = Sector[0] == 0xE9 || (Sector[0] == 0xEB && Sector[2] == 0x90);
    bool Signature = Sector[510] == 0x55 && Sector[511] == 0xAA;
    if (!Jump && !Signature)
        return false;

    P.BytesPerSector = static_cast<uint16_t>(GetLE16(Sector + 11));
    P.SectorsPerCluster = Sector[13];
    P.ReservedSectors = static_cast<uint16_t>(GetLE16(Sector + 14));
    P.FatCount = Sector[16];
    P.RootEntries = static_cast<uint16_t>(GetLE16(Sector + 17));
    P.TotalSectors = GetLE16(Sector + 19);
    if (P.TotalSectors == 0)
        P.TotalSectors = GetLE32(Sector + 32);
    P.Media = Sector[21];
    P.SectorsPerFat = GetLE16(Sector + 22);
    if (P.SectorsPerFat == 0)
        P.SectorsPerFat = GetLE32(Sector + 36);  // FAT32 keeps it in its extended block
    P.SectorsPerTrack = static_cast<uint16_t>(GetLE16(Sector + 24));
    P.Heads = static_cast<uint16_t>(GetLE16(Sector + 26));

    if (P.BytesPerSector < 512 || P.BytesPerSector > 4096 || !PowerOfTwo(P.BytesPerSector))
        return false;
    if (!PowerOfTwo(P.SectorsPerCluster) || P.ReservedSectors == 0 || P.FatCount == 0)
        return false;
    if (P.Media < 0xF0 || P.SectorsPerFat == 0 || P.TotalSectors == 0)
        return false;
    uint64_t Overhead = uint64_t(P.ReservedSectors) + uint64_t(P.FatCount) * P.SectorsPerFat +
                        P.RootSectors();
    return Overhead < P.TotalSectors && P.ClusterCount() > 0;
}

int64_t FatVolumeSize(const uint8_t* Sector, size_t Length)
{
    TBootParameters P{};
    if (!ParseBootSector(Sector, Length, P))
        return -1;
    return int64_t(P.ClusterCount()) * P.SectorsPerCluster * P.BytesPerSector;
}

