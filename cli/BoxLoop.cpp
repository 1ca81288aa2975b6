#include "cli/BoxLoop.h"

#include <unistd.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <vector>

#include "cli/Checksums.h"
#include "cli/Console.h"
#include "cli/DisketteCommands.h"
#include "cli/ImageInfo.h"
#include "cli/Interrupts.h"
#include "cli/Session.h"
#include "platform/Drives.h"
#include "platform/FatBoot.h"

std::string ExpandImageName(const std::string& Pattern, int Number, const std::string& Label)
{
    std::string SafeLabel;
    for (const char C : Label)
        SafeLabel += std::isalnum(static_cast<unsigned char>(C)) || C == '-' || C == '.' ? C : '_';
    std::string Name;
    for (size_t At = 0; At < Pattern.size();) {
        if (Pattern.compare(At, 7, "{label}") == 0) {
            Name += SafeLabel;
            At += 7;
            continue;
        }
        if (Pattern.compare(At, 2, "{n") == 0) {
            const size_t Close = Pattern.find('}', At);
            // What follows "{n": nothing, or ":" and a width of one or two digits ("{n:03}"),
            // at most 12.
            const std::string Padding =
                Close == std::string::npos ? "" : Pattern.substr(At + 2, Close - At - 2);
            int Width = 0;
            if (Padding.size() >= 2 && Padding.size() <= 3 && Padding[0] == ':' &&
                Padding.find_first_not_of("0123456789", 1) == std::string::npos)
                Width = std::min(std::stoi(Padding.substr(1)), 12);
            if (Padding.empty() || Width > 0) {
                std::ostringstream Text;
                Text << std::setw(Width) << std::setfill('0') << Number;
                Name += Text.str();
                At = Close + 1;
                continue;
            }
        }
        Name += Pattern[At++];
    }
    return Name;
}

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

const char* const LogHeader = "file,format,raw_size,image_size,ratio,crc32,md5,sha1,seconds,result";

std::string CsvLine(const TBoxLine& Line)
{
    std::ostringstream Text;
    Text << CsvField(Line.File) << "," << Line.Format << "," << Line.RawSize << ","
         << Line.ImageSize << "," << Line.Ratio << "," << Line.Sums.Crc32 << "," << Line.Sums.Md5
         << "," << Line.Sums.Sha1 << "," << std::fixed << std::setprecision(1) << Line.Seconds
         << "," << CsvField(Line.Result);
    return Text.str();
}

// The sizes and checksums of the dump the finished image holds, decoded again from the file.
void Describe(TBoxLine& Line)
{
    std::vector<uint8_t> Whole;
    const TImageInfo Info = ReadImageInfo(Line.File, &Whole);
    TChecksummer Summer;
    TChecksumStream Stream(Summer);
    RunEngineInMemory(std::move(Whole), false, Stream);
    Line.Sums = Summer.Finish();
    Line.Format = DiskFormatText(Info.OriginalSize);
    Line.RawSize = Info.OriginalSize;
    Line.ImageSize = Info.CompressedSize;
    Line.Ratio = RatioText(Info.CompressedSize, Info.OriginalSize);
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
    return FatVolumeLabel(Start.data(), static_cast<size_t>(In.gcount()));
}

}  // namespace

int RunBox(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    std::ofstream Log;
    if (!Options.LogFile.empty()) {
        const bool Fresh = !Exists(Options.LogFile) || std::ifstream(Options.LogFile).peek() == EOF;
        Log.open(Options.LogFile, std::ios::app);
        if (!Log)
            throw std::runtime_error("Cannot open the log " + Options.LogFile);
        if (Fresh)
            Log << LogHeader << "\n" << std::flush;
    }
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
    int Next = 1;
    std::string Label;
    std::string Chosen;
    Port.ChooseImage = [&](int FormatIndex) {
        for (int Number = Next; Number < Next + 1000000; ++Number) {
            const std::string Name =
                WithFormatExtension(ExpandImageName(Pattern, Number, Label), FormatIndex);
            if (!Exists(Name)) {
                Next = Number + 1;
                return Chosen = Name;
            }
        }
        return Chosen = "";
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
        const auto Start = std::chrono::steady_clock::now();
        const TSession::TEnd End = Session.Run([&] { Session.Imaging.btnMakeImageClick(); });
        TBoxLine Line;
        Line.File = Chosen;
        Line.Result = End == TSession::TEnd::Done          ? "ok"
                      : End == TSession::TEnd::Interrupted ? "interrupted"
                                                           : "failed";
        if (End == TSession::TEnd::Done) {
            try {
                Describe(Line);
            } catch (const std::exception& E) {
                Line.Result = std::string("failed: ") + E.what();
            }
        }
        Line.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
        Lines.push_back(Line);
        if (Log.is_open() && !(Log << CsvLine(Line) << "\n" << std::flush))
            Port.Problem("marrowtide-img: cannot write to the log " + Options.LogFile);
        Port.Note((Line.File.empty() ? std::string("(no image)") : Line.File) + ": " + Line.Result);
        if (End == TSession::TEnd::Interrupted) {
            Stopped = true;
            break;
        }
    }
    // Ctrl-C between two diskettes only ends the box, as q does.

    int Failed = 0;
    if (!Lines.empty() && !Options.Quiet) {
        Out << LogHeader << "\n";
        for (const TBoxLine& Line : Lines)
            Out << CsvLine(Line) << "\n";
    }
    for (const TBoxLine& Line : Lines)
        Failed += Line.Result != "ok";
    Port.Note(std::to_string(Lines.size() - Failed) + " of " + std::to_string(Lines.size()) +
              " diskettes imaged.");
    if (Stopped)
        return StatusOf(TSession::TEnd::Interrupted, Port, "the box was stopped.");
    return Failed ? 1 : 0;
}
