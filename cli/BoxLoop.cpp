#include "cli/BoxLoop.h"

#include <unistd.h>
#include <sys/stat.h>


#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <iomanip>
#include <sstream>
#include <vector>

#include "cli/Checksums.h"
#include "cli/Console.h"
#include "cli/DisketteCommands.h"
#include "cli/ImageInfo.h"
#include "cli/ImageName.h"
#include "cli/Interrupts.h"
#include "cli/Rescue.h"
#include "cli/JsonText.h"
#include "cli/Session.h"
#include "platform/AtomicFile.h"
#include "platform/Drives.h"
#include "fat/FatVolume.h"
#include "platform/FatBoot.h"

namespace {

bool Exists(const std::string& Path)
{
    struct stat Info {};
    return ::lstat(Path.c_str(), &Info) == 0;
}

// What the box loop keeps of one diskette.
struct TBoxLine {
    std::string File;
    std::string Format = "-";
    int64_t RawSize = 0;
    int64_t ImageSize = 0;
    std::string Ratio = "-";
    TChecksums Sums;
    double Seconds = 0;
    std::string Result;
    int64_t Unreadable = 0;  // sectors a rescue could not read
    bool Described = false;  // the fields above were read back from the image
    // The volume's, when the dump holds a FAT volume.
    bool HasVolume = false;
    std::string Label;
    std::string Serial;
};

std::string CsvField(const std::string& Text)
{
    if (Text.find_first_of(",\"\n\r") == std::string::npos)
        return Text;
    std::string Quoted = "\"";
    for (const char C : Text)
        Quoted += C == '"' ? std::string("\"\"") : std::string(1, C);
    return Quoted + "\"";
}

const char* const LogHeader =
    "file,format,raw_size,image_size,ratio,crc32,md5,sha1,seconds,result,unreadable";

std::string CsvLine(const TBoxLine& Line)
{
    std::ostringstream Text;
    Text << CsvField(Line.File) << "," << Line.Format << "," << Line.RawSize << ","
         << Line.ImageSize << "," << Line.Ratio << "," << Line.Sums.Crc32 << "," << Line.Sums.Md5
         << "," << Line.Sums.Sha1 << "," << std::fixed << std::setprecision(1) << Line.Seconds
         << "," << CsvField(Line.Result) << "," << Line.Unreadable;
    return Text.str();
}

// A log named *.jsonl gets the same fields as JSON Lines, with the label and serial.
std::string JsonLine(const TBoxLine& Line)
{
    const bool Read = Line.Described;
    TJson Json;
    Json["file"] = OrNull(!Line.File.empty(), Line.File);
    Json["format"] = OrNull(Read, Line.Format);
    Json["raw_size"] = OrNull(Read, Line.RawSize);
    Json["image_size"] = OrNull(Read, Line.ImageSize);
    Json["ratio"] = OrNull(Read && Line.RawSize > 0, std::strtod(Line.Ratio.c_str(), nullptr));
    Json["crc32"] = OrNull(Read, Line.Sums.Crc32);
    Json["md5"] = OrNull(Read, Line.Sums.Md5);
    Json["sha1"] = OrNull(Read, Line.Sums.Sha1);
    Json["seconds"] = std::round(Line.Seconds * 10) / 10;
    Json["result"] = Line.Result;
    Json["unreadable"] = Line.Unreadable;
    Json["label"] = OrNull(Line.HasVolume, Line.Label);
    Json["serial"] = OrNull(!Line.Serial.empty(), Line.Serial);
    return JsonText(Json);
}

bool IsJsonLines(const std::string& Log)
{
    return HasExtension(Log, ".jsonl");
}

// The sizes, checksums and volume of the dump the finished image holds, decoded again from the
// file.
void Describe(TBoxLine& Line)
{
    std::vector<uint8_t> Whole;
    const TImageInfo Info = ReadImageInfo(Line.File, &Whole);
    TMemoryStream Dump;
    RunEngineInMemory(std::move(Whole), false, Dump);
    Line.Sums = ChecksumsOf(Dump.Bytes);
    Line.Format = DiskFormatText(Info.OriginalSize);
    Line.RawSize = Info.OriginalSize;
    Line.ImageSize = Info.CompressedSize;
    Line.Ratio = RatioText(Info.CompressedSize, Info.OriginalSize);
    Line.Described = true;
    try {
        const TFatVolume Volume(Dump.Bytes);
        Line.Label = Volume.Label();
        Line.Serial = Volume.SerialText();
        Line.HasVolume = true;
    } catch (const EFatError&) {
        // A diskette of another file system has neither.
    }
}

// What the drive shows: whether a diskette is in, and which one.
struct TMedium {
    bool Present = false;
    std::string Target;
    dev_t Device = 0;
    ino_t Inode = 0;
    int64_t Size = -1;
    int64_t Modified = 0;

    bool SameAs(const TMedium& Other) const
    {
        return Target == Other.Target && Device == Other.Device && Inode == Other.Inode &&
               Size == Other.Size && Modified == Other.Modified;
    }
};

TMedium Look(char Letter)
{
    TMedium Medium;
    Medium.Target = DriveTarget(Letter);
    struct stat Info {};
    if (Medium.Target.empty() || ::stat(Medium.Target.c_str(), &Info) != 0)
        return Medium;
    Medium.Device = Info.st_dev;
    Medium.Inode = Info.st_ino;
    Medium.Size = Info.st_size;
    Medium.Modified = int64_t(Info.st_mtim.tv_sec) * 1000000000 + Info.st_mtim.tv_nsec;
    Medium.Present = VolumeSizeOfTarget(Medium.Target) >= 0;
    return Medium;
}

// Standard input can tell the loop to go on or stop: a terminal, a pipe or a file, not a
// null device.
bool InputWatched()
{
    struct stat Info {};
    if (::fstat(STDIN_FILENO, &Info) != 0)
        return false;
    return ::isatty(STDIN_FILENO) || S_ISFIFO(Info.st_mode) || S_ISSOCK(Info.st_mode) ||
           S_ISREG(Info.st_mode);
}

enum class TNext { Go, Stop };

// Waits for the next diskette: with Previous, until it was taken out and another put in (or the
// drive table's entry or its file changed); without, until a diskette is in. Enter goes on at
// once; q, end of input or Ctrl-C stop.
TNext WaitForDiskette(char Letter, const TMedium* Previous, TConsolePort& Port)
{
    bool SawEmpty = false;
    bool Told = false;
    const bool Watched = InputWatched();
    for (;;) {
        if (Interrupted())
            return TNext::Stop;
        const TMedium Now = Look(Letter);
        SawEmpty = SawEmpty || !Now.Present;
        if (Now.Present && (!Previous || SawEmpty || !Now.SameAs(*Previous)))
            return TNext::Go;
        if (!Told) {
            Port.Note(Previous ? "Take the diskette out of " + DriveName(Letter) +
                                     " and put in the next one (Enter when it is in, q to stop)."
                               : "Put a diskette into " + DriveName(Letter) +
                                     " (Enter when it is in, q to stop).");
            Told = true;
        }
        if (!Watched) {
            Nap(500);
            continue;
        }
        std::string Line;
        switch (ReadTypedLine(500, Line)) {
        case TTyped::Line:
            if (Line == "q" || Line == "Q")
                return TNext::Stop;
            return TNext::Go;
        case TTyped::Stop:
            return TNext::Stop;
        case TTyped::Nothing:
            break;
        }
    }
}

std::string ReadLabel(char Letter)
{
    std::ifstream In(DriveTarget(Letter), std::ios::binary);
    std::vector<uint8_t> Start(64 * 1024);
    In.read(reinterpret_cast<char*>(Start.data()), std::streamsize(Start.size()));
    return FatVolumeLabel(std::span<const uint8_t>(Start.data(), static_cast<size_t>(In.gcount())));
}

// The names of one box: each finished image takes the first free number from the last one taken
// on. It is made under a name of this run's own first, so that another run imaging into the same
// folder can take a number meanwhile without either image being lost.
class TBoxNames {
public:
    explicit TBoxNames(std::string Pattern) : Pattern(std::move(Pattern)) {}

    std::string Staging(int FormatIndex, const std::string& DiskLabel)
    {
        Format = FormatIndex;
        Label = DiskLabel;
        const std::filesystem::path First = NameOf(Next);
        const std::filesystem::path Folder = First.has_parent_path() ? First.parent_path() : ".";
        return Folder / (".marrowtide-box-" + std::to_string(::getpid()) + "-" +
                         std::to_string(++Staged) + First.extension().string());
    }

    // Moves the finished image Made to its name; throws, saying where it stays, when it cannot.
    // Stoppable: Ctrl-C ends the search (not while keeping what an interrupted rescue read).
    std::string Place(const std::string& Made, bool Stoppable = true)
    {
        for (int Number = Next; Number < Next + MostTries && !(Stoppable && Interrupted());
             ++Number) {
            const std::string Name = NameOf(Number);
            const int Error = RenameWithoutReplacing(Made, Name);
            if (Error == 0) {
                Next = Number + 1;
                return Name;
            }
            if (Error != EEXIST)
                throw std::runtime_error(Name + " cannot be made: " + std::strerror(Error) +
                                         "; the image stays as " + Made);
        }
        throw std::runtime_error("no free name from " + NameOf(Next) + " on; the image stays as " +
                                 Made);
    }

private:
    static constexpr int MostTries = 1000000;

    std::string NameOf(int Number) const
    {
        // The table's extension without its dot: "box-{n}.{ext}" gives box-1.720.
        const std::string Extension(FormatOfIndex(static_cast<unsigned>(Format)).Extension.substr(1));
        return WithFormatExtension(ExpandImageName(Pattern, Number, Label, Extension), Format);
    }

    const std::string Pattern;
    int Next = 1;
    int Format = 0;
    std::string Label;
    int Staged = 0;
};

}  // namespace

int RunBox(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    std::ofstream Log;
    const bool Json = IsJsonLines(Options.LogFile);
    if (!Options.LogFile.empty()) {
        const bool Fresh = !Exists(Options.LogFile) || std::ifstream(Options.LogFile).peek() == EOF;
        Log.open(Options.LogFile, std::ios::app);
        if (!Log)
            throw std::runtime_error("Cannot open the log " + Options.LogFile);
        if (Fresh && !Json && !(Log << LogHeader << "\n" << std::flush))
            throw std::runtime_error("cannot write to the log " + Options.LogFile);
    }
    bool LogFailed = false;
    // Without {n}, the number goes before the extension.
    std::string Pattern = Options.Each;
    if (Pattern.find("{n") == std::string::npos) {
        const size_t Point = HasExtension(Pattern) ? Pattern.rfind('.') : Pattern.size();
        Pattern.insert(Point, "-{n}");
    }

    TSession Session(Options, Out, Err);
    TConsolePort& Port = Session.Port;
    // The loop itself waits for each diskette.
    Port.InsertAnswered = true;
    const char Letter = Options.DriveLetter;
    TBoxNames Names(Pattern);
    std::string Label;
    std::string Chosen;
    std::unique_ptr<TRescue> Rescue;
    if (Options.Rescue)
        Rescue = std::make_unique<TRescue>(Session.State.WorkDir, "", Options.Mode);
    Port.ChooseImage = [&](int FormatIndex) {
        Chosen = Names.Staging(FormatIndex, Label);
        // A new image: nothing to resume, only the last diskette's files to clear.
        if (Rescue)
            Rescue->Prepare(Chosen, FormatIndex);
        return Chosen;
    };
    std::string Kept;
    Session.OnInterrupted = [&] {
        if (Rescue && !Chosen.empty())
            Rescue->KeepInterrupted(Chosen, Port, [&](const std::string& Made) {
                return Kept = Names.Place(Made, false);
            });
    };

    std::vector<TBoxLine> Lines;
    TMedium Previous;
    bool First = true;
    bool Stopped = false;
    while (WaitForDiskette(Letter, First ? nullptr : &Previous, Port) == TNext::Go) {
        First = false;
        // What the next diskette must differ from, taken before a script may swap it.
        Previous = Look(Letter);
        Label = ReadLabel(Letter);
        Chosen.clear();
        Kept.clear();
        const auto Start = std::chrono::steady_clock::now();
        const TSession::TEnd End = Session.Run([&] { Session.Imaging.btnMakeImageClick(); });
        TBoxLine Line;
        Line.Result = End == TSession::TEnd::Done          ? "ok"
                      : End == TSession::TEnd::Interrupted ? "interrupted"
                                                           : "failed";
        if (End == TSession::TEnd::Done) {
            try {
                Line.File = Chosen;
                Line.File = Names.Place(Chosen);
                if (Rescue)
                    Line.Unreadable = Rescue->Finish(Line.File,
                                                     Session.State.DiskGeometry.FormatIndex, Port);
                if (Line.Unreadable)
                    Line.Result = "partial";
                Describe(Line);
            } catch (const std::exception& E) {
                Line.Result = std::string("failed: ") + E.what();
            }
        } else if (End == TSession::TEnd::Failed && !Rescue) {
            if (const std::string Hint = RescueHint(Session.State.WorkDir); !Hint.empty())
                Port.Problem(Hint);
        }
        if (!Kept.empty())
            Line.File = Kept;
        Line.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
        Lines.push_back(Line);
        if (Log.is_open() && !(Log << (Json ? JsonLine(Line) : CsvLine(Line)) << "\n" << std::flush) &&
            !LogFailed) {
            // The images stay; the command fails at its end.
            Port.Problem("marrowtide-img: cannot write to the log " + Options.LogFile);
            LogFailed = true;
        }
        Port.Note((Line.File.empty() ? std::string("(no image)") : Line.File) + ": " + Line.Result);
        if (End == TSession::TEnd::Interrupted) {
            Stopped = true;
            break;
        }
    }
    // Ctrl-C while the box waits ends it too, as interrupted: the images made so far stay.
    Stopped = Stopped || Interrupted();

    int Failed = 0;
    if (!Lines.empty() && !Options.Quiet) {
        Out << LogHeader << "\n";
        for (const TBoxLine& Line : Lines)
            Out << CsvLine(Line) << "\n";
    }
    int Partial = 0;
    for (const TBoxLine& Line : Lines) {
        Partial += Line.Result == "partial";
        Failed += Line.Result != "ok" && Line.Result != "partial";
    }
    Port.Note(std::to_string(Lines.size() - Failed) + " of " + std::to_string(Lines.size()) +
              " diskettes imaged" +
              (Partial ? " (" + std::to_string(Partial) + " partial)." : std::string(".")));
    if (Stopped)
        return StatusOf(TSession::TEnd::Interrupted, Port, "the box was stopped.");
    // Partial images are written; a failed diskette weighs more.
    return Failed || LogFailed ? 1 : Partial ? 3 : 0;
}
