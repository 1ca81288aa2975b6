// Verification: a diskette is read as for an image and its dump compared with the dump an
// image holds, so an archivist knows a written diskette (or an old image) is sound.
#include <fstream>
#include <iterator>

#include "core/FormatTable.h"
#include "imaging/Imaging.h"
#include "platform/FatBoot.h"
#include "platform/Files.h"

namespace {

constexpr size_t SectorSize = 512;
const char* const ImageDump = "image.del";

// "track/side/sector" of a sector counted from the start of the dump, on the diskette as its
// format lays it out (the helper's own track counts differ for 720KB).
std::string SectorName(size_t Sector, const TFormatRow& Layout)
{
    const size_t PerTrack = size_t(Layout.Sectors);
    const size_t Sides = size_t(Layout.Sides);
    return std::to_string(Sector / (PerTrack * Sides)) + "/" +
           std::to_string(Sector / PerTrack % Sides) + "/" + std::to_string(Sector % PerTrack + 1);
}

bool ReadWhole(const std::string& Path, std::vector<uint8_t>& Bytes)
{
    std::ifstream In(Path, std::ios::binary);
    Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    return In.good() || In.eof();
}

}  // namespace

std::vector<std::string> SectorRanges(const std::vector<bool>& Marked, uint8_t FormatIndex)
{
    const TFormatRow& Row = FormatOfIndex(IsKnownFormat(FormatIndex, true) ? FormatIndex : 4, true);
    std::vector<std::string> Ranges;
    size_t First = 0;
    bool InRange = false;
    for (size_t Sector = 0; Sector <= Marked.size(); ++Sector) {
        const bool Set = Sector < Marked.size() && Marked[Sector];
        if (Set && !InRange) {
            First = Sector;
            InRange = true;
        } else if (!Set && InRange) {
            const size_t Last = Sector - 1;
            Ranges.push_back(SectorName(First, Row) +
                             (Last == First ? "" : "-" + SectorName(Last, Row)));
            InRange = false;
        }
    }
    return Ranges;
}

std::vector<std::string> DifferingSectors(const std::vector<uint8_t>& Disk,
                                          const std::vector<uint8_t>& Image, uint8_t FormatIndex)
{
    const size_t Size = std::min(Disk.size(), Image.size());
    std::vector<bool> Differs((Size + SectorSize - 1) / SectorSize);
    for (size_t Sector = 0; Sector < Differs.size(); ++Sector) {
        const size_t At = Sector * SectorSize;
        const size_t Length = std::min(SectorSize, Size - At);
        Differs[Sector] = !std::equal(Disk.begin() + At, Disk.begin() + At + Length,
                                      Image.begin() + At);
    }
    return SectorRanges(Differs, FormatIndex);
}

void TImaging::VerifyDiskette()
{
    if (!BeginCommand(TCurrentOperation::Verifying))
        return;
    if (!DecompressImage(ImageDump) || State.Terminating) {
        RemoveDumps();
        return;
    }
    State.ImageGeometry.FormatIndex =
        FormatIndexOfDumpSize(std::max<int64_t>(FileSize(State.WorkDir + "/" + ImageDump), 0),
                              State.AllFormats);
    if (!KnownFormat(State.ImageGeometry.FormatIndex)) {
        RemoveDumps();
        Port.ShowMessage("The image file is corrupt!");
        return;
    }
    FillGeometry(State.ImageGeometry);
    if (!InsertAndDetect()) {
        RemoveDumps();
        return;
    }
    StartReadRun("Reading the Diskette to compare it with the Image.");
}

bool TImaging::CompareWithImage()
{
    std::vector<uint8_t> Disk, Image;
    if (!ReadWhole(State.WorkDir + "/temp.del", Disk) ||
        !ReadWhole(State.WorkDir + "/" + ImageDump, Image)) {
        Port.SetText(TLabel::Status, " Status: Error!");
        Port.MessageDlg("Cannot read the dumps to compare in " + State.WorkDir, TMsgDlgType::Error,
                        TMsgButtons::OK);
        return false;
    }
    // A dump of the medium's own size (another tool's 360KB or 1.2MB) against the longer one
    // a read leaves: the sectors the diskette holds are compared.
    const size_t Medium = size_t(FormatOfIndex(State.ImageGeometry.FormatIndex, true).MediumBytes());
    if (Disk.size() != Image.size() && Disk.size() >= Medium && Image.size() >= Medium &&
        State.DiskGeometry.FormatIndex == State.ImageGeometry.FormatIndex) {
        Disk.resize(Medium);
        Image.resize(Medium);
    }
    if (Disk.size() != Image.size()) {
        Port.SetText(TLabel::Status, " Status: Error!");
        Port.MessageDlg("The Diskette is " + State.DiskGeometry.FormatName + ", the Image " +
                            State.ImageGeometry.FormatName + ".",
                        TMsgDlgType::Warning, TMsgButtons::OK);
        return false;
    }
    const std::vector<std::string> Ranges =
        DifferingSectors(Disk, Image, State.ImageGeometry.FormatIndex);
    if (Ranges.empty()) {
        Port.SetText(TLabel::Status, " Status: OK.");
        Port.SetText(TLabel::Messages, "The Diskette matches the Image.");
        return true;
    }
    std::string Detail;
    for (const std::string& Range : Ranges)
        Detail += (Detail.empty() ? "" : "\r\n") + Range;
    Port.SetText(TLabel::Status, " Status: Error!");
    Port.SetText(TLabel::Messages, "The Diskette differs from the Image.");
    Port.MessageDlg("The Diskette differs from the Image in these sectors (track/side/sector):",
                    TMsgDlgType::Warning, TMsgButtons::OK, Detail);
    return false;
}

void TImaging::RemoveDumps()
{
    DeleteFile(State.WorkDir + "/temp.del");
    DeleteFile(State.WorkDir + "/" + ImageDump);
}
