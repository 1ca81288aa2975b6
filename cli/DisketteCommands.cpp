#include "cli/DisketteCommands.h"

#include "cli/BoxLoop.h"
#include "cli/Session.h"
#include "core/FormatTable.h"

bool HasExtension(const std::string& Name)
{
    const size_t Slash = Name.rfind('/');
    const size_t Point = Name.rfind('.');
    return Point != std::string::npos && (Slash == std::string::npos || Point > Slash + 1) &&
           Point + 1 < Name.size();
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
    TSession Session(Options, Out, Err);
    const std::string Wanted = Options.Output.empty() ? "disk" : Options.Output;
    Session.Port.ChooseImage = [&](int FormatIndex) {
        return WithFormatExtension(Wanted, FormatIndex);
    };
    const TSession::TEnd End = Session.Run([&] { Session.Imaging.btnMakeImageClick(); });
    if (End == TSession::TEnd::Done)
        Session.Port.Note("Wrote " + Session.State.ImagePath);
    return StatusOf(End, Session.Port, "no image was made.");
}

int RunWrite(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    CheckDrive(Options.DriveLetter);
    TSession Session(Options, Out, Err);
    Session.Port.ChooseImage = [&](int) { return Options.Inputs.front(); };
    const TSession::TEnd End = Session.Run([&] { Session.Imaging.btnMakeDiskClick(); });
    return StatusOf(End, Session.Port,
                    "the diskette in " + DriveName(Options.DriveLetter) +
                        " is unfinished; write the image again before using it.");
}

int RunVerify(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    CheckDrive(Options.DriveLetter);
    TSession Session(Options, Out, Err);
    Session.State.ImagePath = Options.Inputs.front();
    const TSession::TEnd End = Session.Run([&] { Session.Imaging.VerifyDiskette(); });
    return StatusOf(End, Session.Port, "the diskette was not verified.");
}
