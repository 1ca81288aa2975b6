// What detection does beyond the window's capacity windows, for the console tool (AllFormats):
// the formats the window does not know are told by the boot sector, and a diskette without a
// usable boot sector is written when its medium is the image's size.
#include "imaging/Imaging.h"
#include "platform/Drives.h"
#include "platform/FatBoot.h"
#include "core/FormatTable.h"

namespace {

std::string Thousands(int64_t Value)
{
    std::string Text = std::to_string(Value);
    for (int At = int(Text.size()) - 3; At > 0; At -= 3)
        Text.insert(size_t(At), ",");
    return Text;
}

}  // namespace

char TImaging::DetectionDrive() const
{
    // As detection reads the menu items: B: when both are checked.
    return Port.DriveMenuChecked('B') ? 'B' : Port.DriveMenuChecked('A') ? 'A' : 0;
}

uint8_t TImaging::FormatOfBootSector(uint8_t ByCapacity) const
{
    TBootParameters P{};
    if (!BootParametersOfTarget(DriveTarget(DetectionDrive()), P) || P.BytesPerSector != 512)
        return ByCapacity;
    const uint8_t ByLayout = FormatIndexOfLayout(P.TotalSectors, P.Heads, P.SectorsPerTrack, true);
    // A 320KB volume lies in the 360KB window: the boot sector of an added format decides.
    if (ByLayout > UnknownFormatIndex || ByCapacity == UnknownFormatIndex)
        return ByLayout;
    return ByCapacity;
}

bool TImaging::DetectBlankDiskette()
{
    const char Letter = DetectionDrive();
    const std::string Target = DriveTarget(Letter);
    const TMediumProbe Medium = ProbeMedium(Target);
    if (Medium.Kind == TMediumProbe::Missing || Medium.Kind == TMediumProbe::NoMedium)
        return false;

    const std::string Drive = std::string("The diskette in ") + Letter + ": (" + Target + ")";
    const TFormatRow& Image = FormatOfIndex(State.ImageGeometry.FormatIndex, true);
    State.MediaRetryState = TMediaRetryState::GaveUp;
    if (Medium.Kind == TMediumProbe::Unreadable && Medium.BlockDevice) {
        Port.MessageDlg(Drive + " cannot be read: it is probably not formatted, and an unformatted "
                                "diskette cannot be written. Format it first with a low-level "
                                "formatting tool: fdformat or superformat (package fdutils) on "
                                "Linux, FORMAT on DOS and Windows.",
                        TMsgDlgType::Error, TMsgButtons::OK);
        return true;
    }
    if (Medium.Kind == TMediumProbe::Readable &&
        (Medium.Bytes == Image.MediumBytes() || Medium.Bytes == Image.TotalBytes)) {
        Recognise(Image.FormatIndex);
        FillGeometry(State.DiskGeometry);
        return true;
    }
    const uint8_t Size = FormatIndexOfDumpSize(Medium.Bytes, true);
    const std::string Is = Size == UnknownFormatIndex
                               ? "the size of no diskette format"
                               : "the size of a " + std::string(FormatTable[Size].FormatName) +
                                     " diskette";
    Port.MessageDlg(Drive + " has no usable boot sector, and its medium holds " +
                        Thousands(std::max<int64_t>(Medium.Bytes, 0)) + " bytes, " + Is +
                        ": it cannot take the " + std::string(Image.FormatName) + " image (" +
                        Thousands(Image.MediumBytes()) + " bytes).",
                    TMsgDlgType::Error, TMsgButtons::OK);
    return true;
}
