#include "cli/DisketteCommands.h"

#include <memory>
#include <strings.h>

#include "cli/BoxLoop.h"
#include "cli/Commands.h"
#include "cli/PipedInput.h"
#include "cli/Rescue.h"
#include "cli/Session.h"
#include "core/FormatTable.h"

namespace {

// The image was written, but some sectors could not be read.
constexpr int PartialStatus = 3;

}  // namespace

bool HasExtension(const std::string& Name)
{
    const size_t Slash = Name.rfind('/');
    const size_t Point = Name.rfind('.');
    return Point != std::string::npos && (Slash == std::string::npos || Point > Slash + 1) &&
           Point + 1 < Name.size();
}

bool HasExtension(const std::string& Name, std::string_view Extension)
{
    return Name.size() > Extension.size() &&
           strncasecmp(Name.c_str() + Name.size() - Extension.size(), Extension.data(), Extension.size()) == 0;
}

std::string WithFormatExtension(const std::string& Name, int FormatIndex)
{
    if (HasExtension(Name))
        return Name;
    return Name + std::string(FormatOfIndex(static_cast<unsigned>(FormatIndex), true).Extension);
}

int RunRead(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    CheckDrive(Options.DriveLetter);
    if (!Options.Each.empty())
        return RunBox(Options, Out, Err);
    // Standard output gets the image as it is: no extension, no question about replacing it.
    const bool ToStdout = Options.Output == "/dev/stdout";
    if (ToStdout)
        RefuseTerminal(Options.Output, Options.Force);
    TSession Session(Options, Out, Err);
    TConsolePort& Port = Session.Port;
    if (ToStdout)
        Port.AllowOverwrite();
    const std::string Wanted = Options.Output.empty() ? "disk" : Options.Output;
    std::unique_ptr<TRescue> Rescue;
    if (Options.Rescue)
        Rescue = std::make_unique<TRescue>(Session.State.WorkDir, Options.MapFile, Options.Mode);
    Port.ChooseImage = [&](int FormatIndex) {
        const std::string Image = ToStdout ? Wanted : WithFormatExtension(Wanted, FormatIndex);
        if (Rescue && Rescue->Prepare(Image, FormatIndex)) {
            Port.AllowOverwrite();
            Port.Note("Resuming: reading only the sectors that " + Rescue->MapOf(Image) +
                      " does not mark finished.");
        }
        return Image;
    };
    bool Kept = false;
    Session.OnInterrupted = [&] {
        if (Rescue)
            Kept = Rescue->KeepInterrupted(Session.State.ImagePath, Port);
    };
    const TSession::TEnd End = Session.Run([&] { Session.Imaging.btnMakeImageClick(); });
    if (End == TSession::TEnd::Failed && !Rescue) {
        if (const std::string Hint = RescueHint(Session.State.WorkDir); !Hint.empty())
            Port.Problem(Hint);
    }
    if (End != TSession::TEnd::Done)
        return StatusOf(End, Port, Kept ? "the image holds what was read so far." : "no image was made.");
    int64_t Missing = 0;
    if (Rescue) {
        try {
            Missing = Rescue->Finish(Session.State.ImagePath,
                                     Session.State.DiskGeometry.FormatIndex, Port);
        } catch (const std::exception& E) {
            Port.Problem(std::string("marrowtide-img: ") + E.what());
            return 1;
        }
    }
    Port.Note("Wrote " + (ToStdout ? "the image to standard output" : Session.State.ImagePath) +
              (Missing ? " (partial)" : ""));
    return Missing ? PartialStatus : 0;
}

int RunWrite(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    CheckDrive(Options.DriveLetter);
    const TPipedInput Input(Options.Inputs.front());
    TSession Session(Options, Out, Err);
    Session.Port.NameFiles = [&](const std::string& Text) { return Input.Named(Text); };
    Session.Port.ChooseImage = [&](int) { return Input.Path(); };
    const TSession::TEnd End = Session.Run([&] { Session.Imaging.btnMakeDiskClick(); });
    return StatusOf(End, Session.Port,
                    "the diskette in " + DriveName(Options.DriveLetter) +
                        " is unfinished; write the image again before using it.");
}

int RunVerify(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    CheckDrive(Options.DriveLetter);
    const TPipedInput Input(Options.Inputs.front());
    TSession Session(Options, Out, Err);
    Session.Port.NameFiles = [&](const std::string& Text) { return Input.Named(Text); };
    Session.State.ImagePath = Input.Path();
    const TSession::TEnd End = Session.Run([&] { Session.Imaging.VerifyDiskette(); });
    return StatusOf(End, Session.Port, "the diskette was not verified.");
}
