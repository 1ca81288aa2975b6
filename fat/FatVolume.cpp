#include "fat/FatVolume.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "fat/FatNames.h"
#include "core/ByteOrder.h"

namespace {

constexpr uint32_t Unreadable = 0xFFFFFFFF;  // a FAT entry beyond the end of the dump
constexpr size_t EntryBytes = 32;
constexpr size_t MaxLongPieces = 20;  // 255 characters, 13 to a piece

std::string Number(uint64_t Value) { return std::to_string(Value); }

bool IsLongPiece(const uint8_t* Record) { return (Record[11] & 0x3F) == 0x0F; }

// The long name the pieces before a short entry spell, or "" when they are not its own: live
// pieces must count down to 1 from the one marked last and carry the short name's checksum; a
// deleted entry's pieces have lost their numbers, so they need only agree among themselves.
std::string LongName(const std::vector<const uint8_t*>& Pieces, const uint8_t* Short, bool Deleted)
{
    const size_t Count = Pieces.size();
    if (Count == 0 || Count > MaxLongPieces)
        return "";
    const uint8_t Sum = Deleted ? Pieces[0][13] : ShortNameChecksum(Short);
    for (size_t k = 0; k < Count; ++k) {
        const uint8_t* Piece = Pieces[k];
        if (Piece[13] != Sum)
            return "";
        if (Deleted ? Piece[0] != 0xE5
                    : size_t(Piece[0] & 0x1F) != Count - k || (k == 0) != ((Piece[0] & 0x40) != 0))
            return "";
    }
    static constexpr int Offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::vector<uint16_t> Units;
    for (size_t k = Count; k-- > 0;)
        for (const int At : Offsets) {
            const uint16_t Unit = static_cast<uint16_t>(GetLE16(Pieces[k] + At));
            if (Unit == 0)
                return Utf16ToUtf8(Units);
            Units.push_back(Unit);
        }
    return Utf16ToUtf8(Units);
}

void Report(TFatEntry& Entry, std::string Problem) { Entry.Problems.push_back(std::move(Problem)); }

}  // namespace

TFatVolume::TFatVolume(std::span<const uint8_t> Dump, bool WithDeleted) : Dump(Dump)
{
    if (!ParseBootSector(Dump.data(), Dump.size(), P))
        throw EFatError("no FAT boot sector");
    const uint32_t Clusters = P.ClusterCount();
    if (Clusters >= 65525)
        throw EFatError("a FAT32 volume, which diskettes do not have");
    Bits = Clusters < 4085 ? 12 : 16;
    const uint64_t FatEntries = uint64_t(P.SectorsPerFat) * P.BytesPerSector * 8 / Bits;
    if (FatEntries < 3)
        throw EFatError("a FAT too small to hold any cluster");
    MaxCluster = static_cast<uint32_t>(std::min<uint64_t>(Clusters + 1, FatEntries - 1));
    if (uint64_t(P.ReservedSectors) * P.BytesPerSector >= Dump.size())
        throw EFatError("the FAT lies beyond the end of the dump");
    if (Dump.size() < uint64_t(P.MediumBytes()))
        VolumeProblems.push_back("the dump holds " + Number(Dump.size()) + " bytes of the " +
                                 Number(P.MediumBytes()) + " the volume has");
    CompareFats();
    for (uint32_t Cluster = 2; Cluster <= MaxCluster; ++Cluster)
        FreeClusters += FatEntry(Cluster) == 0;
    // The boot sector's label exists with the extended signature 0x29 only (0x28 has a serial).
    if (Dump[38] == 0x29) {
        VolumeLabel = Cp437ToUtf8(std::string_view(reinterpret_cast<const char*>(&Dump[43]), 11));
        VolumeLabel.erase(VolumeLabel.find_last_not_of(' ') + 1);
    }
    ReadTree(WithDeleted);
    if (VolumeLabel == "NO NAME")
        VolumeLabel.clear();
    MakeSafeName(VolumeLabel);
    if (VolumeLabel == "_")
        VolumeLabel.clear();
}

std::string TFatVolume::OemName() const
{
    std::string Name = Cp437ToUtf8(std::string_view(reinterpret_cast<const char*>(&Dump[3]), 8));
    Name.erase(Name.find_last_not_of(' ') + 1);
    MakeSafeName(Name);
    return Name == "_" ? "" : Name;
}

bool TFatVolume::HasSerial() const { return Dump[38] == 0x29 || Dump[38] == 0x28; }

uint32_t TFatVolume::Serial() const { return HasSerial() ? GetLE32(&Dump[39]) : 0; }

std::string TFatVolume::SerialText() const
{
    if (!HasSerial())
        return "";
    char Text[10];
    std::snprintf(Text, sizeof Text, "%04X-%04X", Serial() >> 16, Serial() & 0xFFFF);
    return Text;
}

uint32_t TFatVolume::FatEntry(uint32_t Cluster) const
{
    const size_t At = size_t(P.ReservedSectors) * P.BytesPerSector +
                      (Bits == 12 ? size_t(Cluster) * 3 / 2 : size_t(Cluster) * 2);
    if (At + 2 > Dump.size())
        return Unreadable;
    const uint32_t Word = GetLE16(&Dump[At]);
    if (Bits == 16)
        return Word;
    return Cluster & 1 ? Word >> 4 : Word & 0xFFF;
}

const uint8_t* TFatVolume::ClusterData(uint32_t Cluster) const
{
    const uint64_t At = (uint64_t(P.FirstDataSector()) + uint64_t(Cluster - 2) * P.SectorsPerCluster) *
                        P.BytesPerSector;
    return At + ClusterBytes() <= Dump.size() ? &Dump[At] : nullptr;
}

std::vector<uint8_t> TFatVolume::ChainBytes(const std::vector<uint32_t>& Clusters) const
{
    std::vector<uint8_t> Bytes;
    Bytes.reserve(Clusters.size() * ClusterBytes());
    for (const uint32_t Cluster : Clusters) {
        const uint8_t* Data = ClusterData(Cluster);  // FollowChain kept only clusters there are
        Bytes.insert(Bytes.end(), Data, Data + ClusterBytes());
    }
    return Bytes;
}

void TFatVolume::CompareFats()
{
    const size_t FatBytes = size_t(P.SectorsPerFat) * P.BytesPerSector;
    const size_t First = size_t(P.ReservedSectors) * P.BytesPerSector;
    for (unsigned Copy = 1; Copy < P.FatCount; ++Copy) {
        const size_t At = First + Copy * FatBytes;
        if (At + FatBytes > Dump.size())
            break;  // the short dump is reported already
        if (!std::equal(&Dump[First], &Dump[First] + FatBytes, &Dump[At])) {
            VolumeProblems.push_back("FAT copy " + Number(Copy + 1) +
                                     " differs from the first, which is the one read");
        }
    }
}

void TFatVolume::FollowChain(TFatEntry& Entry, int32_t Index)
{
    const uint32_t Bad = Bits == 12 ? 0xFF7 : 0xFFF7;
    uint32_t Cluster = Entry.FirstCluster;
    uint32_t Previous = 0;
    while (true) {
        const std::string After = Previous ? " after cluster " + Number(Previous) : "";
        if (Cluster < 2 || Cluster > MaxCluster) {
            Report(Entry, "its cluster chain leaves the volume" + After + " (cluster " +
                              Number(Cluster) + ")");
            return;
        }
        if (Owner[Cluster] == Index) {
            Report(Entry, "its cluster chain loops back to cluster " + Number(Cluster));
            return;
        }
        if (Owner[Cluster] >= 0) {
            TFatEntry& Other = List[Owner[Cluster]];
            Report(Entry, "its clusters cross those of " + Other.Path + " at cluster " +
                              Number(Cluster));
            Report(Other, "its clusters cross those of " + Entry.Path + " at cluster " +
                              Number(Cluster));
            return;
        }
        if (!ClusterData(Cluster)) {
            Report(Entry, "its cluster " + Number(Cluster) + " lies beyond the end of the dump");
            return;
        }
        Owner[Cluster] = Index;
        Entry.Clusters.push_back(Cluster);
        const uint32_t Next = FatEntry(Cluster);
        if (Next == Unreadable) {
            Report(Entry, "the FAT entry of its cluster " + Number(Cluster) +
                              " lies beyond the end of the dump");
            return;
        }
        if (Next > Bad)
            return;  // the end of the chain
        if (Next == Bad || Next == 0) {
            Report(Entry, std::string("its cluster chain runs into a ") +
                              (Next == 0 ? "free" : "bad") + " cluster after cluster " +
                              Number(Cluster));
            return;
        }
        Previous = Cluster;
        Cluster = Next;
    }
}

std::vector<TFatEntry> TFatVolume::ReadDirectory(std::span<const uint8_t> Bytes,
                                                 const TFatEntry* Parent, bool WithDeleted)
{
    std::vector<TFatEntry> Entries;
    std::set<std::string> Names;
    std::vector<const uint8_t*> Pieces;
    for (size_t At = 0; At + EntryBytes <= Bytes.size(); At += EntryBytes) {
        const uint8_t* Record = &Bytes[At];
        if (Record[0] == 0)
            break;  // the end of the directory
        if (IsLongPiece(Record)) {
            Pieces.push_back(Record);
            continue;
        }
        const std::vector<const uint8_t*> Before = std::move(Pieces);
        Pieces.clear();
        const bool Deleted = Record[0] == 0xE5;
        if (Deleted && !WithDeleted)
            continue;
        const uint8_t Attributes = Record[11];
        if ((Attributes & FatVolumeId) && !(Attributes & FatDirectory)) {
            if (!Parent && !Deleted) {
                // The root's label entry stands before the boot sector's copy.
                std::string Label = Cp437ToUtf8(std::string_view(reinterpret_cast<const char*>(Record), 11));
                VolumeLabel = Label.erase(Label.find_last_not_of(' ') + 1);
            }
            continue;
        }
        // A subdirectory starts with entries for itself and its parent.
        if (Parent && Record[0] == '.' &&
            (std::equal(Record, Record + 11, ".          ") ||
             std::equal(Record, Record + 11, "..         ")))
            continue;

        TFatEntry Entry;
        Entry.Deleted = Deleted;
        Entry.Attributes = Attributes;
        Entry.Time = static_cast<uint16_t>(GetLE16(Record + 22));
        Entry.Date = static_cast<uint16_t>(GetLE16(Record + 24));
        Entry.FirstCluster = GetLE16(Record + 26);
        Entry.Size = Entry.IsDirectory() ? 0 : GetLE32(Record + 28);
        Entry.Depth = Parent ? Parent->Depth + 1 : 0;
        Entry.ShortName = ShortNameText(Record, Deleted);
        const std::string ShortProblem = MakeSafeName(Entry.ShortName);
        Entry.Name = LongName(Before, Record, Deleted);
        const std::string Problem = Entry.Name.empty() ? ShortProblem : MakeSafeName(Entry.Name);
        if (Entry.Name.empty())
            Entry.Name = Entry.ShortName;
        if (!Problem.empty())
            Report(Entry, Problem);
        if (!Deleted && !Names.insert(Entry.Name).second) {
            const std::string Stored = Entry.Name;
            for (int Copy = 2; !Names.insert(Entry.Name).second; ++Copy)
                Entry.Name = Stored + " (" + Number(Copy) + ")";
            Report(Entry, "has the same name as another entry of its folder, shown as " + Entry.Name);
        }
        Entry.Path = Parent ? Parent->Path + "/" + Entry.Name : Entry.Name;
        Entries.push_back(std::move(Entry));
    }
    return Entries;
}

void TFatVolume::ReadTree(bool WithDeleted)
{
    Owner.assign(size_t(MaxCluster) + 1, -1);
    const size_t RootStart = size_t(P.FirstRootSector()) * P.BytesPerSector;
    const size_t RootEnd = RootStart + size_t(P.RootEntries) * EntryBytes;
    if (RootEnd > Dump.size())
        VolumeProblems.push_back("the root folder lies beyond the end of the dump");
    std::span<const uint8_t> Root;
    if (RootStart < Dump.size())
        Root = Dump.subspan(RootStart, std::min(RootEnd, Dump.size()) - RootStart);

    // Depth first, each directory's entries listed right after it; a stack, not recursion, as
    // a hostile image may nest folders thousands deep.
    std::vector<TFatEntry> Pending = ReadDirectory(Root, nullptr, WithDeleted);
    std::reverse(Pending.begin(), Pending.end());
    while (!Pending.empty()) {
        const int32_t Index = static_cast<int32_t>(List.size());
        List.push_back(std::move(Pending.back()));
        Pending.pop_back();
        TFatEntry& Entry = List.back();
        if (Entry.Deleted)
            continue;  // measured once every live chain is known
        if (Entry.IsDirectory() && Entry.FirstCluster == 0) {
            Report(Entry, "is the root folder again (a loop); not read twice");
            continue;
        }
        if (Entry.IsDirectory() && Entry.FirstCluster <= MaxCluster &&
            Owner[Entry.FirstCluster] >= 0 && List[Owner[Entry.FirstCluster]].IsDirectory()) {
            Report(Entry, "is the folder " + List[Owner[Entry.FirstCluster]].Path +
                              " again (a loop); not read twice");
            continue;
        }
        if (Entry.FirstCluster != 0)
            FollowChain(Entry, Index);
        const uint64_t Holds = uint64_t(Entry.Clusters.size()) * ClusterBytes();
        if (Entry.Size > Holds)
            Report(Entry, "is " + Number(Entry.Size) + " bytes long, but its clusters hold only " +
                              Number(Holds));
        if (!Entry.IsDirectory())
            continue;
        const std::vector<uint8_t> Bytes = ChainBytes(Entry.Clusters);
        std::vector<TFatEntry> Children = ReadDirectory(Bytes, &Entry, WithDeleted);
        Pending.insert(Pending.end(), std::make_move_iterator(Children.rbegin()),
                       std::make_move_iterator(Children.rend()));
    }
    for (TFatEntry& Entry : List)
        if (Entry.Deleted)
            MeasureDeleted(Entry);
}

void TFatVolume::MeasureDeleted(TFatEntry& Entry) const
{
    const uint64_t Wanted = Entry.IsDirectory() ? ClusterBytes() : Entry.Size;
    uint64_t Intact = 0;
    for (uint32_t Cluster = Entry.FirstCluster; Intact < Wanted; ++Cluster) {
        if (Cluster < 2 || Cluster > MaxCluster || FatEntry(Cluster) != 0 || !ClusterData(Cluster))
            break;
        Intact += ClusterBytes();
    }
    Entry.IntactBytes = static_cast<uint32_t>(std::min(Intact, Wanted));
}

std::vector<uint8_t> TFatVolume::ReadFile(const TFatEntry& File) const
{
    if (File.Deleted || File.IsDirectory())
        throw EFatError(File.Path + ": not a live file");
    if (uint64_t(File.Clusters.size()) * ClusterBytes() < File.Size) {
        std::string Why;
        for (const std::string& Problem : File.Problems)
            Why += (Why.empty() ? "" : "; ") + Problem;
        throw EFatError(File.Path + ": " + Why);
    }
    std::vector<uint8_t> Bytes = ChainBytes(File.Clusters);
    Bytes.resize(File.Size);
    return Bytes;
}

std::string FatVolumeLabel(std::span<const uint8_t> Dump)
{
    try {
        return TFatVolume(Dump).Label();
    } catch (const EFatError&) {
        return "";
    }
}

std::string FatTimeText(uint16_t Date, uint16_t Time)
{
    const unsigned Month = Date >> 5 & 15, Day = Date & 31;
    if (Month < 1 || Month > 12 || Day < 1)
        return "-";
    char Text[24];
    std::snprintf(Text, sizeof Text, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (Date >> 9), Month,
                  Day, unsigned(Time >> 11), unsigned(Time >> 5 & 63), unsigned(Time & 31) * 2);
    return Text;
}

std::time_t FatTimeToUnix(uint16_t Date, uint16_t Time)
{
    std::tm When{};
    When.tm_year = 80;
    When.tm_mday = 1;
    const int Month = Date >> 5 & 15, Day = Date & 31;
    if (Month >= 1 && Month <= 12 && Day >= 1) {
        When.tm_year = 80 + (Date >> 9);
        When.tm_mon = Month - 1;
        When.tm_mday = Day;
        When.tm_hour = std::min(Time >> 11, 23);
        When.tm_min = std::min(Time >> 5 & 63, 59);
        When.tm_sec = std::min((Time & 31) * 2, 59);
    }
    When.tm_isdst = -1;
    return std::mktime(&When);
}

std::string FatAttributeText(uint8_t Attributes)
{
    std::string Text = "-----";
    const char Letters[] = "RHSDA";
    const uint8_t Bits[] = {FatReadOnly, FatHidden, FatSystem, FatDirectory, FatArchive};
    for (int i = 0; i < 5; ++i)
        if (Attributes & Bits[i])
            Text[i] = Letters[i];
    return Text;
}
