// The atomic writer's system calls seen through the linker's --wrap: the durability steps in
// their order, and the same results from the named-temporary fallback of file systems without
// unnamed files.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "tests/support/PrivateProfile.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Calls;
bool NoUnnamedFiles = false;

std::string Called(const char* What, const char* Path)
{
    return std::string(What) + " " + fs::path(Path).filename().string();
}

}  // namespace

extern "C" {
int __real_open(const char* Path, int Flags, ...);
int __real_fsync(int Fd);
int __real_linkat(int FromDir, const char* From, int ToDir, const char* To, int Flags);
int __real_rename(const char* From, const char* To);
int __real_renameat2(int FromDir, const char* From, int ToDir, const char* To, unsigned Flags);

int __wrap_open(const char* Path, int Flags, ...)
{
    va_list Rest;
    va_start(Rest, Flags);
    const int Mode = (Flags & O_CREAT) || (Flags & O_TMPFILE) == O_TMPFILE ? va_arg(Rest, int) : 0;
    va_end(Rest);
    if (NoUnnamedFiles && (Flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return __real_open(Path, Flags, Mode);
}
int __wrap_fsync(int Fd)
{
    Calls.push_back("fsync");
    return __real_fsync(Fd);
}
int __wrap_linkat(int FromDir, const char* From, int ToDir, const char* To, int Flags)
{
    Calls.push_back(Called("link", To));
    return __real_linkat(FromDir, From, ToDir, To, Flags);
}
int __wrap_rename(const char* From, const char* To)
{
    Calls.push_back(Called("rename", To));
    return __real_rename(From, To);
}
int __wrap_renameat2(int FromDir, const char* From, int ToDir, const char* To, unsigned Flags)
{
    Calls.push_back(Called("rename", To));
    return __real_renameat2(FromDir, From, ToDir, To, Flags);
}
}

namespace {

// Run once with unnamed files (O_TMPFILE) and once without.
class AtomicSeam : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { NoUnnamedFiles = GetParam(); }
    void TearDown() override { NoUnnamedFiles = false; }

    bool Write(TAtomicFile& File, const std::string& Text)
    {
        return ::write(File.Handle(), Text.data(), Text.size()) == ssize_t(Text.size());
    }

    TTestFolder Temp{"marrowtide-seam"};
    const std::string Target = Temp.Path("disk.144");
};

TEST_P(AtomicSeam, TheDataReachesTheDiskBeforeItTakesTheNameAndTheNameAfter)
{
    const std::string Placed = GetParam() ? "rename disk.144" : "link disk.144";
    for (const bool Durable : {true, false}) {
        fs::remove(Target);
        TAtomicFile File;
        ASSERT_TRUE(File.Open(Target, 0644, false));
        ASSERT_TRUE(Write(File, "data"));
        Calls.clear();
        ASSERT_TRUE(File.Commit(Durable));
        const std::vector<std::string> Expected =
            Durable ? std::vector<std::string>{"fsync", Placed, "fsync"}
                    : std::vector<std::string>{Placed};
        EXPECT_EQ(Calls, Expected);
        EXPECT_EQ(ReadText(Target), "data");
    }
}

TEST_P(AtomicSeam, WithoutReplaceANameTakenMeanwhileKeepsBothFiles)
{
    TAtomicFile File;
    ASSERT_TRUE(File.Open(Target, 0644, false));
    ASSERT_TRUE(Write(File, "ours"));
    WriteText(Target, "theirs");
    errno = 0;
    EXPECT_FALSE(File.Commit());
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadText(Target), "theirs");
    const std::string Kept = fs::path(File.KeptAs()).filename();
    EXPECT_TRUE(Kept.starts_with("disk.kept-") && Kept.ends_with(".144")) << Kept;
    EXPECT_EQ(ReadText(File.KeptAs()), "ours");
    std::vector<std::string> Names;
    for (const auto& Entry : fs::directory_iterator(Temp.Path()))
        Names.push_back(Entry.path().filename());
    std::sort(Names.begin(), Names.end());
    EXPECT_EQ(Names, (std::vector<std::string>{"disk.144", Kept}));

    // A link to nowhere is a name taken too: it stays, and where it leads stays empty.
    fs::create_symlink(Temp.Path("nowhere"), Temp.Path("link.144"));
    TAtomicFile Late;
    ASSERT_TRUE(Late.Open(Temp.Path("link.144"), 0644, false));
    EXPECT_FALSE(Late.Commit());
    EXPECT_EQ(errno, EEXIST);
    EXPECT_TRUE(fs::is_symlink(Temp.Path("link.144")));
    EXPECT_FALSE(fs::exists(Temp.Path("nowhere")));

    TAtomicFile Replacing;
    ASSERT_TRUE(Replacing.Open(Target, 0644));
    ASSERT_TRUE(Write(Replacing, "replaced"));
    EXPECT_TRUE(Replacing.Commit());
    EXPECT_EQ(ReadText(Target), "replaced");
}

INSTANTIATE_TEST_SUITE_P(Paths, AtomicSeam, ::testing::Values(false, true),
                         [](const auto& Info) { return Info.param ? "Named" : "Unnamed"; });

}  // namespace
