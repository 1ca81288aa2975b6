// The built Rastrel2.exe, run the way the program runs it: in WorkDir, on a virtual diskette.
#include "HelperTestSupport.h"

#include "tests/support/SampleDisk.h"

#include <cstdio>
#include <sys/wait.h>

using namespace HelperTest;

namespace {

class EndToEndTest : public THelperFixture {
protected:
    // Runs the helper with Arguments in WorkDir; its exit status, or -1.
    int RunExe(const std::vector<std::string>& Arguments)
    {
        StartRun();
        std::vector<char*> Argv{const_cast<char*>(RASTREL2_EXE)};
        for (const auto& Argument : Arguments)
            Argv.push_back(const_cast<char*>(Argument.c_str()));
        Argv.push_back(nullptr);
        const pid_t Child = ::fork();
        if (Child == 0) {
            if (::chdir(WorkDir.c_str()) == 0) {
                ::alarm(60);  // a helper that hangs fails the test instead of stopping it
                if (!::freopen("/dev/null", "w", stderr))
                    ::_exit(126);
                ::execv(RASTREL2_EXE, Argv.data());
            }
            ::_exit(127);
        }
        int Status = 0;
        if (Child < 0 || ::waitpid(Child, &Status, 0) != Child || !WIFEXITED(Status))
            return -1;
        return WEXITSTATUS(Status);
    }
};

TEST_F(EndToEndTest, ReadsAndWritesADiskette)
{
    const auto Disk = MakeSampleDisk(1474560);
    const std::string Path = Root + "/floppy.img";
    WriteBytes(Path, Disk);
    LinkDrive('A', Path);

    ASSERT_EQ(RunExe({"i", "temp.del", "80", "A", "18", "w"}), 0) << ReadText(Work("error.dat"));
    EXPECT_EQ(ReadBytes(Work("temp.del")), Disk);
    EXPECT_FALSE(Exists(Work("working.dat")));
    EXPECT_FALSE(Exists(Work("error.dat")));
    EXPECT_EQ(ReadText(Work("Status.dat")), "80\r\n");

    const auto Other = MakeSampleDisk(1474560, TSampleKind::Filled, 9);
    WriteBytes(Work("temp.del"), Other);
    ASSERT_EQ(RunExe({"d temp.del 80 A 18 w"}), 0) << ReadText(Work("error.dat"));
    EXPECT_EQ(ReadBytes(Path), Other);
    EXPECT_FALSE(Exists(Work("working.dat")));
    EXPECT_FALSE(Exists(Work("error.dat")));
}

TEST_F(EndToEndTest, ABadCommandLineEndsWithErrorFile)
{
    EXPECT_EQ(RunExe({"i", "temp.del", "80", "A"}), 2);
    EXPECT_TRUE(ReadText(Work("error.dat")).starts_with("bad command line \"i temp.del 80 A\""));
    EXPECT_FALSE(Exists(Work("working.dat")));
}

// The loop device on a file, detached again at the end; Device stays "" when the machine
// allows none.
struct TLoopDevice {
    explicit TLoopDevice(const std::string& File)
    {
        if (FILE* Out = ::popen(("losetup -f --show '" + File + "' 2>/dev/null").c_str(), "r")) {
            char Line[256] = "";
            if (std::fgets(Line, sizeof Line, Out))
                Device = std::string(Line).substr(0, std::string(Line).find('\n'));
            if (::pclose(Out) != 0)
                Device.clear();
        }
    }
    ~TLoopDevice()
    {
        if (!Device.empty())
            (void)!std::system(("losetup -d '" + Device + "'").c_str());  // nothing to do if it fails
    }
    std::string Device;
};

TEST_F(EndToEndTest, AnImageFileBackingALoopDeviceIsNotWritten)
{
    const auto Disk = MakeSampleDisk(1474560);
    const std::string Path = Root + "/floppy.img";
    WriteBytes(Path, Disk);
    TLoopDevice Loop(Path);
    if (Loop.Device.empty())
        GTEST_SKIP() << "losetup cannot attach a loop device on this machine";
    // The drive table names the file by another path: the file itself counts.
    const std::string Alias = Root + "/alias.img";
    ASSERT_EQ(::link(Path.c_str(), Alias.c_str()), 0);
    LinkDrive('A', Alias);

    for (const char* Run : {"d temp.del 80 A 18 w", "d temp.del 1 A 18 w"}) {
        WriteBytes(Work("temp.del"), MakeSampleDisk(1474560, TSampleKind::Random, 3));
        EXPECT_EQ(RunExe({Run}), 1) << Run;
        EXPECT_EQ(ReadText(Work("error.dat")), "drive A: (" + Alias + ") backs the loop device " +
                                                   Loop.Device + "; a diskette in use is not written\r\n");
    }
    EXPECT_EQ(ReadBytes(Path), Disk);
    EXPECT_EQ(RunExe({"i temp.del 80 A 18 w"}), 0) << "reading stays possible";
}

// A hand-made relative link: the helper runs in WorkDir, where the same relative path leads
// to another file.
TEST_F(EndToEndTest, ARelativeDriveTableLinkWritesTheFileItLeadsTo)
{
    const std::string Disks = ConfigHome + "/marrowtide/disks";
    std::filesystem::create_directories(Disks);
    std::filesystem::create_directories(Root + "/disks");
    const auto Blank = MakeSampleDisk(737280, TSampleKind::Zero);
    WriteBytes(Disks + "/x.720", Blank);
    WriteBytes(Root + "/disks/x.720", Blank);
    LinkDrive('A', "../disks/x.720");

    const auto Disk = MakeSampleDisk(737280);
    WriteBytes(Work("temp.del"), Disk);
    ASSERT_EQ(RunExe({"d temp.del 80 A 09 w"}), 0) << ReadText(Work("error.dat"));
    EXPECT_EQ(ReadBytes(Disks + "/x.720"), Disk);
    EXPECT_EQ(ReadBytes(Root + "/disks/x.720"), Blank) << "the wrong file was written";
}

// Links, FIFOs planted in the working folder are neither followed nor waited on.
TEST_F(EndToEndTest, PlantedExchangeFilesAreRefused)
{
    const auto Disk = MakeSampleDisk(737280);
    WriteBytes(Root + "/floppy.img", Disk);
    LinkDrive('A', Root + "/floppy.img");
    const std::string Victim = Root + "/victim";
    WriteBytes(Victim, {'k', 'e', 'e', 'p'});

    ASSERT_EQ(::symlink(Victim.c_str(), Work("temp.del").c_str()), 0);
    for (const char* Run : {"i temp.del 80 A 09 w", "d temp.del 80 A 09 w"}) {
        EXPECT_EQ(RunExe({Run}), 1) << Run;
        EXPECT_EQ(ReadText(Work("error.dat")),
                  std::string(Run[0] == 'i' ? "the dump file" : "the image file") +
                      " temp.del is a symbolic link; it is not followed\r\n");
    }
    EXPECT_EQ(ReadText(Victim), "keep");

    ::unlink(Work("temp.del").c_str());
    ASSERT_EQ(::mkfifo(Work("temp.del").c_str(), 0600), 0);
    for (const char* Run : {"i temp.del 80 A 09 w", "d temp.del 80 A 09 w"}) {
        EXPECT_EQ(RunExe({Run}), 1) << Run;
        EXPECT_TRUE(ReadText(Work("error.dat")).ends_with(
            " temp.del is not a regular file; it is refused\r\n"));
    }

    ::unlink(Work("temp.del").c_str());
    const std::string Absent = Root + "/created-through-link";
    ASSERT_EQ(::symlink(Absent.c_str(), Work("check.dat").c_str()), 0);
    EXPECT_EQ(RunExe({"i temp.del 80 A 09 w"}), 1);
    EXPECT_EQ(ReadText(Work("error.dat")), "check.dat is a symbolic link; it is not followed\r\n");
    EXPECT_FALSE(Exists(Absent));
    EXPECT_FALSE(Exists(Work("temp.del"))) << "an unfinished dump stays";
}

}  // namespace
