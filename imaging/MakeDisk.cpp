// Make Disk: an image file is decompressed into the dump "temp.del", its format recognised by
// the dump's size, and the dump written onto a diskette of that format, or onto another one
// after a format conversion.
#include <algorithm>

#include "core/FormatTable.h"
#include "imaging/Imaging.h"
#include "imaging/RawInput.h"
#include "imaging/ForeignImage.h"
#include "platform/FileHandle.h"

#include <fcntl.h>
#include "platform/Files.h"

namespace {

const char* const OpenFilter = "Marrowtide Image Files|*.144;*.720;*.120|All Files (*.*)|*.*";

// Per format index; every prompt names drive a:, whichever drive is selected.
const char* const InsertPrompts[] = {
    "Insert a 2.88 floppy into drive a: and click OK.",
    "Insert a 1.44MB floppy into drive a: and click OK.",
    "Insert a 1.2MB floppy into drive a: and click OK.",
    "Insert a 720k floppy into drive a: and click OK.",
    "Insert a 360k floppy into drive a: and click OK.",
};

// The write run's tracks and sectors when image and diskette agree. 720KB is written as 80
// tracks of 9 sectors, the same 1,440 sectors its read run takes as 40 of 18.
struct TWriteArguments {
    const char* Tracks;
    const char* Sectors;
};
const TWriteArguments WriteArguments[] = {
    {"80", "36"}, {"80", "18"}, {"80", "15"}, {"80", "09"}, {"40", "09"},
};

// The whole number of a command-line text such as "80" or "80 "; 0 for none.
int TrackCount(const std::string& Text)
{
    return WholeNumber(Text.substr(0, Text.find_last_not_of(' ') + 1)).value_or(0);
}

// The file's size in bytes, or 0 when it cannot be measured.
int64_t GetFileSizeOrZero(const std::string& Path)
{
    return std::max<int64_t>(FileSize(Path), 0);
}

}  // namespace

TConversionCase ClassifyFormats(int64_t DumpSize, uint8_t DiskFormatIndex, bool AllFormats)
{
    const uint8_t ImageFormat = FormatIndexOfDumpSize(DumpSize, AllFormats);
    if (!IsKnownFormat(ImageFormat, AllFormats) || !IsKnownFormat(DiskFormatIndex, AllFormats))
        return TConversionCase::DisketteSmaller;
    if (DiskFormatIndex == ImageFormat)
        return ImageFormat < KnownFormatCount ? TConversionCase(ImageFormat)
                                              : TConversionCase::BothAdded;
    // Among the five a lower index is a larger diskette; the added ones go by their media.
    const bool Larger = ImageFormat < KnownFormatCount && DiskFormatIndex < KnownFormatCount
                            ? DiskFormatIndex < ImageFormat
                            : FormatTable[DiskFormatIndex].MediumBytes() >
                                  FormatTable[ImageFormat].MediumBytes();
    return Larger ? TConversionCase::DisketteLarger : TConversionCase::DisketteSmaller;
}

void TImaging::btnMakeDiskClick()
{
    if (BeginCommand(TCurrentOperation::MakingDisk))
        StartMakeDisk();
}

void TImaging::StartMakeDisk()
{
    LoadLastFolder();
    TFileDialog Dialog;
    Dialog.Filter = OpenFilter;
    Dialog.FilterIndex = OpenDialogFilterIndex;
    Dialog.DefaultExt = "144";
    if (!ChooseImageFile(Dialog, false, OpenDialogFileName))
        return;
    OpenDialogFilterIndex = Dialog.FilterIndex;
    // Remembered at once, before the image is examined.
    SaveLastPath(Dialog.FileName);
    State.ImagePath = Dialog.FileName;
    MakeDiskFromImage();
}

void TImaging::StartFromCommandLine()
{
    State.CurrentOperation = TCurrentOperation::MakingDisk;
    if (State.Parameters.empty() || !WorkDirReady())
        return;
    std::string Path = State.Parameters.front();
    // The desktop may pass the file quoted.
    std::erase(Path, '"');
    State.ImagePath = Path;
    Port.SetText(TLabel::Path, ShortenPath(State.ImagePath));
    MakeDiskFromImage();
}

void TImaging::MakeDiskFromImage()
{
    if (!DecompressImage("temp.del") || State.Terminating)
        return;
    const std::string Dump = State.WorkDir + "/temp.del";
    const uint8_t ImageFormat = FormatIndexOfDumpSize(GetFileSizeOrZero(Dump), State.AllFormats);
    if (!KnownFormat(ImageFormat)) {
        Port.ShowMessage("The image file is corrupt!");
        return;
    }
    State.ImageGeometry.FormatIndex = ImageFormat;
    FillGeometry(State.ImageGeometry);
    // Only the caption: the hint keeps what Make Image last put there.
    Port.SetText(TLabel::Path, ShortenPath(State.ImagePath));
    const std::string Prompt =
        ImageFormat < KnownFormatCount
            ? InsertPrompts[ImageFormat]
            : "Insert a " + State.ImageGeometry.FormatName + " floppy into drive a: and click OK.";
    if (Port.MessageBox(Prompt, "Insert Disk", TMsgButtons::OKCancel, TQuestion::Insert) !=
        TModalResult::OK)
        return;

    State.MediaRetryState = TMediaRetryState::TryAgain;
    do {
        DetectMedia();
        if (State.MediaRetryState == TMediaRetryState::GaveUp)
            return;
        State.ConversionCase = ClassifyFormats(GetFileSizeOrZero(Dump),
                                               State.DiskGeometry.FormatIndex, State.AllFormats);
    } while (State.MediaRetryState == TMediaRetryState::TryAgain);
    CompareFormats();
}

void TImaging::CompareFormats()
{
    // The cases of agreeing formats are the format's index.
    const auto SameFormat = static_cast<uint8_t>(State.ConversionCase);
    if (SameFormat < KnownFormatCount) {
        State.ImageTracksText = WriteArguments[SameFormat].Tracks;
        State.ImageSectorsText = WriteArguments[SameFormat].Sectors;
        StartWriteRun();
    } else if (State.ConversionCase == TConversionCase::BothAdded) {
        State.ImageTracksText = State.ImageGeometry.TracksText;
        State.ImageSectorsText = State.ImageGeometry.SectorsText;
        StartWriteRun();
    } else {
        OfferConversion();
    }
}

bool TImaging::DecompressImage(const std::string& Dump)
{
    if (State.AllFormats) {
        // The console tool also takes the raw dump itself.
        uint8_t Format = UnknownFormatIndex;
        switch (KindOfInput(State.ImagePath, Format)) {
        case TInputKind::RawDump:
            if (CopyFile(State.ImagePath, State.WorkDir + "/" + Dump, false))
                return true;
            EngineFailed("Cannot copy " + State.ImagePath + " to " + State.WorkDir);
            return false;
        case TInputKind::Foreign:
            try {
                const std::vector<uint8_t> Bytes = ReadForeignImage(State.ImagePath);
                TFileHandle Out(::open((State.WorkDir + "/" + Dump).c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
                if (!Out.Valid() || !WriteAll(Out.Get(), Bytes.data(), Bytes.size()))
                    throw std::runtime_error("Cannot write the dump in " + State.WorkDir);
            } catch (const std::exception& Error) {
                EngineFailed(Error.what());
                return false;
            }
            return true;
        case TInputKind::Neither:
            EngineFailed(NeitherImageNorDump(State.ImagePath));
            return false;
        case TInputKind::Image:
            break;
        }
    }
    DisableCommands();
    Port.SetText(TLabel::Messages, "Decompressing Image...");
    Port.SetText(TLabel::Status, "");
    Port.SetCompressorShown(true);
    Engine->UseStream = false;
    Engine->InputFile = State.ImagePath;
    Engine->OutputFile = State.WorkDir + "/" + Dump;
    // The dump in the program's own folder.
    Engine->ReplaceOutput = true;
    try {
        Engine->Decompress();
    } catch (const std::exception& Error) {
        EngineFailed(Error.what());
        return false;
    }
    Port.SetCompressorShown(false);
    EnableCommands();
    Port.SetText(TLabel::Status, " Status: OK.");
    Port.SetText(TLabel::Messages, "Decompression Complete.");
    return true;
}

void TImaging::StartWriteRun()
{
    DisableCommands();
    Port.SetGaugeMax(TrackCount(State.ImageTracksText));
    StartRun("d temp.del " + State.ImageTracksText + " " + State.SelectedDrive + " " +
                 State.ImageSectorsText + " w",
             TTimer::Timer1, TAnimation::MakeDisk, "Creating Diskette from Image.");
}
