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
        std::thread writer([&] { WriteBytes(fifo, data); });
        Tlzrw1 c;
        c.InputFile = fifo;
        c.OutputFile = image;
        c.CompressMode = mode;
        EXPECT_NO_THROW(c.Compress());
        writer.join();
        const Bytes packed = ReadBytes(image);
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

TEST(HeaderSize, TheHeaderReaderNamesTheCodecAndTheSizeAsStored)
{
    const int32_t damaged = -2147483647;  // a field of 0x80000001
    const Bytes kh = Header(Lzrw1KhTag, damaged), lzh = Header(LzhTag, 737280);
    EXPECT_EQ(ReadImageHeader(kh.data(), 8, "x").Codec, TImageCodec::Lzrw1Kh);
    EXPECT_EQ(ReadImageHeader(kh.data(), 8, "x").OriginalSize, damaged);
    EXPECT_EQ(ReadImageHeader(lzh.data(), 8, "x").Codec, TImageCodec::Lzh);
    EXPECT_EQ(ReadImageHeader(lzh.data(), 8, "x").OriginalSize, 737280);
    EXPECT_EQ(ReadImageHeader(lzh.data(), 7, "x").OriginalSize, std::nullopt);
    for (size_t cut : {size_t(0), size_t(3), size_t(8)}) {
        const Bytes bad = cut == 8 ? Bytes{'M', 'Z', 0, 0, 0, 0, 0, 0} : lzh;
        EXPECT_EQ(Thrown<ELzrw1Exception>([&] { ReadImageHeader(bad.data(), cut, "a.144"); }),
                  "a.144 : Lzrw1 decompression : this file has no valid header !");
        EXPECT_EQ(Thrown<ELzrw1Exception>([&] { ReadImageHeader(bad.data(), cut, ""); }),
                  "Lzrw1 decompression : input stream contains no valid header !");
    }
}

}  // namespace
