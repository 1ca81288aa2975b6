// Make Disk end to end: the real engine decompresses an image, the real helper writes it onto a
// blank virtual diskette, and the scripted window answers the questions.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "imaging/FormatTable.h"
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

const char* const FormatNames[] = {"2.88MB", "1.44MB", "1.2MB", "720KB", "360KB"};

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

class MakeDiskTest : public ::testing::Test {
protected:
    fs::path Root;
    TProgramState State;
    imagingtest::TFakePort Port;
    std::unique_ptr<TImaging> Imaging;

    void SetUp() override
    {
        std::string Template = (BaseTemp / "makedisk-XXXXXX").string();
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

    // A blank diskette made by the console tool, in drive A:.
    fs::path InsertBlank(unsigned FormatIndex)
    {
        const fs::path File = Root / "diskette";
        const std::string Command = std::string(MARROWTIDE_IMG_PATH) + " format " +
            FormatNames[FormatIndex] + " '" + File.string() + "' >/dev/null";
        EXPECT_EQ(std::system(Command.c_str()), 0) << Command;
        SetDriveTableEntry('A', File.string());
        return File;
    }

    fs::path MakeImage(const std::string& Name, const Bytes& Dump)
    {
        WriteAll(Root / "dump", Dump);
        Tlzrw1 Engine;
        Engine.InputFile = (Root / "dump").string();
        Engine.OutputFile = (Root / "images" / Name).string();
        Engine.Compress();
        return Root / "images" / Name;
    }

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

    std::string StoredPath()
    {
        TRegistry Registry;
        return Registry.OpenKey("\\mwtest", false) ? Registry.ReadString("path") : "<no key>";
    }

    fs::path Dump() const { return State.WorkDir + "/temp.del"; }
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
    const Bytes Before = ReadAll(Blank);
    // Left by an earlier failed run: it must not fail this one.
    WriteAll(State.WorkDir + "/error.dat", {'o', 'l', 'd', '\n'});
    Port.Answers = {TModalResult::OK};
    Port.FileAnswers = {Image.string()};

    Imaging->btnMakeDiskClick();

    ASSERT_EQ(Port.Shown.size(), 2u);
    EXPECT_EQ(Port.Shown[0].Dialog.Filter,
              "Marrowtide Image Files|*.144;*.720;*.120|All Files (*.*)|*.*");
    EXPECT_EQ(Port.Shown[0].Dialog.DefaultExt, "144");
    EXPECT_EQ(Port.Shown[1].Text, Prompts[Format]);
    EXPECT_EQ(Port.Shown[1].Caption, "Insert Disk");
    EXPECT_EQ(State.ConversionCase, int(Format));
    EXPECT_EQ(StoredPath(), Image.string());
    EXPECT_EQ(Port.Text(TLabel::Messages), "Creating Diskette from Image.");
    EXPECT_EQ(Port.GaugeMax(), Format == 4 ? 40 : 80);

    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: OK.");
    EXPECT_EQ(Port.Text(TLabel::Messages), "Disk Complete.");
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
    EXPECT_FALSE(fs::exists(Dump()));

    // What the tracks hold is written; a padded dump's tail is not, nor is the diskette longer.
    const Bytes After = ReadAll(Blank);
    ASSERT_EQ(After.size(), Before.size());
    const size_t Held = std::min(size_t(Row.Tracks) * 2 * Row.SectorsPerTrack * 512, After.size());
    EXPECT_TRUE(std::equal(After.begin(), After.begin() + Held, Content.begin()));
    EXPECT_TRUE(std::equal(After.begin() + Held, After.end(), Before.begin() + Held));
}

INSTANTIATE_TEST_SUITE_P(Formats, MakeDiskOfEachFormat, ::testing::Range(0u, 5u),
                         [](const auto& Info) {
                             return std::string("Format") + char('0' + Info.param);
                         });

TEST_F(MakeDiskTest, CancelEndsTheCommandAndKeepsWhatWasDone)
{
    Port.FileAnswers = {""};
    Imaging->btnMakeDiskClick();
    EXPECT_EQ(State.CurrentOperation, 2);
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
    EXPECT_EQ(Imaging->ImageGeometry.DriveLetter, "B");
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
    WriteAll(NoHeader, Bytes(4000, 'x'));
    Bytes Half = ReadAll(MakeImage("whole.144", MakeSampleDisk(1474560)));
    Half.resize(Half.size() / 2);
    const fs::path Cut = Root / "images" / "cut.144";
    WriteAll(Cut, Half);

    for (const fs::path& Bad : {NoHeader, Cut}) {
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
    // One byte short of 1.44MB; a stale dump of the right size must not count either.
    WriteAll(Dump(), Bytes(1474560, 0));
    Port.FileAnswers = {MakeImage("short.144", Bytes(1474559, 0xF6)).string()};

    Imaging->btnMakeDiskClick();

    ASSERT_EQ(Port.Shown.size(), 2u);
    EXPECT_EQ(Port.Shown[1].Kind, "ShowMessage");
    EXPECT_EQ(Port.Shown[1].Text, "The image file is corrupt!");
    EXPECT_EQ(fs::file_size(Dump()), 1474559u);
    EXPECT_EQ(Port.Text(TLabel::Messages), "Decompression Complete.");
    EXPECT_TRUE(Port.AllCommandsEnabled(true));
}

TEST_F(MakeDiskTest, StartedWithAFileEndsAfterSuccessAndStaysAfterFailure)
{
    const Bytes Content = MakeSampleDisk(1474560, TSampleKind::Filled, 5);
    const fs::path Image = MakeImage("boot.144", Content);
    const fs::path Blank = InsertBlank(1);
    const Bytes Before = ReadAll(Blank);
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
    EXPECT_EQ(ReadAll(Blank), Before);

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
    EXPECT_EQ(ReadAll(Blank), Content);
    EXPECT_EQ(StoredPath(), "<no key>");
}

}  // namespace
