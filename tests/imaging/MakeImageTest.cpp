// Make Image end to end: the real helper reads a virtual diskette, the real engine compresses
// the dump, and the scripted window answers the questions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/FormatTable.h"
#include "imaging/Imaging.h"
#include "platform/Drives.h"
#include "platform/Files.h"
#include "tests/imaging/ImagingFixture.h"
#include "tests/support/SampleDisk.h"

using namespace imagingtest;

namespace {

const char* const ReadFailure =
    "Error.  Could not read from the Diskette.\r\nBad sector?  Try running ScanDisk.";

class MakeImageTest : public TWorkflowTest<> {
protected:
    void Insert(char Letter, const Bytes& Content) { InsertBytes(Letter, Content); }
    // The drive stands for a diskette file that is not there: no medium.
    void TakeOut(char Letter) { SetDriveTableEntry(Letter, (Root / "gone.img").string()); }
};

TEST_F(MakeImageTest, ImageOfA144DisketteHoldsItsExactBytes)
{
    const Bytes Disk = MakeSampleDisk(1474560, TSampleKind::Filled, 7);
    Insert('A', Disk);
    const fs::path Image = Root / "images" / "boot.144";
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Image.string()};

    Imaging->btnMakeImageClick();

    ASSERT_EQ(Port.Shown.size(), 2u);
    EXPECT_EQ(Port.Shown[0].Text, "Insert Diskette.");
    EXPECT_EQ(Port.Shown[0].Caption, "Insert Diskette.");
    EXPECT_EQ(Port.Shown[0].Question, TQuestion::Insert);
    const TFileDialog& Save = Port.Shown[1].Dialog;
    EXPECT_EQ(Save.FilterIndex, 2);
    EXPECT_EQ(Save.DefaultExt, "144");
    EXPECT_EQ(Save.InitialDir, (Root / "home").string());  // nothing stored yet
    EXPECT_EQ(Save.Filter,
              "Marrowtide 2.88MB Image File|*.288|Marrowtide 1.44MB Image File|*.144|"
              "Marrowtide 1.2MB Image File|*.120|Marrowtide 720KB Image File|*.720|"
              "Marrowtide 360KB Image File|*.360");
    EXPECT_EQ(StoredPath(), Image.string());
    EXPECT_EQ(Port.Text(TLabel::Path), "/.../boot.144");
    EXPECT_EQ(Port.PathHint, Image.string());
    EXPECT_EQ(Port.Text(TLabel::Messages), "Creating Image from Diskette.");
    EXPECT_EQ(Port.GaugeMax(), 80);

    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: OK.");
    EXPECT_EQ(Port.Text(TLabel::Messages), "Image Complete.");
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
    EXPECT_FALSE(Port.CompressorVisible);
    EXPECT_FALSE(FileExists(State.WorkDir + "/temp.del"));
    EXPECT_EQ(Port.Shown.size(), 2u);
    EXPECT_EQ(Unpack(Image), Disk);

    // The next command opens in the image's folder.
    Port.Answers = {TModalResult::Cancel};
    Imaging->btnMakeImageClick();
    EXPECT_EQ(State.LastFolder, (Root / "images").string());
}

TEST_F(MakeImageTest, EachQuestionEndsTheCommandAndKeepsOnlyWhatWasDecided)
{
    Insert('A', MakeSampleDisk(1474560));
    StorePath("/srv/floppies/first.144");

    Port.Answers = {TModalResult::Cancel};
    Imaging->btnMakeImageClick();
    EXPECT_EQ(State.CurrentOperation, TCurrentOperation::MakingImage);
    EXPECT_TRUE(State.ReadingDisk);
    EXPECT_EQ(State.LastFolder, "/srv/floppies");
    EXPECT_EQ(Port.Shown.size(), 1u);

    // Cancel in the save dialog stores nothing.
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {""};
    Imaging->btnMakeImageClick();
    EXPECT_EQ(Port.Shown.back().Dialog.InitialDir, "/srv/floppies");
    EXPECT_EQ(StoredPath(), "/srv/floppies/first.144");

    // No at the overwrite question keeps the file, but the new path is stored and shown.
    const fs::path Existing = Root / "images" / "keep.144";
    WriteBytes(Existing, {1, 2, 3});
    Port.Answers = {TModalResult::OK, TModalResult::No};
    Port.FileAnswers = {Existing.string()};
    Imaging->btnMakeImageClick();
    EXPECT_EQ(Port.Shown.back().Text, "The file already exists, overwrite?");
    EXPECT_EQ(Port.Shown.back().Caption, "Continue?");
    EXPECT_EQ(Port.Shown.back().Buttons, TMsgButtons::YesNoCancel);
    EXPECT_EQ(Port.Shown.back().Question, TQuestion::Overwrite);
    EXPECT_EQ(StoredPath(), Existing.string());
    EXPECT_EQ(Port.Text(TLabel::Path), "/.../keep.144");
    EXPECT_EQ(ReadBytes(Existing), (Bytes{1, 2, 3}));
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1));
    EXPECT_FALSE(FileExists(State.WorkDir + "/working.dat"));
    EXPECT_TRUE(Port.AllCommandsEnabled(true));

    // The dialog offers the name chosen last time.
    Port.Answers = {TModalResult::OK, TModalResult::Cancel};
    Port.FileAnswers = {Existing.string()};
    Imaging->btnMakeImageClick();
    EXPECT_EQ(Port.Shown[Port.Shown.size() - 2].Dialog.FileName, Existing.string());
}

TEST_F(MakeImageTest, AnImageThatCannotBeCreatedIsRefusedBeforeTheDisketteIsRead)
{
    Insert('A', MakeSampleDisk(1474560));
    const fs::path Image = Root / "missing-folder" / "lost.144";
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Image.string()};

    Imaging->btnMakeImageClick();

    ASSERT_EQ(Port.Shown.size(), 3u);
    EXPECT_EQ(Port.Shown[2].Kind, "ErrorBox");
    EXPECT_EQ(Port.Shown[2].Text,
              "Lzrw1 (de)compression : Failed to open output file : " + Image.string());
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1)) << "no diskette was read";
    EXPECT_FALSE(FileExists(State.WorkDir + "/working.dat"));
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: Error!");
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
    EXPECT_FALSE(fs::exists(Image.parent_path()));
}

// A drive that appeared after the start (no drive choice made): the helper would be told no
// drive, so the command stops with the reason before anything is asked or started.
TEST_F(MakeImageTest, WithNoDriveChosenTheReadIsRefusedWithTheReason)
{
    Insert('A', MakeSampleDisk(1474560));
    Port.RadioA = false;
    Port.Answers = {TModalResult::OK};

    Imaging->btnMakeImageClick();

    ASSERT_EQ(Port.Shown.size(), 2u);
    EXPECT_EQ(Port.Shown[1].Kind, "MessageDlg");
    EXPECT_EQ(Port.Shown[1].Caption, "Error");
    EXPECT_NE(Port.Shown[1].Text.find("No drive is chosen"), std::string::npos);
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1));
    EXPECT_FALSE(FileExists(State.WorkDir + "/working.dat"));
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
}

TEST_F(MakeImageTest, AnEngineErrorIsShownAndTheWindowComesBackIdle)
{
    Insert('A', MakeSampleDisk(1474560));
    State.StartedWithFile = 1;
    const fs::path Folder = Root / "vanishing-folder";
    fs::create_directory(Folder);
    const fs::path Image = Folder / "lost.144";
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Image.string()};

    Imaging->btnMakeImageClick();
    // The folder goes while the diskette is read.
    fs::remove_all(Folder);
    ASSERT_TRUE(FinishRun());

    ASSERT_EQ(Port.Shown.size(), 3u);
    EXPECT_EQ(Port.Shown[2].Kind, "ErrorBox");
    EXPECT_EQ(Port.Shown[2].Text,
              "Lzrw1 (de)compression : Failed to open output file : " + Image.string());
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: Error!");
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
    EXPECT_FALSE(Port.CompressorVisible);
    EXPECT_FALSE(FileExists(State.WorkDir + "/temp.del"));
    EXPECT_FALSE(Port.Terminated);  // a program started with a file stays open
}

TEST_F(MakeImageTest, PathsFollowTheirOwnSeparators)
{
    EXPECT_EQ(ShortenPath("/home/ann/disks/boot.144"), "/.../boot.144");
    EXPECT_EQ(ShortenPath("C:\\Images\\Disks\\boot.144"), "C:\\...\\boot.144");
    EXPECT_EQ(ShortenPath("C:\\boot.144"), "C:\\...\\boot.144");
    EXPECT_EQ(ShortenPath("\\\\server\\share\\disks\\boot.144"),
              "\\\\server\\share\\...\\boot.144");

    const std::string Home = (Root / "home").string();
    const std::pair<const char*, std::string> Folders[] = {
        {"/home/ann/disks/boot.144", "/home/ann/disks"},
        {"C:\\Images\\disk.144", "C:\\Images"},
        {"C:\\disk.144", "C:"},
        {"\\disk.144", Home},
        {"/boot.144", Home},
        {"boot.144", Home},
    };
    for (const auto& [Stored, Folder] : Folders) {
        StorePath(Stored);
        Port.Answers = {TModalResult::Cancel};
        Imaging->btnMakeImageClick();
        EXPECT_EQ(State.LastFolder, Folder) << Stored;
    }
}

// Real file systems with files on them, as a user's diskettes are; the 1.2MB and 360KB dumps
// are longer than their media, and the rest of the dump is zeros.
class MakeImageOfEachFormat : public MakeImageTest,
                              public ::testing::WithParamInterface<unsigned> {
protected:
    // Files of Format's own sizes, so no two diskettes hold the same bytes.
    void FillWithFiles(const fs::path& Diskette, unsigned Format)
    {
        TSampleRandom Random(100 + Format);
        Bytes Binary(20000 + 7000 * Format);
        for (uint8_t& Byte : Binary)
            Byte = uint8_t(Random.Next());
        std::string Text;
        for (int Line = 0; Line < 400; ++Line)
            Text += "Line " + std::to_string(Line) + " of diskette " + FormatNames[Format] + "\r\n";
        WriteBytes(Root / "PROGRAM.BIN", Binary);
        WriteText(Root / "README.TXT", Text);
        if (::access("/usr/bin/mcopy", X_OK) == 0) {
            for (const char* Name : {"PROGRAM.BIN", "README.TXT"}) {
                const std::string Command = "MTOOLS_SKIP_CHECK=1 /usr/bin/mcopy -i '" +
                                            Diskette.string() + "' '" + (Root / Name).string() +
                                            "' ::" + Name + " >/dev/null 2>&1";
                ASSERT_EQ(std::system(Command.c_str()), 0) << Command;
            }
            return;
        }
        // Without mtools the bytes go straight into the data area, past the file system's tables.
        Bytes Disk = ReadBytes(Diskette);
        ASSERT_GT(Disk.size(), 16384 + Binary.size());
        std::copy(Binary.begin(), Binary.end(), Disk.begin() + 16384);
        WriteBytes(Diskette, Disk);
    }
};

TEST_P(MakeImageOfEachFormat, TheImageDecodesToTheDisketteAndItsPadding)
{
    const char* const DefaultExts[] = {".288", "144", ".120", ".720", ".360"};
    const unsigned Format = GetParam();
    const TFormatRow& Row = FormatTable[Format];
    const fs::path Diskette = InsertFormatted('A', Format);
    FillWithFiles(Diskette, Format);
    const Bytes Before = ReadBytes(Diskette);
    Bytes Expected = Before;
    ASSERT_LE(Expected.size(), size_t(Row.TotalBytes));
    Expected.resize(size_t(Row.TotalBytes), 0);
    const fs::path Image = Root / "images" / ("disk" + std::string(Row.Extension));
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Image.string()};

    Imaging->btnMakeImageClick();

    ASSERT_EQ(Port.Shown.size(), 2u);
    EXPECT_EQ(Port.Shown[1].Dialog.FilterIndex, int(Format) + 1);
    EXPECT_EQ(Port.Shown[1].Dialog.DefaultExt, DefaultExts[Format]);
    EXPECT_EQ(State.DiskGeometry.FormatName, FormatNames[Format]);
    EXPECT_EQ(Port.GaugeMax(), Row.Tracks);
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Port.Text(TLabel::Messages), "Image Complete.");
    EXPECT_EQ(Port.Shown.size(), 2u);
    EXPECT_FALSE(fs::exists(Dump()));
    EXPECT_TRUE(Unpack(Image) == Expected) << "the image differs from the diskette";
    EXPECT_TRUE(ReadBytes(Diskette) == Before) << "reading changed the diskette";
}

INSTANTIATE_TEST_SUITE_P(Formats, MakeImageOfEachFormat, ::testing::Range(0u, 5u),
                         [](const auto& Info) {
                             return std::string("Format") + char('0' + Info.param);
                         });

TEST_F(MakeImageTest, YesAtTheOverwriteQuestionReplacesTheFileAndCancelKeepsIt)
{
    const Bytes Disk = MakeSampleDisk(737280, TSampleKind::Filled, 3);
    Insert('A', Disk);
    const fs::path Existing = MakeImageFile("old.720", MakeSampleDisk(737280, TSampleKind::Zero));
    const Bytes Old = ReadBytes(Existing);

    Port.Answers = {TModalResult::OK, TModalResult::Cancel};
    Port.FileAnswers = {Existing.string()};
    Imaging->btnMakeImageClick();
    EXPECT_EQ(Port.Shown.back().Text, "The file already exists, overwrite?");
    EXPECT_EQ(ReadBytes(Existing), Old);
    EXPECT_EQ(StoredPath(), Existing.string());
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1));
    EXPECT_TRUE(Port.AllCommandsEnabled(true));

    Port.Answers = {TModalResult::OK, TModalResult::Yes};
    Port.FileAnswers = {Existing.string()};
    Imaging->btnMakeImageClick();
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Port.Text(TLabel::Messages), "Image Complete.");
    EXPECT_EQ(Unpack(Existing), Disk);
}

// Names differ by case here: "boot.720" beside "Boot.720" is a new file, asked about by nobody,
// and the other file stays as it was.
TEST_F(MakeImageTest, AFileDifferingOnlyInCaseIsNotOverwritten)
{
    const Bytes Disk = MakeSampleDisk(737280, TSampleKind::Filled, 4);
    Insert('A', Disk);
    const fs::path Existing = MakeImageFile("Boot.720", MakeSampleDisk(737280, TSampleKind::Zero));
    const Bytes Old = ReadBytes(Existing);
    const fs::path Lower = Existing.parent_path() / "boot.720";

    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Lower.string()};
    Imaging->btnMakeImageClick();
    ASSERT_TRUE(FinishRun());
    for (const std::string& Text : Port.Texts())
        EXPECT_NE(Text, "The file already exists, overwrite?");
    EXPECT_EQ(Unpack(Lower), Disk);
    EXPECT_EQ(ReadBytes(Existing), Old);
}

// No diskette, or one of no known capacity: No ends the command before anything is chosen or
// stored; Yes looks again, and a diskette inserted meanwhile is taken with its own format.
TEST_F(MakeImageTest, TheMediaQuestionsEndTheCommandOrLookAgain)
{
    TakeOut('A');
    Port.Answers = {TModalResult::OK, TModalResult::No};
    Imaging->btnMakeImageClick();
    ASSERT_EQ(Port.Shown.size(), 2u);
    EXPECT_EQ(Port.Shown[1].Text, "Can't find disk.  Try again?");
    EXPECT_EQ(State.LastFolder, (Root / "home").string());
    EXPECT_EQ(StoredPath(), "<no key>");
    EXPECT_FALSE(FileExists(Work("working.dat")));
    EXPECT_TRUE(Port.AllCommandsEnabled(true));

    // 1,000 sectors: between the 360KB and 720KB windows.
    Insert('A', MakeSampleDisk(512000));
    Port.Shown.clear();
    Port.Answers = {TModalResult::OK, TModalResult::No};
    Imaging->btnMakeImageClick();
    ASSERT_EQ(Port.Shown.size(), 2u);
    EXPECT_EQ(Port.Shown[1].Caption, "Attention");
    EXPECT_EQ(State.MediaRetryState, TMediaRetryState::GaveUp);
    EXPECT_EQ(StoredPath(), "<no key>");

    // Yes, after putting a 720KB diskette in while the question was open.
    Port.Shown.clear();
    Port.WhileShown = [&](const TShown& Entry) {
        if (Entry.Caption == "Attention")
            InsertFormatted('A', 3);
    };
    Port.Answers = {TModalResult::OK, TModalResult::Yes};
    Port.FileAnswers = {""};
    Imaging->btnMakeImageClick();
    ASSERT_EQ(Port.Shown.size(), 3u);
    EXPECT_EQ(Port.Shown[2].Kind, "SaveDialog");
    EXPECT_EQ(Port.Shown[2].Dialog.FilterIndex, 4);
    EXPECT_EQ(State.DiskGeometry.TracksText, "40");
    EXPECT_EQ(StoredPath(), "<no key>");
}

// The path is kept for the next start of the program, and both workflows begin where the
// other one left off.
TEST_F(MakeImageTest, TheStoredPathIsSharedByBothWorkflowsAndOutlivesTheProgram)
{
    Insert('A', MakeSampleDisk(1474560));
    const fs::path First = Root / "images" / "first.144";
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {First.string()};
    Imaging->btnMakeImageClick();
    ASSERT_TRUE(FinishRun());

    Imaging = std::make_unique<TImaging>(State, Port);
    State.LastFolder.clear();
    Port.Shown.clear();
    Port.FileAnswers = {""};
    Imaging->btnMakeDiskClick();
    ASSERT_EQ(Port.Shown.size(), 1u);
    EXPECT_EQ(Port.Shown[0].Dialog.InitialDir, (Root / "images").string());
    EXPECT_EQ(Port.Shown[0].Dialog.FileName, "") << "a new program remembers no file name";
    EXPECT_EQ(StoredPath(), First.string());

    // An image chosen elsewhere moves the next save dialog there, and the open dialog keeps it.
    fs::create_directories(Root / "other");
    const fs::path Elsewhere = Root / "other" / "notes.144";
    WriteText(Elsewhere, "no image");
    Port.FileAnswers = {Elsewhere.string()};
    Imaging->btnMakeDiskClick();
    EXPECT_EQ(StoredPath(), Elsewhere.string());
    Port.Shown.clear();
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {"", ""};
    Imaging->btnMakeImageClick();
    EXPECT_EQ(Port.Shown.back().Dialog.InitialDir, (Root / "other").string());
    Imaging->btnMakeDiskClick();
    EXPECT_EQ(Port.Shown.back().Dialog.FileName, Elsewhere.string());
    EXPECT_EQ(Port.Shown.back().Dialog.InitialDir, (Root / "other").string());
}

// A read that fails, or a helper that dies halfway, must leave the image the user agreed to
// overwrite as it was, and no dump behind.
TEST_F(MakeImageTest, AFailedOrDeadHelperLeavesTheExistingImageAsItWas)
{
    Insert('A', MakeSampleDisk(1474560, TSampleKind::Filled, 9));
    const fs::path Existing = MakeImageFile("keep.144", MakeSampleDisk(1474560, TSampleKind::Zero));
    const Bytes Old = ReadBytes(Existing);

    for (bool Dies : {false, true}) {
        SCOPED_TRACE(Dies ? "helper dies" : "helper reports a failure");
        Port.Shown.clear();
        if (Dies) {
            FakeHelper("head -c 100000 /dev/zero > temp.del\nkill -9 $$");
            Port.WhileShown = nullptr;
        } else {
            // The diskette is taken out while the overwrite question is open.
            Port.WhileShown = [&](const TShown& Entry) {
                if (Entry.Caption == "Continue?")
                    TakeOut('A');
            };
        }
        Port.Answers = {TModalResult::OK, TModalResult::Yes};
        Port.FileAnswers = {Existing.string()};
        Imaging->btnMakeImageClick();
        ASSERT_TRUE(Port.TimerEnabled(TTimer::Timer1));
        ASSERT_TRUE(FinishRun());

        ASSERT_EQ(Port.Shown.size(), 4u);
        EXPECT_EQ(Port.Shown[3].Text, ReadFailure);
        EXPECT_EQ(Port.Text(TLabel::Messages), "Could not read from disk.");
        EXPECT_EQ(Port.Text(TLabel::Status), " Status: Error!");
        EXPECT_EQ(ReadBytes(Existing), Old);
        EXPECT_FALSE(fs::exists(Dump()));
        EXPECT_EQ(FileExists(Work("error.dat")), !Dies);
        ExpectIdle();
        Insert('A', MakeSampleDisk(1474560, TSampleKind::Filled, 9));
        fs::remove(Work("error.dat"));
    }
}

// Closing the window while the engine works runs the exit steps (the dump and the helper are
// deleted) at the engine's next pump: the image must still be whole.
TEST_F(MakeImageTest, ClosingTheWindowDuringCompressionStillWritesTheWholeImage)
{
    const Bytes Disk = MakeSampleDisk(1474560, TSampleKind::Filled, 4);
    Insert('A', Disk);
    const fs::path Image = Root / "images" / "closing.144";
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Image.string()};
    Imaging->btnMakeImageClick();
    Port.Host.WhilePumping = [&] {
        if (State.Terminating)
            return;
        State.Terminating = true;
        DeleteFile(Work("Rastrel2.exe"));
        DeleteFile(Work("temp.del"));
    };
    ASSERT_TRUE(FinishRun());
    EXPECT_TRUE(State.Terminating) << "the engine never let the window handle its events";
    EXPECT_EQ(Port.Text(TLabel::Messages), "Image Complete.");
    EXPECT_EQ(Unpack(Image), Disk);
}

}  // namespace
