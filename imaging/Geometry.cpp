// Diskette formats and media detection: a format is recognised from the capacity the system
// reports for the volume in the selected drive.
#include "core/FormatTable.h"
#include "imaging/Imaging.h"
#include "platform/Drives.h"

namespace {

// The capacities, in bytes reported for the volume, that detection takes for each format
// (both bounds excluded). The reported size is the data area only, so the windows sit below
// the dump sizes.
struct TCapacityWindow {
    int64_t Above;
    int64_t Below;
};

constexpr TCapacityWindow CapacityWindows[KnownFormatCount] = {
    {2800000, 3000000}, {1400000, 1500000}, {1200000, 1300000}, {700000, 800000}, {300000, 400000},
};

// The user's answer to a question of detection: measure again, or give up.
TMediaRetryState RetryStateOf(TModalResult Answer)
{
    return Answer == TModalResult::Yes ? TMediaRetryState::TryAgain : TMediaRetryState::GaveUp;
}

}  // namespace

uint8_t FormatIndexOfCapacity(int64_t Capacity)
{
    for (uint8_t Index = 0; Index < KnownFormatCount; ++Index)
        if (Capacity > CapacityWindows[Index].Above && Capacity < CapacityWindows[Index].Below)
            return Index;
    return UnknownFormatIndex;
}

void TImaging::FillGeometry(TGeometry& Geometry)
{
    const TFormatRow& Row = FormatOfIndex(Geometry.FormatIndex, State.AllFormats);
    Geometry.FormatIndex = Row.FormatIndex;
    Geometry.Heads = Row.Heads;
    Geometry.Tracks = Row.Tracks;
    Geometry.SectorsPerTrack = Row.SectorsPerTrack;
    Geometry.TotalBytes = Row.TotalBytes;
    Geometry.TracksText = std::string(Row.TracksText);
    Geometry.SectorsText = std::string(Row.SectorsText);
    Geometry.FormatName = std::string(Row.FormatName);
    // The radio buttons decide; with neither checked the letter stays what it was.
    if (Port.DriveRadioChecked('A'))
        Geometry.DriveLetter = "A";
    if (Port.DriveRadioChecked('B'))
        Geometry.DriveLetter = "B";
}

void TImaging::DetectMedia()
{
    if (State.NamedFormat >= 0) {
        Recognise(static_cast<uint8_t>(State.NamedFormat));
        FillGeometry(State.DiskGeometry);
        return;
    }
    int64_t Capacity = -1;
    if (Port.DriveMenuChecked('A'))
        Capacity = VolumeSize('A');
    if (Port.DriveMenuChecked('B'))
        Capacity = VolumeSize('B');

    if (Capacity < 0 && State.AllFormats &&
        State.CurrentOperation == TCurrentOperation::MakingDisk) {
        // Nothing to convert: a blank or damaged diskette is written when its medium fits.
        if (DetectBlankDiskette())
            return;
    }
    if (Capacity < 0) {
        // No readable volume: DiskGeometry keeps the previous detection.
        TModalResult Answer = Port.MessageBox("Can't find disk.  Try again?", "Attention!",
                                              TMsgButtons::YesNo, TQuestion::Retry);
        State.MediaRetryState = RetryStateOf(Answer);
        return;
    }

    uint8_t Found = FormatIndexOfCapacity(Capacity);
    if (State.AllFormats)
        Found = FormatOfBootSector(Found);
    if (Found == UnknownFormatIndex) {
        // Too small, or between the windows: the user decides, so the callers' loop always ends
        // with a recognised format or an answer.
        State.DiskGeometry.FormatIndex = UnknownFormatIndex;
        TModalResult Answer = Port.MessageBox(
            "The disk is the wrong capacity you must use 1.44MB, 1.2MB or 720k media.  Try again?",
            "Attention", TMsgButtons::YesNo, TQuestion::WrongCapacity);
        State.MediaRetryState = RetryStateOf(Answer);
    } else {
        Recognise(Found);
    }
    FillGeometry(State.DiskGeometry);
}

void TImaging::Recognise(uint8_t FormatIndex)
{
    const TFormatRow& Row = FormatOfIndex(FormatIndex, State.AllFormats);
    State.DiskGeometry.FormatIndex = FormatIndex;
    State.MediaRetryState = TMediaRetryState::Recognised;
    State.DiskSectorsText = std::string(Row.SectorsText);
    Port.SetGaugeMax(Row.Tracks);
}
