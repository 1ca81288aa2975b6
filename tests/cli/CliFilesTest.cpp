// ls, extract and mount on diskettes that mkfs.fat and mcopy made, as images of both codecs
// and as raw dumps, and on ones damaged on purpose.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "CliTestSupport.h"
#include "cli/FileCommands.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

int Shell(const std::string& Command)
{
    return std::system(("MTOOLS_SKIP_CHECK=1 " + Command + " >/dev/null 2>&1").c_str());
}

// Patches the first place Old occurs in the file with New (of the same length).
void Patch(const std::string& Path, const std::string& Old, const std::string& New)
{
    std::string Bytes = ReadText(Path);
    const size_t At = Bytes.find(Old);
    ASSERT_NE(At, std::string::npos) << "no such bytes in " << Path;
    Bytes.replace(At, New.size(), New);
    WriteText(Path, Bytes);
}

std::string Utf16(const std::string& Ascii)
{
    std::string Units;
    for (const char C : Ascii)
        Units += std::string(1, C) + '\0';
    return Units;
}

time_t Seconds(const std::string& Path)
{
    struct stat Info {};
    return ::stat(Path.c_str(), &Info) == 0 ? Info.st_mtime : -1;
}

// A 1.44MB diskette with a label, long names, a folder tree and known times; RAW, LZH and
// LZRW1/KH forms of it in Dir.
class CliFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!*MKFS_FAT || !*MDIR)
            GTEST_SKIP() << "mkfs.fat or mtools is not installed";
        WriteText(Dir / "src/Read Me First.txt", "hello from the diskette\n");
        WriteText(Dir / "src/CONFIG.SYS", "FILES=30\n");
        WriteText(Dir / "src/docs/manual.doc", std::string(5000, 'm'));
        WriteText(Dir / "src/docs/deep/notes.txt", "deep\n");
        WriteText(Dir / "src/src/main.c", "int main(void) { return 0; }\n");
        WriteText(Dir / "src/dotdotfile.txt", "dots\n");
        WriteText(Dir / "src/evil-name.txt", "evil\n");
        ASSERT_EQ(Shell("touch -d '1994-06-15 10:20:30' " + Quote(Dir / "src/CONFIG.SYS")), 0);
        ASSERT_EQ(Shell(std::string(MKFS_FAT) + " -C -n 'WORKDISK' -i 0BADF00D " + Quote(Raw) +
                        " 1440"), 0);
        ASSERT_EQ(Shell("cd " + Quote(Dir / "src") + " && mcopy -s -m -i " + Quote(Raw) +
                        " ./* ::/"), 0);
        Pack(Raw, Lzh, "good");
    }
    void Pack(const std::string& From, const std::string& To, const std::string& Mode)
    {
        ASSERT_EQ(RunTool(Dir, {"pack", "-q", "-f", "--mode", Mode, From, To}).Code, 0);
    }

    TTempDir Dir;
    const std::string Raw = Dir / "disk.img";
    const std::string Lzh = Dir / "disk.144";
};

TEST_F(CliFiles, LsListsImagesOfBothCodecsAndRawDumps)
{
    const std::string Fast = Dir / "fast.144";
    Pack(Raw, Fast, "fast");
    const TRun Ls = RunTool(Dir, {"ls", Raw, Lzh, Fast});
    ASSERT_EQ(Ls.Code, 0) << Ls.Err;
    EXPECT_EQ(Ls.Err, "");
    for (const std::string& Head : {Raw + ": raw dump, 1.44MB, FAT12\n",
                                    Lzh + ": LZH image, 1.44MB, FAT12\n",
                                    Fast + ": LZRW1/KH image, 1.44MB, FAT12\n"})
        EXPECT_TRUE(Contains(Ls.Out, Head)) << Head << Ls.Out;
    EXPECT_TRUE(Contains(Ls.Out, "  label: WORKDISK, serial: 0BAD-F00D, OEM name: mkfs.fat\n"));
    EXPECT_TRUE(Contains(Ls.Out, "        9  1994-06-15 10:20:30  ----A  CONFIG.SYS\n")) << Ls.Out;
    EXPECT_TRUE(Contains(Ls.Out, "  Read Me First.txt  [README~1.TXT]\n")) << Ls.Out;
    EXPECT_TRUE(Contains(Ls.Out, "---D-  docs/\n"));
    EXPECT_TRUE(Contains(Ls.Out, "     5000  ")) << Ls.Out;
    EXPECT_TRUE(Contains(Ls.Out, "----A      notes.txt\n")) << Ls.Out;  // two levels down
    EXPECT_TRUE(Contains(Ls.Out, "  7 files, 3 folders, 5077 bytes; 1447936 bytes free\n")) << Ls.Out;

    // A deleted file is listed with --deleted only, with what is left of it.
    ASSERT_EQ(Shell("mdel -i " + Quote(Raw) + " ::/docs/manual.doc"), 0);
    EXPECT_FALSE(Contains(RunTool(Dir, {"ls", Raw}).Out, "manual"));
    const TRun Deleted = RunTool(Dir, {"ls", "--deleted", Raw});
    EXPECT_EQ(Deleted.Code, 0) << Deleted.Err;
    EXPECT_TRUE(Contains(Deleted.Out, "----A    ?anual.doc  (deleted; all 5000 bytes intact)\n"))
        << Deleted.Out;

    // What is not a FAT diskette is named, and the other images are still listed.
    WriteText(Dir / "zeros.img", std::string(737280, '\0'));
    const TRun Mixed = RunTool(Dir, {"ls", Dir / "zeros.img", Lzh});
    EXPECT_EQ(Mixed.Code, 1);
    EXPECT_EQ(Mixed.Err, "marrowtide-img: " + Dir / "zeros.img" +
                             ": holds no FAT volume that can be read: no FAT boot sector\n");
    EXPECT_TRUE(Contains(Mixed.Out, "CONFIG.SYS"));
}

TEST_F(CliFiles, ExtractWritesFilesWithTheirTimesAndReplacesOnlyWhenForced)
{
    const std::string Out = Dir / "out";
    TRun All = RunTool(Dir, {"extract", Lzh, "-o", Out});
    ASSERT_EQ(All.Code, 0) << All.Err;
    EXPECT_EQ(All.Out, Lzh + ": 7 files extracted into " + Out + "\n");
    for (const std::string Name : {"Read Me First.txt", "CONFIG.SYS", "docs/manual.doc",
                                   "docs/deep/notes.txt", "src/main.c"})
        EXPECT_EQ(ReadText(Out + "/" + Name), ReadText(Dir / ("src/" + Name))) << Name;
    EXPECT_EQ(Seconds(Out + "/CONFIG.SYS"), Seconds(Dir / "src/CONFIG.SYS"));

    WriteText(Out + "/CONFIG.SYS", "changed");
    const TRun Again = RunTool(Dir, {"extract", Lzh, "-o", Out, "CONFIG.SYS"});
    EXPECT_EQ(Again.Code, 1);
    EXPECT_EQ(Again.Err, "marrowtide-img: " + Lzh + ": CONFIG.SYS: " + Out +
                             "/CONFIG.SYS already exists; use -f to overwrite\n");
    EXPECT_EQ(ReadText(Out + "/CONFIG.SYS"), "changed");
    EXPECT_EQ(RunTool(Dir, {"extract", "-f", Lzh, "-o", Out, "CONFIG.SYS"}).Code, 0);
    EXPECT_EQ(ReadText(Out + "/CONFIG.SYS"), "FILES=30\n");
}

TEST_F(CliFiles, PatternsDosStyleShellStyleFoldersAndPaths)
{
    const auto Extracted = [&](const std::vector<std::string>& Patterns) {
        const std::string Out = Dir / "p";
        fs::remove_all(Out);
        std::vector<std::string> Args{"extract", "-q", Raw, "-o", Out};
        Args.insert(Args.end(), Patterns.begin(), Patterns.end());
        EXPECT_EQ(RunTool(Dir, Args).Code, 0) << Patterns[0];
        std::vector<std::string> Files;
        for (const auto& Item : fs::recursive_directory_iterator(Out))
            if (Item.is_regular_file())
                Files.push_back(fs::relative(Item.path(), Out).string());
        std::sort(Files.begin(), Files.end());
        return Files;
    };
    using TNames = std::vector<std::string>;
    EXPECT_EQ(Extracted({"*.SYS", "MAIN.C"}), (TNames{"CONFIG.SYS", "src/main.c"}));
    EXPECT_EQ(Extracted({"readme~1.*"}), (TNames{"Read Me First.txt"}));
    EXPECT_EQ(Extracted({"DOCS"}), (TNames{"docs/deep/notes.txt", "docs/manual.doc"}));
    EXPECT_EQ(Extracted({"[cm]*.?"}), (TNames{"src/main.c"}));
    EXPECT_EQ(Extracted({"docs/*"}), (TNames{"docs/deep/notes.txt", "docs/manual.doc"}));
    EXPECT_EQ(Extracted({"/docs/*.doc"}), (TNames{"docs/manual.doc"}));
    // A pattern that matches nothing is named, and the run fails.
    const TRun None = RunTool(Dir, {"extract", Raw, "-o", Dir / "none", "*.SYS", "*.EXE"});
    EXPECT_EQ(None.Code, 1);
    EXPECT_EQ(None.Err, "marrowtide-img: " + Raw + ": no file matches *.EXE\n");

    TFatEntry NoExtension;
    NoExtension.Name = NoExtension.ShortName = "README";
    EXPECT_TRUE(MatchesPattern("*.*", NoExtension));
    EXPECT_TRUE(MatchesPattern("read*.*", NoExtension));
    EXPECT_FALSE(MatchesPattern("*.txt", NoExtension));
}

// Names that would leave the output folder, and a file longer than its clusters: each is
// named, the others are still written, and the run fails.
TEST_F(CliFiles, HostileNamesStayInsideAndDamagedFilesAreNamed)
{
    Patch(Raw, Utf16("evil-"), Utf16("evil/"));
    Patch(Raw, Utf16("dotd"), Utf16("..") + std::string(2, '\0'));
    std::string Bytes = ReadText(Raw);
    const size_t Config = Bytes.find("CONFIG  SYS");
    Bytes[Config + 31] = 0x10;  // 256MB more than its one cluster
    WriteText(Raw, Bytes);

    const std::string Out = Dir / "out";
    const TRun Run = RunTool(Dir, {"extract", Raw, "-o", Out});
    EXPECT_EQ(Run.Code, 1);
    EXPECT_TRUE(Contains(Run.Err, "marrowtide-img: " + Raw + ": evil_name.txt: has the name "
                                  "\"evil/name.txt\" with a path separator, shown as evil_name.txt\n"))
        << Run.Err;
    EXPECT_TRUE(Contains(Run.Err, ": _..: has the name \"..\", shown as _..\n")) << Run.Err;
    EXPECT_TRUE(Contains(Run.Err, ": CONFIG.SYS: not extracted: is 268435465 bytes long, but its "
                                  "clusters hold only 512\n")) << Run.Err;
    EXPECT_EQ(ReadText(Out + "/evil_name.txt"), "evil\n");
    EXPECT_EQ(ReadText(Out + "/_.."), "dots\n");
    EXPECT_FALSE(fs::exists(Out + "/CONFIG.SYS"));
    EXPECT_EQ(ReadText(Out + "/docs/manual.doc"), std::string(5000, 'm'));
    EXPECT_EQ(Run.Out, Raw + ": 6 files extracted into " + Out + "\n");
    // ls names the same problems and lists everything.
    const TRun Ls = RunTool(Dir, {"ls", Raw});
    EXPECT_EQ(Ls.Code, 1);
    EXPECT_TRUE(Contains(Ls.Err, ": CONFIG.SYS: is 268435465 bytes long")) << Ls.Err;
    EXPECT_TRUE(Contains(Ls.Out, "evil_name.txt")) << Ls.Out;
}

// The mount runs until fusermount3 -u, or until Ctrl-C; files, sizes and times are the image's.
TEST_F(CliFiles, MountShowsTheFilesReadOnlyUntilUnmounted)
{
    const int Fuse = ::open("/dev/fuse", O_RDWR);
    if (Fuse < 0 || std::system("command -v fusermount3 >/dev/null") != 0)
        GTEST_SKIP() << "FUSE cannot be used here (/dev/fuse or fusermount3 missing)";
    ::close(Fuse);
    const std::string Mount = Dir / "mnt";
    fs::create_directory(Mount);
    for (const bool Interrupt : {false, true}) {
        SCOPED_TRACE(Interrupt ? "Ctrl-C" : "fusermount3 -u");
        const pid_t Child = ::fork();
        if (Child == 0) {
            const int Null = ::open("/dev/null", O_WRONLY);
            ::dup2(Null, 1);
            ::execl(MARROWTIDE_IMG_PATH, "marrowtide-img", "mount", Lzh.c_str(), Mount.c_str(),
                    nullptr);
            ::_exit(127);
        }
        bool Mounted = false;
        for (int Try = 0; Try < 100 && !Mounted; ++Try) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            Mounted = fs::exists(Mount + "/CONFIG.SYS");
        }
        if (Mounted) {
            EXPECT_EQ(ReadText(Mount + "/docs/manual.doc"), std::string(5000, 'm'));
            EXPECT_EQ(fs::file_size(Mount + "/Read Me First.txt"), 24u);
            EXPECT_EQ(Seconds(Mount + "/CONFIG.SYS"), Seconds(Dir / "src/CONFIG.SYS"));
            EXPECT_LT(::open((Mount + "/CONFIG.SYS").c_str(), O_WRONLY), 0);
            EXPECT_EQ(errno, EROFS);
        }
        if (Interrupt)
            ::kill(Child, SIGINT);
        else
            EXPECT_EQ(std::system(("fusermount3 -u " + Quote(Mount)).c_str()), 0);
        int Status = -1;
        pid_t Ended = 0;
        for (int Try = 0; Try < 100 && (Ended = ::waitpid(Child, &Status, WNOHANG)) == 0; ++Try)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (Ended == 0) {
            ::kill(Child, SIGKILL);
            ::waitpid(Child, &Status, 0);
            Shell("fusermount3 -u " + Quote(Mount));
        }
        ASSERT_TRUE(Mounted) << "the image was not mounted";
        EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << Status;
        EXPECT_FALSE(fs::exists(Mount + "/CONFIG.SYS"));
    }
}

TEST(CliFilesOptions, WordsOfTheFileCommands)
{
    const TOptions Extract = ParseArgs({"extract", "-f", "d.144", "-o", "out", "*.TXT", "a/b"});
    EXPECT_EQ(Extract.Command, TCommandKind::Extract);
    EXPECT_EQ(Extract.Inputs, std::vector<std::string>{"d.144"});
    EXPECT_EQ(Extract.Patterns, (std::vector<std::string>{"*.TXT", "a/b"}));
    EXPECT_TRUE(Extract.Force && Extract.HasOutputDir && Extract.OutputDir == "out");
    EXPECT_TRUE(ParseArgs({"ls", "--deleted", "a", "b"}).Deleted);
    EXPECT_EQ(ParseArgs({"mount", "a.144", "mnt"}).Output, "mnt");
    EXPECT_THROW(ParseArgs({"mount", "a.144"}), EUsage);
    EXPECT_THROW(ParseArgs({"ls"}), EUsage);
    EXPECT_THROW(ParseArgs({"extract", "--deleted", "a"}), EUsage);
}

}  // namespace
