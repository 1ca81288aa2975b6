// The built Rastrel2.exe, run the way the program runs it: in WorkDir, on a virtual diskette.
#include "HelperTestSupport.h"

#include "tests/support/SampleDisk.h"

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
                ::freopen("/dev/null", "w", stderr);
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

}  // namespace
