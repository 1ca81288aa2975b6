// Format conversion: a diskette of another format than the image gets the image's file system
// from a one-track write run, then the ordinary write run follows.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Imaging.h"
#include "platform/Files.h"

void TImaging::OfferConversion()
{
    if (!Port.IgnoreMediaChecked()) {
        const std::string& Disk = State.DiskGeometry.FormatName;
        const std::string& Image = State.ImageGeometry.FormatName;
        std::vector<std::string> Lines{
            "The Diskette you inserted is formated as " + Disk + ".",
            "The Image is a " + Image + " format.",
        };
        if (State.ConversionCase == TConversionCase::DisketteLarger) {
            Lines.push_back("");
            Lines.push_back("If you would like you can convert the Diskette format to " + Image +
                            ".");
        } else {
            Lines.insert(Lines.end(),
                         {"The Diskette appears to be too small!", "",
                          "If the Diskette can hold " + Image + " you can convert the format.", "",
                          "If the Diskette is too small the operation will fail."});
        }
        const TModalResult Answer = Port.ShowConvertDialog(Disk + " -> " + Image + " ?", Lines);
        if (Answer == TModalResult::Retry) {
            // Another diskette, and the image chosen (and decompressed) again.
            btnMakeDiskClick();
            return;
        }
        // Only Convert writes to the diskette; Cancel, Esc and the close box end the command.
        if (Answer != TModalResult::OK)
            return;
    }
    // The write run after the conversion uses the image's own geometry.
    State.ImageTracksText = State.ImageGeometry.TracksText;
    State.ImageSectorsText = State.ImageGeometry.SectorsText;
    StartConversionRun();
}

void TImaging::StartConversionRun()
{
    DisableCommands();
    Port.SetGaugeMax(4);
    StartRun("d temp.del 1 " + State.SelectedDrive + " " + State.DiskSectorsText + " w",
             TTimer::Timer3, TAnimation::MakeDisk, "Converting Media File System.");
}

void TImaging::Timer3Timer()
{
    // The conversion counts its one track from 1.
    const TPoll Poll = PollRun(ConversionPollBusy, 1);
    if (Poll == TPoll::Waiting || Poll == TPoll::Running)
        return;
    const bool Failed = Poll == TPoll::Failed;
    // The messages that end the run keep later ticks waiting.
    const THold Busy(ConversionPollBusy);

    if (Failed) {
        ShowRunFailure(TTimer::Timer3, false);
        EnableCommands();
        return;
    }

    EnableCommands();
    Port.SetText(TLabel::Status, " Status: Complete.");
    Port.SetTimerEnabled(TTimer::Timer3, false);
    Port.SetGaugeShown(false);
    ShowIdlePicture();
    Port.SetText(TLabel::Status, " Status: OK.");
    Port.SetText(TLabel::Messages, "Conversion Complete.");
    // Older systems keep the old file system mounted until the diskette is reinserted.
    if (!State.Windows5OrLater)
        Port.MessageDlg("Please eject and reinsert the Floppydisk to remount the file system.\r"
                        "If you do not the file system will become corrupt.\r\rPress OK when done.",
                        TMsgDlgType::Information, TMsgButtons::OK, {}, TQuestion::Reinsert);
    StartWriteRun();
}
