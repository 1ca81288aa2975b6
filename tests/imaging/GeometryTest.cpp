// Formats and media detection on virtual diskettes: the capacity comes from the boot sector of
// the image file the drive table points at, as it would from a real diskette.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/FormatTable.h"
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

    // Detection as Make Image runs it: "Insert Diskette." answered OK, then Answers to
    // detection's own questions; the save dialog of a recognised diskette is cancelled. Only
    // detection's questions are kept in Port.Shown.
    void Detect(std::initializer_list<TModalResult> Answers = {})
    {
        Port.Answers = {TModalResult::OK};
        Port.Answers.insert(Port.Answers.end(), Answers);
        Port.FileAnswers = {""};
        const size_t First = Port.Shown.size();
        Imaging->btnMakeImageClick();
        ASSERT_GT(Port.Shown.size(), First);
        ASSERT_EQ(Port.Shown[First].Text, "Insert Diskette.");
        Port.Shown.erase(Port.Shown.begin() + First);
        if (!Port.Shown.empty() && Port.Shown.back().Kind == "SaveDialog")
            Port.Shown.pop_back();
        EXPECT_TRUE(Port.Answers.empty()) << "detection asked less than expected";
    }

    // A medium without any FAT boot sector: the system finds no volume on it.
    void InsertUnformatted(char Letter)
    {
        fs::path File = Root / "unformatted";
        std::ofstream(File, std::ios::binary) << std::string(4096, '\0');
        SetDriveTableEntry(Letter, File.string());
    }
};

// Indexes past the table give the unknown format's row.
TEST_F(GeometryTest, IndexesPastTheTableGiveTheUnknownFormat)
{
    EXPECT_EQ(FormatOfIndex(4).SectorsText, "09");
    EXPECT_EQ(FormatOfIndex(4).TotalBytes, 377856);
    for (unsigned Index : {5u, 6u, 255u}) {
        const TFormatRow& Row = FormatOfIndex(Index);
        EXPECT_EQ(Row.FormatIndex, 5);
        EXPECT_EQ(Row.Heads, 0);
        EXPECT_EQ(Row.Tracks, 0);
        EXPECT_EQ(Row.SectorsPerTrack, 0);
        EXPECT_EQ(Row.TotalBytes, 0);
        EXPECT_EQ(Row.TracksText, "0");
        EXPECT_EQ(Row.SectorsText, "0");
        EXPECT_EQ(Row.FormatName, "Unknown Format");
    }
}

TEST_F(GeometryTest, TheDriveLetterComesFromTheRadioButtonsAlone)
{
    InsertFormatted('A', 1);
    State.DiskGeometry.DriveLetter = "Q";
    Port.MenuA = true;
    Detect();
    EXPECT_EQ(State.DiskGeometry.DriveLetter, "Q") << "neither radio button: the letter stays";

    Port.RadioA = true;
    Detect();
    EXPECT_EQ(State.DiskGeometry.DriveLetter, "A");

    Port.RadioA = false;
    Port.RadioB = true;
    Detect();
    EXPECT_EQ(State.DiskGeometry.DriveLetter, "B") << "whatever the menu items show";

    Port.RadioA = true;
    Detect();
    EXPECT_EQ(State.DiskGeometry.DriveLetter, "B") << "B: is looked at last";
}

TEST_F(GeometryTest, CapacityWindowsExcludeTheirBounds)
{
    const std::pair<int64_t, int> Cases[] = {
        {2800000, 5}, {2800001, 0}, {2999999, 0}, {3000000, 5}, {1400000, 5}, {1400001, 1},
        {1499999, 1}, {1500000, 5}, {1200000, 5}, {1200001, 2}, {1299999, 2}, {1300000, 5},
        {700000, 5},  {700001, 3},  {799999, 3},  {800000, 5},  {300000, 5},  {300001, 4},
        {399999, 4},  {400000, 5},  {0, 5},       {-1, 5},      {INT64_MAX, 5}};
    for (auto [Capacity, Index] : Cases)
        EXPECT_EQ(FormatIndexOfCapacity(Capacity), Index) << Capacity;
}

TEST_F(GeometryTest, EveryStandardDisketteIsRecognisedWithItsSettings)
{
    const int Gauges[] = {80, 80, 80, 40, 40};
    const char* Sectors[] = {"36", "18", "15", "18", "09"};
    Port.RadioA = true;
    for (unsigned Index = 0; Index < 5; ++Index) {
        InsertFormatted('A', Index);
        Port.GaugeMaximum = 1;
        Detect();
        EXPECT_EQ(State.MediaRetryState, TMediaRetryState::Recognised) << FormatNames[Index];
        EXPECT_EQ(State.DiskGeometry.FormatIndex, Index);
        EXPECT_EQ(State.DiskGeometry.FormatName, FormatNames[Index]);
        EXPECT_EQ(State.DiskGeometry.DriveLetter, "A");
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
    Detect();
    EXPECT_EQ(State.DiskGeometry.FormatIndex, 4);

    Port.MenuB = false;
    Detect();
    EXPECT_EQ(State.DiskGeometry.FormatIndex, 1);
}

TEST_F(GeometryTest, NoVolumeAsksToTryAgainAndKeepsThePreviousDetection)
{
    InsertFormatted('A', 3);
    Port.RadioA = true;
    Detect();
    ASSERT_EQ(State.DiskGeometry.FormatIndex, 3);
    Port.GaugeMaximum = 40;

    // Yes measures again, No gives up.
    InsertUnformatted('A');
    Port.RadioA = false;
    Port.RadioB = true;  // a refill would change the letter
    Detect({TModalResult::Yes, TModalResult::No});
    EXPECT_EQ(State.MediaRetryState, TMediaRetryState::GaveUp);

    // No drive selected at all is "no volume" too.
    Port.MenuA = false;
    Detect({TModalResult::Yes, TModalResult::No});

    ASSERT_EQ(Port.Shown.size(), 4u);
    for (const auto& Entry : Port.Shown) {
        EXPECT_EQ(Entry.Kind, "MessageBox");
        EXPECT_EQ(Entry.Text, "Can't find disk.  Try again?");
        EXPECT_EQ(Entry.Caption, "Attention!");
        EXPECT_EQ(Entry.Buttons, TMsgButtons::YesNo);
        EXPECT_EQ(Entry.Question, TQuestion::Retry);
    }
    EXPECT_EQ(State.DiskGeometry.FormatIndex, 3);
    EXPECT_EQ(State.DiskGeometry.FormatName, "720KB");
    EXPECT_EQ(State.DiskGeometry.DriveLetter, "A");
    EXPECT_EQ(State.DiskSectorsText, "18");
    EXPECT_EQ(Port.GaugeMaximum, 40);
}

TEST_F(GeometryTest, CapacitiesJustInsideTheWindowsAreRecognised)
{
    // 5469 sectors = 2,800,128 bytes; 586 = 300,032; 781 = 399,872.
    const std::pair<uint32_t, int> Cases[] = {{5469, 0}, {586, 4}, {781, 4}};
    Port.RadioA = true;
    for (auto [Sectors, Index] : Cases) {
        InsertCrafted('A', Sectors);
        Detect();
        EXPECT_EQ(State.MediaRetryState, TMediaRetryState::Recognised) << Sectors;
        EXPECT_EQ(State.DiskGeometry.FormatIndex, Index) << Sectors;
    }
    EXPECT_TRUE(Port.Shown.empty());
}

// Too small, between two windows or too large: the user is asked, and the record describes the
// unknown format, so the callers' retry loop always ends with an answer.
TEST_F(GeometryTest, EveryUnrecognisedCapacityAsksTheWrongCapacityQuestion)
{
    // 299,520 / 400,384 / 512,000 / 2,799,616 / 3,000,320 bytes.
    const uint32_t Sizes[] = {585, 782, 1000, 5468, 5860};
    Port.RadioA = true;
    InsertFormatted('A', 1);
    Detect();
    Port.GaugeMaximum = 80;
    for (uint32_t Sectors : Sizes) {
        InsertCrafted('A', Sectors);
        const size_t Before = Port.Shown.size();
        Detect({TModalResult::Yes, TModalResult::No});
        EXPECT_EQ(Port.Shown.size() - Before, 2u) << Sectors;
        EXPECT_EQ(State.MediaRetryState, TMediaRetryState::GaveUp) << Sectors;
        const TGeometry& G = State.DiskGeometry;
        EXPECT_EQ(G.FormatIndex, 5) << Sectors;
        EXPECT_EQ(G.FormatName, "Unknown Format");
        EXPECT_EQ(G.TracksText, "0");
        EXPECT_EQ(G.SectorsText, "0");
        EXPECT_EQ(G.Heads + G.Tracks + G.SectorsPerTrack + G.TotalBytes, 0);
    }
    ASSERT_EQ(Port.Shown.size(), 2 * std::size(Sizes));
    for (const auto& Entry : Port.Shown) {
        EXPECT_EQ(Entry.Text, "The disk is the wrong capacity you must use 1.44MB, 1.2MB or 720k "
                              "media.  Try again?");
        EXPECT_EQ(Entry.Caption, "Attention");
        EXPECT_EQ(Entry.Buttons, TMsgButtons::YesNo);
        EXPECT_EQ(Entry.Question, TQuestion::WrongCapacity);
    }
    // The recognised diskette's sectors text and gauge stay.
    EXPECT_EQ(State.DiskSectorsText, "18");
    EXPECT_EQ(Port.GaugeMaximum, 80);
}

}  // namespace
