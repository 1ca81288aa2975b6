#include "cli/Rescue.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "cli/ConsolePort.h"
#include "cli/ImageInfo.h"
#include "imaging/Imaging.h"
#include "platform/AtomicFile.h"
#include "core/FormatTable.h"
#include "platform/RescueMap.h"

namespace {

// A map is a few lines per bad area; anything much longer is not one.
constexpr std::streamsize LongestMap = 1024 * 1024;

bool IsRegularFile(const std::string& Path)
{
    struct stat Info {};
    return ::stat(Path.c_str(), &Info) == 0 && S_ISREG(Info.st_mode);
}

bool Exists(const std::string& Path)
{
    struct stat Info {};
    return ::lstat(Path.c_str(), &Info) == 0;
}

// At most LongestMap + 1 bytes of Path, so that the parser can refuse a longer one.
std::string ReadMapText(const std::string& Path)
{
    if (!IsRegularFile(Path))
        throw std::runtime_error("the map " + Path + " is not a regular file");
    std::ifstream In(Path, std::ios::binary);
    std::string Text(size_t(LongestMap + 1), '\0');
    In.read(Text.data(), LongestMap + 1);
    if (In.bad() || (!In && !In.eof()))
        throw std::runtime_error("the map " + Path + " cannot be read: " + std::strerror(errno));
    Text.resize(size_t(In.gcount()));
    return Text;
}

int64_t DumpBytesOf(int FormatIndex)
{
    return FormatOfIndex(static_cast<unsigned>(FormatIndex)).TotalBytes;
}

void Pack(const std::string& Dump, const std::string& Image, TCompressMode Mode)
{
    Tlzrw1 Engine;
    Engine.CompressMode = Mode;
    Engine.InputFile = Dump;
    Engine.OutputFile = Image;
    Engine.Compress();
}

}  // namespace

TRescue::TRescue(std::string WorkDir, std::string MapOption, TCompressMode Mode)
    : WorkDir(std::move(WorkDir)), MapOption(std::move(MapOption)), Mode(Mode)
{
}

std::string TRescue::MapOf(const std::string& Image) const
{
    return MapOption.empty() ? Image + ".map" : MapOption;
}

bool TRescue::Prepare(const std::string& Image, int FormatIndex)
{
    for (const char* Name : {"temp.del", "temp.del.map"})
        ::unlink(Work(Name).c_str());
    const std::string Map = MapOf(Image);
    if (!Exists(Image) || !Exists(Map))
        return false;

    const std::string Unchanged = "; nothing was changed";
    const std::string Text = ReadMapText(Map);
    try {
        Tlzrw1 Engine;
        Engine.InputFile = Image;
        Engine.OutputFile = Work("temp.del");
        Engine.Decompress();
    } catch (const std::exception& E) {
        ::unlink(Work("temp.del").c_str());
        throw std::runtime_error("the image " + Image + " cannot be read to resume: " + E.what() +
                                 Unchanged);
    }
    struct stat Dump {};
    const int64_t Wanted = DumpBytesOf(FormatIndex);
    if (::stat(Work("temp.del").c_str(), &Dump) != 0 || Dump.st_size != Wanted) {
        ::unlink(Work("temp.del").c_str());
        const std::string Held = DiskFormatText(Dump.st_size);
        throw std::runtime_error("the image " + Image + " holds a " + Held + " dump, the diskette is " +
                                 std::string(FormatOfIndex(unsigned(FormatIndex)).FormatName) +
                                 ": not the diskette the image was read from" + Unchanged);
    }
    try {
        TRescueMap::Parse(Text, Wanted);
    } catch (const EMapError& E) {
        ::unlink(Work("temp.del").c_str());
        throw std::runtime_error("the map " + Map + " is damaged: " + E.what() + Unchanged);
    }
    if (const int Error = ReplaceFileWithText(Work("temp.del.map"), Text, 0600, false))
        throw std::runtime_error("the map cannot be copied to " + WorkDir + ": " +
                                 std::strerror(Error));
    return true;
}

void TRescue::PlaceMap(const std::string& Image, const std::string& Text) const
{
    if (const int Error = ReplaceFileWithText(MapOf(Image), Text, 0644, true))
        throw std::runtime_error("the map " + MapOf(Image) + " cannot be written: " +
                                 std::strerror(Error));
}

int64_t TRescue::Finish(const std::string& Image, int FormatIndex, TConsolePort& Port)
{
    const TRescueMap Map = TRescueMap::Parse(ReadMapText(Work("temp.del.map")),
                                             DumpBytesOf(FormatIndex));
    std::vector<bool> Missing(size_t(Map.SectorCount()));
    for (int64_t S = 0; S < Map.SectorCount(); ++S)
        Missing[size_t(S)] = !Map.Finished(S);
    const int64_t Count = Map.Missing();
    const std::string MapName = MapOf(Image);
    if (Count == 0) {
        // Nothing is missing any more: a map would only say so.
        if (Exists(MapName) && ::unlink(MapName.c_str()) != 0)
            Port.Problem("marrowtide-img: the map " + MapName + " cannot be removed: " +
                         std::strerror(errno));
        return 0;
    }
    PlaceMap(Image, Map.Text("marrowtide-img read --rescue " + Image, MapFinished));
    std::string Ranges;
    for (const std::string& Range : SectorRanges(Missing, uint8_t(FormatIndex)))
        Ranges += (Ranges.empty() ? "" : ", ") + Range;
    Port.Problem("marrowtide-img: " + std::to_string(Count) +
                 (Count == 1 ? " sector" : " sectors") +
                 " could not be read (track/side/sector): " + Ranges);
    Port.Problem("marrowtide-img: " + Image + " is partial: " +
                 (Count == 1 ? "that sector is zeros" : "those sectors are zeros") +
                 " in it; the map " + MapName +
                 " records them (read again with --rescue to retry them)");
    return Count;
}

bool TRescue::KeepInterrupted(const std::string& Packed, TConsolePort& Port,
                              const std::function<std::string(const std::string&)>& Place)
{
    std::string Image = Packed;
    const std::string Dump = Work("temp.del");
    struct stat Info {};
    if (Image.empty() || !IsRegularFile(Work("temp.del.map")) || ::stat(Dump.c_str(), &Info) != 0)
        return false;
    try {
        const TRescueMap Map = TRescueMap::Parse(ReadMapText(Work("temp.del.map")), Info.st_size);
        Pack(Dump, Image, Mode);
        if (Place)
            Image = Place(Image);
        PlaceMap(Image, Map.Text("marrowtide-img read --rescue " + Image, MapUntried));
        Port.Problem("marrowtide-img: kept what was read in " + Image + " (" +
                     std::to_string(Map.Missing()) + " sectors still missing); the map " +
                     MapOf(Image) + " marks the rest: read again with --rescue to go on.");
        return true;
    } catch (const std::exception& E) {
        Port.Problem(std::string("marrowtide-img: what was read cannot be kept: ") + E.what());
        return false;
    }
}

std::string RescueHint(const std::string& WorkDir)
{
    std::ifstream In(WorkDir + "/error.dat");
    std::string Line;
    std::getline(In, Line);
    if (Line.find(" could not be read") == std::string::npos)
        return "";
    return "marrowtide-img: read again with --rescue to keep every sector that can be read (the "
           "others become zeros, listed in a map).";
}
