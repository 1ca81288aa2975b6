#include "cli/Commands.h"

#include "cli/DiskCommands.h"

#include <unistd.h>

#include <filesystem>
#include <set>

#include "cli/ImageInfo.h"
#include "cli/Jobs.h"
#include "cli/Progress.h"
#include "imaging/FormatTable.h"

namespace fs = std::filesystem;

namespace {

int64_t SizeOf(const std::string& Path)
{
    std::error_code Error;
    const auto Size = fs::file_size(Path, Error);
    return Error ? -1 : static_cast<int64_t>(Size);
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

void PrintError(std::ostream& Err, const std::string& Text)
{
    Err << "marrowtide-img: " << Text << "\n";
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

struct TJobResult {
    int64_t InSize = 0;
    int64_t OutSize = 0;
};

// Packs or unpacks every task, several at once, with one engine and one host per job.
int RunTasks(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    const bool Packing = Options.Command == TCommandKind::Pack;
    const std::vector<TTask> Tasks = PlanTasks(Options);
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
    const auto Errors = RunJobs(Tasks.size(), DefaultWorkers(), [&](size_t i) {
        TTerminalHost Host(&Board, i);
        Tlzrw1 Engine(&Host);
        Host.Attach(Engine);
        Engine.Loaded(false);
        // Size probes only read: inputs may well be read-only.
        Engine.DefaultFileMode = &FileModeReadShareAll;
        Engine.InputFile = Tasks[i].Input;
        Engine.OutputFile = Tasks[i].Output;
        Engine.CompressMode = Options.Mode;
        Engine.Threshold = Options.Threshold;
        // The engine's counts hold for devices and pipes too, where a file size is not.
        const int64_t Written = Packing ? Engine.Compress() : Engine.Decompress();
        const int64_t Read = SizeOf(Tasks[i].Input);
        Results[i] = {Read >= 0 ? Read : Engine.BytesIn(), Written};
        Board.JobDone(i);
    });
    Board.Finish();

    int Status = 0;
    int64_t AllIn = 0, AllOut = 0;
    for (size_t i = 0; i < Tasks.size(); ++i) {
        if (Errors[i]) {
            Status = 1;
            try {
                std::rethrow_exception(Errors[i]);
            } catch (const std::exception& E) {
                PrintError(Err, E.what());
            } catch (...) {
                PrintError(Err, Tasks[i].Input + ": unknown failure");
            }
            continue;
        }
        const TJobResult& R = Results[i];
        AllIn += R.InSize;
        AllOut += R.OutSize;
        if (Options.Quiet)
            continue;
        Out << Tasks[i].Input << " -> " << Tasks[i].Output << ": " << R.InSize << " -> "
            << R.OutSize << " bytes";
        if (Packing) {
            Out << ", " << RatioText(R.OutSize, R.InSize) << " ("
                << CodecOf(Options.Mode, Tasks[i].Output) << DiskFormatText(R.InSize) << ")\n";
        } else {
            Out << ", " << RatioText(R.InSize, R.OutSize) << " (" << DiskFormatText(R.OutSize)
                << ")\n";
        }
    }
    if (!Options.Quiet && Tasks.size() > 1) {
        const int64_t Raw = Packing ? AllIn : AllOut;
        const int64_t Packed = Packing ? AllOut : AllIn;
        Out << "total: " << AllIn << " -> " << AllOut << " bytes, " << RatioText(Packed, Raw)
            << "\n";
    }
    return Status;
}

int RunAdvise(const TOptions& Options, std::ostream& Out)
{
    TTerminalHost Host(nullptr, 0);
    Tlzrw1 Engine(&Host);
    Engine.Loaded(false);
    Engine.DefaultFileMode = &FileModeReadShareAll;
    Engine.InputFile = Options.Inputs[0];
    Engine.Threshold = Options.Threshold;
    Engine.Advise();
    Out << Engine.Caption() << "\n";
    return 0;
}

int RunInfo(const TOptions& Options, std::ostream& Out)
{
    Out << DescribeImage(ReadImageInfo(Options.Inputs[0]));
    return 0;
}

}  // namespace

std::string PackedName(const std::string& Input, int64_t InputSize)
{
    const uint8_t Index = FormatIndexOfDumpSize(InputSize);
    const std::string Extension =
        Index == UnknownFormatIndex ? ".mwi" : std::string(FormatTable[Index].Extension);
    return fs::path(Input).stem().string() + Extension;
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
                                         ? PackedName(Input, SizeOf(Input))
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
        return RunInfo(Options, Out);
    case TCommandKind::Drive:
        return RunDrive(Options, Out);
    case TCommandKind::Format:
        return RunFormat(Options, Out);
    default:
        Out << UsageText;
        return 0;
    }
}
