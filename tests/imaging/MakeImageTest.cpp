// Make Image end to end: the real helper reads a virtual diskette, the real engine compresses
// the dump, and the scripted window answers the questions.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "imaging/Imaging.h"
#include "platform/Drives.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/TempDir.h"
#include "tests/imaging/FakePort.h"
#include "tests/support/SampleDisk.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// Taken before any test runs: each test points TMPDIR into its own, later removed, folder.
const fs::path BaseTemp = [] {
    const char* Temp = std::getenv("TMPDIR");
    return fs::path(Temp && *Temp ? Temp : "/tmp");
}();

Bytes ReadAll(const fs::path& File)
{
    std::ifstream In(File, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& File, const Bytes& Data)
{
    std::ofstream(File, std::ios::binary)
        .write(reinterpret_cast<const char*>(Data.data()), std::streamsize(Data.size()));
}

class MakeImageTest : public ::testing::Test {
protected:
    fs::path Root;
    TProgramState State;
    imagingtest::TFakePort Port;
    std::unique_ptr<TImaging> Imaging;

    void SetUp() override
    {
        std::string Template = (BaseTemp / "makeimage-XXXXXX").string();
        ASSERT_NE(::mkdtemp(Template.data()), nullptr);
        Root = Template;
        for (const char* Folder : {"config", "tmp", "home", "images"})
            fs::create_directories(Root / Folder);
        ::setenv("XDG_CONFIG_HOME", (Root / "config").c_str(), 1);
        ::setenv("TMPDIR", (Root / "tmp").c_str(), 1);
        ::setenv("HOME", (Root / "home").c_str(), 1);
        State.WorkDir = GetTempPath();
        ASSERT_TRUE(CopyFile(HELPER_PATH, State.WorkDir + "/Rastrel2.exe", false));
        Port.RadioA = true;
        Imaging = std::make_unique<TImaging>(State, Port);
    }
    void TearDown() override
    {
        Imaging.reset();
        std::error_code Ignored;
        fs::remove_all(Root, Ignored);
    }

    void Insert(char Letter, const Bytes& Dump)
    {
        WriteAll(Root / "diskette", Dump);
        SetDriveTableEntry(Letter, (Root / "diskette").string());
    }

    // Ticks the poller until the run has ended; false when the helper takes too long.
    bool FinishRun()
    {
        for (auto Limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
             std::chrono::steady_clock::now() < Limit;
             std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            Imaging->Timer1Timer();
            if (!Port.TimerEnabled(TTimer::Timer1))
                return true;
        }
        return false;
    }

    Bytes Unpack(const fs::path& Image)
    {
        Tlzrw1 Engine;
        Engine.InputFile = Image.string();
        Engine.OutputFile = (Root / "unpacked").string();
        Engine.Decompress();
        return ReadAll(Root / "unpacked");
    }

    std::string StoredPath()
    {
        TRegistry Registry;
        return Registry.OpenKey("\\mwtest", false) ? Registry.ReadString("path") : "<no key>";
    }
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

    Imaging->LoadLastFolder();
    EXPECT_EQ(State.LastFolder, (Root / "images").string());
}

TEST_F(MakeImageTest, EachQuestionEndsTheCommandAndKeepsOnlyWhatWasDecided)
{
    Insert('A', MakeSampleDisk(1474560));
    Imaging->SaveLastPath("/srv/floppies/first.144");

    Port.Answers = {TModalResult::Cancel};
    Imaging->btnMakeImageClick();
    EXPECT_EQ(State.CurrentOperation, 1);
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
    WriteAll(Existing, {1, 2, 3});
    Port.Answers = {TModalResult::OK, TModalResult::No};
    Port.FileAnswers = {Existing.string()};
    Imaging->btnMakeImageClick();
    EXPECT_EQ(Port.Shown.back().Text, "The file already exists, overwrite?");
    EXPECT_EQ(Port.Shown.back().Caption, "Continue?");
    EXPECT_EQ(Port.Shown.back().Buttons, TMsgButtons::YesNoCancel);
    EXPECT_EQ(StoredPath(), Existing.string());
    EXPECT_EQ(Port.Text(TLabel::Path), "/.../keep.144");
    EXPECT_EQ(ReadAll(Existing), (Bytes{1, 2, 3}));
    EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1));
    EXPECT_FALSE(FileExists(State.WorkDir + "/working.dat"));
    EXPECT_TRUE(Port.AllCommandsEnabled(true));

    // The dialog offers the name chosen last time.
    Port.Answers = {TModalResult::OK, TModalResult::Cancel};
    Port.FileAnswers = {Existing.string()};
    Imaging->btnMakeImageClick();
    EXPECT_EQ(Port.Shown[Port.Shown.size() - 2].Dialog.FileName, Existing.string());
}

TEST_F(MakeImageTest, AnEngineErrorIsShownAndTheWindowComesBackIdle)
{
    Insert('A', MakeSampleDisk(1474560));
    State.StartedWithFile = 1;
    const fs::path Image = Root / "missing-folder" / "lost.144";
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Image.string()};

    Imaging->btnMakeImageClick();
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
        Imaging->SaveLastPath(Stored);
        Imaging->LoadLastFolder();
        EXPECT_EQ(State.LastFolder, Folder) << Stored;
    }
}

}  // namespace
