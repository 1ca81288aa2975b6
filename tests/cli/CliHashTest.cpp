// info --hash against the usual command-line checksum tools and zlib.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliTestSupport.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

TEST(CliHash, InfoHashMatchesTheUsualTools)
{
    TTempDir Dir;
    const std::vector<uint8_t> Dump = MakeDump(737280, 9);
    const std::string Raw = Dir / "disk.img";
    WriteBytes(Raw, Dump);
    const std::string Sums = "CRC32: " + Crc32Of(Dump) + "\nMD5: " + DigestBy("md5sum", Dir, Raw) +
                             "\nSHA-1: " + DigestBy("sha1sum", Dir, Raw) +
                             "\nSHA-256: " + DigestBy("sha256sum", Dir, Raw) + "\n";

    for (const std::string Mode : {"good", "fast"}) {
        SCOPED_TRACE(Mode);
        const std::string Image = Dir / ("disk-" + Mode + ".720");
        ASSERT_EQ(RunTool(Dir, {"pack", "-q", "--mode", Mode, Raw, Image}).Code, 0);
        const TRun Plain = RunTool(Dir, {"info", Image});
        const TRun Hashed = RunTool(Dir, {"info", "--hash", Image});
        ASSERT_EQ(Hashed.Code, 0) << Hashed.Err;
        EXPECT_EQ(Hashed.Out, Plain.Out + Sums);
        EXPECT_EQ(Hashed.Err, "");

        // A cut image fails with the engine's text and prints nothing.
        fs::resize_file(Image, fs::file_size(Image) / 2);
        const TRun Cut = RunTool(Dir, {"info", "--hash", Image});
        EXPECT_EQ(Cut.Code, 1);
        EXPECT_EQ(Cut.Out, "");
        EXPECT_TRUE(Cut.Err.starts_with("marrowtide-img: " + Image + ": Lzrw1")) << Cut.Err;
    }
    EXPECT_TRUE(RunTool(Dir, {"pack", "--hash", Raw, Dir / "x.720"})
                    .Err.starts_with("marrowtide-img: pack takes no option --hash\n"));
}

}  // namespace
