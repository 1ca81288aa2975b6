#include "cli/DiskCommands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/Commands.h"
#include "core/FormatTable.h"
#include "platform/AtomicFile.h"
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

// A file of Size bytes can be a diskette: a dump of one of the formats, or just its tracks.
bool DisketteSize(int64_t Size)
{
    // The dump lengths of every format the tool takes, and what each medium holds.
    return FormatIndexOfDumpSize(Size, true) != UnknownFormatIndex;
}

}  // namespace

int FormatIndexOfName(const std::string& Name)
{
    std::string Key = Lower(Name);
    if (!Key.empty() && Key[0] == '.')
        Key.erase(0, 1);
    if (Key == "dmf")
        return FormatIndexOfName("1.68MB");
    for (const TFormatRow& Row : FormatTable) {
        if (!IsKnownFormat(Row.FormatIndex, true))
            continue;
        // "1.44mb", "1.44", "144", "1440k", "1440kb"; "720kb", "720k", "720", "0.72mb".
        const std::string Full = Lower(std::string(Row.FormatName));
        const std::string Number = Full.substr(0, Full.size() - 2);
        const std::string Digits(Row.Extension.substr(1));
        const std::vector<std::string> Names =
            Full.ends_with("mb")
                ? std::vector<std::string>{Full, Number, Digits, Digits + "0k", Digits + "0kb"}
                : std::vector<std::string>{Full, Number + "k", Digits, "0." + Digits.substr(0, 2) + "mb"};
        if (std::find(Names.begin(), Names.end(), Key) != Names.end())
            return Row.FormatIndex;
    }
    return -1;
}

std::string FormatNameList()
{
    std::string List;
    for (const TFormatRow& Row : FormatTable)
        if (IsKnownFormat(Row.FormatIndex, true))
            List += (List.empty() ? "" : Row.FormatIndex + 1u == FormatTable.size() ? " or " : ", ") +
                    std::string(Row.FormatName);
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
    // A cut-short or foreign file would be read and written as if it were a diskette.
    if (S_ISREG(Info.st_mode) && !DisketteSize(Info.st_size))
        throw std::runtime_error(Options.Output + ": holds " + std::to_string(Info.st_size) +
                                 " bytes, the size of no diskette");
    SetDriveTableEntry(Options.DriveLetter, Options.Output);
    Out << Describe(Options.DriveLetter) << "\n";
    return 0;
}

namespace {

// Fails, naming File, unless File may take a new blank diskette; gives where it goes (the file
// a link points to, when it is replaced).
std::string FormatTarget(std::string File, bool Force)
{
    struct stat Info {};
    if (::stat(File.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode))
        throw std::runtime_error(File + ": is a directory");
    if (::stat(File.c_str(), &Info) == 0 && !S_ISREG(Info.st_mode))
        throw std::runtime_error(File + ": is not a regular file; a virtual diskette is one");
    if (::lstat(File.c_str(), &Info) == 0 && !Force)
        throw std::runtime_error(File + ": already exists; use -f to overwrite");
    // As pack does: a link keeps pointing where it did, at a blank diskette now.
    if (Force)
        if (char* Real = ::realpath(File.c_str(), nullptr)) {
            File = Real;
            std::free(Real);
        }
    return File;
}

// Written whole before it takes the name: a killed run leaves no part of a diskette.
void WriteBlank(const std::string& File, const std::vector<uint8_t>& Disk, bool Force)
{
    TAtomicFile Blank;
    if (!Blank.Open(File, 0644, Force))
        throw std::runtime_error(errno == EEXIST
                                     ? File + ": already exists; use -f to overwrite"
                                     : "Cannot create " + File + ": " + std::strerror(errno));
    if (!WriteAll(Blank.Handle(), Disk.data(), Disk.size()) || !Blank.Commit()) {
        const int Error = errno ? errno : EIO;
        if (Error == EEXIST)
            throw std::runtime_error(File + ": already exists; use -f to overwrite" +
                                     (Blank.KeptAs().empty() ? "" : "; the blank diskette is " +
                                                                        Blank.KeptAs()));
        throw std::runtime_error("Cannot write " + File + ": " + std::strerror(Error));
    }
}

}  // namespace

int RunFormat(const TOptions& Options, std::ostream& Out)
{
    const bool ToStdout = Options.Output == "/dev/stdout";
    if (ToStdout)
        RefuseTerminal(Options.Output, Options.Force, "a diskette's data");
    const std::string File = ToStdout ? Options.Output : FormatTarget(Options.Output, Options.Force);
    const std::vector<uint8_t> Disk =
        MakeBlankDiskette(static_cast<unsigned>(Options.FormatIndex),
                          static_cast<uint32_t>(::time(nullptr)) ^ static_cast<uint32_t>(::getpid()));
    if (ToStdout)
        WriteOutput(File, Disk.data(), Disk.size(), true, "the blank diskette");
    else
        WriteBlank(File, Disk, Options.Force);
    const TFormatRow& Row = FormatOfIndex(static_cast<unsigned>(Options.FormatIndex), true);
    Out << File << ": blank " << Row.FormatName << " diskette, " << Disk.size() << " bytes, "
        << FatVolumeSize(Disk.data(), Disk.size()) << " bytes free\n";
    return 0;
}
