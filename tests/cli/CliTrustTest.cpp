// marrowtide-img never reports a wrong image as done, never replaces what it was not asked to,
// and says which file a failure is about.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "CliTestSupport.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

TEST(CliTrust, APipeIsPackedWithItsRealSize)
{
    TTempDir Dir;
    const std::vector<uint8_t> Dump = MakeDump(737280, 6);
    ASSERT_EQ(::mkfifo((Dir / "pipe").c_str(), 0600), 0);
    std::thread Writer([&] { WriteBytes(Dir / "pipe", Dump); });
    TRun Pack = RunTool(Dir, {"pack", Dir / "pipe", Dir / "x.720"});
    Writer.join();
    ASSERT_EQ(Pack.Code, 0) << Pack.Err;
    EXPECT_TRUE(Contains(RunTool(Dir, {"info", Dir / "x.720"}).Out, "original size: 737280 bytes"));
    ASSERT_EQ(RunTool(Dir, {"unpack", Dir / "x.720", Dir / "back.img"}).Code, 0);
    EXPECT_EQ(ReadBytes(Dir / "back.img"), Dump);
}

TEST(CliTrust, AnExistingOutputIsReplacedOnlyWithForce)
{
    TTempDir Dir;
    WriteBytes(Dir / "a.img", MakeDump(737280, 1));
    WriteBytes(Dir / "b.img", MakeDump(737280, 2));
    WriteBytes(Dir / "a.720", {'o', 'l', 'd'});
    ::chmod((Dir / "a.720").c_str(), 0444);

    TRun Refused = RunTool(Dir, {"pack", Dir / "a.img", Dir / "a.720"});
    EXPECT_EQ(Refused.Code, 1);
    EXPECT_EQ(Refused.Err, "marrowtide-img: " + Dir / "a.720" + ": already exists; use -f to overwrite\n");
    EXPECT_EQ(ReadBytes(Dir / "a.720"), (std::vector<uint8_t>{'o', 'l', 'd'}));

    // In a batch the other file goes on.
    fs::create_directory(Dir / "out");
    fs::copy_file(Dir / "a.720", Dir / "out/a.720");
    TRun Batch = RunTool(Dir, {"pack", "-o", Dir / "out", Dir / "a.img", Dir / "b.img"});
    EXPECT_EQ(Batch.Code, 1);
    EXPECT_TRUE(Contains(Batch.Err, Dir / "out/a.720" + ": already exists")) << Batch.Err;
    EXPECT_EQ(ReadBytes(Dir / "out/a.720"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_TRUE(fs::exists(Dir / "out/b.720"));

    // A link to nowhere is an output that exists too: neither it nor where it leads is written.
    fs::create_symlink(Dir / "nowhere.720", Dir / "link.720");
    TRun Dangling = RunTool(Dir, {"pack", Dir / "a.img", Dir / "link.720"});
    EXPECT_EQ(Dangling.Code, 1);
    EXPECT_TRUE(Contains(Dangling.Err, "already exists")) << Dangling.Err;
    EXPECT_TRUE(fs::is_symlink(Dir / "link.720"));
    EXPECT_FALSE(fs::exists(Dir / "nowhere.720"));

    ASSERT_EQ(RunTool(Dir, {"pack", "--force", Dir / "a.img", Dir / "a.720"}).Code, 0);
    ASSERT_EQ(RunTool(Dir, {"unpack", Dir / "a.720", Dir / "a.img"}).Code, 1);
    ASSERT_EQ(RunTool(Dir, {"unpack", "-f", Dir / "a.720", Dir / "b.img"}).Code, 0);
    EXPECT_EQ(ReadBytes(Dir / "b.img"), ReadBytes(Dir / "a.img"));
}

TEST(CliTrust, DirectoriesAndDevicesAreRefused)
{
    TTempDir Dir;
    WriteBytes(Dir / "d.img", MakeDump(368640, 3));
    ASSERT_EQ(RunTool(Dir, {"pack", Dir / "d.img", Dir / "d.360"}).Code, 0);
    const std::string Folder = Dir.Path();
    const auto Start = std::chrono::steady_clock::now();
    for (const std::vector<std::string>& Args :
         {std::vector<std::string>{"advise", Folder}, {"info", Folder}, {"pack", Folder, Dir / "x"},
          {"pack", "/dev/zero", Dir / "x"}, {"unpack", Dir / "d.360", "/dev/null"},
          {"unpack", Dir / "d.360", Folder}, {"drive", "A", Folder}, {"format", "1.44MB", Folder}}) {
        TRun Run = RunTool(Dir, Args);
        EXPECT_EQ(Run.Code, 1) << Args[0] << " " << Args.back();
        EXPECT_TRUE(Contains(Run.Err, Folder + ": is a directory") ||
                    Contains(Run.Err, ": is neither a regular file nor a pipe"))
            << Run.Err;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(20));
}

TEST(CliTrust, EveryFailureNamesItsFile)
{
    TTempDir Dir;
    WriteBytes(Dir / "d.img", MakeDump(368640, 4));
    ASSERT_EQ(RunTool(Dir, {"pack", Dir / "d.img", Dir / "lzh.360"}).Code, 0);
    ASSERT_EQ(RunTool(Dir, {"pack", "--mode", "fast", Dir / "d.img", Dir / "kh.360"}).Code, 0);
    // Wrong sizes in both codecs' headers, and one beyond what the field can hold.
    for (const std::string Name : {"lzh.360", "kh.360"}) {
        std::vector<uint8_t> Image = ReadBytes(Dir / Name);
        Image[4] ^= 1;
        WriteBytes(Dir / ("bad-" + Name), Image);
    }
    WriteBytes(Dir / "huge.mwi", {0x21, 0x48, 0x5A, 0x4C, 0xFF, 0xFF, 0xFF, 0xFF, 0});

    TRun Batch = RunTool(Dir, {"unpack", "-o", Dir / "out", Dir / "bad-lzh.360", Dir / "bad-kh.360",
                               Dir / "huge.mwi"});
    EXPECT_EQ(Batch.Code, 1);
    for (const std::string Name : {"bad-lzh.360", "bad-kh.360", "huge.mwi"})
        EXPECT_TRUE(Contains(Batch.Err, "marrowtide-img: " + Dir / Name + ": ")) << Batch.Err;

    TRun Info = RunTool(Dir, {"info", Dir / "huge.mwi"});
    EXPECT_EQ(Info.Code, 1);
    EXPECT_FALSE(Contains(Info.Out + Info.Err, "-1 bytes")) << Info.Out << Info.Err;
}

}  // namespace
