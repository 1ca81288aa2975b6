#include "cli/FileCommands.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>

#include "cli/Commands.h"
#include "cli/ImageInfo.h"
#include "compress/LZRW1.h"
#include "compress/Streams.h"
#include "imaging/ForeignImage.h"
#include "platform/AtomicFile.h"
#include "platform/FileHandle.h"

namespace fs = std::filesystem;

namespace {

void PrintProblem(std::ostream& Err, const std::string& About, const std::string& Problem)
{
    Err << "marrowtide-img: " << About << ": " << Problem << "\n";
}

}  // namespace

bool ReportProblems(const TFatVolume& Volume, const std::string& Image, std::ostream& Err)
{
    for (const std::string& Problem : Volume.Problems())
        PrintProblem(Err, Image, Problem);
    bool Any = !Volume.Problems().empty();
    for (const TFatEntry& Entry : Volume.Entries())
        for (const std::string& Problem : Entry.Problems) {
            PrintProblem(Err, Image + ": " + Entry.Path, Problem);
            Any = true;
        }
    return Any;
}

namespace {

std::string Upper(std::string Text)
{
    for (char& C : Text)
        if (C >= 'a' && C <= 'z')
            C = static_cast<char>(C - 'a' + 'A');
    return Text;
}

bool Matches(const std::string& Pattern, const std::string& Text, int Flags)
{
    if (fnmatch(Upper(Pattern).c_str(), Upper(Text).c_str(), Flags) == 0)
        return true;
    // To DOS "NAME.*" also takes a name without an extension.
    return Pattern.size() > 2 && Pattern.ends_with(".*") && Text.find('.') == std::string::npos &&
           fnmatch(Upper(Pattern.substr(0, Pattern.size() - 2)).c_str(), Upper(Text).c_str(),
                   Flags) == 0;
}

// Whether the entry at Index is to be written; each pattern that matches it is marked in Used.
bool Selected(const std::vector<std::string>& Patterns, const std::vector<TFatEntry>& Entries,
              size_t Index, const std::vector<bool>& Chosen, std::vector<bool>& Used)
{
    if (Patterns.empty())
        return true;
    const TFatEntry& Entry = Entries[Index];
    // A folder that matches brings everything in it.
    for (size_t Up = Index; Up-- > 0;)
        if (Entries[Up].Depth < Entry.Depth && Entries[Up].IsDirectory() &&
            Entry.Path.starts_with(Entries[Up].Path + "/")) {
            if (Chosen[Up])
                return true;
            break;
        }
    bool Any = false;
    for (size_t i = 0; i < Patterns.size(); ++i)
        if (MatchesPattern(Patterns[i], Entry))
            Any = Used[i] = true;
    return Any;
}

std::string SizeColumn(const TFatEntry& Entry)
{
    std::ostringstream Text;
    Text << std::setw(9) << (Entry.IsDirectory() ? std::string("<DIR>") : std::to_string(Entry.Size));
    return Text.str();
}

std::string DeletedNote(const TFatEntry& Entry)
{
    const uint32_t Wanted = Entry.IsDirectory() ? Entry.IntactBytes : Entry.Size;
    if (Entry.IsDirectory())
        return Entry.IntactBytes ? "  (deleted; its first cluster intact)"
                                 : "  (deleted; its first cluster overwritten)";
    if (Wanted == 0)
        return "  (deleted; empty)";
    if (Entry.IntactBytes == Wanted)
        return "  (deleted; all " + std::to_string(Wanted) + " bytes intact)";
    if (Entry.IntactBytes == 0)
        return "  (deleted; overwritten)";
    return "  (deleted; " + std::to_string(Entry.IntactBytes) + " of " + std::to_string(Wanted) +
           " bytes intact)";
}

void ListVolume(const TFatVolume& Volume, const TLoadedDump& Dump, const std::string& Image,
                std::ostream& Out)
{
    Out << Image << ": " << Dump.Kind << ", " << DiskFormatText(int64_t(Dump.Bytes.size()))
        << ", FAT" << Volume.FatBits() << "\n";
    Out << "  label: " << (Volume.Label().empty() ? "(none)" : Volume.Label())
        << ", serial: " << (Volume.HasSerial() ? Volume.SerialText() : "(none)")
        << ", OEM name: " << (Volume.OemName().empty() ? "(none)" : Volume.OemName()) << "\n";
    uint64_t Files = 0, Folders = 0, Bytes = 0;
    for (const TFatEntry& Entry : Volume.Entries()) {
        std::string Date = FatTimeText(Entry.Date, Entry.Time);
        Date.resize(19, ' ');
        Out << SizeColumn(Entry) << "  " << Date << "  " << FatAttributeText(Entry.Attributes)
            << "  " << std::string(size_t(Entry.Depth) * 2, ' ') << Entry.Name
            << (Entry.IsDirectory() ? "/" : "");
        if (Entry.Name != Entry.ShortName)
            Out << "  [" << Entry.ShortName << "]";
        if (Entry.Deleted) {
            Out << DeletedNote(Entry) << "\n";
            continue;
        }
        Out << "\n";
        if (Entry.IsDirectory()) {
            ++Folders;
        } else {
            ++Files;
            Bytes += Entry.Size;
        }
    }
    Out << "  " << Files << (Files == 1 ? " file, " : " files, ") << Folders
        << (Folders == 1 ? " folder, " : " folders, ") << Bytes << " bytes; "
        << Volume.FreeBytes() << " bytes free\n";
}

// Sets a file's or folder's modification time to the entry's.
bool SetTime(const fs::path& Path, const TFatEntry& Entry)
{
    const timespec Times[2] = {{0, UTIME_OMIT}, {FatTimeToUnix(Entry.Date, Entry.Time), 0}};
    return ::utimensat(AT_FDCWD, Path.c_str(), Times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool WriteAll(int Fd, const std::vector<uint8_t>& Bytes)
{
    for (size_t Done = 0; Done < Bytes.size();) {
        const ssize_t Put = ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
        if (Put < 0 && errno == EINTR)
            continue;
        if (Put <= 0)
            return false;
        Done += size_t(Put);
    }
    return true;
}

// Writes one file in place, replacing an existing one only with Force. "" or why not.
std::string ExtractFile(const TFatVolume& Volume, const TFatEntry& Entry, const fs::path& Target,
                        bool Force)
{
    std::vector<uint8_t> Bytes;
    try {
        Bytes = Volume.ReadFile(Entry);
    } catch (const EFatError& E) {
        // The text begins with the entry's path, which the caller names already.
        return "not extracted: " + std::string(E.what()).substr(Entry.Path.size() + 2);
    }
    struct stat Info {};
    if (::lstat(Target.c_str(), &Info) == 0) {
        if (S_ISDIR(Info.st_mode))
            return Target.string() + " is a folder";
        if (!Force)
            return Target.string() + " already exists; use -f to overwrite";
    }
    TAtomicFile File;
    const mode_t Mode = Entry.Attributes & FatReadOnly ? 0444 : 0644;
    if (!File.Open(Target.string(), Mode) || !WriteAll(File.Handle(), Bytes) ||
        !File.Commit(false))
        return "cannot write " + Target.string() + ": " + std::strerror(errno);
    if (!SetTime(Target, Entry))
        return "cannot set the time of " + Target.string() + ": " + std::strerror(errno);
    return "";
}

int ExtractImage(const std::string& Image, const TOptions& Options, std::ostream& Out,
                 std::ostream& Err)
{
    const TLoadedDump Dump = LoadDump(Image);
    TFatVolume Volume(Dump.Bytes);
    for (const std::string& Problem : Volume.Problems())
        PrintProblem(Err, Image, Problem);
    int Status = Volume.Problems().empty() ? 0 : 1;
    const fs::path Root = Options.HasOutputDir ? fs::path(Options.OutputDir) : fs::path(".");
    std::error_code Error;
    fs::create_directories(Root, Error);
    if (Error)
        throw std::runtime_error("cannot make the folder " + Root.string() + ": " + Error.message());

    const std::vector<TFatEntry>& Entries = Volume.Entries();
    std::vector<bool> Chosen(Entries.size(), false);
    std::vector<bool> Used(Options.Patterns.size(), false);
    std::vector<size_t> Folders;
    size_t Files = 0;
    for (size_t i = 0; i < Entries.size(); ++i) {
        const TFatEntry& Entry = Entries[i];
        Chosen[i] = Selected(Options.Patterns, Entries, i, Chosen, Used);
        if (!Chosen[i])
            continue;
        for (const std::string& Problem : Entry.Problems) {
            PrintProblem(Err, Image + ": " + Entry.Path, Problem);
            Status = 1;
        }
        // Names are safe path components: the path stays inside Root.
        const fs::path Target = Root / fs::path(Entry.Path);
        fs::create_directories(Entry.IsDirectory() ? Target : Target.parent_path(), Error);
        if (Error) {
            PrintProblem(Err, Image + ": " + Entry.Path,
                         "cannot make the folder " + Target.string() + ": " + Error.message());
            Status = 1;
            continue;
        }
        if (Entry.IsDirectory()) {
            Folders.push_back(i);
            continue;
        }
        const std::string Failure = ExtractFile(Volume, Entry, Target, Options.Force);
        if (!Failure.empty()) {
            PrintProblem(Err, Image + ": " + Entry.Path, Failure);
            Status = 1;
            continue;
        }
        ++Files;
    }
    for (size_t i = 0; i < Used.size(); ++i)
        if (!Used[i]) {
            PrintProblem(Err, Image, "no file matches " + Options.Patterns[i]);
            Status = 1;
        }
    // Last, as writing into a folder changes its time; the deepest first.
    for (auto Folder = Folders.rbegin(); Folder != Folders.rend(); ++Folder)
        SetTime(Root / fs::path(Entries[*Folder].Path), Entries[*Folder]);
    // One flush for all the files written.
    const TFileHandle RootFolder(::open(Root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!RootFolder.Valid() || ::syncfs(RootFolder.Get()) != 0) {
        PrintProblem(Err, Root.string(), std::string("cannot flush to the disk: ") + std::strerror(errno));
        Status = 1;
    }
    if (!Options.Quiet)
        Out << Image << ": " << Files << (Files == 1 ? " file" : " files") << " extracted into "
            << Root.string() << "\n";
    return Status;
}

}  // namespace

TLoadedDump LoadDump(const std::string& Path)
{
    RefuseNonFile(Path);
    std::ifstream In(Path, std::ios::binary);
    if (!In)
        throw std::runtime_error("cannot open " + Path + ": " + std::strerror(errno));
    TLoadedDump Dump;
    Dump.Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    if (In.bad())
        throw std::runtime_error("cannot read " + Path + ": " + std::strerror(errno));
    Dump.FileSize = int64_t(Dump.Bytes.size());
    TImageHeader Header;
    try {
        Header = ReadImageHeader(Dump.Bytes.data(), Dump.Bytes.size(), Path);
    } catch (const std::runtime_error&) {
        const std::string Foreign = ForeignImageKind(Dump.Bytes.data(), Dump.Bytes.size(),
                                                      int64_t(Dump.Bytes.size()));
        if (Foreign.empty()) {
            Dump.Kind = "raw dump";
            return Dump;
        }
        Dump.Kind = Foreign + " image";
        Dump.Bytes = ReadForeignImage(Dump.Bytes, Path);
        return Dump;
    }
    Dump.Codec = Header.Codec == TImageCodec::Lzh ? "LZH" : "LZRW1/KH";
    Dump.Kind = Dump.Codec + " image";
    TMemoryStream Decoded;
    try {
        RunEngineInMemory(std::move(Dump.Bytes), false, Decoded);
    } catch (const std::runtime_error& E) {
        throw std::runtime_error(Path + ": " + E.what());
    }
    Dump.Bytes = std::move(Decoded.Bytes);
    return Dump;
}

bool MatchesPattern(const std::string& Pattern, const TFatEntry& Entry)
{
    if (Pattern.find('/') != std::string::npos) {
        const std::string Relative = Pattern.starts_with('/') ? Pattern.substr(1) : Pattern;
        return Matches(Relative, Entry.Path, FNM_PATHNAME);
    }
    return Matches(Pattern, Entry.Name, 0) || Matches(Pattern, Entry.ShortName, 0);
}

int RunLs(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    int Status = 0;
    for (size_t i = 0; i < Options.Inputs.size(); ++i) {
        const std::string& Image = Options.Inputs[i];
        try {
            const TLoadedDump Dump = LoadDump(Image);
            const TFatVolume Volume(Dump.Bytes, Options.Deleted);
            if (i > 0)
                Out << "\n";
            ListVolume(Volume, Dump, Image, Out);
            Out.flush();
            if (ReportProblems(Volume, Image, Err))
                Status = 1;
        } catch (const EFatError& E) {
            PrintProblem(Err, Image, std::string("holds no FAT volume that can be read: ") + E.what());
            Status = 1;
        } catch (const std::runtime_error& E) {
            Err << "marrowtide-img: " << E.what() << "\n";
            Status = 1;
        }
    }
    return Status;
}

int RunExtract(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    const std::string& Image = Options.Inputs[0];
    try {
        return ExtractImage(Image, Options, Out, Err);
    } catch (const EFatError& E) {
        PrintProblem(Err, Image, std::string("holds no FAT volume that can be read: ") + E.what());
        return 1;
    }
}
