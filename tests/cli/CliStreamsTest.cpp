// The console habits: "-" and -c in pipes, many files to info, one command's help.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliTestSupport.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

int Shell(const std::string& Command) { return std::system(Command.c_str()); }

TEST(CliStreams, DashAndStdoutCarryTheDataThroughPipes)
{
    TTempDir Dir;
    const std::vector<uint8_t> Dump = MakeDump(737280, 9);
    WriteBytes(Dir / "d.img", Dump);
    const std::string Tool = Quote(MARROWTIDE_IMG_PATH);
    ASSERT_EQ(Shell("cat " + Quote(Dir / "d.img") + " | " + Tool + " pack - - 2>/dev/null | " +
                    Tool + " unpack -q - - >" + Quote(Dir / "back.img")),
              0);
    EXPECT_EQ(ReadBytes(Dir / "back.img"), Dump);

    // -c appends where the shell says, as the usual packers do.
    WriteBytes(Dir / "two.144", {});
    ASSERT_EQ(Shell(Tool + " pack -c " + Quote(Dir / "d.img") + " >>" + Quote(Dir / "two.144") +
                    " 2>/dev/null"),
              0);
    TRun Info = RunTool(Dir, {"info", Dir / "two.144"});
    EXPECT_TRUE(Contains(Info.Out, "diskette format: 720KB")) << Info.Out << Info.Err;
    EXPECT_EQ(RunTool(Dir, {"pack", "-c", "-o", Dir.Path(), Dir / "d.img"}).Code, 2);
}

// Every command reads "-" as standard input and writes "-" as standard output, or refuses it.
TEST(CliStreams, EveryCommandTakesDashOrRefusesIt)
{
    TTempDir Dir;
    const std::string Tool = Quote(MARROWTIDE_IMG_PATH);
    const std::string Blank = Dir / "blank.img";
    ASSERT_EQ(Shell(Tool + " format 720KB - 2>/dev/null >" + Quote(Blank)), 0);
    ASSERT_EQ(RunTool(Dir, {"info", Blank}).Out,
              "raw dump of a 720KB diskette (not an image; `marrowtide-img pack` makes one)\n");
    ASSERT_EQ(RunTool(Dir, {"pack", "-q", Blank, Dir / "b.720"}).Code, 0);
    // A pipe is not peeked into before the image is read from it.
    const std::string Info = Dir / "info.txt";
    EXPECT_EQ(Shell("cat " + Quote(Dir / "b.720") + " | " + Tool + " info - >" + Quote(Info)), 0);
    EXPECT_TRUE(Contains(ReadText(Info), "diskette format: 720KB")) << ReadText(Info);
    EXPECT_EQ(Shell("cat " + Quote(Dir / "b.720") + " | " + Tool + " ls - >" + Quote(Info)), 0);
    EXPECT_TRUE(Contains(ReadText(Info), "/dev/stdin: LZH image, 720KB, FAT12")) << ReadText(Info);
    EXPECT_EQ(Shell(Tool + " catalog -q -o - " + Quote(Dir / "b.720") + " >" + Quote(Info)), 0);
    EXPECT_TRUE(Contains(ReadText(Info), "<rom name=\"b.img\" size=\"737280\"")) << ReadText(Info);

    for (const std::vector<std::string>& Refused :
         {std::vector<std::string>{"info", "-", "-"}, {"pack", "-o", "-", Blank},
          {"extract", Dir / "b.720", "-o", "-"}, {"mount", Dir / "b.720", "-"}})
        EXPECT_EQ(RunTool(Dir, Refused).Code, 2) << Refused[0];
    EXPECT_FALSE(fs::exists("-"));
}

TEST(CliStreams, InfoShowsEveryFileAndFailsForTheBadOnes)
{
    TTempDir Dir;
    WriteBytes(Dir / "d.img", MakeDump(737280, 3));
    ASSERT_EQ(RunTool(Dir, {"pack", "-q", Dir / "d.img", Dir / "d.720"}).Code, 0);
    TRun Run = RunTool(Dir, {"info", Dir / "d.720", Dir / "missing.720", Dir / "d.720"});
    EXPECT_EQ(Run.Code, 1);
    const std::string Block = std::string(Dir / "d.720") + ":\ncodec: LZH\n";
    EXPECT_TRUE(Run.Out.starts_with(Block)) << Run.Out;
    EXPECT_TRUE(Contains(Run.Out, "720KB\n\n" + Block)) << Run.Out;
    EXPECT_TRUE(Contains(Run.Err, "missing.720")) << Run.Err;
}

TEST(CliStreams, ACommandsHelpShowsItsOwnUsageAndOptions)
{
    TTempDir Dir;
    TRun Read = RunTool(Dir, {"read", "--help"});
    EXPECT_EQ(Read.Code, 0);
    EXPECT_TRUE(Contains(Read.Out, "  read [OPTIONS] DRIVE --each PATTERN")) << Read.Out;
    EXPECT_TRUE(Contains(Read.Out, "  --each PATTERN")) << Read.Out;
    EXPECT_FALSE(Contains(Read.Out, "  pack ")) << Read.Out;
    EXPECT_FALSE(Contains(Read.Out, "--hash")) << Read.Out;
    TRun Info = RunTool(Dir, {"info", "--help"});
    EXPECT_TRUE(Contains(Info.Out, "  --hash")) << Info.Out;
    EXPECT_FALSE(Contains(Info.Out, "--each")) << Info.Out;
    EXPECT_TRUE(Contains(RunTool(Dir, {"pack", "--help"}).Out, "-c, --stdout"));
}

}  // namespace
