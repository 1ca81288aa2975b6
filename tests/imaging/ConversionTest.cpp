// Format conversion end to end: an image written onto a diskette of another format, through
// the conversion dialog (or past it), a one-track conversion run and the ordinary write run.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/FormatTable.h"
#include "imaging/Imaging.h"
#include "platform/Drives.h"
#include "platform/Files.h"
#include "tests/imaging/ImagingFixture.h"
#include "tests/support/SampleDisk.h"

using namespace imagingtest;
using Lines = std::vector<std::string>;

namespace {

constexpr size_t TrackOf18 = 2 * 18 * 512;

// Remembers what the window showed when each message dialog came up.
class TWatchingPort : public imagingtest::TFakePort {
public:
    struct TMoment {
        std::string Text, Messages;
        bool Timer1, Timer3;
    };
    std::vector<TMoment> Moments;
    TModalResult MessageDlg(const std::string& Text, TMsgDlgType Type, TMsgButtons Buttons,
                            const std::string& Detail = {},
                            TQuestion Kind = TQuestion::Report) override
    {
        Moments.push_back({Text, this->Text(TLabel::Messages), TimerEnabled(TTimer::Timer1),
                           TimerEnabled(TTimer::Timer3)});
        return TFakePort::MessageDlg(Text, Type, Buttons, Detail, Kind);
    }
};

class ConversionTest : public TWorkflowTest<TWatchingPort> {
protected:
    fs::path Image, Diskette;
    Bytes Content, Before;

    // An image of ImageFormat, and a blank diskette of DiskFormat in drive A:.
    void Prepare(unsigned ImageFormat, unsigned DiskFormat)
    {
        Content =
            MakeSampleDisk(size_t(FormatTable[ImageFormat].TotalBytes), TSampleKind::Filled, 21);
        Image = MakeImageFile("disk" + std::string(FormatTable[ImageFormat].Extension), Content);
        Diskette = InsertFormatted('A', DiskFormat);
        Before = ReadBytes(Diskette);
        Port.FileAnswers = {Image.string()};
    }

    bool Finish(TTimer Timer) { return FinishRun(Timer); }

    // Just after the conversion: its Count bytes are the image's. The write run has started in
    // the same tick and may have put more of the image on the diskette by now, but nothing else.
    bool ConvertedTrackThere(size_t Count) const
    {
        const Bytes Now = ReadBytes(Diskette);
        if (Now.size() != Before.size() || !std::equal(Now.begin(), Now.begin() + Count, Content.begin()))
            return false;
        for (size_t I = Count; I < Now.size(); ++I)
            if (Now[I] != Before[I] && (I >= Content.size() || Now[I] != Content[I]))
                return false;
        return true;
    }

    // The diskette holds the image's first Count bytes and its own bytes after them.
    bool DisketteStartsWith(size_t Count) const
    {
        const Bytes Now = ReadBytes(Diskette);
        return Now.size() == Before.size() &&
            std::equal(Now.begin(), Now.begin() + Count, Content.begin()) &&
            std::equal(Now.begin() + Count, Now.end(), Before.begin() + Count);
    }
};

TEST_F(ConversionTest, A720KImageOnA144DisketteIsConvertedThenWritten)
{
    Prepare(3, 1);
    Port.Answers = {TModalResult::OK, TModalResult::OK};

    Imaging->btnMakeDiskClick();

    ASSERT_EQ(Port.Shown.back().Kind, "ConvertDialog");
    EXPECT_EQ(Port.Shown.back().Text, "1.44MB -> 720KB ?");
    EXPECT_EQ(
        Port.Shown.back().Lines,
        (Lines{"The Diskette you inserted is formated as 1.44MB.", "The Image is a 720KB format.",
               "", "If you would like you can convert the Diskette format to 720KB."}));
    EXPECT_EQ(State.ConversionCase, TConversionCase::DisketteLarger);
    EXPECT_TRUE(Port.TimerEnabled(TTimer::Timer3));
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1));
    EXPECT_EQ(Port.GaugeMax(), 4);
    EXPECT_EQ(Port.Text(TLabel::Messages), "Converting Media File System.");
    EXPECT_TRUE(Port.AllCommandsEnabled(false));

    // One track of the diskette's own 18 sectors, then the write run with the image's texts.
    ASSERT_TRUE(Finish(TTimer::Timer3));
    EXPECT_TRUE(Port.Moments.empty());  // no eject message on newer systems
    EXPECT_TRUE(ConvertedTrackThere(TrackOf18));
    EXPECT_EQ(State.ImageTracksText, "40");
    EXPECT_EQ(State.ImageSectorsText, "18");
    EXPECT_TRUE(Port.TimerEnabled(TTimer::Timer1));
    EXPECT_EQ(Port.GaugeMax(), 40);
    EXPECT_EQ(Port.Text(TLabel::Messages), "Creating Diskette from Image.");

    ASSERT_TRUE(Finish(TTimer::Timer1));
    EXPECT_EQ(Port.Text(TLabel::Messages), "Disk Complete.");
    EXPECT_TRUE(DisketteStartsWith(Content.size()));
    EXPECT_GT(VolumeSize('A'), 700000);  // it now reads as a 720KB diskette
    EXPECT_LT(VolumeSize('A'), 800000);
}

TEST_F(ConversionTest, OlderSystemsAskForTheDisketteToBeReinsertedBetweenTheRuns)
{
    Prepare(1, 0);
    State.Windows5OrLater = false;
    Port.IgnoreMedia = true;
    Port.Answers = {TModalResult::OK};

    Imaging->btnMakeDiskClick();
    ASSERT_TRUE(Finish(TTimer::Timer3));
    EXPECT_TRUE(ConvertedTrackThere(2 * 36 * 512));  // the track of the diskette's 36 sectors

    ASSERT_EQ(Port.Moments.size(), 1u);
    EXPECT_EQ(Port.Moments[0].Text,
              "Please eject and reinsert the Floppydisk to remount the file system.\r"
              "If you do not the file system will become corrupt.\r\rPress OK when done.");
    EXPECT_EQ(Port.Shown.back().Caption, "Information");
    EXPECT_EQ(Port.Shown.back().Question, TQuestion::Reinsert);
    EXPECT_EQ(Port.Moments[0].Messages, "Conversion Complete.");
    EXPECT_FALSE(Port.Moments[0].Timer1);
    EXPECT_FALSE(Port.Moments[0].Timer3);
    ASSERT_TRUE(Finish(TTimer::Timer1));
    EXPECT_TRUE(DisketteStartsWith(Content.size()));
    EXPECT_GT(VolumeSize('A'), 1400000);  // it now reads as a 1.44MB diskette
    EXPECT_LT(VolumeSize('A'), 1500000);
}

TEST_F(ConversionTest, CancelStopsAndRetryChoosesTheImageAgain)
{
    Prepare(3, 1);
    Port.Answers = {TModalResult::OK, TModalResult::Cancel};
    Imaging->btnMakeDiskClick();
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer3));
    EXPECT_TRUE(fs::exists(State.WorkDir + "/temp.del"));
    EXPECT_EQ(Port.Text(TLabel::Messages), "Decompression Complete.");
    EXPECT_EQ(ReadBytes(Diskette), Before);

    // Retry: the file dialog again, the image decompressed anew, then its prompt again.
    fs::remove(State.WorkDir + "/temp.del");
    Port.Shown.clear();
    Port.Answers = {TModalResult::OK, TModalResult::Retry, TModalResult::Cancel};
    Port.FileAnswers = {Image.string(), Image.string()};
    Imaging->btnMakeDiskClick();
    ASSERT_EQ(Port.Shown.size(), 5u);
    EXPECT_EQ(Port.Shown[2].Kind, "ConvertDialog");
    EXPECT_EQ(Port.Shown[3].Kind, "OpenDialog");
    EXPECT_EQ(Port.Shown[4].Text, "Insert a 720k floppy into drive a: and click OK.");
    EXPECT_EQ(fs::file_size(State.WorkDir + "/temp.del"), Content.size());
    EXPECT_EQ(ReadBytes(Diskette), Before);
}

TEST_F(ConversionTest, ATooSmallDisketteIsWarnedAboutAndTheWriteFailsWithoutGrowingIt)
{
    Prepare(1, 3);
    Port.Answers = {TModalResult::OK, TModalResult::Cancel};
    Imaging->btnMakeDiskClick();
    EXPECT_EQ(State.ConversionCase, TConversionCase::DisketteSmaller);
    EXPECT_EQ(Port.Shown.back().Text, "720KB -> 1.44MB ?");
    EXPECT_EQ(Port.Shown.back().Lines,
              (Lines{"The Diskette you inserted is formated as 720KB.",
                     "The Image is a 1.44MB format.", "The Diskette appears to be too small!", "",
                     "If the Diskette can hold 1.44MB you can convert the format.", "",
                     "If the Diskette is too small the operation will fail."}));

    // "No Media Warnings": converted without asking; the write does not fit and fails.
    Port.Shown.clear();
    Port.IgnoreMedia = true;
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Image.string()};
    Imaging->btnMakeDiskClick();
    ASSERT_TRUE(Finish(TTimer::Timer3));
    EXPECT_TRUE(ConvertedTrackThere(TrackOf18));
    ASSERT_TRUE(Finish(TTimer::Timer1));
    for (const auto& Shown : Port.Shown)
        EXPECT_NE(Shown.Kind, "ConvertDialog");
    EXPECT_EQ(Port.Text(TLabel::Messages), "Could not write to disk.");
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: Error!");
    EXPECT_EQ(fs::file_size(Diskette), Before.size());
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
}

// A 2.88MB image is larger than any other diskette: each one is warned about as too small.
TEST_F(ConversionTest, A288ImageWarnsThatEveryOtherDisketteIsTooSmall)
{
    for (unsigned DiskFormat = 1; DiskFormat < 5; ++DiskFormat) {
        SCOPED_TRACE(FormatNames[DiskFormat]);
        Prepare(0, DiskFormat);
        Port.Shown.clear();
        Port.Answers = {TModalResult::OK, TModalResult::Cancel};
        Imaging->btnMakeDiskClick();
        EXPECT_EQ(State.ConversionCase, TConversionCase::DisketteSmaller);
        ASSERT_EQ(Port.Shown.back().Kind, "ConvertDialog");
        EXPECT_EQ(Port.Shown.back().Text, std::string(FormatNames[DiskFormat]) + " -> 2.88MB ?");
        ASSERT_EQ(Port.Shown.back().Lines.size(), 7u);
        EXPECT_EQ(Port.Shown.back().Lines[2], "The Diskette appears to be too small!");
        EXPECT_EQ(ReadBytes(Diskette), Before);
    }
}

TEST_F(ConversionTest, ThePollerCountsFromOneAndReportsAFailedConversion)
{
    // The helper's side played by hand: a run in progress with fresh progress values.
    Port.SetGaugeMax(4);
    Port.Timers[TTimer::Timer3] = true;
    Port.FloppyVisible = false;
    for (auto& [Command, Enabled] : Port.Enabled)
        Enabled = false;
    RewriteTextFile(State.WorkDir + "/working.dat");
    for (const auto& [Line, Gauge] : {std::pair{'0', 1}, {'2', 3}, {'9', 4}}) {
        WriteBytes(State.WorkDir + "/Status.dat", {uint8_t(Line), '\r', '\n'});
        RewriteTextFile(State.WorkDir + "/check.dat");
        Imaging->Timer3Timer();
        EXPECT_EQ(Port.GaugeProgress(), Gauge) << Line;
        EXPECT_FALSE(FileExists(State.WorkDir + "/check.dat"));
    }
    EXPECT_TRUE(Port.Shown.empty());

    DeleteFile(State.WorkDir + "/working.dat");
    WriteBytes(State.WorkDir + "/error.dat", {'x', '\n'});
    Imaging->Timer3Timer();
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer3));
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1));  // no write run follows
    EXPECT_FALSE(Port.GaugeVisible);
    EXPECT_TRUE(Port.FloppyVisible);
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: Error!");
    EXPECT_EQ(Port.Text(TLabel::Messages), "Could not write to disk.");
    ASSERT_EQ(Port.Shown.size(), 1u);
    EXPECT_EQ(Port.Shown[0].Text,
              "Error.  Could not write to the Diskette.\r\nWrite protected?  Wrong media?");
    EXPECT_EQ(Port.Shown[0].Caption, "Warning");
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
}

// The conversion run's helper gets the one-track line with the diskette's sectors; when it dies
// the run fails as a write does, and no write run follows.
TEST_F(ConversionTest, AConversionHelperThatDiesEndsTheCommandAsAFailedWrite)
{
    Prepare(3, 1);
    FakeHelper("printf '%s|' \"$@\" > args.txt\nkill -9 $$");
    Port.Answers = {TModalResult::OK, TModalResult::OK};
    Imaging->btnMakeDiskClick();
    ASSERT_TRUE(Port.TimerEnabled(TTimer::Timer3));
    ASSERT_TRUE(Finish(TTimer::Timer3));

    EXPECT_EQ(ReadText(Work("args.txt")), "d|temp.del|1|A|18|w|");
    ASSERT_EQ(Port.Moments.size(), 1u);
    EXPECT_EQ(Port.Moments[0].Text,
              "Error.  Could not write to the Diskette.\r\nWrite protected?  Wrong media?");
    EXPECT_EQ(Port.Text(TLabel::Messages), "Could not write to disk.");
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: Error!");
    EXPECT_EQ(State.HelperPid, -1);
    ExpectIdle();
    EXPECT_EQ(ReadBytes(Diskette), Before);
}

// The conversion poller reads progress as the write poller does: an unreadable Status.dat gives
// the share-error message, the report is read again next tick, and ticks while the message is
// open wait for it.
TEST_F(ConversionTest, TheConversionPollerGivesTheShareErrorAndTicksWaitForIt)
{
    Port.SetGaugeMax(4);
    Port.Timers[TTimer::Timer3] = true;
    RewriteTextFile(Work("working.dat"));
    RewriteTextFile(Work("check.dat"));
    Port.WhileShown = [&](const TShown&) {
        // The run fails while the first message is open; these ticks must not report it.
        DeleteFile(Work("working.dat"));
        WriteText(Work("error.dat"), "x\n");
        Imaging->Timer3Timer();
        Imaging->Timer3Timer();
    };
    Imaging->Timer3Timer();
    Port.WhileShown = nullptr;
    ASSERT_EQ(Port.Shown.size(), 1u);
    EXPECT_EQ(Port.Shown[0].Text, "Rastrel2 file share error: File not found");
    EXPECT_EQ(Port.Shown[0].Caption, "Information");
    EXPECT_TRUE(FileExists(Work("check.dat")));
    EXPECT_TRUE(Port.TimerEnabled(TTimer::Timer3));
    EXPECT_EQ(Port.GaugeProgress(), 0);

    Imaging->Timer3Timer();
    ASSERT_EQ(Port.Shown.size(), 2u);
    EXPECT_EQ(Port.Shown[1].Text,
              "Error.  Could not write to the Diskette.\r\nWrite protected?  Wrong media?");
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer3));
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
}

}  // namespace
