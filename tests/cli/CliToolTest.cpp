// marrowtide-img end to end: the real program on files in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliTestSupport.h"
#include "core/FormatTable.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

TEST(CliTool, HelpAndBadUsage)
{
    TTempDir Dir;
    TRun Help = RunTool(Dir, {"--help"});
    EXPECT_EQ(Help.Code, 0);
    EXPECT_TRUE(Contains(Help.Out, "Usage: marrowtide-img")) << Help.Out;
    EXPECT_EQ(Help.Err, "");

    TRun None = RunTool(Dir, {});
    EXPECT_EQ(None.Code, 2);
    EXPECT_EQ(None.Out, "");
    EXPECT_TRUE(Contains(None.Err, "Usage: marrowtide-img")) << None.Err;

    TRun Bad = RunTool(Dir, {"pack", "--mode", "slow", "a", "b"});
    EXPECT_EQ(Bad.Code, 2);
    EXPECT_TRUE(Contains(Bad.Err, "marrowtide-img: --mode takes good, fast or auto")) << Bad.Err;
    EXPECT_EQ(RunTool(Dir, {"shrink", "a"}).Code, 2);
    EXPECT_EQ(RunTool(Dir, {"unpack", "only-one"}).Code, 2);
}

TEST(CliTool, PackAndUnpackOneFileInBothModes)
{
    TTempDir Dir;
    const std::vector<uint8_t> Dump = MakeDump(1474560, 1);
    WriteBytes(Dir / "disk.img", Dump);
    for (const std::string Mode : {"good", "fast"}) {
        SCOPED_TRACE(Mode);
        TRun Pack = RunTool(Dir, {"pack", "--mode", Mode, Dir / "disk.img", Dir / "disk.144"});
        ASSERT_EQ(Pack.Code, 0) << Pack.Err;
        const int64_t Packed = int64_t(fs::file_size(Dir / "disk.144"));
        EXPECT_LT(Packed, 1474560);
        EXPECT_TRUE(Contains(Pack.Out, ": 1474560 -> " + std::to_string(Packed) + " bytes"))
            << Pack.Out;
        EXPECT_TRUE(Contains(Pack.Out, Mode == "good" ? "(LZH, 1.44MB)" : "(LZRW1/KH, 1.44MB)"))
            << Pack.Out;
        EXPECT_EQ(Pack.Err, "");  // no progress bar when stderr is not a terminal

        TRun Unpack = RunTool(Dir, {"unpack", "-q", Dir / "disk.144", Dir / "back.img"});
        ASSERT_EQ(Unpack.Code, 0) << Unpack.Err;
        EXPECT_EQ(Unpack.Out, "");
        EXPECT_EQ(ReadBytes(Dir / "back.img"), Dump);
        fs::remove(Dir / "back.img");
        fs::remove(Dir / "disk.144");
    }
}

TEST(CliTool, BatchPacksEveryFormatAndUnpacksItBitForBit)
{
    for (const std::string Mode : {"good", "fast"}) {
        SCOPED_TRACE(Mode);
        TTempDir Dir;
        fs::create_directory(Dir / "raw");
        std::vector<std::string> Pack = {"pack", "--mode", Mode, "-o", Dir / "packed"};
        std::vector<std::string> Unpack = {"unpack", "-o", Dir / "back"};
        for (uint8_t i = 0; i < KnownFormatCount; ++i) {
            const std::string Name = "d" + std::to_string(i);
            WriteBytes(Dir / ("raw/" + Name + ".img"), MakeDump(size_t(FormatTable[i].TotalBytes), i));
            Pack.push_back(Dir / ("raw/" + Name + ".img"));
            Unpack.push_back(Dir / ("packed/" + Name + std::string(FormatTable[i].Extension)));
        }
        WriteBytes(Dir / "raw/odd.bin", MakeDump(100000, 9));
        Pack.push_back(Dir / "raw/odd.bin");
        Unpack.push_back(Dir / "packed/odd.mwi");

        TRun Packed = RunTool(Dir, Pack);
        ASSERT_EQ(Packed.Code, 0) << Packed.Err;
        EXPECT_TRUE(Contains(Packed.Out, "total: ")) << Packed.Out;
        TRun Unpacked = RunTool(Dir, Unpack);
        ASSERT_EQ(Unpacked.Code, 0) << Unpacked.Err;

        for (const auto& Entry : fs::directory_iterator(Dir / "raw")) {
            const std::string Stem = Entry.path().stem().string();
            EXPECT_EQ(ReadBytes(Dir / ("back/" + Stem + ".img")), ReadBytes(Entry.path().string()))
                << Stem;
        }
    }
}

TEST(CliTool, InfoReadsTheHeader)
{
    TTempDir Dir;
    WriteBytes(Dir / "disk.img", MakeDump(737280, 3));
    ASSERT_EQ(RunTool(Dir, {"pack", "-q", "--mode", "fast", Dir / "disk.img", Dir / "disk.720"}).Code, 0);
    const int64_t Packed = int64_t(fs::file_size(Dir / "disk.720"));
    const int64_t Tenths = (Packed * 1000 + 737280 / 2) / 737280;

    TRun Info = RunTool(Dir, {"info", Dir / "disk.720"});
    ASSERT_EQ(Info.Code, 0) << Info.Err;
    EXPECT_EQ(Info.Out, "codec: LZRW1/KH\n"
                        "original size: 737280 bytes\n"
                        "compressed size: " + std::to_string(Packed) + " bytes\n"
                        "ratio: " + std::to_string(Tenths / 10) + "." + std::to_string(Tenths % 10) +
                        "%\n"
                        "diskette format: 720KB\n");

    // A hand-made LZH header for a size no diskette has.
    WriteBytes(Dir / "odd.mwi", {0x21, 0x48, 0x5A, 0x4C, 0xE8, 0x03, 0, 0, 1, 2});
    TRun Odd = RunTool(Dir, {"info", Dir / "odd.mwi"});
    ASSERT_EQ(Odd.Code, 0) << Odd.Err;
    EXPECT_EQ(Odd.Out, "codec: LZH\noriginal size: 1000 bytes\ncompressed size: 10 bytes\n"
                       "ratio: 1.0%\ndiskette format: not a diskette size\n");
}

TEST(CliTool, AdviseAndAutoModeFollowTheSamples)
{
    TTempDir Dir;
    WriteBytes(Dir / "zeros.img", std::vector<uint8_t>(1474560, 0));
    WriteBytes(Dir / "noise.img", MakeDump(1474560, 5));
    WriteBytes(Dir / "small.img", MakeDump(98303, 5));

    TRun Zeros = RunTool(Dir, {"advise", Dir / "zeros.img"});
    ASSERT_EQ(Zeros.Code, 0) << Zeros.Err;
    EXPECT_TRUE(Zeros.Out.starts_with("Lzrw1 recommends FAST compression : ")) << Zeros.Out;
    EXPECT_TRUE(Zeros.Out.ends_with("%.\n")) << Zeros.Out;
    // No ratio is below 0 %: the fast codec is never advised.
    TRun Never = RunTool(Dir, {"advise", "--threshold", "0", Dir / "zeros.img"});
    EXPECT_TRUE(Never.Out.starts_with("Lzrw1 recommends GOOD compression : ")) << Never.Out;
    EXPECT_EQ(RunTool(Dir, {"advise", Dir / "small.img"}).Out,
              "Lzrw1 recommends GOOD compression :  small file !!\n");

    ASSERT_EQ(RunTool(Dir, {"pack", "--mode", "auto", "-o", Dir / "out", Dir / "zeros.img",
                            Dir / "noise.img"}).Code, 0);
    EXPECT_TRUE(Contains(RunTool(Dir, {"info", Dir / "out/zeros.144"}).Out, "codec: LZRW1/KH"));
    // Noise compresses worse than the threshold asks, so the better codec is chosen.
    const std::string Noise = RunTool(Dir, {"advise", Dir / "noise.img"}).Out;
    EXPECT_TRUE(Contains(RunTool(Dir, {"info", Dir / "out/noise.144"}).Out,
                         Contains(Noise, "GOOD") ? "codec: LZH" : "codec: LZRW1/KH"));
}

TEST(CliTool, BadImageFailsSayingWhatItIsNot)
{
    TTempDir Dir;
    const std::string Bad = Dir / "bad.144";
    WriteBytes(Bad, std::vector<uint8_t>(1000, 'x'));
    // Without a codec's tag and of no diskette's size, it is neither an image nor a dump.
    const std::string Message = Bad +
                                ": neither a Marrowtide image (it has no codec's tag) nor a raw "
                                "dump of a diskette size (1000 bytes)";

    TRun Unpack = RunTool(Dir, {"unpack", Bad, Dir / "out.img"});
    EXPECT_EQ(Unpack.Code, 1);
    EXPECT_TRUE(Contains(Unpack.Err, Message)) << Unpack.Err;
    EXPECT_FALSE(fs::exists(Dir / "out.img"));

    TRun Info = RunTool(Dir, {"info", Bad});
    EXPECT_EQ(Info.Code, 1);
    EXPECT_EQ(Info.Err, "marrowtide-img: " + Message + "\n");
    // Through a pipe too, named as given.
    const std::string Piped = Dir / "piped.txt";
    EXPECT_NE(std::system(("cat " + Quote(Bad) + " | " + Quote(MARROWTIDE_IMG_PATH) +
                           " unpack - - 2>" + Quote(Piped) + " >" + Quote(Dir / "o")).c_str()), 0);
    EXPECT_EQ(ReadText(Piped), "marrowtide-img: /dev/stdin: neither a Marrowtide image (it has no "
                               "codec's tag) nor a raw dump of a diskette size (1000 bytes)\n");

    // In a batch the good image is still unpacked.
    WriteBytes(Dir / "good.img", MakeDump(377856, 2));
    ASSERT_EQ(RunTool(Dir, {"pack", Dir / "good.img", Dir / "good.360"}).Code, 0);
    TRun Batch = RunTool(Dir, {"unpack", "-o", Dir / "back", Bad, Dir / "good.360"});
    EXPECT_EQ(Batch.Code, 1);
    EXPECT_TRUE(Contains(Batch.Err, "marrowtide-img: " + Message)) << Batch.Err;
    EXPECT_EQ(ReadBytes(Dir / "back/good.img"), ReadBytes(Dir / "good.img"));
    EXPECT_FALSE(fs::exists(Dir / "back/bad.img"));
}

TEST(CliTool, MissingFileFails)
{
    TTempDir Dir;
    const std::string Missing = Dir / "missing.img";
    for (const std::vector<std::string>& Args :
         {std::vector<std::string>{"pack", Missing, Dir / "x.144"},
          std::vector<std::string>{"unpack", Missing, Dir / "x.img"},
          std::vector<std::string>{"advise", Missing}, std::vector<std::string>{"info", Missing}}) {
        TRun Run = RunTool(Dir, Args);
        EXPECT_EQ(Run.Code, 1) << Args[0];
        EXPECT_TRUE(Run.Err.starts_with("marrowtide-img: ")) << Run.Err;
        EXPECT_TRUE(Contains(Run.Err, Missing)) << Run.Err;
    }
    EXPECT_FALSE(fs::exists(Dir / "x.144"));
    EXPECT_FALSE(fs::exists(Dir / "x.img"));
}

TEST(CliTool, OutputMayNotOverwriteAnInput)
{
    TTempDir Dir;
    WriteBytes(Dir / "disk.img", MakeDump(737280, 4));
    const auto Before = ReadBytes(Dir / "disk.img");
    // disk.img would be unpacked onto itself.
    EXPECT_EQ(RunTool(Dir, {"unpack", "-o", Dir.Path(), Dir / "disk.img"}).Code, 2);
    EXPECT_EQ(RunTool(Dir, {"pack", Dir / "disk.img", Dir / "./disk.img"}).Code, 2);
    EXPECT_EQ(ReadBytes(Dir / "disk.img"), Before);
}

}  // namespace
