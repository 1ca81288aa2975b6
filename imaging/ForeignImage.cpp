#include "imaging/ForeignImage.h"

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <libdsk.h>
#include <sys/stat.h>

#include "core/FormatTable.h"
#include "platform/ChildProcess.h"
#include "platform/MemoryFile.h"

namespace {

// One open libdsk image, closed on every path.
class TDsk {
public:
    TDsk(const std::string& Path, bool Create, const std::string& Name = "")
        : Shown(Name.empty() ? Path : Name)
    {
        const dsk_err_t Error = Create ? dsk_creat(&Driver, Path.c_str(), "imd", nullptr)
                                       : dsk_open(&Driver, Path.c_str(), nullptr, nullptr);
        Check(Error, Create ? "cannot be created" : "cannot be opened");
    }
    ~TDsk()
    {
        if (Driver)
            dsk_close(&Driver);
    }
    TDsk(const TDsk&) = delete;
    TDsk& operator=(const TDsk&) = delete;

    void Check(dsk_err_t Error, const std::string& What) const
    {
        if (Error != DSK_ERR_OK)
            throw std::runtime_error(Shown + ": " + What + ": " + dsk_strerror(Error));
    }
    // Closes and reports what closing (the writing of an ImageDisk file) says.
    void Close()
    {
        const dsk_err_t Error = dsk_close(&Driver);
        Driver = nullptr;
        Check(Error, "cannot be written");
    }

    DSK_PDRIVER Driver = nullptr;
    std::string Shown;  // the file's name in messages
};

DSK_GEOMETRY GeometryOf(const TFormatRow& Row)
{
    DSK_GEOMETRY Geometry{};
    Geometry.dg_sidedness = SIDES_ALT;
    Geometry.dg_cylinders = dsk_pcyl_t(Row.Cylinders);
    Geometry.dg_heads = dsk_phead_t(Row.Sides);
    Geometry.dg_sectors = dsk_psect_t(Row.Sectors);
    Geometry.dg_secbase = 1;
    Geometry.dg_secsize = 512;
    // The library numbers its rates as the floppy controller does (500, 300, 250, 1000 kbit/s).
    Geometry.dg_datarate = dsk_rate_t(Row.Timing.Rate & 3);
    Geometry.dg_rwgap = 0x2A;
    Geometry.dg_fmtgap = 0x50;
    return Geometry;
}

}  // namespace

std::string ForeignImageKind(const uint8_t* Start, size_t Count, int64_t FileSize)
{
    if (Count >= 4 && std::memcmp(Start, "IMD ", 4) == 0)
        return "ImageDisk";
    if (FormatIndexOfDumpSize(FileSize, true) != UnknownFormatIndex)
        return "";
    // "td" is the advanced-compression variant.
    if (Count >= 2 && (std::memcmp(Start, "TD", 2) == 0 || std::memcmp(Start, "td", 2) == 0))
        return "TeleDisk";
    if (Count >= 3 && std::memcmp(Start, "CQ\x14", 3) == 0)
        return "CopyQM";
    return "";
}

std::string ForeignImageKind(const std::string& Path)
{
    struct stat Info {};
    if (::stat(Path.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode))
        return "";
    std::FILE* File = std::fopen(Path.c_str(), "rb");
    if (!File)
        return "";
    uint8_t Start[4] = {};
    const size_t Got = std::fread(Start, 1, sizeof Start, File);
    std::fclose(File);
    return ForeignImageKind(Start, Got, Info.st_size);
}

std::vector<uint8_t> ReadForeignImage(const std::vector<uint8_t>& Image, const std::string& Name)
{
    // libdsk opens images by name only.
    const TMemoryFile File(Image);
    return ReadForeignImage(File.Path(), Name);
}

namespace {

std::vector<uint8_t> ReadInThisProcess(const std::string& Path, const std::string& Name)
{
    TDsk Image(Path, false, Name);
    DSK_GEOMETRY Geometry{};
    Image.Check(dsk_getgeom(Image.Driver, &Geometry), "no PC diskette geometry found");
    const uint8_t Format = FormatIndexOfLayout(int64_t(Geometry.dg_cylinders) * Geometry.dg_heads *
                                                   Geometry.dg_sectors,
                                               int32_t(Geometry.dg_heads),
                                               int32_t(Geometry.dg_sectors), true);
    if (Format == UnknownFormatIndex || Geometry.dg_secsize != 512)
        throw std::runtime_error(Image.Shown + ": holds " + std::to_string(Geometry.dg_cylinders) +
                                 " tracks x " + std::to_string(Geometry.dg_heads) + " sides x " +
                                 std::to_string(Geometry.dg_sectors) + " sectors of " +
                                 std::to_string(Geometry.dg_secsize) +
                                 " bytes, which is no diskette format this program knows");
    const TFormatRow& Row = FormatTable[Format];
    Geometry = GeometryOf(Row);
    std::vector<uint8_t> Dump(size_t(Row.MediumBytes()));
    for (int32_t Sector = 0; Sector < Row.MediumSectors(); ++Sector)
        Image.Check(dsk_lread(Image.Driver, &Geometry, Dump.data() + size_t(Sector) * 512,
                              dsk_lsect_t(Sector)),
                    "sector " + std::to_string(Sector) + " cannot be read");
    return Dump;
}

// Long enough for any diskette; a hang is told.
constexpr unsigned ReadSeconds = 60;

}  // namespace

std::vector<uint8_t> ReadForeignImage(const std::string& Path, const std::string& Name)
{
    // libdsk crashes on some damaged files (a cut-short CopyQM file, a TeleDisk file with a
    // damaged header): a crash in the child is a failure here.
    try {
        return RunInChildProcess([&] { return ReadInThisProcess(Path, Name); }, ReadSeconds);
    } catch (const EChildCrashed& E) {
        throw std::runtime_error(
            (Name.empty() ? Path : Name) + ": cannot be read: " +
            (E.Signal == SIGALRM ? "libdsk took more than " + std::to_string(ReadSeconds) +
                                       " seconds over it"
                                 : "libdsk crashed on it (" + std::string(E.what()) + ")") +
            "; the file is damaged or not the image it seems to be");
    }
}

void WriteImdImage(const std::vector<uint8_t>& Dump, const std::string& Path)
{
    const uint8_t Format = FormatIndexOfDumpSize(int64_t(Dump.size()), true);
    if (Format == UnknownFormatIndex)
        throw std::runtime_error(Path + ": a dump of " + std::to_string(Dump.size()) +
                                 " bytes is no diskette; it cannot be written as ImageDisk");
    const TFormatRow& Row = FormatTable[Format];
    DSK_GEOMETRY Geometry = GeometryOf(Row);
    TDsk Image(Path, true);
    for (int32_t Cylinder = 0; Cylinder < Row.Cylinders; ++Cylinder)
        for (int32_t Side = 0; Side < Row.Sides; ++Side)
            Image.Check(dsk_apform(Image.Driver, &Geometry, dsk_pcyl_t(Cylinder),
                                   dsk_phead_t(Side), 0xF6),
                        "track " + std::to_string(Cylinder) + " cannot be formatted");
    for (int32_t Sector = 0; Sector < Row.MediumSectors(); ++Sector)
        Image.Check(dsk_lwrite(Image.Driver, &Geometry, Dump.data() + size_t(Sector) * 512,
                               dsk_lsect_t(Sector)),
                    "sector " + std::to_string(Sector) + " cannot be written");
    Image.Close();
}
