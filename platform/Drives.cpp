#include "platform/Drives.h"

#include "platform/Errors.h"
#include "platform/FatBoot.h"
#include "platform/FileHandle.h"
#include "platform/UserDirs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool ValidLetter(char Letter) { return std::isalpha(static_cast<unsigned char>(Letter)); }

std::string EntryPath(char Letter)
{
    return DriveTableDir() +
           static_cast<char>(std::tolower(static_cast<unsigned char>(Letter))) + ":";
}

bool IsBlockDevice(const std::string& Path)
{
    struct stat Info {};
    return ::stat(Path.c_str(), &Info) == 0 && S_ISBLK(Info.st_mode);
}

std::string ReadFirstWord(const std::string& Path)
{
    std::ifstream In(Path);
    std::string Word;
    In >> Word;
    return Word;
}

// Whether a sysfs device directory sits below a USB interface of the floppy kind: mass
// storage (class 08) with the UFI command set (subclass 04).
bool BelowFloppyInterface(std::string Dir, const std::string& SysRoot)
{
    while (Dir.size() > SysRoot.size()) {
        std::string Class = ReadFirstWord(Dir + "/bInterfaceClass");
        if (!Class.empty())
            return Class == "08" && ReadFirstWord(Dir + "/bInterfaceSubClass") == "04";
        Dir.erase(Dir.rfind('/'));
    }
    return false;
}

std::vector<std::string> SortedEntries(const std::string& Dir)
{
    std::vector<std::string> Names;
    if (DIR* Listing = ::opendir(Dir.c_str())) {
        while (const dirent* Entry = ::readdir(Listing))
            if (Entry->d_name[0] != '.')
                Names.emplace_back(Entry->d_name);
        ::closedir(Listing);
    }
    std::sort(Names.begin(), Names.end());
    return Names;
}

}  // namespace

std::string DriveTableDir() { return ConfigDir() + "dosdevices/"; }

std::string DriveTableEntry(char Letter)
{
    if (!ValidLetter(Letter))
        return "";
    char Target[PATH_MAX];
    ssize_t Length = ::readlink(EntryPath(Letter).c_str(), Target, sizeof Target - 1);
    if (Length <= 0)
        return "";
    std::string Entry(Target, static_cast<size_t>(Length));
    if (Entry[0] == '/')
        return Entry;
    // The kernel follows a relative link from the link's folder, whatever the current folder.
    Entry = DriveTableDir() + Entry;
    char Resolved[PATH_MAX];
    return ::realpath(Entry.c_str(), Resolved) ? std::string(Resolved) : Entry;
}

void SetDriveTableEntry(char Letter, const std::string& Target)
{
    if (!ValidLetter(Letter))
        throw EAPIException(std::string("Not a drive letter: ") + Letter);
    if (Target.empty())
        throw EAPIException("No file or device given for drive " +
                            std::string(1, static_cast<char>(std::toupper(Letter))) + ":");
    std::string Absolute = Target;
    if (Absolute[0] != '/') {
        char Cwd[PATH_MAX];
        if (!::getcwd(Cwd, sizeof Cwd))
            throw EAPIException("Cannot resolve " + Target);
        Absolute = std::string(Cwd) + "/" + Target;
    }
    std::string Table = EnsureConfigDir("Cannot create the drive table in " + ConfigDir());
    Table += "dosdevices";
    if (::mkdir(Table.c_str(), 0700) != 0 && errno != EEXIST)
        throw EAPIException("Cannot create the drive table " + Table + "/");
    // A new link renamed over the old one: the entry is never missing in between.
    std::string Entry = EntryPath(Letter);
    std::string Temporary = Entry + ".new" + std::to_string(::getpid());
    ::unlink(Temporary.c_str());
    if (::symlink(Absolute.c_str(), Temporary.c_str()) != 0 ||
        ::rename(Temporary.c_str(), Entry.c_str()) != 0) {
        ::unlink(Temporary.c_str());
        throw EAPIException("Cannot set drive " +
                            std::string(1, static_cast<char>(std::toupper(Letter))) + ": in " +
                            Entry);
    }
}

bool ClearDriveTableEntry(char Letter)
{
    if (!ValidLetter(Letter))
        return false;
    std::string Entry = EntryPath(Letter);
    struct stat Info {};
    return ::lstat(Entry.c_str(), &Info) == 0 && ::unlink(Entry.c_str()) == 0;
}

std::vector<std::string> DetectFloppyDrives(const std::string& DevRoot, const std::string& SysRoot)
{
    std::vector<std::string> Drives;
    for (const char* Name : {"fd0", "fd1"})
        if (IsBlockDevice(DevRoot + "/" + Name))
            Drives.push_back(DevRoot + "/" + Name);
    for (const std::string& Name : SortedEntries(SysRoot + "/block")) {
        if (Name.compare(0, 2, "sd") != 0)
            continue;
        char Resolved[PATH_MAX];
        if (!::realpath((SysRoot + "/block/" + Name).c_str(), Resolved))
            continue;
        char Root[PATH_MAX];
        if (!::realpath(SysRoot.c_str(), Root))
            continue;
        struct stat Node {};
        if (BelowFloppyInterface(Resolved, Root) &&
            ::stat((DevRoot + "/" + Name).c_str(), &Node) == 0)
            Drives.push_back(DevRoot + "/" + Name);
    }
    return Drives;
}

std::vector<std::string> DetectedFloppyDrives() { return DetectFloppyDrives("/dev", "/sys"); }

std::string DriveTarget(char Letter)
{
    std::string Entry = DriveTableEntry(Letter);
    if (!Entry.empty())
        return Entry;
    int Index = std::toupper(static_cast<unsigned char>(Letter)) - 'A';
    if (Index != 0 && Index != 1)
        return "";
    std::vector<std::string> Floppies = DetectedFloppyDrives();
    return static_cast<size_t>(Index) < Floppies.size() ? Floppies[Index] : "";
}

std::vector<std::string> DriveList()
{
    std::vector<std::string> List;
    std::vector<std::string> Floppies = DetectedFloppyDrives();
    for (char Letter = 'a'; Letter <= 'z'; ++Letter) {
        std::string Target = DriveTableEntry(Letter);
        size_t Index = static_cast<size_t>(Letter - 'a');
        if (Target.empty() && Index < 2 && Index < Floppies.size())
            Target = Floppies[Index];
        if (!Target.empty())
            List.push_back(std::string(1, Letter) + ": [" + Target + "]");
    }
    return List;
}

std::string LoopDeviceBackedBy(uint64_t Device, uint64_t Inode, const std::string& SysRoot)
{
    // The path a loop device shows may name the file by another way (a link, another mount):
    // compare the files themselves.
    for (const std::string& Name : SortedEntries(SysRoot + "/block")) {
        if (Name.compare(0, 4, "loop") != 0)
            continue;
        std::ifstream In(SysRoot + "/block/" + Name + "/loop/backing_file");
        std::string Backing;
        if (!std::getline(In, Backing) || Backing.empty())
            continue;
        struct stat Info {};
        if (::stat(Backing.c_str(), &Info) == 0 && static_cast<uint64_t>(Info.st_dev) == Device &&
            static_cast<uint64_t>(Info.st_ino) == Inode)
            return "/dev/" + Name;
    }
    return "";
}

namespace {

// The first bytes of Target (up to Size), read without blocking on an empty floppy drive;
// -1 when it cannot be opened, else what was read (-errno when the read failed).
ssize_t ReadStart(const std::string& Target, uint8_t* Data, size_t Size)
{
    if (Target.empty())
        return -1;
    // Non-blocking: an empty floppy drive answers at once instead of hanging the caller.
    const TFileHandle File(::open(Target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!File.Valid())
        return -1;
    ssize_t Got = ::pread(File.Get(), Data, Size, 0);
    if (Got < 0)
        Got = errno == ENOMEDIUM || errno == ENXIO ? -1 : -errno - 1;
    return Got;
}

}  // namespace

int64_t VolumeSizeOfTarget(const std::string& Target)
{
    uint8_t Sector[4096];
    const ssize_t Got = ReadStart(Target, Sector, sizeof Sector);
    if (Got < 512)
        return -1;
    return FatVolumeSize(Sector, static_cast<size_t>(Got));
}

bool BootParametersOfTarget(const std::string& Target, TBootParameters& P)
{
    uint8_t Sector[4096];
    const ssize_t Got = ReadStart(Target, Sector, sizeof Sector);
    return Got >= 512 && ParseBootSector(Sector, static_cast<size_t>(Got), P);
}

TMediumProbe ProbeMedium(const std::string& Target)
{
    TMediumProbe Probe;
    struct stat Info {};
    if (Target.empty() || ::stat(Target.c_str(), &Info) != 0)
        return Probe;
    Probe.BlockDevice = S_ISBLK(Info.st_mode);
    uint8_t Sector[512];
    const ssize_t Got = ReadStart(Target, Sector, sizeof Sector);
    if (Got == -1) {
        Probe.Kind = TMediumProbe::NoMedium;
        return Probe;
    }
    Probe.Kind = Got == ssize_t(sizeof Sector) ? TMediumProbe::Readable : TMediumProbe::Unreadable;
    Probe.Bytes = Info.st_size;
    if (Probe.BlockDevice) {
        const TFileHandle File(::open(Target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        uint64_t Bytes = 0;
        if (File.Valid() && ::ioctl(File.Get(), BLKGETSIZE64, &Bytes) == 0)
            Probe.Bytes = Bytes > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(Bytes);
    }
    return Probe;
}

int64_t VolumeSize(char Letter) { return VolumeSizeOfTarget(DriveTarget(Letter)); }
