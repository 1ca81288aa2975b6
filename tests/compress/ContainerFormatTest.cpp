// The image file: header, block sequence, where reading stops, and how sizes are checked.
#include <gtest/gtest.h>

#include "LzhModel.h"
#include "TestHosts.h"

namespace {

Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Slice(const Bytes& b, size_t from, size_t n)
{
    return Bytes(b.begin() + long(from), b.begin() + long(std::min(b.size(), from + n)));
}

// The block lengths of an LZRW1/KH image, in order; checks that the blocks fill the image.
std::vector<uint16_t> BlockLengths(const Bytes& image)
{
    std::vector<uint16_t> lengths;
    size_t at = 8;
    while (at + 2 <= image.size()) {
        uint16_t l = Le16(image, at);
        lengths.push_back(l);
        at += 2 + l;
    }
    EXPECT_EQ(at, image.size()) << "blocks do not fill the image";
    return lengths;
}

const std::string BadHeader = "Lzrw1 decompression : input stream contains no valid header !";
const std::string KhSizes = "Lzrw1 (decompression LZRW1/KH) : Original and compressed sizes do not match !";
const std::string LzhSizes = "Lzrw1 (LZH decompression) : Original and compressed sizes do not match !";

} // namespace

TEST(ContainerFormat, EmptyInputWithLzrw1KhIsElevenBytes)
{
    int32_t written = 0;
    Bytes image = CompressInMemory({}, TCompressMode::Fast, nullptr, &written);
    EXPECT_EQ(image, (Bytes{0x57, 0x52, 0x5A, 0x4C, 0, 0, 0, 0, 0x01, 0x00, 0x80}));
    EXPECT_EQ(written, 11);
    int32_t produced = -1;
    EXPECT_TRUE(DecompressInMemory(image, nullptr, &produced).empty());
    EXPECT_EQ(produced, 0);
}

TEST(ContainerFormat, EmptyInputWithLzhDecodesToNothing)
{
    Bytes image = CompressInMemory({}, TCompressMode::Good);
    ASSERT_GE(image.size(), 9u);
    ASSERT_LE(image.size(), 10u);
    EXPECT_EQ(Slice(image, 0, 8), Header(LzhTag, 0));
    EXPECT_TRUE(DecompressInMemory(image).empty());
}

TEST(ContainerFormat, LzhImageOfThreeBytes)
{
    int32_t written = 0;
    Bytes image = CompressInMemory({0x61, 0x62, 0x63}, TCompressMode::Good, nullptr, &written);
    EXPECT_EQ(image, (Bytes{0x21, 0x48, 0x5A, 0x4C, 0x03, 0x00, 0x00, 0x00, 0xF6, 0xFB, 0xBD, 0xE0}));
    EXPECT_EQ(written, 12);
    int32_t produced = 0;
    EXPECT_EQ(DecompressInMemory(image, nullptr, &produced), (Bytes{0x61, 0x62, 0x63}));
    EXPECT_EQ(produced, 3);
}

TEST(ContainerFormat, HeaderIsLittleEndian)
{
    Bytes data = TextBytes(70000);
    Bytes lzh = CompressInMemory(data, TCompressMode::Good);
    Bytes kh = CompressInMemory(data, TCompressMode::Fast);
    // 70000 = 0x00011170
    EXPECT_EQ(Slice(lzh, 0, 8), (Bytes{0x21, 0x48, 0x5A, 0x4C, 0x70, 0x11, 0x01, 0x00}));
    EXPECT_EQ(Slice(kh, 0, 8), (Bytes{0x57, 0x52, 0x5A, 0x4C, 0x70, 0x11, 0x01, 0x00}));
}

TEST(ContainerFormat, LzhPayloadIsOneStreamOfTheCodec)
{
    Bytes data = MixedBytes(100000);
    Bytes image = CompressInMemory(data, TCompressMode::Good);
    Bytes payload(image.begin() + 8, image.end());
    EXPECT_TRUE(payload == LZHEncode(data));
    EXPECT_TRUE(lzhmodel::Decode(payload, int64_t(data.size())).Bytes == data);
}

TEST(ContainerFormat, BlocksFollowTheInputSize)
{
    struct TCase {
        size_t Size;
        size_t Blocks;
    };
    for (auto c : {TCase{1, 1}, TCase{32767, 1}, TCase{32768, 2}, TCase{32769, 2}, TCase{65536, 3},
                   TCase{98303, 3}, TCase{98304, 4}}) {
        SCOPED_TRACE(c.Size);
        Bytes data = MixedBytes(c.Size);
        Bytes image = CompressInMemory(data, TCompressMode::Fast);
        auto lengths = BlockLengths(image);
        ASSERT_EQ(lengths.size(), c.Blocks);
        // Every block stands alone and holds its own 32768-byte slice.
        TLZR lzr;
        size_t at = 8;
        for (size_t i = 0; i < lengths.size(); ++i) {
            Bytes block = Slice(image, at + 2, lengths[i]);
            Bytes out(TLZR::BlockSize + 16);
            out.resize(lzr.DecompressBlock(block.data(), out.data(), lengths[i]));
            EXPECT_TRUE(out == Slice(data, i * 32768, 32768)) << "block " << i;
            at += 2 + lengths[i];
        }
        if (c.Size % 32768 == 0) {
            EXPECT_EQ(Slice(image, image.size() - 3, 3), (Bytes{0x01, 0x00, 0x80}));
        }
    }
}

TEST(ContainerFormat, StoredFullBlockIs32769Bytes)
{
    Bytes data = RandomBytes(65536, 3);
    Bytes image = CompressInMemory(data, TCompressMode::Fast);
    EXPECT_EQ(BlockLengths(image), (std::vector<uint16_t>{32769, 32769, 1}));
    EXPECT_EQ(image.size(), 8u + 2 * (2 + 32769) + 3);
    EXPECT_TRUE(DecompressInMemory(image) == data);
}

TEST(ContainerFormat, ReaderStopsAfterTheShortBlock)
{
    Bytes data = TextBytes(40000);
    Bytes image = CompressInMemory(data, TCompressMode::Fast);
    // Whatever follows the last block is not read.
    Bytes trailing = Cat(image, {0x12, 0x34, 0xFF, 0xFF, 0x00});
    EXPECT_TRUE(DecompressInMemory(trailing) == data);

    // Without the empty block after a full one, the reader looks for more and finds nothing.
    Bytes full = CompressInMemory(TextBytes(32768), TCompressMode::Fast);
    full.resize(full.size() - 3);
    EXPECT_EQ(Thrown<ELzrw1Exception>([&] { DecompressInMemory(full); }),
              "Lzrw1 : Error reading from input stream !");
}

TEST(ContainerFormat, UnknownTagsAreRefused)
{
    const Bytes tags[] = {
        {0x4C, 0x5A, 0x48, 0x21}, // the LZH tag in the wrong byte order
        {0x4C, 0x5A, 0x52, 0x57}, // the LZRW1/KH tag in the wrong byte order
        {0x57, 0x52, 0x5A, 0x6C},
        {0x00, 0x00, 0x00, 0x00},
    };
    for (const auto& tag : tags) {
        Bytes image = Cat(tag, {3, 0, 0, 0, 4, 0, 0x80, 1, 2, 3});
        EXPECT_EQ(Thrown<ELzrw1Exception>([&] { DecompressInMemory(image); }), BadHeader);
    }
}

TEST(ContainerFormat, Lzrw1KhSizeMustMatchTheBlocks)
{
    Bytes data = TextBytes(50000);
    Bytes image = CompressInMemory(data, TCompressMode::Fast);
    for (int32_t claimed : {50001, 60000, 49999, 0, -1}) {
        SCOPED_TRACE(claimed);
        Bytes changed = image;
        Bytes header = Header(Lzrw1KhTag, claimed);
        std::copy(header.begin(), header.end(), changed.begin());
        EXPECT_EQ(Thrown<ELzrw1Exception>([&] { DecompressInMemory(changed); }), KhSizes);
    }
}

TEST(ContainerFormat, LzhSizeFailsOnlyWhenTheLastMatchRunsPast)
{
    // 200 x: literal, then matches of 60, 60, 60 and 19; the decoder copies whole matches.
    Bytes image = CompressInMemory(Bytes(200, 'x'), TCompressMode::Good);
    auto withSize = [&](int32_t size) {
        Bytes changed = image;
        Bytes header = Header(LzhTag, size);
        std::copy(header.begin(), header.end(), changed.begin());
        return changed;
    };
    EXPECT_EQ(DecompressInMemory(withSize(121)), Bytes(121, 'x'));
    EXPECT_EQ(DecompressInMemory(withSize(61)), Bytes(61, 'x'));
    EXPECT_EQ(DecompressInMemory(withSize(1)), Bytes(1, 'x'));
    EXPECT_TRUE(DecompressInMemory(withSize(0)).empty());
    for (int32_t size : {100, 120, 122, 2, 199}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(Thrown<ELzrw1Exception>([&] { DecompressInMemory(withSize(size)); }), LzhSizes);
    }
    EXPECT_EQ(Thrown<ELzrw1Exception>([&] { DecompressInMemory(withSize(-5)); }), LzhSizes);
}

TEST(ContainerFormat, CutShortLzhStreamIsRefused)
{
    const int32_t size = 20000;
    Bytes data = TextBytes(size, 41);
    Bytes image = CompressInMemory(data, TCompressMode::Good);
    Bytes payload(image.begin() + 8, image.end());
    // Zero bits past a cut would decode to an image of the right size with a made-up end for
    // many of these cuts; every one must fail instead.
    int madeUp = 0;
    for (size_t keep = payload.size() - 1; keep > payload.size() - 400; --keep) {
        SCOPED_TRACE(keep);
        Bytes cut(payload.begin(), payload.begin() + long(keep));
        if (lzhmodel::Decode(cut, size).Bytes.size() == size_t(size))
            ++madeUp;
        EXPECT_EQ(Thrown<ELzrw1Exception>([&] { DecompressInMemory(Cat(Slice(image, 0, 8), cut)); }), LzhSizes);
    }
    EXPECT_GT(madeUp, 0) << "no cut that zero bits would have passed";
    // A size no stream of this length could hold stops at once, not after 2 GB of zeros' codes.
    Bytes huge = image;
    Bytes header = Header(LzhTag, 0x7FFFFFFF);
    std::copy(header.begin(), header.end(), huge.begin());
    EXPECT_EQ(Thrown<ELzrw1Exception>([&] { DecompressInMemory(huge); }), LzhSizes);
}

TEST(ContainerFormat, BothKindsDecodeTheSameWhateverTheMode)
{
    Bytes data = MixedBytes(90000);
    Bytes lzh = CompressInMemory(data, TCompressMode::Good);
    Bytes kh = CompressInMemory(data, TCompressMode::Fast);
    ASSERT_EQ(Le32(lzh, 0), LzhTag);
    ASSERT_EQ(Le32(kh, 0), Lzrw1KhTag);
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast, TCompressMode::Auto}) {
        for (const Bytes* image : {&lzh, &kh}) {
            TRecordingHost host(false);
            Tlzrw1 c(&host);
            c.UseStream = true;
            c.CompressMode = mode;
            TMemoryStream in(*image), out;
            c.InputStream = &in;
            c.OutputStream = &out;
            EXPECT_EQ(c.Decompress(), 90000);
            EXPECT_TRUE(out.Bytes == data);
            EXPECT_EQ(c.CompressMode, mode);
            EXPECT_TRUE(host.Captions().empty()) << "Decompress has nothing to advise";
        }
    }
}

TEST(ContainerFormat, AutoOnSmallInputWritesLzhAndSettlesOnGood)
{
    for (size_t size : {0u, 1000u, 98303u}) {
        SCOPED_TRACE(size);
        Bytes data(size, 0); // highly compressible: the size alone decides
        Tlzrw1 c;
        c.UseStream = true;
        c.CompressMode = TCompressMode::Auto;
        TMemoryStream in(data), out;
        c.InputStream = &in;
        c.OutputStream = &out;
        c.Compress();
        EXPECT_EQ(Le32(out.Bytes, 0), LzhTag);
        EXPECT_EQ(c.CompressMode, TCompressMode::Good);
        EXPECT_TRUE(DecompressInMemory(out.Bytes) == data);
    }
}

TEST(ContainerFormat, AutoOnLargeInputFollowsTheAdvice)
{
    struct TCase {
        const char* Name;
        Bytes Data;
        uint32_t Tag;
    };
    const TCase cases[] = {
        {"zeros", Bytes(98304, 0), Lzrw1KhTag},
        {"random", RandomBytes(98304, 6), LzhTag},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.Name);
        Tlzrw1 c;
        c.UseStream = true;
        c.CompressMode = TCompressMode::Auto;
        TMemoryStream in(t.Data), out;
        c.InputStream = &in;
        c.OutputStream = &out;
        c.Compress();
        EXPECT_EQ(Le32(out.Bytes, 0), t.Tag);
        EXPECT_EQ(Le32(out.Bytes, 4), 98304u);
        EXPECT_EQ(c.CompressMode, TCompressMode::Auto);
        EXPECT_TRUE(DecompressInMemory(out.Bytes) == t.Data);
    }
}

TEST(ContainerFormat, StreamsAreUsedFromTheirCurrentPositions)
{
    Bytes data = TextBytes(40000);
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast}) {
        Tlzrw1 c;
        c.UseStream = true;
        c.CompressMode = mode;
        TMemoryStream in(data), out(Bytes{'p', 'r', 'e'});
        out.Seek(0, TSeekOrigin::End);
        c.InputStream = &in;
        c.OutputStream = &out;
        int32_t written = c.Compress();
        ASSERT_EQ(out.Bytes.size(), 3u + size_t(written));
        EXPECT_EQ(Slice(out.Bytes, 0, 3), (Bytes{'p', 'r', 'e'}));
        Bytes image(out.Bytes.begin() + 3, out.Bytes.end());
        EXPECT_EQ(image, CompressInMemory(data, mode));

        // And back, from an input stream placed after the prefix, into an output stream
        // placed after its own.
        TMemoryStream packed(out.Bytes), unpacked(Bytes{'x', 'y'});
        packed.Seek(3, TSeekOrigin::Beginning);
        unpacked.Seek(2, TSeekOrigin::Beginning);
        c.InputStream = &packed;
        c.OutputStream = &unpacked;
        EXPECT_EQ(c.Decompress(), 40000);
        EXPECT_EQ(Slice(unpacked.Bytes, 0, 2), (Bytes{'x', 'y'}));
        EXPECT_TRUE(Bytes(unpacked.Bytes.begin() + 2, unpacked.Bytes.end()) == data);
    }
}

TEST(ContainerFormat, LzhInputArrivingInPiecesIsCodedTheSame)
{
    Bytes data = MixedBytes(80000);
    Tlzrw1 c;
    c.UseStream = true;
    TFailingStream in(data);
    in.ReadChunk = 1000; // a pipe-like stream: every read brings less than asked
    TMemoryStream out;
    c.InputStream = &in;
    c.OutputStream = &out;
    c.Compress();
    EXPECT_TRUE(out.Bytes == CompressInMemory(data, TCompressMode::Good));
}

namespace {

// Remembers the size of every read and write asked of it.
class TCountingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    int32_t Read(void* buffer, int32_t count) override
    {
        Reads.push_back(count);
        return TMemoryStream::Read(buffer, count);
    }
    int32_t Write(const void* buffer, int32_t count) override
    {
        Writes.push_back(count);
        return TMemoryStream::Write(buffer, count);
    }
    std::vector<int32_t> Reads, Writes;
};

} // namespace

TEST(ContainerFormat, TrafficGoesThroughWholeBuffers)
{
    Bytes data = RandomBytes(100000, 21); // 3 x 32768 + 1696
    const std::vector<int32_t> pieces{32768, 32768, 32768, 1696};
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast}) {
        SCOPED_TRACE(mode == TCompressMode::Fast ? "LZRW1/KH" : "LZH");
        Tlzrw1 c;
        c.UseStream = true;
        c.CompressMode = mode;
        TCountingStream in(data), packed;
        c.InputStream = &in;
        c.OutputStream = &packed;
        c.Compress();
        for (int32_t n : in.Reads)
            EXPECT_EQ(n, 32768);
        std::vector<int32_t> expectedWrites{4, 4};
        std::vector<int32_t> expectedReads{4, 4};
        if (mode == TCompressMode::Fast) {
            for (size_t at = 8; at < packed.Bytes.size();) {
                int32_t l = Le16(packed.Bytes, at);
                expectedWrites.insert(expectedWrites.end(), {2, l});
                expectedReads.insert(expectedReads.end(), {2, l});
                at += 2 + size_t(l);
            }
        } else {
            int32_t payload = int32_t(packed.Bytes.size()) - 8;
            for (; payload > 32768; payload -= 32768)
                expectedWrites.push_back(32768);
            expectedWrites.push_back(payload);
        }
        EXPECT_EQ(packed.Writes, expectedWrites);

        TCountingStream image(packed.Bytes), out;
        c.InputStream = &image;
        c.OutputStream = &out;
        c.Decompress();
        EXPECT_EQ(out.Writes, pieces);
        if (mode == TCompressMode::Fast) {
            EXPECT_EQ(image.Reads, expectedReads);
        } else {
            ASSERT_GE(image.Reads.size(), 3u);
            EXPECT_EQ(std::vector<int32_t>(image.Reads.begin(), image.Reads.begin() + 2), (std::vector<int32_t>{4, 4}));
            for (size_t i = 2; i < image.Reads.size(); ++i)
                EXPECT_EQ(image.Reads[i], 32768);
        }
        EXPECT_TRUE(out.Bytes == data);
    }
}
