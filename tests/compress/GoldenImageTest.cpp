// Stored images depend on every bit the encoders write. These digests were taken from encoders
// checked against a plain, unoptimised rendering of both algorithms; a faster encoder must keep them.
#include <gtest/gtest.h>

#include "compress/LZRW1.h"
#include "compress/lzh.h"
#include "tests/support/SampleDisk.h"

namespace {

uint64_t Fnv1a(const std::vector<uint8_t>& Bytes)
{
    uint64_t Hash = 1469598103934665603ull;
    for (const uint8_t B : Bytes) {
        Hash ^= B;
        Hash *= 1099511628211ull;
    }
    return Hash;
}

struct TGolden {
    size_t Size;
    TSampleKind Kind;
    uint32_t Seed;
    TCompressMode Mode;
    size_t ImageSize;
    uint64_t Digest;
};

const TGolden Goldens[] = {
    {1474560, TSampleKind::Filled, 1, TCompressMode::Good, 586747, 0x53ae09361bdb017cull},
    {1474560, TSampleKind::Filled, 1, TCompressMode::Fast, 685747, 0xd240c02c279aeca7ull},
    {2949120, TSampleKind::Filled, 2, TCompressMode::Good, 1171817, 0xfefe66b4373a663full},
    {2949120, TSampleKind::Filled, 2, TCompressMode::Fast, 1345824, 0x6c631936e25b5381ull},
    {737280, TSampleKind::Random, 3, TCompressMode::Good, 737846, 0x32c21a002c481d59ull},
    {737280, TSampleKind::Random, 3, TCompressMode::Fast, 737357, 0xcb40b460c011b8acull},
    {377856, TSampleKind::Filled, 4, TCompressMode::Good, 147477, 0x963f838a81e1a3f1ull},
    {377856, TSampleKind::Filled, 4, TCompressMode::Fast, 167667, 0x7494260cc58bb302ull},
};

} // namespace

TEST(GoldenImage, DiskettesEncodeToTheirKnownImagesAndBack)
{
    for (const TGolden& G : Goldens) {
        SCOPED_TRACE("size " + std::to_string(G.Size) + " mode " + std::to_string(int(G.Mode)));
        const std::vector<uint8_t> Dump = MakeSampleDisk(G.Size, G.Kind, G.Seed);
        TMemoryStream In(Dump), Image;
        Tlzrw1 Compressor;
        Compressor.UseStream = true;
        Compressor.InputStream = &In;
        Compressor.OutputStream = &Image;
        Compressor.CompressMode = G.Mode;
        Compressor.Compress();
        EXPECT_EQ(Image.Bytes.size(), G.ImageSize);
        EXPECT_EQ(Fnv1a(Image.Bytes), G.Digest);
        if (G.Mode == TCompressMode::Good) {
            // The payload after the 8-byte header, from the search on one thread and on two.
            const std::vector<uint8_t> Payload(Image.Bytes.begin() + 8, Image.Bytes.end());
            for (const bool Split : {false, true}) {
                TLZH Lzh;
                Lzh.SearchThread = Split;
                Lzh.SplitFrom = 0;
                TMemoryByteSource Source(Dump.data(), Dump.size());
                TVectorByteSink Sink;
                int32_t Count = 0;
                Lzh.Encode(Count, Source, Sink);
                EXPECT_TRUE(Sink.Bytes() == Payload) << (Split ? "two threads" : "one thread");
            }
        }

        TMemoryStream Back;
        Image.Pos = 0;
        Compressor.InputStream = &Image;
        Compressor.OutputStream = &Back;
        Compressor.Decompress();
        EXPECT_TRUE(Back.Bytes == Dump);
    }
}
