#include "tests/support/SampleDisk.h"

#include "platform/FatBoot.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t SectorBytes = 512;
constexpr uint32_t DirEntryBytes = 32;
// FAT12 cannot address more clusters than this.
constexpr uint32_t MaxFat12Clusters = 4084;
// Boot sector, two one-sector FATs, one root directory sector and four data sectors.
constexpr size_t MinFileSystemBytes = 8 * SectorBytes;

// The dump sizes of the five diskette formats 0..4, whose parameter blocks are the standard
// ones. The 1.2MB and 360KB dumps are longer than their tracks; the rest of those dumps stays
// zero.
constexpr std::array<size_t, 5> FormatDumpBytes{2949120, 1474560, 1231872, 737280, 377856};

uint16_t FatSectorsFor(const TBootParameters& P)
{
    // Growing the FAT shrinks the data area; iterate to the smallest FAT that covers it.
    uint16_t Sectors = 1;
    for (;;) {
        TBootParameters Trial = P;
        Trial.SectorsPerFat = Sectors;
        uint32_t Clusters = Trial.ClusterCount();
        uint32_t FatBytes = ((Clusters + 2) * 3 + 1) / 2;
        uint16_t Needed = static_cast<uint16_t>((FatBytes + SectorBytes - 1) / SectorBytes);
        if (Needed <= Sectors)
            return Sectors;
        Sectors = Needed;
    }
}

TBootParameters ParametersFor(size_t Size)
{
    for (unsigned Format = 0; Format < FormatDumpBytes.size(); ++Format)
        if (FormatDumpBytes[Format] == Size)
            return StandardBootParameters(Format);

    TBootParameters P{};
    uint64_t Sectors = Size / SectorBytes;
    P.Media = 0xF0;
    P.SectorsPerTrack = 18;
    P.Heads = 2;
    P.RootEntries = Sectors >= 2880 ? 224 : Sectors >= 720 ? 112 : Sectors >= 64 ? 64 : 16;
    // Larger clusters until FAT12 can address the whole disk; beyond the reach of the largest
    // clusters the file system simply ends early.
    P.SectorsPerCluster = 1;
    while (P.SectorsPerCluster < 128 && Sectors / P.SectorsPerCluster > MaxFat12Clusters)
        P.SectorsPerCluster *= 2;
    uint64_t Reach = uint64_t(MaxFat12Clusters) * P.SectorsPerCluster + 64;
    P.TotalSectors = static_cast<uint32_t>(std::min(Sectors, Reach));
    P.SectorsPerFat = FatSectorsFor(P);
    while (P.ClusterCount() > MaxFat12Clusters) {
        --P.TotalSectors;
        P.SectorsPerFat = FatSectorsFor(P);
    }
    return P;
}

void SetFatEntry(uint8_t* Fat, uint32_t Cluster, uint32_t Value)
{
    uint8_t* At = Fat + Cluster * 3 / 2;
    if (Cluster % 2 == 0) {
        At[0] = static_cast<uint8_t>(Value);
        At[1] = static_cast<uint8_t>((At[1] & 0xF0) | ((Value >> 8) & 0x0F));
    } else {
        At[0] = static_cast<uint8_t>((At[0] & 0x0F) | ((Value & 0x0F) << 4));
        At[1] = static_cast<uint8_t>(Value >> 4);
    }
}

// ---- file contents ----------------------------------------------------------------------

const char* const Words[] = {
    "the", "of", "and", "to", "a", "in", "is", "that", "for", "it", "as", "was", "with", "be",
    "by", "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have",
    "an", "had", "they", "you", "were", "their", "one", "all", "we", "can", "her", "has",
    "there", "been", "if", "more", "when", "will", "would", "who", "so", "no", "she", "other",
    "its", "may", "these", "about", "into", "them", "than", "some", "time", "could", "only",
    "new", "two", "first", "any", "then", "very", "after", "what", "disk", "file", "program",
    "drive", "press", "key", "copy", "memory", "system", "screen", "printer", "menu", "option",
    "directory", "version", "install", "select", "window", "data", "record", "report", "user",
    "number", "value", "table", "format", "error", "message", "command", "line", "page",
    "chapter", "section", "example", "following", "before", "between", "under", "without",
    "should", "must", "each", "every", "where", "while", "because", "through", "during",
    "water", "river", "village", "winter", "morning", "letter", "house", "garden", "road",
    "people", "world", "country", "company", "market", "price", "order", "account", "office",
    "always", "never", "often", "again", "still", "together", "almost", "perhaps", "already",
    "small", "large", "long", "little", "great", "old", "good", "last", "own", "right", "high",
    "different", "important", "possible", "certain", "simple", "available", "necessary",
    "make", "made", "take", "see", "know", "find", "give", "use", "used", "work", "call",
    "keep", "begin", "show", "turn", "change", "follow", "start", "write", "read", "save",
};
constexpr uint32_t WordCount = sizeof Words / sizeof Words[0];

// Common words far more often than rare ones, roughly as in real prose.
const char* PickWord(TSampleRandom& Random)
{
    uint64_t U = Random.Below(1u << 16);
    return Words[(U * U * WordCount) >> 32];
}

void AppendProse(std::string& Out, TSampleRandom& Random, size_t Size)
{
    size_t LineStart = Out.size();
    auto Emit = [&](const std::string& Piece) {
        if (Out.size() - LineStart + Piece.size() + 1 > 72) {
            Out += "\r\n";
            LineStart = Out.size();
        } else if (Out.size() != LineStart) {
            Out += ' ';
        }
        Out += Piece;
    };
    auto EndParagraph = [&] {
        Out += "\r\n\r\n";
        LineStart = Out.size();
    };
    uint32_t Section = 1;
    while (Out.size() < Size) {
        if (Random.Percent(12)) {
            Out += std::to_string(Section++) + ". ";
            for (uint32_t i = Random.Between(1, 4); i > 0; --i) {
                std::string Word = PickWord(Random);
                for (char& c : Word)
                    c = static_cast<char>(c - 'a' + 'A');
                Out += Word + (i > 1 ? " " : "");
            }
            EndParagraph();
        }
        for (uint32_t Sentence = Random.Between(2, 7); Sentence > 0; --Sentence) {
            uint32_t Length = Random.Between(5, 18);
            for (uint32_t w = 0; w < Length; ++w) {
                std::string Word;
                if (Random.Percent(3))
                    Word = std::to_string(Random.Below(2000));
                else
                    Word = PickWord(Random);
                if (w == 0)
                    Word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(Word[0])));
                if (w + 1 == Length) {
                    uint32_t End = Random.Below(20);
                    Word += End == 0 ? "?" : End == 1 ? "!" : ".";
                } else if (Random.Percent(8)) {
                    Word += Random.Percent(80) ? "," : ";";
                }
                Emit(Word);
            }
        }
        EndParagraph();
    }
}

void MakeText(uint8_t* At, size_t Size, TSampleRandom& Random)
{
    std::string Text;
    Text.reserve(Size + 256);
    AppendProse(Text, Random, Size);
    std::memcpy(At, Text.data(), Size);
    // Editors of the time often ended a text file with the end-of-file mark.
    if (Size > 0 && Random.Percent(50))
        At[Size - 1] = 0x1A;
}

// 16-bit real-mode code: functions with frame set-up, loads, stores, compares, branches,
// calls and DOS calls, the way compiled programs of the time look.
class TCodeWriter {
public:
    TCodeWriter(uint8_t* At, size_t Size, TSampleRandom& Random)
        : At(At), Size(Size), Random(Random)
    {
    }

    size_t Written() const { return Pos; }

    void Function()
    {
        FunctionStarts.push_back(static_cast<uint16_t>(Pos));
        Bytes({0x55, 0x8B, 0xEC});
        if (Random.Percent(70))
            Bytes({0x83, 0xEC, static_cast<uint8_t>(2 * Random.Between(1, 12))});
        if (Random.Percent(50))
            Bytes({0x56, 0x57});
        for (uint32_t n = Random.Between(6, 40); n > 0 && Pos + 16 < Size; --n)
            Instruction();
        if (Random.Percent(50))
            Bytes({0x5F, 0x5E});
        Bytes({0x8B, 0xE5, 0x5D, 0xC3});
        if (Pos % 2 && Random.Percent(50))
            Bytes({0x90});
    }

private:
    void Bytes(std::initializer_list<uint8_t> List)
    {
        for (uint8_t b : List)
            if (Pos < Size)
                At[Pos++] = b;
    }
    uint8_t Local() { return static_cast<uint8_t>(0x100 - 2 * Random.Between(1, 12)); }
    uint8_t Argument() { return static_cast<uint8_t>(4 + 2 * Random.Below(6)); }
    uint8_t Low(uint32_t v) { return static_cast<uint8_t>(v); }
    uint8_t High(uint32_t v) { return static_cast<uint8_t>(v >> 8); }

    void Instruction()
    {
        uint32_t Data = 0x100 + 2 * Random.Below(0x800);
        switch (Random.Below(16)) {
        case 0: Bytes({0x8B, 0x46, Argument()}); break;           // mov ax,[bp+arg]
        case 1: Bytes({0x89, 0x46, Local()}); break;              // mov [bp-loc],ax
        case 2: Bytes({0x8B, 0x5E, Local()}); break;              // mov bx,[bp-loc]
        case 3: Bytes({0xA1, Low(Data), High(Data)}); break;      // mov ax,[data]
        case 4: Bytes({0xA3, Low(Data), High(Data)}); break;      // mov [data],ax
        case 5: Bytes({0x3D, Low(Random.Below(256)), 0x00}); break;  // cmp ax,imm
        case 6: Bytes({static_cast<uint8_t>(0x74 + Random.Below(2)),
                       static_cast<uint8_t>(Random.Between(2, 30))});
            break;                                                // jz/jnz short
        case 7: {                                                 // call an earlier function
            uint16_t Target = FunctionStarts[Random.Below(
                static_cast<uint32_t>(FunctionStarts.size()))];
            uint16_t Rel = static_cast<uint16_t>(Target - (Pos + 3));
            Bytes({0xE8, Low(Rel), High(Rel)});
            break;
        }
        case 8: Bytes({0xFF, 0x76, Argument()}); break;           // push [bp+arg]
        case 9: Bytes({0x50}); break;                             // push ax
        case 10: Bytes({0x83, 0xC4, static_cast<uint8_t>(2 * Random.Between(1, 4))}); break;
        case 11: Bytes({0x33, 0xC0}); break;                      // xor ax,ax
        case 12: Bytes({0x03, 0xC3}); break;                      // add ax,bx
        case 13: Bytes({0xB4, static_cast<uint8_t>(Random.Percent(50) ? 0x09 : 0x3D), 0xBA,
                        Low(Data), High(Data), 0xCD, 0x21});
            break;                                                // DOS call
        case 14: Bytes({0xC4, 0x5E, Argument(), 0x26, 0x8B, 0x07}); break;  // les/mov es:
        case 15: Bytes({0x46, 0x8A, 0x04, 0x3C, 0x00}); break;    // inc si; mov al,[si]; cmp
        }
    }

    uint8_t* At;
    size_t Size;
    TSampleRandom& Random;
    size_t Pos = 0;
    std::vector<uint16_t> FunctionStarts{0};
};

// The data part of a program: messages, offset tables, lookup tables and zeroed variables.
void MakeProgramData(uint8_t* At, size_t Size, TSampleRandom& Random)
{
    size_t Pos = 0;
    auto Put = [&](uint8_t b) {
        if (Pos < Size)
            At[Pos++] = b;
    };
    while (Pos < Size) {
        switch (Random.Below(5)) {
        case 0:
        case 1: {  // messages, NUL- or $-terminated
            bool Dos = Random.Percent(30);
            std::string Message;
            for (uint32_t w = Random.Between(2, 8); w > 0; --w)
                Message += std::string(PickWord(Random)) + (w > 1 ? " " : "");
            Message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(Message[0])));
            if (Dos)
                Message += "\r\n$";
            for (char c : Message)
                Put(static_cast<uint8_t>(c));
            if (!Dos)
                Put(0);
            break;
        }
        case 2: {  // increasing offsets
            uint32_t Offset = Random.Below(0x4000);
            for (uint32_t n = Random.Between(8, 64); n > 0; --n) {
                Offset += Random.Between(2, 40);
                Put(static_cast<uint8_t>(Offset));
                Put(static_cast<uint8_t>(Offset >> 8));
            }
            break;
        }
        case 3: {  // a lookup table
            uint32_t Step = Random.Between(1, 3);
            for (uint32_t n = 0; n < 256; ++n)
                Put(static_cast<uint8_t>(Random.Percent(85) ? n * Step : Random.Below(256)));
            break;
        }
        case 4:  // zeroed variables
            for (uint32_t n = Random.Between(16, 300); n > 0; --n)
                Put(0);
            break;
        }
    }
}

void MakeProgram(uint8_t* At, size_t Size, bool Executable, TSampleRandom& Random)
{
    size_t Pos = 0;
    if (Executable && Size >= 512) {
        // Program header: signature, sizes, a relocation table; padded to 512 bytes.
        std::memset(At, 0, 512);
        At[0] = 'M';
        At[1] = 'Z';
        PutLE16(At + 2, static_cast<uint32_t>(Size % 512));
        PutLE16(At + 4, static_cast<uint32_t>((Size + 511) / 512));
        uint32_t Relocations = Random.Between(4, 100);
        PutLE16(At + 6, Relocations);
        PutLE16(At + 8, 32);  // header paragraphs
        PutLE16(At + 10, Random.Between(0x20, 0x400));
        PutLE16(At + 12, 0xFFFF);
        PutLE16(At + 14, static_cast<uint32_t>(Size / 16));
        PutLE16(At + 16, 0x800);
        PutLE16(At + 24, 0x1E);
        uint32_t Offset = 0;
        for (uint32_t r = 0; r < Relocations && 0x1E + 4 * r + 4 <= 512; ++r) {
            Offset += Random.Between(4, 200);
            PutLE16(At + 0x1E + 4 * r, Offset & 0xFFFF);
            PutLE16(At + 0x20 + 4 * r, Offset >> 16 << 12);
        }
        Pos = 512;
    } else if (Size >= 3) {
        At[0] = 0xE9;  // jump over the data to the entry point
        PutLE16(At + 1, static_cast<uint32_t>(Size / 3));
        Pos = 3;
    }
    size_t CodeBytes = (Size - Pos) * Random.Between(55, 70) / 100;
    TCodeWriter Code(At + Pos, CodeBytes, Random);
    while (Code.Written() < CodeBytes)
        Code.Function();
    Pos += CodeBytes;
    MakeProgramData(At + Pos, Size - Pos, Random);
}

// Already-compressed data is close to random. A generator stands in for a real compressor
// because a compressor's output may change between its versions.
void MakeArchive(uint8_t* At, size_t Size, TSampleRandom& Random)
{
    for (size_t i = 0; i < Size; ++i)
        At[i] = static_cast<uint8_t>(Random.Next() >> 56);
    if (Size >= 30) {
        static const uint8_t Header[] = {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0};
        std::memcpy(At, Header, sizeof Header);
    }
}

// ---- layout -----------------------------------------------------------------------------

enum class TFileKind { Text, Program, Archive };

struct TSampleFile {
    TFileKind Kind;
    std::string Name;  // 8 + 3 characters, blank-padded
    uint32_t Bytes;
    uint32_t FirstCluster = 0;
    bool Executable = false;
};

std::string ShortName(const char* Base, const char* Extension)
{
    std::string Name(Base);
    Name.resize(8, ' ');
    std::string Ext(Extension);
    Ext.resize(3, ' ');
    return Name + Ext;
}

std::string NameFor(TFileKind Kind, uint32_t Index, bool& Executable)
{
    static const char* const TextNames[] = {"README", "CHAPTER1", "CHAPTER2", "NOTES",
                                            "LETTER", "MANUAL", "HISTORY", "INSTALL"};
    static const char* const ProgramNames[] = {"SETUP", "EDIT", "DISKUTIL", "VIEW",
                                               "PRINT", "CONFIG", "GAME", "CALC"};
    static const char* const ArchiveNames[] = {"DATA", "BACKUP", "PHOTOS", "SOURCES",
                                               "LETTERS", "OLDFILES"};
    // Root directories hold at most a few hundred entries: four digits always fit.
    std::string Number = std::to_string(Index);
    switch (Kind) {
    case TFileKind::Text:
        if (Index < 8)
            return ShortName(TextNames[Index], Index == 4 ? "DOC" : "TXT");
        return ShortName(("TEXT" + Number).c_str(), "TXT");
    case TFileKind::Program:
        Executable = Index % 3 != 1;
        if (Index < 8)
            return ShortName(ProgramNames[Index], Executable ? "EXE" : "COM");
        return ShortName(("PROG" + Number).c_str(), Executable ? "EXE" : "COM");
    case TFileKind::Archive:
        if (Index < 6)
            return ShortName(ArchiveNames[Index], "ZIP");
        return ShortName(("ARCH" + Number).c_str(), "ZIP");
    }
    return {};
}

// Splits Budget bytes into files of the kind, each ending somewhere inside its last cluster.
void PlanFiles(std::vector<TSampleFile>& Files, TFileKind Kind, uint64_t Budget,
               uint32_t MaxFiles, uint32_t ClusterBytes, TSampleRandom& Random)
{
    if (MaxFiles == 0 || Budget < ClusterBytes)
        return;
    uint64_t Count = std::clamp<uint64_t>(Budget / (48 * 1024), 1, MaxFiles);
    std::vector<uint32_t> Weights(Count);
    uint64_t Total = 0;
    for (uint32_t& Weight : Weights)
        Total += Weight = Random.Between(50, 150);
    for (uint32_t i = 0; i < Count; ++i) {
        uint64_t Share = Budget * Weights[i] / Total;
        uint64_t Clusters = std::max<uint64_t>(1, Share / ClusterBytes);
        TSampleFile File{Kind, {}, 0};
        File.Bytes = static_cast<uint32_t>((Clusters - 1) * ClusterBytes +
                                           Random.Between(1, ClusterBytes));
        File.Name = NameFor(Kind, i, File.Executable);
        Files.push_back(File);
    }
}

uint16_t DosDate(TSampleRandom& Random)
{
    return static_cast<uint16_t>((Random.Between(11, 18) << 9) | (Random.Between(1, 12) << 5) |
                                 Random.Between(1, 28));
}

uint16_t DosTime(TSampleRandom& Random)
{
    return static_cast<uint16_t>((Random.Between(7, 22) << 11) | (Random.Below(60) << 5) |
                                 Random.Below(30));
}

void WriteDirEntry(uint8_t* Entry, const std::string& Name, uint8_t Attributes,
                   uint32_t FirstCluster, uint32_t Bytes, TSampleRandom& Random)
{
    std::memcpy(Entry, Name.data(), 11);
    Entry[11] = Attributes;
    PutLE16(Entry + 22, DosTime(Random));
    PutLE16(Entry + 24, DosDate(Random));
    PutLE16(Entry + 26, FirstCluster);
    PutLE32(Entry + 28, Bytes);
}

void MakeFilledDisk(std::vector<uint8_t>& Disk, uint32_t Seed)
{
    TSampleRandom Random(Seed);
    const TBootParameters P = ParametersFor(Disk.size());
    uint8_t* Base = Disk.data();
    WriteBootSector(Base, P, static_cast<uint32_t>(Random.Next()), "SAMPLEDISK");

    const uint32_t ClusterBytes = P.SectorsPerCluster * SectorBytes;
    const uint32_t Clusters = P.ClusterCount();
    const uint64_t DataBytes = uint64_t(Clusters) * ClusterBytes;
    auto ClusterAt = [&](uint32_t Cluster) {
        return Base + (P.FirstDataSector() + uint64_t(Cluster - 2) * P.SectorsPerCluster) *
                          SectorBytes;
    };

    // A freshly formatted disk has the filler byte in every data sector; files written since
    // replace it, and free space of a disk that was in use is often cleared.
    std::memset(ClusterAt(2), 0xF6, DataBytes);

    // Volume label, a deleted entry and the files; the deleted file leaves a gap of free space.
    uint32_t Slots = P.RootEntries;
    uint32_t FileSlots = Slots > 2 ? Slots - 2 : 0;
    uint32_t PerKind = std::max<uint32_t>(1, FileSlots / 3);
    std::vector<TSampleFile> Files;
    PlanFiles(Files, TFileKind::Text, DataBytes * 30 / 100, PerKind, ClusterBytes, Random);
    PlanFiles(Files, TFileKind::Program, DataBytes * 20 / 100, PerKind, ClusterBytes, Random);
    PlanFiles(Files, TFileKind::Archive, DataBytes * 15 / 100, PerKind, ClusterBytes, Random);
    for (size_t i = Files.size(); i > 1; --i)
        std::swap(Files[i - 1], Files[Random.Below(static_cast<uint32_t>(i))]);

    uint8_t* Fat = Base + P.ReservedSectors * SectorBytes;
    SetFatEntry(Fat, 0, 0xF00u | P.Media);
    SetFatEntry(Fat, 1, 0xFFF);
    uint8_t* Root = Base + P.FirstRootSector() * SectorBytes;
    uint32_t Slot = 0;
    if (Slot < Slots)
        WriteDirEntry(Root + DirEntryBytes * Slot++, "SAMPLEDISK ", 0x08, 0, 0, Random);

    uint32_t NextCluster = 2;
    const uint32_t End = Clusters + 2;
    const uint32_t DeletedAfter = Files.empty() ? 0 : Random.Below(uint32_t(Files.size()));
    for (size_t i = 0; i < Files.size(); ++i) {
        TSampleFile& File = Files[i];
        uint32_t Need = (File.Bytes + ClusterBytes - 1) / ClusterBytes;
        if (NextCluster + Need > End || Slot >= Slots)
            break;
        File.FirstCluster = NextCluster;
        for (uint32_t c = 0; c < Need; ++c)
            SetFatEntry(Fat, NextCluster + c, c + 1 < Need ? NextCluster + c + 1 : 0xFFF);
        uint8_t* Content = ClusterAt(NextCluster);
        // Slack after the end of a file holds zeros.
        std::memset(Content, 0, uint64_t(Need) * ClusterBytes);
        switch (File.Kind) {
        case TFileKind::Text: MakeText(Content, File.Bytes, Random); break;
        case TFileKind::Program: MakeProgram(Content, File.Bytes, File.Executable, Random); break;
        case TFileKind::Archive: MakeArchive(Content, File.Bytes, Random); break;
        }
        WriteDirEntry(Root + DirEntryBytes * Slot++, File.Name, 0x20, File.FirstCluster,
                      File.Bytes, Random);
        NextCluster += Need;

        if (i == DeletedAfter && Slot < Slots) {
            uint32_t Gap = std::min(End - NextCluster, Random.Between(4, 40));
            if (Gap > 0) {
                std::string Deleted = ShortName("OLDNOTES", "TXT");
                Deleted[0] = static_cast<char>(0xE5);
                WriteDirEntry(Root + DirEntryBytes * Slot++, Deleted, 0x20, NextCluster,
                              Gap * ClusterBytes - 100, Random);
                NextCluster += Gap;
            }
        }
    }

    // Free space after the files: stretches of zeros with some of the filler left.
    while (NextCluster < End) {
        uint32_t Stretch = std::min(End - NextCluster, Random.Between(8, 160));
        if (Random.Percent(70))
            std::memset(ClusterAt(NextCluster), 0, uint64_t(Stretch) * ClusterBytes);
        NextCluster += Stretch;
    }

    std::memcpy(Fat + P.SectorsPerFat * SectorBytes, Fat, P.SectorsPerFat * SectorBytes);
}

}  // namespace

std::vector<uint8_t> MakeSampleDisk(size_t Size, TSampleKind Kind, uint32_t Seed)
{
    std::vector<uint8_t> Disk;
    switch (Kind) {
    case TSampleKind::Zero:
        Disk.assign(Size, 0);
        break;
    case TSampleKind::Random: {
        Disk.resize(Size);
        TSampleRandom Random(Seed ^ 0x52414E44u);
        for (size_t i = 0; i < Size; i += 8) {
            uint64_t Word = Random.Next();
            for (size_t b = 0; b < 8 && i + b < Size; ++b)
                Disk[i + b] = static_cast<uint8_t>(Word >> (8 * b));
        }
        break;
    }
    case TSampleKind::Filled:
        Disk.assign(std::max(Size, MinFileSystemBytes), 0);
        MakeFilledDisk(Disk, Seed);
        Disk.resize(Size);
        break;
    }
    return Disk;
}
