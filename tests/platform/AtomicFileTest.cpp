// A writer killed in the middle leaves the old file and nothing else; a finished one, the new file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/AtomicFile.h"
#include "tests/support/PrivateProfile.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(Target) << "old"; }
    TTestFolder Temp{"marrowtide-atomic"};
    const std::string Folder = Temp.Path();
    const std::string Target = Temp / "Status.dat";
};

TEST_F(AtomicFileTest, AKilledWriterLeavesTheOldFileAndNothingElse)
{
    const int Probe = ::open(Folder.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (Probe < 0)
        GTEST_SKIP() << Folder << " has no unnamed files (O_TMPFILE): the named fallback is used";
    ::close(Probe);

    int Ready[2];
    ASSERT_EQ(::pipe(Ready), 0);
    const pid_t Child = ::fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
        TAtomicFile File;
        if (!File.Open(Target, 0644) || ::write(File.Handle(), "half of the new", 15) != 15)
            ::_exit(1);
        (void)!::write(Ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char Byte = 0;
    ASSERT_EQ(::read(Ready[0], &Byte, 1), 1);
    ::kill(Child, SIGKILL);
    ::waitpid(Child, nullptr, 0);
    ::close(Ready[0]);
    ::close(Ready[1]);

    EXPECT_EQ(Temp.Entries(), std::vector<std::string>{"Status.dat"});
    EXPECT_EQ(ReadText(Target), "old");
}

TEST_F(AtomicFileTest, ReplacesOrCreatesWithTheModeAsked)
{
    EXPECT_EQ(ReplaceFileWithText(Target, "new", 0640, true), 0);
    EXPECT_EQ(ReplaceFileWithText(Folder + "/fresh", "made", 0600, false), 0);
    EXPECT_EQ(Temp.Entries(), (std::vector<std::string>{"Status.dat", "fresh"}));
    EXPECT_EQ(ReadText(Target), "new");
    EXPECT_EQ(ReadText(Folder + "/fresh"), "made");
    EXPECT_EQ(fs::status(Target).permissions(), fs::perms(0640));
    EXPECT_EQ(fs::status(Folder + "/fresh").permissions(), fs::perms(0600));
    EXPECT_EQ(ReplaceFileWithText(Folder + "/missing/x", "y", 0600, false), ENOENT);
}

}  // namespace
