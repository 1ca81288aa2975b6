// Formats and media detection on virtual diskettes: the capacity comes from the boot sector of
// the image file the drive table points at, as it would from a real diskette.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FormatTable.h"
#include "imaging/Imaging.h"
#include "platform/Drives.h"
#include "platform/FatBoot.h"
#include "tests/imaging/ImagingFixture.h"

using namespace imagingtest;

namespace {

class GeometryTest : public TImagingTest<> {
protected:
    // A volume whose data area is exactly DataSectors sectors of 512 bytes.
    void InsertCrafted(char Letter, uint32_t DataSectors)
    {
        TBootParameters P{};
        P.SectorsPerCluster = 1;
        P.RootEntries = 16;  // one sector
        P.SectorsPerFat = 1;
        P.Media = 0xF0;
        P.SectorsPerTrack = 18;
        P.Heads = 2;
        P.TotalSectors = P.FirstDataSector() + DataSectors;
        std::vector<uint8_t> Boot(512, 0);
        WriteBootSector(Boot.data(), P, 0x1234);
        fs::path File = Root / ("crafted-" + std::to_string(DataSectors));
        std::ofstream(File, std::ios::binary)
            .write(reinterpret_cast<const char*>(Boot.data()), std::streamsize(Boot.size()));
        SetDriveTableEntry(Letter, File.string());
        ASSERT_EQ(VolumeSize(Letter), int64_t(DataSectors) * 512);
    }

    // A medium without any FAT boot sector: the system finds no volume on it.
    void InsertUnformatted(char Letter)
    {
        fs::path File = Root / "unformatted";
        std::ofstream(File, std::ios::binary) << std::string(4096, '\0');
        SetDriveTableEntry(Letter, File.string());
    }
};

// The rows themselves are checked through detection below; here the index outside the table
// and the drive letter.
TEST_F(GeometryTest, FillGeometryMapsIndexesPastTheTableToTheUnknownFormat)
{
    for (uint8_t Index : {uint8_t(6), uint8_t(255)}) {
        TGeometry G;
        G.FormatIndex = 4;
        Imaging->FillGeometry(G);
        EXPECT_EQ(G.SectorsText, "09");
        EXPECT_EQ(G.TotalBytes, 377856);
        G.FormatIndex = Index;
        Imaging->FillGeometry(G);
        EXPECT_EQ(G.FormatIndex, 5);
        EXPECT_EQ(G.Heads, 0);
        EXPECT_EQ(G.Tracks, 0);
        EXPECT_EQ(G.SectorsPerTrack, 0);
        EXPECT_EQ(G.TotalBytes, 0);
        EXPECT_EQ(G.TracksText, "0");
        EXPECT_EQ(G.SectorsText, "0");
        EXPECT_EQ(G.FormatName, "Unknown Format");
    }
}

TEST_F(GeometryTest, TheDriveLetterComesFromTheRadioButtonsAlone)
{
    TGeometry G;
    G.FormatIndex = 1;
    G.DriveLetter = "Q";
    Port.MenuA = true;
    Imaging->FillGeometry(G);
    EXPECT_EQ(G.DriveLetter, "Q") << "neither radio button: the letter stays";

    Port.RadioA = true;
    Imaging->FillGeometry(G);
    EXPECT_EQ(G.DriveLetter, "A");

    Port.RadioA = false;
    Port.RadioB = true;
    Imaging->FillGeometry(G);
    EXPECT_EQ(G.DriveLetter, "B") << "whatever the menu items show";

    Port.RadioA = true;
    Imaging->FillGeometry(G);
    EXPECT_EQ(G.DriveLetter, "B") << "B: is looked at last";
}

TEST_F(GeometryTest, CapacityWindowsExcludeTheirBounds)
{
    const std::pair<int64_t, int> Cases[] = {
        {2800000, 5}, {2800001, 0}, {2999999, 0}, {3000000, 5}, {1400000, 5}, {1400001, 1},
        {1499999, 1}, {1500000, 5}, {1200000, 5}, {1200001, 2}, {1299999, 2}, {1300000, 5},
        {700000, 5},  {700001, 3},  {799999, 3},  {800000, 5},  {300000, 5},  {300001, 4},
        {399999, 4},  {400000, 5},  {0, 5},       {-1, 5},      {INT64_MAX, 5}};
    for (auto [Capacity, Index] : Cases)
        EXPECT_EQ(TImaging::FormatIndexOfCapacity(Capacity), Index) << Capacity;
}

TEST_F(GeometryTest, EveryStandardDisketteIsRecognisedWithItsSettings)
{
    const int Gauges[] = {80, 80, 80, 40, 40};
    const char* Sectors[] = {"36", "18", "15", "18", "09"};
    Port.RadioA = true;
    for (unsigned Index = 0; Index < 5; ++Index) {
        InsertFormatted('A', Index);
        Port.GaugeMaximum = 1;
        State.MediaRetryState = 1;
        Imaging->DetectMedia();
        EXPECT_EQ(State.MediaRetryState, 0) << FormatNames[Index];
        EXPECT_EQ(Imaging->DiskGeometry.FormatIndex, Index);
        EXPECT_EQ(Imaging->DiskGeometry.FormatName, FormatNames[Index]);
        EXPECT_EQ(Imaging->DiskGeometry.DriveLetter, "A");
        EXPECT_EQ(State.DiskSectorsText, Sectors[Index]);
        EXPECT_EQ(Port.GaugeMaximum, Gauges[Index]);
    }
    EXPECT_TRUE(Port.Shown.empty()) << "a recognised diskette asks nothing";
}

TEST_F(GeometryTest, TheMenuItemOfDriveBDecidesWhenBothAreChecked)
{
    InsertFormatted('A', 1);
    InsertFormatted('B', 4);
    Port.MenuA = Port.MenuB = true;
    Imaging->DetectMedia();
    EXPECT_EQ(Imaging->DiskGeometry.FormatIndex, 4);

    Port.MenuB = false;
    Imaging->DetectMedia();
    EXPECT_EQ(Imaging->DiskGeometry.FormatIndex, 1);
}

TEST_F(GeometryTest, NoVolumeAsksToTryAgainAndKeepsThePreviousDetection)
{
    InsertFormatted('A', 3);
    Port.RadioA = true;
    Imaging->DetectMedia();
    ASSERT_EQ(Imaging->DiskGeometry.FormatIndex, 3);
    Port.GaugeMaximum = 40;

    InsertUnformatted('A');
    Port.RadioA = false;
    Port.RadioB = true;  // a refill would change the letter
    Port.Answers = {TModalResult::Yes, TModalResult::No, TModalResult::Yes};
    State.MediaRetryState = 0;
    Imaging->DetectMedia();
    EXPECT_EQ(State.MediaRetryState, 1);
    Imaging->DetectMedia();
    EXPECT_EQ(State.MediaRetryState, 2);

    // No drive selected at all is "no volume" too.
    Port.MenuA = false;
    Imaging->DetectMedia();
    EXPECT_EQ(State.MediaRetryState, 1);

    ASSERT_EQ(Port.Shown.size(), 3u);
    for (const auto& Entry : Port.Shown) {
        EXPECT_EQ(Entry.Kind, "MessageBox");
        EXPECT_EQ(Entry.Text, "Can't find disk.  Try again?");
        EXPECT_EQ(Entry.Caption, "Attention!");
        EXPECT_EQ(Entry.Buttons, TMsgButtons::YesNo);
    }
    EXPECT_EQ(Imaging->DiskGeometry.FormatIndex, 3);
    EXPECT_EQ(Imaging->DiskGeometry.FormatName, "720KB");
    EXPECT_EQ(Imaging->DiskGeometry.DriveLetter, "A");
    EXPECT_EQ(State.DiskSectorsText, "18");
    EXPECT_EQ(Port.GaugeMaximum, 40);
}

TEST_F(GeometryTest, CapacitiesJustInsideTheWindowsAreRecognised)
{
    // 5469 sectors = 2,800,128 bytes; 586 = 300,032; 781 = 399,872.
    const std::pair<uint32_t, int> Cases[] = {{5469, 0}, {586, 4}, {781, 4}};
    for (auto [Sectors, Index] : Cases) {
        InsertCrafted('A', Sectors);
        Imaging->DetectMedia();
        EXPECT_EQ(State.MediaRetryState, 0) << Sectors;
        EXPECT_EQ(Imaging->DiskGeometry.FormatIndex, Index) << Sectors;
    }
    EXPECT_TRUE(Port.Shown.empty());
}

// Too small, between two windows or too large: the user is asked, and the record describes the
// unknown format, so the callers' retry loop always ends with an answer.
TEST_F(GeometryTest, EveryUnrecognisedCapacityAsksTheWrongCapacityQuestion)
{
    // 299,520 / 400,384 / 512,000 / 2,799,616 / 3,000,320 bytes.
    const uint32_t Sizes[] = {585, 782, 1000, 5468, 5860};
    InsertFormatted('A', 1);
    Imaging->DetectMedia();
    Port.GaugeMaximum = 80;
    for (uint32_t Sectors : Sizes) {
        InsertCrafted('A', Sectors);
        Port.Answers = {TModalResult::Yes, TModalResult::No};
        State.MediaRetryState = 1;
        int Rounds = 0;
        while (State.MediaRetryState == 1 && Rounds < 5) {
            Imaging->DetectMedia();
            ++Rounds;
        }
        EXPECT_EQ(Rounds, 2) << Sectors;
        EXPECT_EQ(State.MediaRetryState, 2) << Sectors;
        EXPECT_EQ(Imaging->DiskGeometry.FormatIndex, 5) << Sectors;
        EXPECT_EQ(Imaging->DiskGeometry.FormatName, "Unknown Format");
        EXPECT_EQ(Imaging->DiskGeometry.TracksText, "0");
    }
    ASSERT_EQ(Port.Shown.size(), 2 * std::size(Sizes));
    for (const auto& Entry : Port.Shown) {
        EXPECT_EQ(Entry.Text, "The disk is the wrong capacity you must use 1.44MB, 1.2MB or 720k "
                              "media.  Try again?");
        EXPECT_EQ(Entry.Caption, "Attention");
        EXPECT_EQ(Entry.Buttons, TMsgButtons::YesNo);
    }
    // The recognised diskette's sectors text and gauge stay.
    EXPECT_EQ(State.DiskSectorsText, "18");
    EXPECT_EQ(Port.GaugeMaximum, 80);
}

}  // namespace
