// export: the archive it writes is checked by Debian's LHA archiver, lha.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "CliTestSupport.h"
#include "cli/LhaExport.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

TEST(CliExport, Crc16IsTheArchiversOne)
{
    const char* Check = "123456789";
    EXPECT_EQ(LhaCrc16(reinterpret_cast<const uint8_t*>(Check), std::strlen(Check)), 0xBB3D);
}

int Shell(const std::string& Command)
{
    const int Status = std::system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

// A file's time as the archive keeps it, to the second.
int64_t Seconds(const fs::path& Path)
{
    using namespace std::chrono;
    return floor<seconds>(fs::last_write_time(Path).time_since_epoch()).count();
}

TEST(CliExport, LhaExtractsTheDumpOfImagesOfBothCodecs)
{
    if (std::string(LHA).empty())
        GTEST_SKIP() << "lha (Debian package lhasa) is not installed";
    TTempDir Dir;
    const std::vector<uint8_t> Dump = MakeDump(737280, 7);
    WriteBytes(Dir / "dump.raw", Dump);
    for (const std::string Mode : {"good", "fast"}) {
        SCOPED_TRACE(Mode);
        const std::string Image = Dir / (Mode + ".720");
        const std::string Archive = Dir / (Mode + ".lzh");
        ASSERT_EQ(RunTool(Dir, {"pack", "-q", "--mode", Mode, Dir / "dump.raw", Image}).Code, 0);
        TRun Export = RunTool(Dir, {"export", Image, Archive});
        ASSERT_EQ(Export.Code, 0) << Export.Err;
        EXPECT_NE(Export.Out.find(Mode + ".img, 737280 -> "), std::string::npos) << Export.Out;
        // An existing archive is replaced only with -f.
        EXPECT_EQ(RunTool(Dir, {"export", Image, Archive}).Code, 1);
        ASSERT_EQ(RunTool(Dir, {"export", "-f", Image, Archive}).Code, 0);

        EXPECT_EQ(Shell(Quote(LHA) + " tq " + Quote(Archive)), 0);
        const fs::path Out = Dir / ("x-" + Mode);
        fs::create_directory(Out);
        ASSERT_EQ(Shell("cd " + Quote(Out) + " && " + Quote(LHA) + " xq " + Quote(Archive)), 0);
        EXPECT_EQ(ReadBytes(Out / (Mode + ".img")), Dump);
        EXPECT_EQ(Seconds(Out / (Mode + ".img")), Seconds(Image));
    }
}

// A raw dump goes into the archive packed; a file that is no dump is refused, no archive made.
TEST(CliExport, RawDumpsArePackedAndOtherFilesRefused)
{
    if (std::string(LHA).empty())
        GTEST_SKIP() << "lha (Debian package lhasa) is not installed";
    TTempDir Dir;
    const std::vector<uint8_t> Dump = MakeDump(368640, 4);
    WriteBytes(Dir / "raw.img", Dump);
    ASSERT_EQ(RunTool(Dir, {"export", Dir / "raw.img", Dir / "raw.lzh"}).Code, 0);
    const fs::path Out = Dir / "x";
    fs::create_directory(Out);
    ASSERT_EQ(Shell("cd " + Quote(Out) + " && " + Quote(LHA) + " xq " + Quote(Dir / "raw.lzh")), 0);
    EXPECT_EQ(ReadBytes(Out / "raw.img"), Dump);

    WriteBytes(Dir / "odd.bin", std::vector<uint8_t>(1000, 7));
    const TRun Odd = RunTool(Dir, {"export", Dir / "odd.bin", Dir / "odd.lzh"});
    EXPECT_EQ(Odd.Code, 1);
    EXPECT_TRUE(Contains(Odd.Err, "odd.bin: neither a Marrowtide image")) << Odd.Err;
    EXPECT_FALSE(fs::exists(Dir / "odd.lzh"));
}

}  // namespace
