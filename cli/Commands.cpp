#include "cli/Commands.h"

#include "cli/CatalogCommands.h"
#include "cli/DiskCommands.h"
#include "cli/DisketteCommands.h"
#include "cli/FileCommands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>

#include "cli/Checksums.h"
#include "cli/ImageInfo.h"
#include "cli/Jobs.h"
#include "cli/PipedInput.h"
#include "cli/LhaExport.h"
#include "cli/Progress.h"
#include "imaging/RawInput.h"
#include "imaging/ForeignImage.h"
#include "core/FormatTable.h"
#include "compress/SafeOutput.h"
#include "platform/FileModes.h"
#include "platform/Files.h"
#include "platform/MemoryFile.h"

namespace fs = std::filesystem;

namespace {

int64_t SizeOf(const std::string& Path)
{
    std::error_code Error;
    const auto Size = fs::file_size(Path, Error);
    return Error ? -1 : static_cast<int64_t>(Size);
}

void PrintError(std::ostream& Err, const std::string& Text)
{
    Err << "marrowtide-img: " << Text << "\n";
}

// True when Text names Path as a word of its own ("X: ...", "... : X", "... : X (LZH)").
bool Names(const std::string& Text, const std::string& Path)
{
    for (size_t At = Text.find(Path); At != std::string::npos; At = Text.find(Path, At + 1)) {
        const size_t End = At + Path.size();
        if ((At == 0 || Text[At - 1] == ' ') &&
            (End == Text.size() || Text[End] == ' ' || Text[End] == ':'))
            return true;
    }
    return false;
}

// A failure of one job, with the file it is about in front when the text does not name it.
std::string AboutTask(const std::string& Text, const TTask& Task)
{
    return Names(Text, Task.Input) || Names(Text, Task.Output) ? Text : Task.Input + ": " + Text;
}


// "LZH, " or "LZRW1/KH, " as the mode chose, or nothing when an auto choice cannot be read back.
std::string CodecOf(TCompressMode Mode, const std::string& Image)
{
    if (Mode == TCompressMode::Good)
        return "LZH, ";
    if (Mode == TCompressMode::Fast)
        return "LZRW1/KH, ";
    try {
        return ReadImageInfo(Image).Codec + ", ";
    } catch (const std::exception&) {
        return "";
    }
}

// The dump in another program's image given to pack or unpack; nothing for our own images
// and raw dumps. Unpack refuses a raw dump, and a file that is neither, in words.
std::optional<std::vector<uint8_t>> ForeignInput(const std::string& Input, bool Packing)
{
    uint8_t Format = UnknownFormatIndex;
    switch (KindOfInput(Input, Format)) {
    case TInputKind::Foreign:
        return ReadForeignImage(Input);
    case TInputKind::RawDump:
        if (!Packing)
            throw std::runtime_error(Input + ": a raw dump of a " +
                                     std::string(FormatTable[Format].FormatName) +
                                     " diskette already, not an image: there is nothing to unpack");
        break;
    case TInputKind::Neither:
        if (!Packing)
            throw std::runtime_error(NeitherImageNorDump(Input));
        break;
    case TInputKind::Image:
        break;
    }
    return std::nullopt;
}

struct TJobResult {
    int64_t InSize = 0;
    int64_t OutSize = 0;
};

// Packs or unpacks Input into Output (replacing it when Replace), as job Index of Board; Note
// gets what unpack has to say about the dump's length.
TJobResult RunTask(const TOptions& Options, const std::string& Input, const std::string& Output,
                   bool Replace, TProgressBoard& Board, size_t Index, std::string& Note)
{
    const bool Packing = Options.Command == TCommandKind::Pack;
    // Another program's image is packed from the dump it holds, and unpacked to it.
    std::unique_ptr<TMemoryFile> ForeignDump;
    if (const std::optional<std::vector<uint8_t>> Dump = ForeignInput(Input, Packing)) {
        if (!Packing) {
            WriteOutput(Output, Dump->data(), Dump->size(), Replace, "the dump");
            return {SizeOf(Input), int64_t(Dump->size())};
        }
        ForeignDump = std::make_unique<TMemoryFile>(*Dump);
    }
    TTerminalHost Host(&Board, Index);
    Tlzrw1 Engine(&Host);
    Host.Attach(Engine);
    Engine.Loaded(false);
    // Size probes only read: inputs may well be read-only.
    Engine.DefaultFileMode = &FileModeReadShareAll;
    Engine.InputFile = ForeignDump ? ForeignDump->Path() : Input;
    Engine.OutputFile = Output;
    Engine.ReplaceOutput = Replace;
    Engine.CompressMode = Options.Mode;
    Engine.Threshold = Options.Threshold;
    // The engine's counts hold for devices and pipes too, where a file size is not.
    int64_t Written = Packing ? Engine.Compress() : Engine.Decompress();
    if (!Packing && !Options.ExactSize)
        Written = CutToMediumSize(Output, Written, Note);
    const int64_t Read = ForeignDump ? -1 : SizeOf(Input);
    return {Read >= 0 ? Read : Engine.BytesIn(), Written};
}

// Packs or unpacks every task, several at once, with one engine and one host per job.
int RunTasks(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    const bool Packing = Options.Command == TCommandKind::Pack;
    const std::vector<TTask> Tasks = PlanTasks(Options);
    if (Packing)
        RefuseTerminal(Options.Output, Options.Force);
    if (Options.HasOutputDir) {
        std::error_code Error;
        fs::create_directories(Options.OutputDir, Error);
        if (Error) {
            PrintError(Err, "cannot make the folder " + Options.OutputDir + ": " + Error.message());
            return 1;
        }
    }

    std::vector<int64_t> Totals;
    for (const TTask& Task : Tasks)
        Totals.push_back(std::max<int64_t>(0, SizeOf(Task.Input)));
    const std::string Label = fs::path(Tasks[0].Input).filename().string();
    TProgressBoard Board(Totals, Label, stderr, isatty(STDERR_FILENO) == 1);

    std::vector<TJobResult> Results(Tasks.size());
    std::vector<std::string> Notes(Tasks.size());
    const auto Errors = RunJobs(Tasks.size(), DefaultWorkers(), [&](size_t i) {
        RefuseNonFile(Tasks[i].Input);
        const bool Replace = CheckOutput(Tasks[i].Output, Options.Force);
        Results[i] = WithPipedInput(Tasks[i].Input, [&](const std::string& Input) {
            return RunTask(Options, Input, Tasks[i].Output, Replace, Board, i, Notes[i]);
        });
        Board.JobDone(i);
    });
    Board.Finish();

    // Data written to our standard output must not get the summary mixed in.
    bool DataOnStdout = false;
    for (const TTask& Task : Tasks)
        DataOnStdout = DataOnStdout || IsStandardOutput(Task.Output);
    std::ostream& Summary = DataOnStdout ? Err : Out;

    int Status = 0;
    int64_t AllIn = 0, AllOut = 0;
    for (size_t i = 0; i < Tasks.size(); ++i) {
        if (Errors[i]) {
            Status = 1;
            try {
                std::rethrow_exception(Errors[i]);
            } catch (const std::exception& E) {
                PrintError(Err, AboutTask(E.what(), Tasks[i]));
            } catch (...) {
                PrintError(Err, Tasks[i].Input + ": unknown failure");
            }
            continue;
        }
        if (!Notes[i].empty())
            PrintError(Err, Notes[i]);
        const TJobResult& R = Results[i];
        AllIn += R.InSize;
        AllOut += R.OutSize;
        if (Options.Quiet)
            continue;
        Summary << Tasks[i].Input << " -> " << Tasks[i].Output << ": " << R.InSize << " -> "
                << R.OutSize << " bytes";
        if (Packing) {
            Summary << ", " << RatioText(R.OutSize, R.InSize) << " ("
                    << CodecOf(Options.Mode, Tasks[i].Output) << DiskFormatText(R.InSize) << ")\n";
        } else {
            Summary << ", " << RatioText(R.InSize, R.OutSize) << " ("
                    << DiskFormatText(R.OutSize) << ")\n";
        }
    }
    if (!Options.Quiet && Tasks.size() > 1) {
        const int64_t Raw = Packing ? AllIn : AllOut;
        const int64_t Packed = Packing ? AllOut : AllIn;
        Summary << "total: " << AllIn << " -> " << AllOut << " bytes, " << RatioText(Packed, Raw)
            << "\n";
    }
    return Status;
}

// Judges the dump pack would pack: another program's image by the dump it holds.
int RunAdvise(const TOptions& Options, std::ostream& Out)
{
    RefuseNonFile(Options.Inputs[0]);
    return WithPipedInput(Options.Inputs[0], [&](const std::string& Input) {
        std::unique_ptr<TMemoryFile> ForeignDump;
        if (const std::optional<std::vector<uint8_t>> Dump = ForeignInput(Input, true))
            ForeignDump = std::make_unique<TMemoryFile>(*Dump);
        TTerminalHost Host(nullptr, 0);
        Tlzrw1 Engine(&Host);
        Engine.Loaded(false);
        Engine.DefaultFileMode = &FileModeReadShareAll;
        Engine.InputFile = ForeignDump ? ForeignDump->Path() : Input;
        Engine.Threshold = Options.Threshold;
        Engine.Advise();
        Out << Engine.Caption() << "\n";
        return 0;
    });
}

// Decodes the image in memory through the engine's stream mode, digesting the dump as it comes.
TChecksums DumpChecksums(std::vector<uint8_t> Image, const std::string& Path)
{
    TChecksummer Sums;
    TChecksumStream Output(Sums);
    try {
        RunEngineInMemory(std::move(Image), false, Output);
    } catch (const std::runtime_error& E) {
        // The engine's stream texts do not say which file.
        throw std::runtime_error(Path + ": " + E.what());
    }
    return Sums.Finish();
}

std::string InfoOf(const TOptions& Options, const std::string& Path)
{
    uint8_t Format = UnknownFormatIndex;
    const TInputKind Kind = KindOfInput(Path, Format);
    if (Kind == TInputKind::Neither)
        throw std::runtime_error(NeitherImageNorDump(Path));
    if (Kind != TInputKind::Image) {
        const TLoadedDump Dump = LoadDump(Path);
        std::string Text =
            Kind == TInputKind::RawDump
                ? "raw dump of a " + std::string(FormatTable[Format].FormatName) +
                      " diskette (not an image; `marrowtide-img pack` makes one)\n"
                : Dump.Kind + " of a " + DiskFormatText(int64_t(Dump.Bytes.size())) +
                      " diskette (another program's; `marrowtide-img pack` makes an image of it)\n";
        if (Options.Hash)
            Text += ChecksumLines(ChecksumsOf(Dump.Bytes));
        return Text;
    }
    std::vector<uint8_t> Image;
    std::string Text = DescribeImage(ReadImageInfo(Path, Options.Hash ? &Image : nullptr));
    // Nothing is printed for an image that cannot be decoded.
    if (Options.Hash)
        Text += ChecksumLines(DumpChecksums(std::move(Image), Path));
    return Text;
}

std::string InfoText(const TOptions& Options, const std::string& Path)
{
    RefuseNonFile(Path);
    return WithPipedInput(Path, [&](const std::string& Input) { return InfoOf(Options, Input); });
}

// One block per file, the file's name first when there are several; a file that fails is
// named on Err and the rest are still shown.
int RunInfo(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    if (Options.Inputs.size() == 1) {
        Out << InfoText(Options, Options.Inputs[0]);
        return 0;
    }
    int Status = 0;
    bool First = true;
    for (const std::string& Path : Options.Inputs) {
        try {
            const std::string Text = InfoText(Options, Path);
            Out << (First ? "" : "\n") << Path << ":\n" << Text;
            First = false;
        } catch (const std::exception& E) {
            Out.flush();
            PrintError(Err, Names(E.what(), Path) ? E.what() : Path + ": " + E.what());
            Status = 1;
        }
    }
    return Status;
}

// An ImageDisk file for an ARCHIVE named .imd, else an LHA archive; Path is where Image is
// opened.
int ExportTo(const TOptions& Options, const std::string& Path, bool Replace, std::ostream& Out,
             std::ostream& Err)
{
    const std::string& Image = Options.Inputs[0];
    uint8_t Format = UnknownFormatIndex;
    if (KindOfInput(Path, Format) == TInputKind::Neither)
        throw std::runtime_error(NeitherImageNorDump(Path));
    if (HasExtension(Options.Output, ".imd")) {
        const TLoadedDump Dump = LoadDump(Path);
        WriteImdImage(Dump.Bytes, Options.Output);
        Out << Image << " -> " << Options.Output << ": " << Dump.Bytes.size() << " -> "
            << SizeOf(Options.Output) << " bytes (ImageDisk)\n";
        return 0;
    }
    const TExportResult Result = ExportImage(Path, Image, Options.Output, Replace);
    std::ostream& Summary = IsStandardOutput(Options.Output) ? Err : Out;
    Summary << Image << " -> " << Options.Output << ": " << Result.MemberName << ", "
        << Result.DumpSize << " -> " << Result.ArchiveSize << " bytes (-lh1-)\n";
    return 0;
}

int RunExport(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    const std::string& Image = Options.Inputs[0];
    RefuseNonFile(Image);
    if (SameFile(Image, Options.Output))
        throw EUsage(Image + " would be overwritten by its own output");
    RefuseTerminal(Options.Output, Options.Force);
    const bool Replace = CheckOutput(Options.Output, Options.Force);
    return WithPipedInput(Image, [&](const std::string& Input) {
        return ExportTo(Options, Input, Replace, Out, Err);
    });
}

}  // namespace

// As the usual packers do: binary data on a terminal is of no use to anyone.
void RefuseTerminal(const std::string& Path, bool Force, const std::string& What)
{
    if (Path == "/dev/stdout" && !Force && ::isatty(STDOUT_FILENO) == 1)
        throw EUsage(What + " is not written to a terminal; use -f to force it");
}

bool IsStandardOutput(const std::string& Path)
{
    struct stat Ours {}, Theirs {};
    return ::fstat(STDOUT_FILENO, &Ours) == 0 && ::stat(Path.c_str(), &Theirs) == 0 &&
           Ours.st_dev == Theirs.st_dev && Ours.st_ino == Theirs.st_ino;
}

bool SameFile(const std::string& A, const std::string& B)
{
    std::error_code Error;
    if (fs::equivalent(A, B, Error))
        return true;
    std::error_code ErrorA, ErrorB;
    const fs::path PathA = fs::weakly_canonical(A, ErrorA);
    const fs::path PathB = fs::weakly_canonical(B, ErrorB);
    return !ErrorA && !ErrorB && PathA == PathB;
}

// As the usual packers do.
bool CheckOutput(const std::string& Path, bool Force)
{
    RefuseNonFile(Path);
    struct stat Info {};
    const bool Exists = ::stat(Path.c_str(), &Info) == 0 ? S_ISREG(Info.st_mode)
                                                        : ::lstat(Path.c_str(), &Info) == 0;
    const bool Replace = Force || IsStandardOutput(Path);
    if (Exists && !Replace)
        throw std::runtime_error(Path + ": already exists; use -f to overwrite");
    return Replace;
}

void RefuseNonFile(const std::string& Path)
{
    struct stat Info {};
    if (::stat(Path.c_str(), &Info) != 0)
        return;  // a missing file fails where it is opened, with the usual text
    if (S_ISDIR(Info.st_mode))
        throw std::runtime_error(Path + ": is a directory");
    if (!S_ISREG(Info.st_mode) && !S_ISFIFO(Info.st_mode))
        throw std::runtime_error(Path + ": is neither a regular file nor a pipe");
}

std::string PackedName(const std::string& Input, int64_t InputSize)
{
    const uint8_t Index = FormatIndexOfDumpSize(InputSize, true);
    const std::string Extension =
        Index == UnknownFormatIndex ? ".mwi" : std::string(FormatTable[Index].Extension);
    return fs::path(Input).stem().string() + Extension;
}

int64_t DumpSizeOf(const std::string& Input)
{
    if (IsForeignImage(Input)) {
        try {
            return int64_t(ReadForeignImage(Input).size());
        } catch (const std::exception&) {
            // The job itself says why the image cannot be read.
        }
    }
    return SizeOf(Input);
}

void WriteOutput(const std::string& Path, const void* Data, size_t Size, bool Replace,
                 const std::string& What)
{
    TSafeOutput Output;
    if (!Output.Open(Path, Replace))
        throw std::runtime_error("cannot create " + Path + ": " + std::strerror(errno));
    if (!WriteAll(Output.Handle(), Data, Size))
        throw std::runtime_error("cannot write " + Path + ": " + std::strerror(errno));
    if (!Output.Commit()) {
        if (errno == EEXIST)
            throw std::runtime_error(Path + ": already exists" +
                                     (Output.KeptAs().empty()
                                          ? std::string()
                                          : "; " + What + " is kept as " + Output.KeptAs()));
        throw std::runtime_error("cannot write " + Path + ": " + std::strerror(errno));
    }
}

std::string UnpackedName(const std::string& Input)
{
    return fs::path(Input).stem().string() + ".img";
}

std::vector<TTask> PlanTasks(const TOptions& Options)
{
    std::vector<TTask> Tasks;
    if (!Options.HasOutputDir) {
        Tasks.push_back({Options.Inputs[0], Options.Output});
    } else {
        for (const std::string& Input : Options.Inputs) {
            const std::string Name = Options.Command == TCommandKind::Pack
                                         ? PackedName(Input, DumpSizeOf(Input))
                                         : UnpackedName(Input);
            Tasks.push_back({Input, (fs::path(Options.OutputDir) / Name).string()});
        }
    }

    std::set<fs::path> Outputs;
    for (const TTask& Task : Tasks) {
        if (SameFile(Task.Input, Task.Output))
            throw EUsage(Task.Input + " would be overwritten by its own output");
        const fs::path Output = fs::absolute(Task.Output).lexically_normal();
        if (!Outputs.insert(Output).second)
            throw EUsage("two inputs would both be written to " + Task.Output);
    }
    return Tasks;
}

int RunCommand(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    switch (Options.Command) {
    case TCommandKind::Pack:
    case TCommandKind::Unpack:
        return RunTasks(Options, Out, Err);
    case TCommandKind::Advise:
        return RunAdvise(Options, Out);
    case TCommandKind::Info:
        return Options.Json ? RunInfoJson(Options, Out, Err) : RunInfo(Options, Out, Err);
    case TCommandKind::Drive:
        return RunDrive(Options, Out);
    // With the data on standard output, what is said about it goes to standard error.
    case TCommandKind::Format:
        return RunFormat(Options, Options.Output == "/dev/stdout" ? Err : Out);
    case TCommandKind::Export:
        return RunExport(Options, Out, Err);
    case TCommandKind::Read:
        return RunRead(Options, Options.Output == "/dev/stdout" ? Err : Out, Err);
    case TCommandKind::Write:
        return RunWrite(Options, Out, Err);
    case TCommandKind::Verify:
        return RunVerify(Options, Out, Err);
    case TCommandKind::Ls:
        return Options.Json ? RunLsJson(Options, Out, Err) : RunLs(Options, Out, Err);
    case TCommandKind::Extract:
        return RunExtract(Options, Out, Err);
    case TCommandKind::Mount:
        return RunMount(Options, Out, Err);
    case TCommandKind::Catalog:
        return RunCatalog(Options, Out, Err);
    case TCommandKind::Check:
        return RunCheck(Options, Out, Err);
    case TCommandKind::Version:
        Out << VersionText;
        return 0;
    default:
        Out << (Options.HelpText.empty() ? UsageText : Options.HelpText);
        return 0;
    }
}
