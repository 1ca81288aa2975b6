// The helper runs: starting the helper, the busy and idle states of the commands, and the
// poller that follows a read or write run through the exchange files in WorkDir.
#include <algorithm>
#include <charconv>
#include <system_error>

#include "imaging/Imaging.h"
#include "platform/Errors.h"
#include "platform/FileModes.h"
#include "platform/Files.h"
#include "platform/Launch.h"

namespace {

constexpr TCommand CommandOrder[] = {TCommand::MakeImageButton, TCommand::ExitButton,
                                     TCommand::MakeDiskButton, TCommand::MakeDiskMenu,
                                     TCommand::SaveDiskMenu};

int StrToInt(const std::string& Text)
{
    const std::optional<int32_t> Value = WholeNumber(Text);
    if (!Value)
        throw EConvertError("'" + Text + "' is not a valid integer value");
    return *Value;
}

}  // namespace

std::optional<int32_t> WholeNumber(const std::string& Text)
{
    size_t Start = Text.find_first_not_of(' ');
    const char* First = Text.data() + (Start == std::string::npos ? Text.size() : Start);
    const char* Last = Text.data() + Text.size();
    if (First != Last && *First == '+')
        ++First;
    int32_t Value = 0;
    auto [End, Error] = std::from_chars(First, Last, Value, 10);
    if (First == Last || Error != std::errc() || End != Last)
        return std::nullopt;
    return Value;
}

bool TImaging::LaunchHelper(const std::string& Parameters)
{
    // Only the copy in our own folder, by its full name: a file of a similar name anywhere
    // else (the current folder above all) is never run.
    TLaunch Launch;
    if (State.WorkDirReady())
        Launch = StartProgram(State.WorkDir + "/Rastrel2.exe", Parameters, State.WorkDir);
    bool Started = Launch.Result > 32;
    State.HelperPid = Started ? Launch.Pid : -1;
    return Started;
}

bool TImaging::WorkDirReady()
{
    if (State.WorkDirReady())
        return true;
    Port.MessageDlg("The program has no working folder, so it cannot read or write diskettes. "
                    "Please restart the program.",
                    TMsgDlgType::Error, TMsgButtons::OK);
    return false;
}

bool TImaging::BeginCommand(TCurrentOperation Operation)
{
    if (!WorkDirReady())
        return false;
    State.ReadingDisk = Operation != TCurrentOperation::MakingDisk;
    State.CurrentOperation = Operation;
    return true;
}

void TImaging::DisableCommands()
{
    for (TCommand Command : CommandOrder)
        Port.SetCommandEnabled(Command, false);
}

void TImaging::EnableCommands()
{
    for (TCommand Command : CommandOrder)
        Port.SetCommandEnabled(Command, true);
}

void TImaging::ShowIdlePicture()
{
    for (TAnimation Animation : {TAnimation::MakeImage, TAnimation::MakeDisk}) {
        Port.SetAnimationActive(Animation, false);
        Port.SetAnimationShown(Animation, false);
    }
    Port.SetFloppyShown(true);
}

bool TImaging::StartRun(const std::string& Parameters, TTimer PollTimer, TAnimation Animation,
                        const std::string& MessagesText)
{
    DisableCommands();
    if (!WorkDirReady()) {
        EnableCommands();
        return false;
    }
    try {
        RewriteTextFile(State.WorkDir + "/working.dat");
    } catch (...) {
        // Nothing was started, so nothing would ever enable the commands again.
        EnableCommands();
        throw;
    }
    if (!LaunchHelper(Parameters)) {
        Port.MessageDlg("Cannot execute Rastrel2", TMsgDlgType::Error, TMsgButtons::OK);
        // No poller runs for a helper that never started: back to idle.
        Port.SetGaugeShown(false);
        ShowIdlePicture();
        EnableCommands();
        return false;
    }
    Port.SetTimerEnabled(PollTimer, true);
    Port.SetText(TLabel::Messages, MessagesText);
    Port.SetText(TLabel::Status, " ");
    Port.SetGaugeProgress(0);
    Port.SetGaugeShown(true);
    Port.SetAnimationShown(Animation, true);
    Port.SetAnimationActive(Animation, true);
    Port.SetFloppyShown(false);
    return true;
}

bool TImaging::ReadProgress(int& Progress)
{
    // From the first poll on, non-text files are opened read-only with full sharing.
    State.DefaultFileMode = FileModeReadShareAll;
    std::string Line;
    try {
        Line = ReadFirstLine(State.WorkDir + "/Status.dat");
    } catch (const EInOutError& Error) {
        // "check.dat" stays, so the next tick reads again.
        Port.MessageDlg(std::string("Rastrel2 file share error: ") + Error.what(),
                        TMsgDlgType::Information, TMsgButtons::OK);
        return false;
    }
    // The file is closed already: a text that is no number leaves "check.dat" for the next tick.
    Progress = StrToInt(Line);
    DeleteFile(State.WorkDir + "/check.dat");
    return true;
}

bool TImaging::HelperDied()
{
    if (State.HelperPid <= 0 || ProcessRunning(State.HelperPid))
        return false;
    // The helper removes "working.dat" just before it ends: looking after learning that it has
    // ended tells a helper that died from one that finished between two looks.
    return FileExists(State.WorkDir + "/working.dat");
}

TImaging::TPoll TImaging::PollRun(bool& Busy, int ProgressBase)
{
    if (Busy)
        return TPoll::Waiting;
    bool Failed = false;
    if (FileExists(State.WorkDir + "/working.dat")) {
        if (!HelperDied()) {
            if (FileExists(State.WorkDir + "/check.dat")) {
                int Progress = 0;
                // The message of a share error keeps later ticks waiting while it is open.
                const THold Hold(Busy);
                if (ReadProgress(Progress))
                    Port.SetGaugeProgress(static_cast<int>(std::clamp<int64_t>(
                        int64_t{Progress} + ProgressBase, 0, std::max(Port.GaugeMax(), 0))));
            }
            return TPoll::Running;
        }
        Failed = true;
    } else {
        Failed = FileExists(State.WorkDir + "/error.dat");
    }
    State.HelperPid = -1;
    return Failed ? TPoll::Failed : TPoll::Ended;
}

std::string TImaging::RunFailureReason() const
{
    const std::string ErrorFile = State.WorkDir + "/error.dat";
    if (!FileExists(ErrorFile))
        return "Rastrel2 ended before it finished the run.";
    std::string Line;
    try {
        Line = ReadFirstLine(ErrorFile);
    } catch (const EInOutError&) {
        return "";
    }
    // A reason, not a document.
    constexpr size_t Longest = 500;
    if (Line.size() > Longest)
        Line = Line.substr(0, Longest) + "...";
    return Line;
}

void TImaging::ShowRunFailure(TTimer PollTimer, bool Reading)
{
    Port.SetTimerEnabled(PollTimer, false);
    Port.SetGaugeShown(false);
    // The window is idle again: a running animation would say otherwise.
    ShowIdlePicture();
    Port.SetText(TLabel::Status, " Status: Error!");
    const std::string Reason = RunFailureReason();
    if (Reading) {
        Port.SetText(TLabel::Messages, "Could not read from disk.");
        Port.MessageDlg("Error.  Could not read from the Diskette.\r\n"
                        "Bad sector?  Try running ScanDisk.",
                        TMsgDlgType::Warning, TMsgButtons::OK, Reason);
    } else {
        Port.SetText(TLabel::Messages, "Could not write to disk.");
        Port.MessageDlg("Error.  Could not write to the Diskette.\r\n"
                        "Write protected?  Wrong media?",
                        TMsgDlgType::Warning, TMsgButtons::OK, Reason);
    }
}

void TImaging::Timer1Timer()
{
    Port.SetTimerInterval(TTimer::Timer1, 1000);
    const TPoll Poll = PollRun(PollerBusy, 0);
    if (Poll == TPoll::Waiting || Poll == TPoll::Running)
        return;
    const bool Failed = Poll == TPoll::Failed;
    // The messages that end the run keep later ticks waiting.
    const THold Busy(PollerBusy);

    bool Succeeded = false;
    try {
        if (Failed) {
            ShowRunFailure(TTimer::Timer1, State.ReadingDisk);
        } else {
            Port.SetText(TLabel::Status, " Status: Complete.");
            Port.SetTimerEnabled(TTimer::Timer1, false);
            Port.SetGaugeShown(false);
            ShowIdlePicture();
            Port.SetText(TLabel::Messages, " ");
            if (State.CurrentOperation == TCurrentOperation::MakingImage) {
                Succeeded = CompressImage();
            } else if (State.CurrentOperation == TCurrentOperation::Verifying) {
                Succeeded = CompareWithImage();
            } else {
                Port.SetText(TLabel::Status, " Status: OK.");
                Port.SetText(TLabel::Messages, "Disk Complete.");
                Succeeded = true;
            }
        }
    } catch (...) {
        // Whatever escapes, the dump goes and the window is usable again.
        RemoveDumps();
        EnableCommands();
        throw;
    }
    RemoveDumps();
    EnableCommands();
    if (State.StartedWithFile && Succeeded)
        Port.Terminate();
}
