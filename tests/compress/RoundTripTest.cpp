// Round trips at and around the 32 KB block and buffer boundaries, both codecs, file and
// stream mode, on data of every character.
#include <gtest/gtest.h>

#include <tuple>

#include "TestHosts.h"

namespace {

enum class TKind { Zeros, Text, Random, Mixed };

Bytes Make(TKind kind, size_t size)
{
    switch (kind) {
    case TKind::Zeros: return Bytes(size, 0);
    case TKind::Text: return TextBytes(size, uint32_t(size) + 1);
    case TKind::Random: return RandomBytes(size, uint32_t(size) + 1);
    case TKind::Mixed: return MixedBytes(size);
    }
    return {};
}

const char* Name(TKind kind)
{
    switch (kind) {
    case TKind::Zeros: return "Zeros";
    case TKind::Text: return "Text";
    case TKind::Random: return "Random";
    case TKind::Mixed: return "Mixed";
    }
    return "?";
}

using TParam = std::tuple<size_t, TCompressMode, TKind>;

class TRoundTrip : public ::testing::TestWithParam<TParam> {};

} // namespace

TEST_P(TRoundTrip, FileAndStreamModeAgree)
{
    auto [size, mode, kind] = GetParam();
    Bytes data = Make(kind, size);

    // Stream mode.
    int32_t written = 0;
    Bytes image = CompressInMemory(data, mode, nullptr, &written);
    EXPECT_EQ(size_t(written), image.size());
    ASSERT_GE(image.size(), 9u);
    EXPECT_EQ(Le32(image, 0), mode == TCompressMode::Fast ? Lzrw1KhTag : LzhTag);
    EXPECT_EQ(Le32(image, 4), uint32_t(size));
    if (mode == TCompressMode::Fast)
        EXPECT_LE(image.size(), 8 + size + 3 * (size / 32768 + 1)) << "a block grew by more than a byte";
    else
        EXPECT_TRUE(Bytes(image.begin() + 8, image.end()) == LZHEncode(data));
    int32_t produced = -1;
    Bytes back = DecompressInMemory(image, nullptr, &produced);
    EXPECT_EQ(size_t(produced), size);
    EXPECT_TRUE(back == data) << "stream round trip";

    // File mode writes the same image and reads it back the same.
    TTempDir dir;
    const std::string in = dir.Path("dump.bin"), packed = dir.Path("image.144"), out = dir.Path("back.bin");
    WriteBytes(in, data);
    Tlzrw1 c;
    c.InputFile = in;
    c.OutputFile = packed;
    c.CompressMode = mode;
    EXPECT_EQ(c.Compress(), written);
    EXPECT_TRUE(ReadBytes(packed) == image) << "file and stream images differ";
    c.InputFile = packed;
    c.OutputFile = out;
    EXPECT_EQ(c.Decompress(), int32_t(size));
    EXPECT_TRUE(ReadBytes(out) == data) << "file round trip";
}

INSTANTIATE_TEST_SUITE_P(
    Container, TRoundTrip,
    ::testing::Combine(::testing::Values(0, 1, 32767, 32768, 32769, 65536, 98303, 98304),
                       ::testing::Values(TCompressMode::Good, TCompressMode::Fast),
                       ::testing::Values(TKind::Zeros, TKind::Text, TKind::Random, TKind::Mixed)),
    [](const ::testing::TestParamInfo<TParam>& info) {
        return std::string(std::get<1>(info.param) == TCompressMode::Fast ? "Fast" : "Good") +
               Name(std::get<2>(info.param)) + std::to_string(std::get<0>(info.param));
    });

TEST(RoundTrip, ThroughFileStreams)
{
    TTempDir dir;
    const std::string in = dir.Path("dump.bin"), packed = dir.Path("image.144"), out = dir.Path("back.bin");
    Bytes data = MixedBytes(100000);
    WriteBytes(in, data);
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast}) {
        int fin = open(in.c_str(), O_RDONLY);
        int fpacked = open(packed.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fin, 0);
        ASSERT_GE(fpacked, 0);
        TFileStream sin(fin), spacked(fpacked);
        Tlzrw1 c;
        c.UseStream = true;
        c.CompressMode = mode;
        c.InputStream = &sin;
        c.OutputStream = &spacked;
        int32_t written = c.Compress();
        EXPECT_TRUE(ReadBytes(packed) == CompressInMemory(data, mode));
        EXPECT_EQ(int64_t(ReadBytes(packed).size()), written);

        int fout = open(out.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fout, 0);
        TFileStream sout(fout);
        ASSERT_EQ(spacked.Seek(0, TSeekOrigin::Beginning), 0);
        c.InputStream = &spacked;
        c.OutputStream = &sout;
        EXPECT_EQ(c.Decompress(), 100000);
        close(fin);
        close(fpacked);
        close(fout);
        EXPECT_TRUE(ReadBytes(out) == data);
    }
}

TEST(RoundTrip, LargerInputs)
{
    // Several buffers' worth: the LZH sink and source cross many 32 KB boundaries.
    for (size_t size : {300000u, 1474560u}) {
        Bytes data = MixedBytes(size);
        for (auto mode : {TCompressMode::Good, TCompressMode::Fast}) {
            SCOPED_TRACE(size);
            Bytes image = CompressInMemory(data, mode);
            EXPECT_TRUE(DecompressInMemory(image) == data);
        }
    }
}
