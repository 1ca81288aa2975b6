// The size in an image's header is the truth about the data: an input without a size of its own
// (a pipe) is measured by reading it, and a decoder never writes past the size announced.
#include <gtest/gtest.h>

#include <thread>

#include "TestHosts.h"

namespace {

TEST(HeaderSize, APipeIsReadWholeAndItsRealSizeRecorded)
{
    const Bytes data = MixedBytes(200000);
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast, TCompressMode::Auto}) {
        TTempDir dir;
        const std::string fifo = dir.Path("pipe"), image = dir.Path("image.mwi");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::thread writer([&] { WriteFile(fifo, data); });
        Tlzrw1 c;
        c.InputFile = fifo;
        c.OutputFile = image;
        c.CompressMode = mode;
        EXPECT_NO_THROW(c.Compress());
        writer.join();
        const Bytes packed = ReadFile(image);
        ASSERT_GE(packed.size(), 8u);
        EXPECT_EQ(Le32(packed, 4), data.size());
        EXPECT_EQ(DecompressInMemory(packed), data);
    }
}

TEST(HeaderSize, TheBlockDecoderStopsAtTheAnnouncedSize)
{
    Bytes image = CompressInMemory(MixedBytes(80000), TCompressMode::Fast);
    const Bytes header = Header(Lzrw1KhTag, 100);
    std::copy(header.begin(), header.end(), image.begin());
    Tlzrw1 c;
    c.UseStream = true;
    TMemoryStream in(image), out;
    c.InputStream = &in;
    c.OutputStream = &out;
    EXPECT_EQ(Thrown<ELzrw1Exception>([&] { c.Decompress(); }),
              "Lzrw1 (decompression LZRW1/KH) : Original and compressed sizes do not match !");
    EXPECT_LE(out.Bytes.size(), 100u);
}

}  // namespace
