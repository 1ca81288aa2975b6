// Make Image: the diskette in the selected drive becomes a compressed image file. Also the
// remembered last image path and the short form of a path, which Make Disk shares.
#include <cctype>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include "core/FormatTable.h"
#include "imaging/Imaging.h"
#include "platform/Files.h"
#include "platform/Registry.h"

namespace {

const char* const LastPathKey = "\\mwtest";
const char* const LastPathValue = "path";

const char* const SaveFilter =
    "Marrowtide 2.88MB Image File|*.288|Marrowtide 1.44MB Image File|*.144|"
    "Marrowtide 1.2MB Image File|*.120|Marrowtide 720KB Image File|*.720|"
    "Marrowtide 360KB Image File|*.360";

// Per format index: the save dialog's default extension (1.44MB's has no point).
const char* const SaveDefaultExt[] = {".288", "144", ".120", ".720", ".360"};

// A path of the Windows form: a drive letter, a network share, or backslashes without a
// leading "/". Such paths keep their own separator rules.
bool IsWindowsForm(const std::string& Path)
{
    if (!Path.empty() && Path[0] == '/')
        return false;
    if (Path.size() >= 2 && std::isalpha(static_cast<unsigned char>(Path[0])) && Path[1] == ':')
        return true;
    return Path.find('\\') != std::string::npos;
}

// The drive letter with its colon, or "\\server\share"; "" for neither.
std::string WindowsDrivePart(const std::string& Path)
{
    if (Path.size() >= 2 && std::isalpha(static_cast<unsigned char>(Path[0])) && Path[1] == ':')
        return Path.substr(0, 2);
    if (Path.rfind("\\\\", 0) == 0) {
        size_t Server = Path.find('\\', 2);
        if (Server == std::string::npos)
            return Path;
        return Path.substr(0, Path.find('\\', Server + 1));
    }
    return "";
}

std::string HomeFolder()
{
    if (const char* Home = std::getenv("HOME"); Home && *Home)
        return Home;
    if (const passwd* Entry = ::getpwuid(::getuid()); Entry && Entry->pw_dir && *Entry->pw_dir)
        return Entry->pw_dir;
    return "/";
}

}  // namespace

std::string ShortenPath(const std::string& Path)
{
    if (!IsWindowsForm(Path)) {
        const size_t Slash = Path.rfind('/');
        return "/.../" + (Slash == std::string::npos ? Path : Path.substr(Slash + 1));
    }
    const size_t Separator = Path.find_last_of("\\:");
    const std::string Name = Separator == std::string::npos ? Path : Path.substr(Separator + 1);
    return WindowsDrivePart(Path) + "\\...\\" + Name;
}

void TImaging::btnMakeImageClick()
{
    if (BeginCommand(TCurrentOperation::MakingImage))
        MakeImage();
}

void TImaging::MakeImage()
{
    LoadLastFolder();
    if (!InsertAndDetect())
        return;
    const TGeometry& DiskGeometry = State.DiskGeometry;

    TFileDialog Dialog;
    Dialog.Filter = SaveFilter;
    Dialog.FilterIndex = DiskGeometry.FormatIndex + 1;
    Dialog.DefaultExt = DiskGeometry.FormatIndex < KnownFormatCount
                            ? SaveDefaultExt[DiskGeometry.FormatIndex]
                            : std::string(FormatTable[DiskGeometry.FormatIndex].Extension);
    if (!ChooseImageFile(Dialog, true, SaveDialogFileName))
        return;

    // Stored before the overwrite question: the path is remembered even when the user stops.
    // The console's standard output is no folder to offer the next time.
    if (Dialog.FileName != "/dev/stdout")
        SaveLastPath(Dialog.FileName);
    State.ImagePath = Dialog.FileName;
    Port.SetText(TLabel::Path, ShortenPath(State.ImagePath));
    Port.SetPathHint(State.ImagePath);

    // A folder the image cannot go into is told now, not after the whole diskette was read.
    Engine->OutputFile = State.ImagePath;
    try {
        Engine->CheckOutputFile();
    } catch (const std::exception& Error) {
        EngineFailed(Error.what());
        return;
    }

    // The question is about the very file the engine will replace. A file that appears only
    // while the diskette is read is never replaced.
    ReplaceImage = FileExistsExactly(State.ImagePath);
    if (ReplaceImage &&
        Port.MessageBox("The file already exists, overwrite?", "Continue?",
                        TMsgButtons::YesNoCancel, TQuestion::Overwrite) != TModalResult::Yes)
        return;

    StartReadRun("Creating Image from Diskette.");
}

bool TImaging::InsertAndDetect()
{
    if (Port.MessageBox("Insert Diskette.", "Insert Diskette.", TMsgButtons::OKCancel,
                        TQuestion::Insert) != TModalResult::OK)
        return false;
    State.MediaRetryState = TMediaRetryState::TryAgain;
    while (State.MediaRetryState == TMediaRetryState::TryAgain)
        DetectMedia();
    // Detection ends recognised or after the user gave up; an unknown format has no image type.
    if (State.MediaRetryState != TMediaRetryState::Recognised ||
        !KnownFormat(State.DiskGeometry.FormatIndex))
        return false;
    // The letter comes from the drive choice; a drive that was not there when the program
    // started has none, and the helper cannot be told which drive to read.
    if (State.DiskGeometry.DriveLetter.empty()) {
        Port.MessageDlg("No drive is chosen (neither A: nor B: was found when the program "
                        "started), so the diskette cannot be read. Please restart the program "
                        "with the drive connected.",
                        TMsgDlgType::Error, TMsgButtons::OK);
        return false;
    }
    return true;
}

void TImaging::StartReadRun(const std::string& MessagesText)
{
    const TGeometry& DiskGeometry = State.DiskGeometry;
    const bool Rescue =
        State.RescueRetries >= 0 && State.CurrentOperation == TCurrentOperation::MakingImage;
    StartRun(std::string(Rescue ? "r" : "i") + " temp.del " + DiskGeometry.TracksText + " " +
                 DiskGeometry.DriveLetter + " " + DiskGeometry.SectorsText + " w" +
                 (Rescue ? " " + std::to_string(State.RescueRetries) : ""),
             TTimer::Timer1, TAnimation::MakeImage, MessagesText);
}

bool TImaging::CompressImage()
{
    DisableCommands();
    Port.SetText(TLabel::Messages, "Compressing Image...");
    Port.SetText(TLabel::Status, " ");
    Port.SetCompressorShown(true);
    Engine->UseStream = false;
    Engine->CompressMode = State.CompressMode;
    Engine->InputFile = State.WorkDir + "/temp.del";
    Engine->OutputFile = State.ImagePath;
    Engine->ReplaceOutput = ReplaceImage;
    try {
        Engine->Compress();
    } catch (const std::exception& Error) {
        // The engine leaves an existing image as it was; the poller still removes the dump.
        EngineFailed(Error.what());
        return false;
    }
    Port.SetCompressorShown(false);
    EnableCommands();
    Port.SetText(TLabel::Status, " Status: OK.");
    Port.SetText(TLabel::Messages, "Image Complete.");
    return true;
}

void TImaging::EngineFailed(const std::string& Message)
{
    Port.SetCompressorShown(false);
    EnableCommands();
    Port.SetText(TLabel::Status, " Status: Error!");
    Port.SetText(TLabel::Messages, " ");
    Port.ShowErrorBox(Message);
}

void TImaging::LoadLastFolder()
{
    std::string Stored;
    TRegistry Registry(TRootKey::CurrentUser);
    if (Registry.OpenKey(LastPathKey, false)) {
        Stored = Registry.ReadString(LastPathValue);
        Registry.CloseKey();
    }
    const size_t Separator = Stored.rfind(IsWindowsForm(Stored) ? '\\' : '/');
    if (Separator != std::string::npos && Separator > 0)
        State.LastFolder = Stored.substr(0, Separator);
    else
        State.LastFolder = HomeFolder();
}

bool TImaging::ChooseImageFile(TFileDialog& Dialog, bool Saving, std::string& Offered)
{
    Dialog.InitialDir = State.LastFolder;
    Dialog.FileName = Offered;
    if (!(Saving ? Port.SaveDialog(Dialog) : Port.OpenDialog(Dialog)))
        return false;
    Offered = Dialog.FileName;
    return true;
}

void TImaging::SaveLastPath(const std::string& Path)
{
    TRegistry Registry(TRootKey::CurrentUser);
    if (!Registry.OpenKey(LastPathKey, true))
        throw ERegistryException("Failed to set data for '" + std::string(LastPathValue) + "'");
    Registry.WriteString(LastPathValue, Path);
    Registry.CloseKey();
}
