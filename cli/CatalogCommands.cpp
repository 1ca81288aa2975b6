#include "cli/CatalogCommands.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>

#include "cli/Checksums.h"
#include "cli/Commands.h"
#include "cli/DatFile.h"
#include "cli/FileCommands.h"
#include "cli/ImageInfo.h"
#include "cli/JsonText.h"
#include "compress/SafeOutput.h"
#include "core/FormatTable.h"
#include "platform/Files.h"

namespace fs = std::filesystem;

namespace {

void PrintError(std::ostream& Err, const std::string& Text)
{
    Err << "marrowtide-img: " << Text << "\n";
}

// Label, serial and file count; null for a dump that holds no FAT volume.
void AddVolume(TJson& Json, const std::vector<uint8_t>& Dump)
{
    try {
        const TFatVolume Volume(Dump);
        size_t Files = 0;
        for (const TFatEntry& Entry : Volume.Entries())
            Files += !Entry.IsDirectory();
        Json["label"] = Volume.Label();
        Json["serial"] = OrNull(Volume.HasSerial(), Volume.SerialText());
        Json["file_count"] = Files;
    } catch (const EFatError&) {
        for (const char* Key : {"label", "serial", "file_count"})
            Json[Key] = nullptr;
    }
}

TJson InfoJson(const std::string& Path, bool Hash)
{
    const TLoadedDump Dump = LoadDump(Path);
    const int64_t RawSize = int64_t(Dump.Bytes.size());
    const bool Image = !Dump.Codec.empty();
    const bool Known = FormatIndexOfDumpSize(RawSize) != UnknownFormatIndex;
    TJson Json;
    Json["file"] = Path;
    Json["codec"] = OrNull(Image, Dump.Codec);
    Json["raw_size"] = RawSize;
    Json["image_size"] = OrNull(Image && Dump.FileSize >= 0, Dump.FileSize);
    // In percent, as the text says it.
    Json["ratio"] = OrNull(Image && Dump.FileSize >= 0 && RawSize > 0,
                           std::strtod(RatioText(Dump.FileSize, RawSize).c_str(), nullptr));
    Json["format"] = OrNull(Known, DiskFormatText(RawSize));
    AddVolume(Json, Dump.Bytes);
    if (Hash) {
        const TChecksums Sums = ChecksumsOf(Dump.Bytes);
        Json["crc32"] = Sums.Crc32;
        Json["md5"] = Sums.Md5;
        Json["sha1"] = Sums.Sha1;
        Json["sha256"] = Sums.Sha256;
    }
    return Json;
}

// The DAT entry of one image: named after the image, its one rom after the dump unpack makes.
TDatEntry EntryOf(const std::string& Path)
{
    const TLoadedDump Dump = LoadDump(Path);
    const TChecksums Sums = ChecksumsOf(Dump.Bytes);
    const std::string Name = fs::path(Path).stem().string();
    const std::string DumpName =
        Dump.Kind == "raw dump" ? fs::path(Path).filename().string() : UnpackedName(Path);
    return {Name, Name, {{DumpName, Dump.Bytes.size(), Sums.Crc32, Sums.Md5, Sums.Sha1}}};
}

std::string Today()
{
    const std::time_t Now = std::time(nullptr);
    std::tm Local {};
    char Text[16] = "";
    localtime_r(&Now, &Local);
    std::strftime(Text, sizeof Text, "%Y-%m-%d", &Local);
    return Text;
}

// Names from a DAT go to a terminal: no control characters, of C0, DEL or C1 (in UTF-8).
std::string Printable(const std::string& Text)
{
    std::string Shown;
    for (size_t i = 0; i < Text.size(); ++i) {
        const auto C = static_cast<unsigned char>(Text[i]);
        const bool C1 = C == 0xC2 && i + 1 < Text.size() &&
                        static_cast<unsigned char>(Text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(Text[i + 1]) <= 0x9F;
        if (C < 0x20 || C == 0x7F || C1) {
            Shown += '?';
            i += C1;
        } else {
            Shown += char(C);
        }
    }
    return Shown;
}

struct TMatch {
    const TDatEntry* Entry;
    const TDatRom* Rom;
    bool BySha1;
};

// A rom with a SHA-1 is matched by it alone, so that a CRC32 that happens to agree cannot make
// a different dump pass; one without is matched by size and CRC32.
std::vector<TMatch> MatchesOf(const TDat& Known, uint64_t Size, const TChecksums& Sums)
{
    std::vector<TMatch> Matches;
    for (const TDatEntry& Entry : Known.Entries)
        for (const TDatRom& Rom : Entry.Roms) {
            if (!Rom.Sha1.empty() ? Rom.Sha1 == Sums.Sha1
                                  : Rom.Size == Size && Rom.Crc32 == Sums.Crc32)
                Matches.push_back({&Entry, &Rom, !Rom.Sha1.empty()});
        }
    return Matches;
}

TJson EntryJson(const TFatEntry& Entry)
{
    const std::string Time = FatTimeText(Entry.Date, Entry.Time);
    TJson Json;
    Json["name"] = Entry.Name;
    Json["short_name"] = Entry.ShortName;
    Json["size"] = Entry.Size;
    Json["modified"] = OrNull(Time != "-", Time);
    Json["attributes"] = FatAttributeText(Entry.Attributes);
    Json["deleted"] = Entry.Deleted;
    if (Entry.Deleted)
        Json["intact_bytes"] = Entry.IntactBytes;
    Json["problems"] = Entry.Problems;
    if (Entry.IsDirectory())
        Json["entries"] = TJson::array();
    return Json;
}

// The volume with its entries nested: a directory's "entries" holds what is in it.
TJson VolumeJson(const std::string& Path, const TLoadedDump& Dump, const TFatVolume& Volume)
{
    TJson Json;
    Json["file"] = Path;
    Json["codec"] = OrNull(!Dump.Codec.empty(), Dump.Codec);
    const auto Size = int64_t(Dump.Bytes.size());
    Json["format"] = OrNull(FormatIndexOfDumpSize(Size) != UnknownFormatIndex, DiskFormatText(Size));
    Json["fat_bits"] = Volume.FatBits();
    Json["label"] = Volume.Label();
    Json["serial"] = OrNull(Volume.HasSerial(), Volume.SerialText());
    Json["oem_name"] = Volume.OemName();
    Json["free_bytes"] = Volume.FreeBytes();
    Json["problems"] = Volume.Problems();
    Json["entries"] = TJson::array();
    // The arrays that entries of each depth go into; a deeper entry's directory came before it.
    std::vector<TJson*> Levels = {&Json["entries"]};
    for (const TFatEntry& Entry : Volume.Entries()) {
        Levels.resize(std::min(Levels.size(), size_t(std::max(Entry.Depth, 0)) + 1));
        TJson& Added = Levels.back()->emplace_back(EntryJson(Entry));
        if (Entry.IsDirectory())
            Levels.push_back(&Added["entries"]);
    }
    return Json;
}

}  // namespace

namespace {

// One JSON array with an object per image; an image that fails gets {file, error}, is named on
// Err, and makes the status 1. Of returns the object and may set Status itself.
int PrintEachAsJson(const TOptions& Options, std::ostream& Out, std::ostream& Err,
                    const std::function<TJson(const std::string&, int& Status)>& Of)
{
    TJson All = TJson::array();
    int Status = 0;
    for (const std::string& Path : Options.Inputs) {
        try {
            All.push_back(Of(Path, Status));
        } catch (const std::exception& E) {
            PrintError(Err, E.what());
            All.push_back({{"file", Path}, {"error", E.what()}});
            Status = 1;
        }
    }
    Out << JsonText(All, 2) << "\n";
    return Status;
}

}  // namespace

int RunLsJson(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    return PrintEachAsJson(Options, Out, Err, [&](const std::string& Path, int& Status) {
        const TLoadedDump Dump = LoadDump(Path);
        try {
            const TFatVolume Volume(Dump.Bytes, Options.Deleted);
            if (ReportProblems(Volume, Path, Err))
                Status = 1;
            return VolumeJson(Path, Dump, Volume);
        } catch (const EFatError& E) {
            throw std::runtime_error(Path + ": holds no FAT volume that can be read: " + E.what());
        }
    });
}

int RunInfoJson(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    return PrintEachAsJson(Options, Out, Err, [&](const std::string& Path, int&) {
        return InfoJson(Path, Options.Hash);
    });
}

int RunCatalog(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    const std::string& Target = Options.Output;
    for (const std::string& Input : Options.Inputs)
        if (SameFile(Input, Target))
            throw EUsage(Input + " would be overwritten by its own output");
    const bool Replace = CheckOutput(Target, Options.Force);

    TDat Dat;
    Dat.Name = Dat.Description = fs::path(Target).stem().string();
    Dat.Date = Dat.Version = Today();
    Dat.Author = "marrowtide-img";
    std::map<std::string, std::string> Taken;  // entry name, and the image that has it
    int Status = 0;
    for (const std::string& Path : Options.Inputs) {
        try {
            TDatEntry Entry = EntryOf(Path);
            const auto [Other, Fresh] = Taken.emplace(Entry.Name, Path);
            if (!Fresh)
                throw std::runtime_error(Path + ": its entry would be named " + Entry.Name +
                                         " as the one of " + Other->second + " is");
            Dat.Entries.push_back(std::move(Entry));
        } catch (const std::exception& E) {
            PrintError(Err, E.what());
            Status = 1;
        }
    }
    if (Status) {
        PrintError(Err, Target + ": not written, as not every image could be catalogued");
        return 1;
    }
    const std::string Text = DatText(Dat);
    WriteOutput(Target, Text.data(), Text.size(), Replace, "the catalogue");
    if (!Options.Quiet) {
        const size_t Count = Dat.Entries.size();
        (IsStandardOutput(Target) ? Err : Out)
            << Target << ": " << Count << (Count == 1 ? " entry\n" : " entries\n");
    }
    return 0;
}

int RunCheck(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    RefuseNonFile(Options.DatFile);
    const TDat Known = ReadDatFile(Options.DatFile);
    int Status = 0;
    for (const std::string& Path : Options.Inputs) {
        try {
            const TLoadedDump Dump = LoadDump(Path);
            const std::vector<TMatch> Matches =
                MatchesOf(Known, Dump.Bytes.size(), ChecksumsOf(Dump.Bytes));
            if (Matches.empty()) {
                Out << Path << ": matches no entry of " << Options.DatFile << "\n";
                Status = 1;
            }
            for (const TMatch& Match : Matches)
                Out << Path << ": matches \"" << Printable(Match.Entry->Name) << "\" ("
                    << Printable(Match.Rom->Name) << ") by "
                    << (Match.BySha1 ? "SHA-1" : "size and CRC32") << "\n";
        } catch (const std::exception& E) {
            PrintError(Err, E.what());
            Status = 1;
        }
    }
    return Status;
}
