// The common ground of the workflow tests: a private folder for config, temp, home and images
// (with the environment put back afterwards), the helper beside the exchange files, virtual
// diskettes in the drive table, images made and unpacked by the real engine, and bounded waits
// for the runs.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/FormatTable.h"
#include "imaging/Imaging.h"
#include "platform/Drives.h"
#include "platform/Files.h"
#include "platform/Launch.h"
#include "platform/Registry.h"
#include "platform/TempDir.h"
#include "tests/imaging/FakePort.h"
#include "tests/support/PrivateProfile.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitFor.h"

namespace imagingtest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// As the console tool's format command names them, by format index.
inline const char* const FormatNames[] = {"2.88MB", "1.44MB", "1.2MB", "720KB", "360KB"};

template <class TPort = TFakePort>
class TImagingTest : public ::testing::Test {
protected:
    TPrivateProfile Profile{"imaging"};
    const fs::path Root = Profile.Path();
    std::unique_ptr<TWorkFolder> WorkFolder;
    TProgramState State;
    TPort Port;
    std::unique_ptr<TImaging> Imaging;

    void SetUp() override
    {
        fs::create_directories(Root / "images");
        WorkFolder = std::make_unique<TWorkFolder>();
        State.WorkDir = WorkFolder->Path();
        Imaging = std::make_unique<TImaging>(State, Port);
    }
    void TearDown() override
    {
        // A helper a test left stopped or waiting must not outlive it.
        if (State.HelperPid > 0 && ProcessRunning(State.HelperPid)) {
            ::kill(State.HelperPid, SIGCONT);
            ::kill(State.HelperPid, SIGKILL);
        }
        Imaging.reset();
    }

    std::string Work(const std::string& Name) const { return State.WorkDir + "/" + Name; }
    fs::path Dump() const { return Work("temp.del"); }

    // The real helper, as the start-up copies it beside the exchange files.
    void RealHelper() { ASSERT_TRUE(CopyFile(HELPER_PATH, Work("Rastrel2.exe"), false)); }
    // A helper that runs Body as a shell script in WorkDir. Renamed into place: the file of a
    // helper still running cannot be opened for writing ("Text file busy").
    void FakeHelper(const std::string& Body)
    {
        const std::string Script = Work(".Rastrel2.exe.new");
        WriteText(Script, "#!/bin/sh\n" + Body + "\n");
        ASSERT_EQ(::chmod(Script.c_str(), 0755), 0);
        ASSERT_EQ(::rename(Script.c_str(), Work("Rastrel2.exe").c_str()), 0);
    }

    // A blank diskette of a standard format made by the console tool, in drive Letter.
    fs::path InsertFormatted(char Letter, unsigned FormatIndex)
    {
        const fs::path File =
            Root / (std::string("disk-") + Letter + std::string(FormatTable[FormatIndex].Extension));
        std::error_code Ignored;
        fs::remove(File, Ignored);  // the tool will not replace a file
        const std::string Command = std::string(MARROWTIDE_IMG_PATH) + " format " +
                                    FormatNames[FormatIndex] + " '" + File.string() + "' >/dev/null";
        EXPECT_EQ(std::system(Command.c_str()), 0) << Command;
        SetDriveTableEntry(Letter, File.string());
        return File;
    }

    // A virtual diskette holding exactly Dump, in drive Letter.
    fs::path InsertBytes(char Letter, const Bytes& Content, const std::string& Name = "diskette")
    {
        WriteBytes(Root / Name, Content);
        SetDriveTableEntry(Letter, (Root / Name).string());
        return Root / Name;
    }

    // An image of Content made by the engine, in the images folder.
    fs::path MakeImageFile(const std::string& Name, const Bytes& Content)
    {
        WriteBytes(Root / "dump", Content);
        Tlzrw1 Engine;
        Engine.InputFile = (Root / "dump").string();
        Engine.OutputFile = (Root / "images" / Name).string();
        Engine.Compress();
        return Root / "images" / Name;
    }

    Bytes Unpack(const fs::path& Image)
    {
        Tlzrw1 Engine;
        Engine.InputFile = Image.string();
        Engine.OutputFile = (Root / "unpacked").string();
        Engine.Decompress();
        return ReadBytes(Root / "unpacked");
    }

    // The last image path, as a command stores it.
    void StorePath(const std::string& Path)
    {
        TRegistry Registry;
        ASSERT_TRUE(Registry.OpenKey("\\mwtest", true));
        Registry.WriteString("path", Path);
    }

    std::string StoredPath()
    {
        TRegistry Registry;
        return Registry.OpenKey("\\mwtest", false) ? Registry.ReadString("path") : "<no key>";
    }

    // Ticks the poller of Timer until it has ended the run, then waits for the helper process
    // to be gone: it removes working.dat before it exits, and its exit can take a while (under a
    // sanitizer, seconds) while a test goes on to replace its program file. False when the
    // helper takes too long.
    bool FinishRun(TTimer Timer = TTimer::Timer1)
    {
        const pid_t Helper = State.HelperPid;
        return WaitFor(
                   [&] {
                       Timer == TTimer::Timer1 ? Imaging->Timer1Timer() : Imaging->Timer3Timer();
                       return !Port.TimerEnabled(Timer);
                   },
                   std::chrono::seconds(30)) &&
               WaitFor([&] { return !ProcessRunning(Helper); }, std::chrono::seconds(30));
    }

    // The window after a run ended and the commands came back.
    void ExpectIdle()
    {
        EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer1));
        EXPECT_FALSE(Port.TimerEnabled(TTimer::Timer3));
        EXPECT_TRUE(Port.AllCommandsEnabled(true));
        EXPECT_FALSE(Port.GaugeVisible);
        EXPECT_FALSE(Port.AnimationActive[TAnimation::MakeImage]);
        EXPECT_FALSE(Port.AnimationActive[TAnimation::MakeDisk]);
        EXPECT_FALSE(Port.AnimationVisible[TAnimation::MakeImage]);
        EXPECT_FALSE(Port.AnimationVisible[TAnimation::MakeDisk]);
        EXPECT_TRUE(Port.FloppyVisible);
    }
};

// The workflows end to end: the real helper in place and drive A: chosen.
template <class TPort = TFakePort>
class TWorkflowTest : public TImagingTest<TPort> {
protected:
    void SetUp() override
    {
        TImagingTest<TPort>::SetUp();
        if (::testing::Test::HasFatalFailure())
            return;
        this->RealHelper();
        this->Port.RadioA = true;
    }
};

}  // namespace imagingtest
