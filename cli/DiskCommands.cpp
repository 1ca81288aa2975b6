#include "cli/DiskCommands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/FormatTable.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/FatBoot.h"
#include "platform/FileHandle.h"
#include "platform/Files.h"

namespace {

std::string Lower(std::string Text)
{
    std::transform(Text.begin(), Text.end(), Text.begin(),
                   [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
    return Text;
}

std::string Upper(char Letter)
{
    return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(Letter))));
}

// One line of the drive list: where the letter points and what it holds.
std::string Describe(char Letter)
{
    std::string Line = Upper(Letter) + ": ";
    std::string Entry = DriveTableEntry(Letter);
    std::string Target = DriveTarget(Letter);
    if (Target.empty())
        return Line + "not available";
    Line += Target + (Entry.empty() ? " (floppy drive, " : " (drive table, ");
    struct stat Info {};
    if (::stat(Target.c_str(), &Info) != 0)
        return Line + "missing)";
    int64_t Size = VolumeSizeOfTarget(Target);
    if (Size < 0)
        return Line + (S_ISBLK(Info.st_mode) ? "no medium or no FAT volume)" : "no FAT volume)");
    return Line + "volume of " + std::to_string(Size) + " bytes)";
}

}  // namespace

int FormatIndexOfName(const std::string& Name)
{
    static const char* const Names[5][5] = {
        {"2.88mb", "2.88", "288", "2880k", "2880kb"},
        {"1.44mb", "1.44", "144", "1440k", "1440kb"},
        {"1.2mb", "1.2", "120", "1200k", "1200kb"},
        {"720kb", "720k", "720", "0.72mb", "720"},
        {"360kb", "360k", "360", "0.36mb", "360"},
    };
    std::string Key = Lower(Name);
    if (!Key.empty() && Key[0] == '.')
        Key.erase(0, 1);
    for (int Index = 0; Index < 5; ++Index)
        for (const char* Known : Names[Index])
            if (Key == Known)
                return Index;
    return -1;
}

std::string FormatNameList()
{
    std::string List;
    for (unsigned Index = 0; Index < KnownFormatCount; ++Index)
        List += (Index == 0 ? "" : Index + 1 == KnownFormatCount ? " or " : ", ") +
                std::string(FormatOfIndex(Index).FormatName);
    return List;
}

int RunDrive(const TOptions& Options, std::ostream& Out)
{
    if (Options.DriveListing) {
        Out << "Drive table: " << DriveTableDir() << "\n";
        for (char Letter = 'a'; Letter <= 'z'; ++Letter)
            if (Letter < 'c' || !DriveTarget(Letter).empty())
                Out << Describe(Letter) << "\n";
        return 0;
    }
    if (Options.DriveClear) {
        if (ClearDriveTableEntry(Options.DriveLetter))
            Out << Upper(Options.DriveLetter) << ": removed from the drive table\n";
        else
            Out << Upper(Options.DriveLetter) << ": had no drive table entry\n";
        Out << Describe(Options.DriveLetter) << "\n";
        return 0;
    }
    // A drive stands for a floppy device or an image file; a missing file may come later.
    struct stat Info {};
    if (::stat(Options.Output.c_str(), &Info) == 0 && !S_ISREG(Info.st_mode) &&
        !S_ISBLK(Info.st_mode))
        throw std::runtime_error(Options.Output + (S_ISDIR(Info.st_mode)
                                                       ? ": is a directory"
                                                       : ": is neither a block device nor a file"));
    SetDriveTableEntry(Options.DriveLetter, Options.Output);
    Out << Describe(Options.DriveLetter) << "\n";
    return 0;
}

int RunFormat(const TOptions& Options, std::ostream& Out)
{
    const std::string& File = Options.Output;
    struct stat Info {};
    if (::stat(File.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode))
        throw std::runtime_error(File + ": is a directory");
    std::vector<uint8_t> Disk =
        MakeBlankDiskette(static_cast<unsigned>(Options.FormatIndex),
                          static_cast<uint32_t>(::time(nullptr)) ^ static_cast<uint32_t>(::getpid()));
    TFileHandle Target(::open(File.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!Target.Valid())
        throw std::runtime_error(errno == EEXIST
                                     ? "Will not replace the existing file " + File
                                     : "Cannot create " + File + ": " + std::strerror(errno));
    bool Ok = WriteAll(Target.Get(), Disk.data(), Disk.size());
    int Error = Ok ? 0 : errno;
    Ok = Ok && ::fsync(Target.Get()) == 0;
    if (!Ok && Error == 0)
        Error = errno;
    Ok = Target.Close() && Ok;
    if (!Ok) {
        // Only what we created goes away.
        ::unlink(File.c_str());
        throw std::runtime_error("Cannot write " + File + ": " + std::strerror(Error ? Error : EIO));
    }
    const TFormatRow& Row = FormatOfIndex(static_cast<unsigned>(Options.FormatIndex));
    Out << File << ": blank " << Row.FormatName << " diskette, " << Disk.size() << " bytes, "
        << FatVolumeSize(Disk.data(), Disk.size()) << " bytes free\n";
    return 0;
}
