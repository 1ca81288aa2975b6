// The helper runs and their poller, with the real launch layer: small shell scripts that play
// the helper's part on cue, and the real helper on virtual diskettes.
#include <gtest/gtest.h>

#include <sys/file.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <thread>
#include <unistd.h>

#include "imaging/Imaging.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Launch.h"
#include "tests/imaging/ImagingFixture.h"
#include "tests/support/SampleDisk.h"

using namespace imagingtest;

namespace {

const char* const ReadFailure =
    "Error.  Could not read from the Diskette.\r\nBad sector?  Try running ScanDisk.";
const char* const WriteFailure =
    "Error.  Could not write to the Diskette.\r\nWrite protected?  Wrong media?";

// A window whose message boxes can run code while they are open, as a modal loop does.
class TModalPort : public TFakePort {
public:
    std::function<void()> WhileOpen;
    TModalResult MessageDlg(const std::string& Text, TMsgDlgType Type, TMsgButtons Buttons,
                            const std::string& Detail = {},
                            TQuestion Kind = TQuestion::Report) override
    {
        TModalResult Result = TFakePort::MessageDlg(Text, Type, Buttons, Detail, Kind);
        if (WhileOpen) {
            auto Run = std::move(WhileOpen);
            WhileOpen = nullptr;
            Run();
        }
        return Result;
    }
};

class RunsTest : public TImagingTest<TModalPort> {
protected:
    void SetUp() override
    {
        TImagingTest<TModalPort>::SetUp();
        InsertFormatted('A', 1);
        Port.RadioA = true;
    }

    // A read run as Make Image starts it for the 1.44MB diskette in A: ("i temp.del 80 A 18 w"),
    // into the image file Image. True when the run started.
    bool StartRead(const fs::path& Image = {})
    {
        const size_t Before = Port.Shown.size();
        Port.Answers = {TModalResult::OK};
        Port.FileAnswers = {(Image.empty() ? Root / "images" / "read.144" : Image).string()};
        Imaging->btnMakeImageClick();
        return RunStarted(Before);
    }

    // A write run as Make Disk starts it: an image of Content onto the 1.44MB diskette in A:
    // ("d temp.del 80 A 18 w"). True when the run started.
    bool StartWrite(const std::vector<uint8_t>& Content = MakeSampleDisk(1474560))
    {
        const size_t Before = Port.Shown.size();
        Port.Answers = {TModalResult::OK};
        Port.FileAnswers = {MakeImageFile("disk.144", Content).string()};
        Imaging->btnMakeDiskClick();
        return RunStarted(Before);
    }

    // The command's own prompt and file dialog leave Port.Shown: what remains is the run's.
    bool RunStarted(size_t Before)
    {
        EXPECT_GE(Port.Shown.size(), Before + 2);
        Port.Shown.erase(Port.Shown.begin() + Before,
                         Port.Shown.begin() + std::min(Port.Shown.size(), Before + 2));
        return Port.Timers[TTimer::Timer1];
    }

    // Ticks until the poller has ended the run (or ten seconds passed).
    void TickToEnd()
    {
        ASSERT_TRUE(WaitFor([&] {
            Imaging->Timer1Timer();
            return !Port.Timers[TTimer::Timer1];
        })) << "the run never ended";
    }

    // A virtual diskette of the sample contents in drive A:.
    std::vector<uint8_t> InsertSample(size_t Size)
    {
        std::vector<uint8_t> Content = MakeSampleDisk(Size);
        InsertBytes('A', Content, "disk.img");
        return Content;
    }
};

TEST_F(RunsTest, AStartedRunShowsItselfAndTheHelperGetsTheParameterString)
{
    FakeHelper("printf '%s|' \"$@\" > args.txt\n"
               "while [ ! -e release ]; do sleep 0.01; done\n"
               "printf 'dump' > temp.del\n"
               "rm -f working.dat");
    WriteText(Work("working.dat"), "left from before");
    Port.Gauge = 9;

    ASSERT_TRUE(StartRead());

    const std::vector<std::pair<TCommand, bool>> Disabled = {
        {TCommand::MakeImageButton, false}, {TCommand::ExitButton, false},
        {TCommand::MakeDiskButton, false}, {TCommand::MakeDiskMenu, false},
        {TCommand::SaveDiskMenu, false}};
    EXPECT_EQ(Port.CommandChanges, Disabled);
    EXPECT_EQ(FileSize(Work("working.dat")), 0) << "an earlier marker is emptied";
    EXPECT_TRUE(Port.Timers[TTimer::Timer1]);
    EXPECT_FALSE(Port.Timers[TTimer::Timer3]);
    EXPECT_EQ(Port.Text(TLabel::Messages), "Creating Image from Diskette.");
    EXPECT_EQ(Port.Text(TLabel::Status), " ");
    EXPECT_EQ(Port.Gauge, 0);
    EXPECT_TRUE(Port.GaugeVisible);
    EXPECT_TRUE(Port.AnimationVisible[TAnimation::MakeImage]);
    EXPECT_TRUE(Port.AnimationActive[TAnimation::MakeImage]);
    EXPECT_FALSE(Port.AnimationVisible[TAnimation::MakeDisk]);
    EXPECT_FALSE(Port.FloppyVisible);
    EXPECT_TRUE(ProcessRunning(State.HelperPid));

    ASSERT_TRUE(WaitFor([&] { return FileExists(Work("args.txt")); }));
    EXPECT_TRUE(WaitFor([&] { return ReadText(Work("args.txt")) == "i|temp.del|80|A|18|w|"; }))
        << ReadText(Work("args.txt"));

    // Still working: the tick changes nothing.
    Imaging->Timer1Timer();
    EXPECT_TRUE(Port.Timers[TTimer::Timer1]);
    EXPECT_TRUE(Port.Shown.empty());

    WriteText(Work("release"), "");
    ASSERT_TRUE(WaitFor([&] { return !FileExists(Work("working.dat")); }));
    Imaging->Timer1Timer();
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: OK.");
    EXPECT_EQ(Port.Text(TLabel::Messages), "Image Complete.");
    EXPECT_EQ(State.HelperPid, -1);
    ExpectIdle();
}

// The launch fails: the window returns to idle instead of keeping its commands disabled.
TEST_F(RunsTest, AFailedLaunchReportsAndReturnsToIdle)
{
    WriteText(Work("working.dat"), "x");
    // A failed earlier run left its animation going.
    Port.AnimationVisible[TAnimation::MakeDisk] = Port.AnimationActive[TAnimation::MakeDisk] = true;
    Port.FloppyVisible = false;

    EXPECT_FALSE(StartRead());

    ASSERT_EQ(Port.Shown.size(), 1u);
    EXPECT_EQ(Port.Shown[0].Kind, "MessageDlg");
    EXPECT_EQ(Port.Shown[0].Text, "Cannot execute Rastrel2");
    EXPECT_EQ(Port.Shown[0].Caption, "Error");
    EXPECT_EQ(Port.Shown[0].Buttons, TMsgButtons::OK);
    ExpectIdle();
    EXPECT_EQ(State.HelperPid, -1);
    EXPECT_EQ(FileSize(Work("working.dat")), 0) << "the marker stays, emptied";

    // A marker that cannot be made: the error goes on, the commands come back.
    fs::remove(Work("working.dat"));
    fs::create_directory(Work("working.dat"));
    EXPECT_THROW(StartRead(), EInOutError);
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
    EXPECT_FALSE(Port.Timers[TTimer::Timer1]);
}

// Without a working folder every transfer is refused: nothing is written at the root, and a
// program of the helper's name in the current folder is never run.
TEST_F(RunsTest, WithoutAWorkingFolderTheTransfersAreRefused)
{
    const fs::path Planted = Root / "current";
    fs::create_directories(Planted);
    WriteText(Planted / "RASTREL2.EXE", "#!/bin/sh\ntouch '" + (Root / "ran").string() + "'\n");
    ::chmod((Planted / "RASTREL2.EXE").c_str(), 0755);
    const fs::path Before = fs::current_path();
    fs::current_path(Planted);
    State.WorkDir.clear();
    State.Parameters = {(Root / "images" / "x.144").string()};

    Imaging->btnMakeImageClick();
    Imaging->btnMakeDiskClick();
    Imaging->StartFromCommandLine();
    Imaging->Timer3Timer();  // a conversion has ended: its write run is refused too
    fs::current_path(Before);

    ASSERT_EQ(Port.Shown.size(), 4u);
    EXPECT_EQ(Port.Shown[3].Text, "The program has no working folder, so it cannot read or write "
                                  "diskettes. Please restart the program.");
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
    EXPECT_FALSE(Port.Timers[TTimer::Timer1]);
    EXPECT_FALSE(fs::exists("/working.dat"));
    EXPECT_FALSE(WaitFor([&] { return fs::exists(Root / "ran"); }, std::chrono::milliseconds(300)));
}

TEST_F(RunsTest, ProgressIsReadOncePerReportAndKeptWithinTheGauge)
{
    // No helper process: the poller sees the files alone.
    WriteText(Work("working.dat"), "");
    Port.Timers[TTimer::Timer1] = true;
    Port.Intervals[TTimer::Timer1] = 50;
    Port.GaugeMaximum = 40;
    ASSERT_EQ(State.DefaultFileMode, 2);

    Imaging->Timer1Timer();  // nothing reported yet
    EXPECT_EQ(Port.Intervals[TTimer::Timer1], 1000);
    EXPECT_EQ(State.DefaultFileMode, 2) << "the default changes at the first read";

    const std::pair<const char*, int> Reports[] = {
        {"12\r\n", 12}, {"200\r\n", 40}, {"-3\r\n", 0}, {"  7", 7}, {"+39\n", 39}};
    for (auto [Text, Expected] : Reports) {
        WriteText(Work("Status.dat"), Text);
        WriteText(Work("check.dat"), "");
        Imaging->Timer1Timer();
        EXPECT_EQ(Port.Gauge, Expected) << Text;
        EXPECT_FALSE(FileExists(Work("check.dat")));
        EXPECT_EQ(State.DefaultFileMode, 64);
    }
    // Without a new report the gauge stays where it is.
    WriteText(Work("Status.dat"), "1\r\n");
    Imaging->Timer1Timer();
    EXPECT_EQ(Port.Gauge, 39);
    EXPECT_TRUE(Port.Timers[TTimer::Timer1]);
    EXPECT_TRUE(Port.Shown.empty());
}

// The engine probes the dump's size in the program-wide open mode: read and write before the
// first progress read (a folder cannot be opened so), read-only after it (a folder opens, and
// reading it fails).
TEST_F(RunsTest, TheCompressStepFollowsTheOpenModeThePollerSets)
{
    for (bool ProgressRead : {false, true}) {
        SCOPED_TRACE(ProgressRead ? "after a progress read" : "before any progress read");
        FakeHelper(std::string(ProgressRead ? "printf '1\\r\\n' > Status.dat\n: > check.dat\n"
                                              "while [ -e check.dat ]; do sleep 0.01; done\n"
                                            : "") +
                   "mkdir temp.del\nrm -f working.dat");
        Port.Shown.clear();
        ASSERT_TRUE(StartRead());
        TickToEnd();
        EXPECT_EQ(State.DefaultFileMode, ProgressRead ? 64 : 2);
        ASSERT_EQ(Port.Shown.size(), 1u);
        EXPECT_EQ(Port.Shown[0].Kind, "ErrorBox");
        EXPECT_EQ(Port.Shown[0].Text.find("Failed to obtain the size of : " + Work("temp.del")) !=
                      std::string::npos,
                  !ProgressRead)
            << Port.Shown[0].Text;
        fs::remove(Work("temp.del"));
    }
}

TEST_F(RunsTest, AReportThatIsNoNumberRaisesAndIsReadAgainNextTick)
{
    WriteText(Work("working.dat"), "");
    Port.Timers[TTimer::Timer1] = true;
    for (const char* Text : {"abc\r\n", "\r\n", "12x\r\n", "99999999999\r\n", "0x10\r\n"}) {
        WriteText(Work("Status.dat"), Text);
        WriteText(Work("check.dat"), "");
        std::string Line = std::string(Text).substr(0, std::string(Text).find('\r'));
        try {
            Imaging->Timer1Timer();
            ADD_FAILURE() << "no error for " << Line;
        } catch (const EConvertError& Error) {
            EXPECT_EQ(std::string(Error.what()), "'" + Line + "' is not a valid integer value");
        }
        EXPECT_TRUE(FileExists(Work("check.dat")));
        EXPECT_TRUE(Port.Timers[TTimer::Timer1]);
    }
    // The file was closed: the helper can replace it, and the next tick takes the number.
    int Fd = ::open(Work("Status.dat").c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(Fd, 0);
    EXPECT_EQ(::flock(Fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(::write(Fd, "5\r\n", 3), 3);
    ::close(Fd);
    Imaging->Timer1Timer();
    EXPECT_EQ(Port.Gauge, 5);
    EXPECT_FALSE(FileExists(Work("check.dat")));
}

TEST_F(RunsTest, AnUnreadableStatusFileGivesTheShareErrorOnEveryTick)
{
    // The helper announces progress but leaves no Status.dat.
    FakeHelper(": > check.dat\n"
               "while [ ! -e release ]; do sleep 0.01; done\n"
               "rm -f working.dat");
    ASSERT_TRUE(StartWrite());
    ASSERT_TRUE(WaitFor([&] { return FileExists(Work("check.dat")); }));
    Imaging->Timer1Timer();
    Imaging->Timer1Timer();
    ASSERT_EQ(Port.Shown.size(), 2u);
    for (const auto& Entry : Port.Shown) {
        EXPECT_EQ(Entry.Kind, "MessageDlg");
        EXPECT_EQ(Entry.Text, "Rastrel2 file share error: File not found");
        EXPECT_EQ(Entry.Caption, "Information");
        EXPECT_EQ(Entry.Buttons, TMsgButtons::OK);
    }
    EXPECT_TRUE(FileExists(Work("check.dat")));
    EXPECT_TRUE(Port.Timers[TTimer::Timer1]);
    EXPECT_EQ(State.DefaultFileMode, 64);

    // A writer holding the file: the sharing violation.
    WriteText(Work("Status.dat"), "3\r\n");
    int Fd = ::open(Work("Status.dat").c_str(), O_WRONLY);
    ASSERT_GE(Fd, 0);
    ASSERT_EQ(::flock(Fd, LOCK_EX), 0);
    Imaging->Timer1Timer();
    EXPECT_EQ(Port.Shown.back().Text, "Rastrel2 file share error: I/O error 32");
    ::close(Fd);
    Imaging->Timer1Timer();
    EXPECT_EQ(Port.Gauge, 3);
    EXPECT_EQ(Port.Shown.size(), 3u);

    WriteText(Work("release"), "");
    ASSERT_TRUE(WaitFor([&] { return !FileExists(Work("working.dat")); }));
    Imaging->Timer1Timer();
    EXPECT_EQ(Port.Text(TLabel::Messages), "Disk Complete.");
}

// While the share-error message is open, later ticks wait: no pile of messages, and the end of
// the run is handled once the message is closed.
TEST_F(RunsTest, TicksDuringTheShareErrorMessageWait)
{
    WriteText(Work("working.dat"), "");
    WriteText(Work("check.dat"), "");
    Port.Timers[TTimer::Timer1] = true;
    Port.WhileOpen = [&] {
        fs::remove(Work("working.dat"));
        Imaging->Timer1Timer();
        Imaging->Timer1Timer();
    };
    Imaging->Timer1Timer();
    ASSERT_EQ(Port.Shown.size(), 1u);
    EXPECT_TRUE(Port.Timers[TTimer::Timer1]);
    Imaging->Timer1Timer();
    EXPECT_FALSE(Port.Timers[TTimer::Timer1]);
    EXPECT_EQ(Port.Text(TLabel::Messages), "Disk Complete.");
}

TEST_F(RunsTest, AReportedFailureShowsTheTextsOfTheRunAndReturnsToIdle)
{
    for (bool Reading : {true, false}) {
        SCOPED_TRACE(Reading ? "read" : "write");
        Port.Shown.clear();
        FakeHelper("echo 'no diskette' > error.dat\nrm -f working.dat");
        State.StartedWithFile = 1;
        ASSERT_TRUE(Reading ? StartRead() : StartWrite());
        ASSERT_TRUE(WaitFor([&] { return !FileExists(Work("working.dat")); }));
        Imaging->Timer1Timer();

        EXPECT_EQ(Port.Text(TLabel::Status), " Status: Error!");
        EXPECT_EQ(Port.Text(TLabel::Messages),
                  Reading ? "Could not read from disk." : "Could not write to disk.");
        ASSERT_EQ(Port.Shown.size(), 1u);
        EXPECT_EQ(Port.Shown[0].Text, Reading ? ReadFailure : WriteFailure);
        EXPECT_EQ(Port.Shown[0].Detail, "no diskette") << "the helper's reason goes with it";
        EXPECT_EQ(Port.Shown[0].Caption, "Warning");
        EXPECT_EQ(Port.Shown[0].Buttons, TMsgButtons::OK);
        EXPECT_FALSE(FileExists(Work("temp.del")));
        EXPECT_TRUE(FileExists(Work("error.dat"))) << "the program never removes it";
        EXPECT_FALSE(Port.Terminated) << "a failure keeps a program started with a file open";
        ExpectIdle();
        fs::remove(Work("error.dat"));
    }
}

TEST_F(RunsTest, AHelperThatEndsBeforeTheFirstTickIsASuccessWithoutProgress)
{
    FakeHelper("printf '30\\r\\n' > Status.dat\n: > check.dat\nrm -f working.dat");
    State.StartedWithFile = 1;
    ASSERT_TRUE(StartWrite());
    ASSERT_TRUE(WaitFor([&] { return !FileExists(Work("working.dat")); }));
    Imaging->Timer1Timer();
    EXPECT_EQ(Port.Gauge, 0);
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: OK.");
    EXPECT_EQ(Port.Text(TLabel::Messages), "Disk Complete.");
    EXPECT_TRUE(Port.Shown.empty());
    EXPECT_FALSE(FileExists(Work("temp.del")));
    EXPECT_TRUE(Port.Terminated);
    ExpectIdle();
}

// A helper that dies without removing working.dat ends the run as a failure instead of leaving
// the window busy for good.
TEST_F(RunsTest, AHelperThatDiesEndsTheRunAsAFailure)
{
    FakeHelper("while [ ! -e die ]; do sleep 0.01; done\nkill -9 $$");
    State.StartedWithFile = 1;
    ASSERT_TRUE(StartWrite());
    pid_t Pid = State.HelperPid;
    Imaging->Timer1Timer();
    EXPECT_TRUE(Port.Timers[TTimer::Timer1]) << "a live helper keeps the run going";

    WriteText(Work("die"), "");
    ASSERT_TRUE(WaitFor([&] { return !ProcessRunning(Pid); }));
    ASSERT_TRUE(FileExists(Work("working.dat")));
    Imaging->Timer1Timer();

    EXPECT_EQ(Port.Text(TLabel::Status), " Status: Error!");
    EXPECT_EQ(Port.Text(TLabel::Messages), "Could not write to disk.");
    ASSERT_EQ(Port.Shown.size(), 1u);
    EXPECT_EQ(Port.Shown[0].Text, WriteFailure);
    EXPECT_EQ(Port.Shown[0].Detail, "Rastrel2 ended before it finished the run.");
    EXPECT_FALSE(FileExists(Work("temp.del")));
    EXPECT_FALSE(Port.Terminated);
    EXPECT_EQ(State.HelperPid, -1);
    ExpectIdle();
}

// After a read run the dump is compressed before it goes; only a written image ends a program
// started with a file.
TEST_F(RunsTest, AReadRunEndsWithTheCompressStep)
{
    for (bool Writable : {false, true}) {
        SCOPED_TRACE(Writable ? "image written" : "image not writable");
        Port.Shown.clear();
        FakeHelper("printf 'diskette bytes' > temp.del\nrm -f working.dat");
        State.StartedWithFile = 1;
        const fs::path Folder = Root / (Writable ? "images" : "vanishing folder");
        fs::create_directories(Folder);
        ASSERT_TRUE(StartRead(Folder / "disk.144"));
        if (!Writable)
            fs::remove_all(Folder);  // gone while the diskette is read
        ASSERT_TRUE(WaitFor([&] { return !FileExists(Work("working.dat")); }));
        Imaging->Timer1Timer();

        EXPECT_FALSE(FileExists(Work("temp.del")));
        EXPECT_EQ(Port.Terminated, Writable);
        ExpectIdle();
        if (!Writable) {
            EXPECT_NE(Port.Text(TLabel::Status), " Status: OK.");
            EXPECT_FALSE(Port.Shown.empty()) << "the engine's error is reported";
            continue;
        }
        EXPECT_EQ(Port.Text(TLabel::Status), " Status: OK.");
        EXPECT_EQ(Port.Text(TLabel::Messages), "Image Complete.");
        Tlzrw1 Engine;
        Engine.InputFile = State.ImagePath;
        Engine.OutputFile = (Root / "back").string();
        Engine.Decompress();
        EXPECT_EQ(ReadText((Root / "back").string()), "diskette bytes");
    }
}

// The real helper on a virtual diskette. It is stopped between short slices so that the
// poller sees its progress reports however fast the machine is.
TEST_F(RunsTest, TheRealHelperReadsADisketteWithProgressOnTheGauge)
{
    RealHelper();
    std::vector<uint8_t> Disk = InsertSample(1474560);
    WriteText(Work("error.dat"), "left by an earlier failed run\r\n");
    Port.GaugeMaximum = 80;
    ASSERT_TRUE(StartRead());
    pid_t Pid = State.HelperPid;
    ::kill(Pid, SIGSTOP);

    std::vector<int> Seen;
    for (int Slice = 0; Slice < 20000 && FileExists(Work("working.dat")); ++Slice) {
        if (FileExists(Work("check.dat"))) {
            Imaging->Timer1Timer();
            if (Seen.empty() || Seen.back() != Port.Gauge)
                Seen.push_back(Port.Gauge);
        }
        ::kill(Pid, SIGCONT);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        ::kill(Pid, SIGSTOP);
    }
    ::kill(Pid, SIGCONT);
    ASSERT_TRUE(WaitFor([&] { return !FileExists(Work("working.dat")); }));
    ASSERT_FALSE(Seen.empty()) << "no progress reached the gauge";
    for (size_t I = 0; I < Seen.size(); ++I) {
        EXPECT_GT(Seen[I], 0);
        EXPECT_LE(Seen[I], 80);
        if (I > 0) {
            EXPECT_GT(Seen[I], Seen[I - 1]);
        }
    }
    EXPECT_TRUE(Port.Timers[TTimer::Timer1]);
    EXPECT_EQ(ReadText(Work("temp.del")), std::string(Disk.begin(), Disk.end()));

    Imaging->Timer1Timer();
    EXPECT_TRUE(Port.Shown.empty()) << "the stale error.dat did not fail the run";
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: OK.");
    EXPECT_FALSE(FileExists(Work("temp.del")));
    ExpectIdle();
}

TEST_F(RunsTest, TheRealHelperWritesADisketteAndFailsWithoutAMedium)
{
    RealHelper();
    InsertSample(1474560);
    std::vector<uint8_t> Image = MakeSampleDisk(1474560, TSampleKind::Random);
    Port.GaugeMaximum = 80;
    ASSERT_TRUE(StartWrite(Image));
    TickToEnd();
    EXPECT_TRUE(Port.Shown.empty());
    EXPECT_EQ(Port.Text(TLabel::Messages), "Disk Complete.");
    EXPECT_EQ(ReadText((Root / "disk.img").string()), std::string(Image.begin(), Image.end()));

    // The diskette is taken out after detection: the helper reports it through error.dat.
    InsertSample(1474560);
    Port.WhileShown = [&](const TShown& Entry) {
        if (Entry.Kind == "SaveDialog")
            SetDriveTableEntry('A', (Root / "gone.img").string());
    };
    ASSERT_TRUE(StartRead());
    TickToEnd();
    ASSERT_EQ(Port.Shown.size(), 1u);
    EXPECT_EQ(Port.Shown[0].Text, ReadFailure);
    EXPECT_EQ(Port.Text(TLabel::Messages), "Could not read from disk.");
    const std::string Reason = ReadText(Work("error.dat"));
    ASSERT_GT(Reason.size(), 2u);
    EXPECT_EQ(Port.Shown[0].Detail + "\r\n", Reason);
    EXPECT_FALSE(FileExists(Work("temp.del")));
    ExpectIdle();
}

}  // namespace
