// Make Disk end to end: the real engine decompresses an image, the real helper writes it onto a
// blank virtual diskette, and the scripted window answers the questions.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "core/FormatTable.h"
#include "imaging/Imaging.h"
#include "platform/Drives.h"
#include "platform/Files.h"
#include "tests/imaging/ImagingFixture.h"
#include "tests/support/SampleDisk.h"

using namespace imagingtest;

namespace {

class MakeDiskTest : public TWorkflowTest<> {
protected:
    // A blank diskette made by the console tool, in drive A:.
    fs::path InsertBlank(unsigned FormatIndex) { return InsertFormatted('A', FormatIndex); }
    fs::path MakeImage(const std::string& Name, const Bytes& Content)
    {
        return MakeImageFile(Name, Content);
    }
};

class MakeDiskOfEachFormat : public MakeDiskTest,
                             public ::testing::WithParamInterface<unsigned> { };

TEST_P(MakeDiskOfEachFormat, WritesTheImageOntoABlankDisketteOfItsFormat)
{
    const char* const Prompts[] = {
        "Insert a 2.88 floppy into drive a: and click OK.",
        "Insert a 1.44MB floppy into drive a: and click OK.",
        "Insert a 1.2MB floppy into drive a: and click OK.",
        "Insert a 720k floppy into drive a: and click OK.",
        "Insert a 360k floppy into drive a: and click OK.",
    };
    const unsigned Format = GetParam();
    const TFormatRow& Row = FormatTable[Format];
    const Bytes Content = MakeSampleDisk(size_t(Row.TotalBytes), TSampleKind::Filled, 11 + Format);
    const fs::path Image = MakeImage("disk" + std::string(Row.Extension), Content);
    const fs::path Blank = InsertBlank(Format);
    const Bytes Before = ReadBytes(Blank);
    // Left by an earlier failed run: it must not fail this one.
    WriteBytes(State.WorkDir + "/error.dat", {'o', 'l', 'd', '\n'});
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Image.string()};

    Imaging->btnMakeDiskClick();

    ASSERT_EQ(Port.Shown.size(), 2u);
    EXPECT_EQ(Port.Shown[0].Dialog.Filter,
              "Marrowtide Image Files|*.144;*.720;*.120|All Files (*.*)|*.*");
    EXPECT_EQ(Port.Shown[0].Dialog.DefaultExt, "144");
    EXPECT_EQ(Port.Shown[1].Text, Prompts[Format]);
    EXPECT_EQ(Port.Shown[1].Caption, "Insert Disk");
    EXPECT_EQ(Port.Shown[1].Question, TQuestion::Insert);
    EXPECT_EQ(State.ConversionCase, TConversionCase(Format));
    EXPECT_EQ(StoredPath(), Image.string());
    EXPECT_EQ(Port.Text(TLabel::Messages), "Creating Diskette from Image.");
    EXPECT_EQ(Port.GaugeMax(), Format == 4 ? 40 : 80);

    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: OK.");
    EXPECT_EQ(Port.Text(TLabel::Messages), "Disk Complete.");
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
    EXPECT_FALSE(fs::exists(Dump()));

    // What the tracks hold is written; a padded dump's tail is not, nor is the diskette longer.
    const Bytes After = ReadBytes(Blank);
    ASSERT_EQ(After.size(), Before.size());
    const size_t Held = std::min(size_t(Row.Tracks) * 2 * Row.SectorsPerTrack * 512, After.size());
    EXPECT_TRUE(std::equal(After.begin(), After.begin() + Held, Content.begin()));
    EXPECT_TRUE(std::equal(After.begin() + Held, After.end(), Before.begin() + Held));
}

INSTANTIATE_TEST_SUITE_P(Formats, MakeDiskOfEachFormat, ::testing::Range(0u, 5u),
                         [](const auto& Info) {
                             return std::string("Format") + char('0' + Info.param);
                         });

// Every image (by its dump size; the last is a size of no format) against every diskette format
// (the last unknown): the same format gives its index, a diskette of larger capacity 5, one of
// smaller capacity or of no known format 6.
TEST(ClassifyFormats, EveryPairOfImageAndDisketteFormats)
{
    const int64_t DumpSizes[6] = {2949120, 1474560, 1231872, 737280, 377856, 1474561};
    const uint8_t Expected[6][6] = {
        // diskette 2.88MB, 1.44MB, 1.2MB, 720KB, 360KB, unknown
        {0, 6, 6, 6, 6, 6},  // image 2.88MB
        {5, 1, 6, 6, 6, 6},  // 1.44MB
        {5, 5, 2, 6, 6, 6},  // 1.2MB
        {5, 5, 5, 3, 6, 6},  // 720KB
        {5, 5, 5, 5, 4, 6},  // 360KB
        {6, 6, 6, 6, 6, 6},  // no format
    };
    for (uint8_t Image = 0; Image < 6; ++Image)
        for (uint8_t Disk = 0; Disk < 6; ++Disk)
            EXPECT_EQ(int(ClassifyFormats(DumpSizes[Image], Disk)), Expected[Image][Disk])
                << "image " << int(Image) << ", diskette " << int(Disk);
    // Dumps of the standard sizes other tools make are their formats too.
    EXPECT_EQ(int(ClassifyFormats(368640, 4)), 4);
    EXPECT_EQ(int(ClassifyFormats(1228800, 2)), 2);
    EXPECT_EQ(int(ClassifyFormats(368640, 1)), 5);
}

TEST_F(MakeDiskTest, CancelEndsTheCommandAndKeepsWhatWasDone)
{
    Port.FileAnswers = {""};
    Imaging->btnMakeDiskClick();
    EXPECT_EQ(State.CurrentOperation, TCurrentOperation::MakingDisk);
    EXPECT_EQ(State.LastFolder, (Root / "home").string());
    EXPECT_EQ(StoredPath(), "<no key>");
    EXPECT_FALSE(fs::exists(Dump()));

    // At the prompt: the dump and the finished decompression's texts stay; the drive radio
    // buttons, not the prompt, name the drive.
    Port.RadioA = false;
    Port.RadioB = true;
    const fs::path Image = MakeImage("small.360", MakeSampleDisk(377856, TSampleKind::Zero));
    Port.Answers = {TModalResult::Cancel};
    Port.FileAnswers = {Image.string()};
    Imaging->btnMakeDiskClick();
    EXPECT_EQ(Port.Shown.back().Text, "Insert a 360k floppy into drive a: and click OK.");
    EXPECT_EQ(State.ImageGeometry.DriveLetter, "B");
    EXPECT_EQ(fs::file_size(Dump()), 377856u);
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: OK.");
    EXPECT_EQ(Port.Text(TLabel::Messages), "Decompression Complete.");
    EXPECT_EQ(Port.Text(TLabel::Path), "/.../small.360");
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1));
}

TEST_F(MakeDiskTest, AnEngineErrorShowsItsMessageAndLeavesTheWindowIdle)
{
    // No container header at all, and a real image cut short.
    const fs::path NoHeader = Root / "images" / "notes.144";
    WriteBytes(NoHeader, Bytes(4000, 'x'));
    Bytes Half = ReadBytes(MakeImage("whole.144", MakeSampleDisk(1474560)));
    Half.resize(Half.size() / 2);
    const fs::path Cut = Root / "images" / "cut.144";
    WriteBytes(Cut, Half);
    const fs::path Empty = Root / "images" / "empty.144";
    WriteBytes(Empty, {});

    for (const fs::path& Bad : {NoHeader, Cut, Empty}) {
        Port.Shown.clear();
        Port.FileAnswers = {Bad.string()};
        Imaging->btnMakeDiskClick();

        ASSERT_EQ(Port.Shown.size(), 2u) << Bad;
        EXPECT_EQ(Port.Shown[1].Kind, "ErrorBox");
        if (Bad == NoHeader)
            EXPECT_EQ(Port.Shown[1].Text,
                      Bad.string() + " : Lzrw1 decompression : this file has no valid header !");
        else
            EXPECT_EQ(Port.Shown[1].Text.rfind("Lzrw1", 0), 0u) << Port.Shown[1].Text;
        EXPECT_EQ(Port.Text(TLabel::Status), " Status: Error!");
        EXPECT_TRUE(Port.AllCommandsEnabled(true));
        EXPECT_FALSE(Port.CompressorVisible);
        EXPECT_EQ(StoredPath(), Bad.string());  // stored before the image was examined
        EXPECT_FALSE(fs::exists(Dump()));
    }
}

TEST_F(MakeDiskTest, ADumpOfNoKnownSizeIsACorruptImage)
{
    // A byte short of 1.44MB, a byte over, and nothing; a stale dump of the right size must not
    // count either.
    for (size_t Size : {size_t(1474559), size_t(1474561), size_t(0)}) {
        SCOPED_TRACE(Size);
        Port.Shown.clear();
        WriteBytes(Dump(), Bytes(1474560, 0));
        Port.FileAnswers = {MakeImage("short.144", Bytes(Size, 0xF6)).string()};

        Imaging->btnMakeDiskClick();

        ASSERT_EQ(Port.Shown.size(), 2u);
        EXPECT_EQ(Port.Shown[1].Kind, "ShowMessage");
        EXPECT_EQ(Port.Shown[1].Text, "The image file is corrupt!");
        EXPECT_EQ(fs::file_size(Dump()), Size);
        EXPECT_EQ(Port.Text(TLabel::Messages), "Decompression Complete.");
        EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1));
        EXPECT_TRUE(Port.AllCommandsEnabled(true));
    }
}

TEST_F(MakeDiskTest, StartedWithAFileEndsAfterSuccessAndStaysAfterFailure)
{
    const Bytes Content = MakeSampleDisk(1474560, TSampleKind::Filled, 5);
    const fs::path Image = MakeImage("boot.144", Content);
    const fs::path Blank = InsertBlank(1);
    const Bytes Before = ReadBytes(Blank);
    State.Parameters = {"\"" + Image.string() + "\""};
    State.StartedWithFile = 1;

    // A write-protected diskette first.
    ::chmod(Blank.c_str(), 0444);
    Port.Answers = {TModalResult::OK};
    Imaging->StartFromCommandLine();
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Port.Shown.back().Text,
              "Error.  Could not write to the Diskette.\r\nWrite protected?  Wrong media?");
    EXPECT_EQ(Port.Text(TLabel::Messages), "Could not write to disk.");
    EXPECT_FALSE(Port.Terminated);
    EXPECT_EQ(ReadBytes(Blank), Before);

    ::chmod(Blank.c_str(), 0644);
    Port.Shown.clear();
    Port.Answers = {TModalResult::OK};
    Imaging->StartFromCommandLine();
    ASSERT_EQ(Port.Shown.size(), 1u);  // the insert prompt only: no file dialog
    EXPECT_EQ(State.ImagePath, Image.string());
    EXPECT_EQ(Port.Text(TLabel::Path), "/.../boot.144");
    EXPECT_EQ(Port.PathHint, "");
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Port.Text(TLabel::Messages), "Disk Complete.");
    EXPECT_TRUE(Port.Terminated);
    EXPECT_EQ(ReadBytes(Blank), Content);
    EXPECT_EQ(StoredPath(), "<no key>");
}

// "Can't find disk" answered No: nothing is written, the dump stays; the next read run then
// replaces the whole dump, so a longer one left behind cannot leak into a smaller image.
TEST_F(MakeDiskTest, TheDumpLeftAfterCancelDoesNotReachTheNextImage)
{
    const fs::path Large = MakeImage("large.288", MakeSampleDisk(2949120, TSampleKind::Random));
    SetDriveTableEntry('A', (Root / "gone.img").string());
    Port.Answers = {TModalResult::OK, TModalResult::No};
    Port.FileAnswers = {Large.string()};
    Imaging->btnMakeDiskClick();
    ASSERT_EQ(Port.Shown.size(), 3u);
    EXPECT_EQ(Port.Shown[2].Text, "Can't find disk.  Try again?");
    EXPECT_EQ(fs::file_size(Dump()), 2949120u);
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1));
    EXPECT_FALSE(FileExists(Work("working.dat")));
    EXPECT_TRUE(Port.AllCommandsEnabled(true));

    const fs::path Small = InsertBlank(4);
    Bytes Expected = ReadBytes(Small);
    Expected.resize(377856, 0);
    const fs::path Image = Root / "images" / "small.360";
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Image.string()};
    Imaging->btnMakeImageClick();
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Port.Text(TLabel::Messages), "Image Complete.");
    EXPECT_TRUE(Unpack(Image) == Expected);
    EXPECT_FALSE(fs::exists(Dump()));
}

// Closing the window while the engine decompresses: once the engine returns, the workflow asks
// nothing more and starts no run.
TEST_F(MakeDiskTest, ClosingTheWindowDuringDecompressionGoesNoFurther)
{
    InsertBlank(1);
    const fs::path Image = MakeImage("boot.144", MakeSampleDisk(1474560));
    Port.Host.WhilePumping = [&] { State.Terminating = true; };
    Port.FileAnswers = {Image.string()};
    Imaging->btnMakeDiskClick();
    ASSERT_TRUE(State.Terminating) << "the engine never let the window handle its events";
    ASSERT_EQ(Port.Shown.size(), 1u);
    EXPECT_EQ(fs::file_size(Dump()), 1474560u) << "the decompression itself is finished";
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1));
    EXPECT_FALSE(FileExists(Work("working.dat")));
}

// With drive B: chosen, detection, the write run and the read run all use B:, and A: is left
// alone.
TEST_F(MakeDiskTest, DriveBIsTheOneWrittenAndReadWhenChosen)
{
    const fs::path DriveA = InsertFormatted('A', 1);
    const fs::path DriveB = InsertFormatted('B', 1);
    const Bytes LeftAlone = ReadBytes(DriveA);
    Port.MenuA = Port.RadioA = false;
    Port.MenuB = Port.RadioB = true;
    State.SelectedDrive = "B";
    const Bytes Content = MakeSampleDisk(1474560, TSampleKind::Filled, 8);
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {MakeImage("b.144", Content).string()};
    Imaging->btnMakeDiskClick();
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Port.Text(TLabel::Messages), "Disk Complete.");
    EXPECT_TRUE(ReadBytes(DriveB) == Content);
    EXPECT_TRUE(ReadBytes(DriveA) == LeftAlone);

    const fs::path Image = Root / "images" / "fromb.144";
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Image.string()};
    Imaging->btnMakeImageClick();
    EXPECT_EQ(State.DiskGeometry.DriveLetter, "B");
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Port.Text(TLabel::Messages), "Image Complete.");
    EXPECT_TRUE(Unpack(Image) == Content);
}

}  // namespace
