#include "cli/Session.h"

#include "cli/DiskCommands.h"

#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <stdexcept>

#include "cli/Console.h"
#include "cli/Interrupts.h"
#include "imaging/Settings.h"
#include "platform/Drives.h"
#include "platform/Launch.h"
#include "platform/System.h"

namespace {

// The helper's exchange files are looked at this often.
constexpr int TickMilliseconds = 100;

bool SavedIgnoreMediaOrNot()
{
    try {
        return SavedIgnoreMedia();
    } catch (const std::exception&) {
        // A damaged settings file only costs the setting here; the window reports it.
        return false;
    }
}

TConsoleAnswers AnswersOf(const TOptions& Options)
{
    TConsoleAnswers Answers;
    Answers.Terminal = HasTerminal();
    Answers.Yes = Options.Yes;
    Answers.Force = Options.Force;
    Answers.Convert = Options.Convert;
    Answers.IgnoreMedia = SavedIgnoreMediaOrNot();
    Answers.Quiet = Options.Quiet;
    return Answers;
}

}  // namespace

std::string DriveName(char Letter)
{
    return std::string(1, Letter) + ":";
}

void CheckDrive(char Letter)
{
    if (Letter != 'A' && Letter != 'B')
        throw std::runtime_error(DriveName(Letter) + " is no diskette drive: give A or B");
    if (DriveTarget(Letter).empty())
        throw std::runtime_error(
            DriveName(Letter) + " stands for no drive: this machine has no floppy drive " +
            DriveName(Letter) + " and the drive table has no entry for it (marrowtide-img drive " +
            std::string(1, Letter) + " PATH sets one)");
}

TSession::TSession(const TOptions& Options, std::ostream& Out, std::ostream& Err)
    : Port(Options.DriveLetter, AnswersOf(Options), Out, Err), Imaging(State, Port)
{
    CatchInterrupts();
    State.ProgramDir = ExecutableDir();
    State.SelectedDrive = std::string(1, Options.DriveLetter);
    // A command ends with its run, as a window started with a file does.
    State.StartedWithFile = 1;
    State.CompressMode = Options.Mode;
    if (Options.Rescue)
        State.RescueRetries = Options.RescueRetries;
    State.AllFormats = true;
    if (Options.Command == TCommandKind::Read) {
        State.NamedFormat = Options.FormatIndex;
        Port.NoDiskHint = "To read a diskette whose boot sector is damaged, blank or not DOS, "
                          "name its format: --format " + FormatNameList() + ".";
    }
    Folder = SetUpProgram(State, Port);
}

TSession::~TSession()
{
    StopHelper();
    Folder->Remove();
}

TSession::TEnd TSession::Run(const std::function<void()>& Start)
{
    Port.Restart();
    Guarded(Start);
    while (!Port.Done() && !Interrupted() &&
           (Port.Ticking(TTimer::Timer1) || Port.Ticking(TTimer::Timer3))) {
        Nap(TickMilliseconds);
        if (Interrupted())
            break;
        if (Port.Ticking(TTimer::Timer1))
            Guarded([this] { Imaging.Timer1Timer(); });
        else if (Port.Ticking(TTimer::Timer3))
            Guarded([this] { Imaging.Timer3Timer(); });
    }
    if (Port.Done())
        return TEnd::Done;
    if (Interrupted()) {
        StopHelper();
        Port.SetTimerEnabled(TTimer::Timer1, false);
        Port.SetTimerEnabled(TTimer::Timer3, false);
        if (OnInterrupted)
            OnInterrupted();
        DeleteDumps();
        return TEnd::Interrupted;
    }
    return TEnd::Failed;
}

// What escapes a command or a tick is shown as the window's error box shows it; the run
// goes on as the window's would.
void TSession::Guarded(const std::function<void()>& Step)
{
    ::Guarded(Step, [this](const std::exception& E) {
        const std::string Message = E.what();
        if (Message != LastError)
            Port.Problem("marrowtide-img: " + Message);
        LastError = Message;
    });
}

// A helper that still runs is told to end (it leaves "error.dat" and ends without
// "working.dat"), and killed when it does not.
void TSession::StopHelper()
{
    const pid_t Pid = State.HelperPid;
    if (Pid <= 0 || !ProcessRunning(Pid))
        return;
    ::kill(Pid, SIGTERM);
    for (int Wait = 0; Wait < 100 && ProcessRunning(Pid); ++Wait)
        ::poll(nullptr, 0, 50);
    if (ProcessRunning(Pid))
        ::kill(Pid, SIGKILL);
    State.HelperPid = -1;
}

void TSession::DeleteDumps()
{
    for (const char* Name : {"temp.del", "image.del", "working.dat", "check.dat"})
        std::remove((State.WorkDir + "/" + Name).c_str());
}

int StatusOf(TSession::TEnd End, TConsolePort& Port, const std::string& WhenInterrupted)
{
    switch (End) {
    case TSession::TEnd::Done:
        return 0;
    case TSession::TEnd::Interrupted:
        Port.Problem("marrowtide-img: interrupted: " + WhenInterrupted);
        return InterruptedStatus;
    default:
        return 1;
    }
}
