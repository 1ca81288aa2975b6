// Advise: the size rule, where the two samples are taken, the threshold boundary and the
// captions it leaves.
#include <gtest/gtest.h>

#include "TestHosts.h"

namespace {

const std::string SmallFile = "Lzrw1 recommends GOOD compression :  small file !!";

uint16_t BlockLength(const Bytes& block)
{
    TLZR lzr;
    Bytes source(block);
    source.resize(block.size() + 2);
    Bytes dest(block.size() + 16);
    return lzr.CompressBlock(source.data(), dest.data(), uint16_t(block.size()));
}

// A 32768-byte sample: `noise` pseudo-random bytes, then zeros.
Bytes Sample(size_t noise, uint32_t seed)
{
    Bytes b = RandomBytes(noise, seed);
    b.resize(32768, 0);
    return b;
}

// Two samples whose block lengths add up to exactly `target`.
std::pair<Bytes, Bytes> SamplesCompressingTo(int target)
{
    for (size_t first = 0; first < 400; ++first) {
        Bytes a = Sample(first, 1);
        int want = target - BlockLength(a);
        // Lengths grow (nearly) monotonically with the noise: search, then look around.
        size_t lo = 0, hi = 32768;
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            if (BlockLength(Sample(mid, 2)) < want)
                lo = mid + 1;
            else
                hi = mid;
        }
        for (size_t n = lo > 8 ? lo - 8 : 0; n < lo + 8 && n <= 32768; ++n) {
            Bytes b = Sample(n, 2);
            if (BlockLength(b) == want)
                return {a, b};
        }
    }
    ADD_FAILURE() << "no samples found for " << target;
    return {};
}

// A 98304-byte input whose samples (blocks 1 and 2) are the given ones.
Bytes InputWithSamples(const Bytes& first, const Bytes& second)
{
    Bytes data = RandomBytes(32768, 77);
    data.insert(data.end(), first.begin(), first.end());
    data.insert(data.end(), second.begin(), second.end());
    return data;
}

struct TFiles {
    TTempDir Dir;
    std::string In = Dir.Path("input.bin");
};

} // namespace

TEST(Advise, SmallInputsGetGoodWithoutLooking)
{
    for (size_t size : {0u, 1u, 32768u, 98303u}) {
        SCOPED_TRACE(size);
        TFiles f;
        WriteBytes(f.In, Bytes(size, 0));
        TRecordingHost host(false); // the caption is set even for a hidden panel
        Tlzrw1 c(&host);
        c.InputFile = f.In;
        c.CompressMode = TCompressMode::Fast;
        EXPECT_EQ(c.Advise(), TCompressMode::Good);
        EXPECT_EQ(c.CompressMode, TCompressMode::Good);
        EXPECT_EQ(c.Caption(), SmallFile);
        EXPECT_EQ(host.Captions(), (std::vector<std::string>{
                                       "Guessing the best compression mode for : " + f.In,
                                       SmallFile,
                                   }));
        EXPECT_EQ(f.Dir.Entries(), (std::vector<std::string>{"input.bin"}));
    }
}

TEST(Advise, LargeInputsAreSampled)
{
    struct TCase {
        const char* Name;
        Bytes Data;
        TCompressMode Answer;
        std::string Caption;
    };
    const int zeros = 2 * BlockLength(Bytes(32768, 0));
    const TCase cases[] = {
        {"zeros", Bytes(98304, 0), TCompressMode::Fast,
         "Lzrw1 recommends FAST compression : " + std::to_string(zeros * 100 / 65536) + "%."},
        // Stored samples: 2 x 32769 bytes out of 65536.
        {"random", RandomBytes(98304, 8), TCompressMode::Good, "Lzrw1 recommends GOOD compression : 100%."},
    };
    for (const auto& t : cases) {
        for (auto mode : {TCompressMode::Good, TCompressMode::Fast, TCompressMode::Auto}) {
            SCOPED_TRACE(t.Name);
            TFiles f;
            WriteBytes(f.In, t.Data);
            TRecordingHost host(false);
            Tlzrw1 c(&host);
            c.InputFile = f.In;
            c.CompressMode = mode;
            EXPECT_EQ(c.Advise(), t.Answer);
            EXPECT_EQ(c.CompressMode, mode) << "a sampled answer leaves the mode alone";
            EXPECT_EQ(c.Caption(), t.Caption);
            EXPECT_EQ(host.Captions().front(), "Guessing the best compression mode for : " + f.In);
            EXPECT_EQ(host.Captions().back(), t.Caption);
        }
    }
}

TEST(Advise, SamplesComeFromAThirdAndTwoThirdsCutToBlocks)
{
    // 285000 bytes: samples at 95000 and 190000, cut down to 65536 and 163840 (cut to 4 KB
    // they would lie mostly outside those blocks).
    const size_t size = 285000, first = 65536, second = 163840;
    Bytes quiet = RandomBytes(size, 9);
    std::fill(quiet.begin() + first, quiet.begin() + first + 32768, 0);
    std::fill(quiet.begin() + second, quiet.begin() + second + 32768, 0);
    Bytes loud(size, 0);
    Bytes noise = RandomBytes(size, 10);
    std::copy(noise.begin() + first, noise.begin() + first + 32768, loud.begin() + first);
    std::copy(noise.begin() + second, noise.begin() + second + 32768, loud.begin() + second);
    // Only one sample is compressible: in = 65536, out = 32769 + small, about 50%.
    Bytes half = RandomBytes(size, 11);
    std::fill(half.begin() + second, half.begin() + second + 32768, 0);

    struct TCase {
        const char* Name;
        Bytes Data;
        int32_t Threshold;
        TCompressMode Answer;
    };
    const TCase cases[] = {
        {"samples compressible", quiet, 40, TCompressMode::Fast},
        {"samples incompressible", loud, 40, TCompressMode::Good},
        {"half, threshold 40", half, 40, TCompressMode::Good},
        {"half, threshold 60", half, 60, TCompressMode::Fast},
        {"zeros, threshold 0", quiet, 0, TCompressMode::Good},
        {"stored, threshold 101", loud, 101, TCompressMode::Fast},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.Name);
        TFiles f;
        WriteBytes(f.In, t.Data);
        Tlzrw1 c;
        c.InputFile = f.In;
        c.Threshold = t.Threshold;
        EXPECT_EQ(c.Advise(), t.Answer);
    }
}

TEST(Advise, ThresholdBoundary)
{
    // Threshold 40 of in = 65536 is 26214 (integer division): below it is FAST.
    struct TCase {
        int Out;
        TCompressMode Answer;
        std::string Caption;
    };
    const TCase cases[] = {
        {26213, TCompressMode::Fast, "Lzrw1 recommends FAST compression : 39%."},
        {26214, TCompressMode::Good, "Lzrw1 recommends GOOD compression : 39%."},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.Out);
        auto [first, second] = SamplesCompressingTo(t.Out);
        ASSERT_EQ(BlockLength(first) + BlockLength(second), t.Out);
        Bytes data = InputWithSamples(first, second);

        TFiles f;
        WriteBytes(f.In, data);
        Tlzrw1 c;
        c.InputFile = f.In;
        ASSERT_EQ(c.Threshold, 40);
        EXPECT_EQ(c.Advise(), t.Answer);
        EXPECT_EQ(c.Caption(), t.Caption);

        // The same in stream mode, and Compress follows the answer.
        TMemoryStream in(data), out;
        Tlzrw1 s;
        s.UseStream = true;
        s.InputStream = &in;
        s.OutputStream = &out;
        s.CompressMode = TCompressMode::Auto;
        s.Compress();
        EXPECT_EQ(Le32(out.Bytes, 0), t.Answer == TCompressMode::Fast ? Lzrw1KhTag : LzhTag);
        EXPECT_EQ(s.CompressMode, TCompressMode::Auto);
        EXPECT_TRUE(DecompressInMemory(out.Bytes) == data);
    }
}

TEST(Advise, StreamModeRestoresThePosition)
{
    for (size_t size : {50000u, 98304u, 150000u}) {
        SCOPED_TRACE(size);
        TFailingStream in(Bytes(size, 0));
        in.Seek(1234, TSeekOrigin::Beginning);
        TRecordingHost host(false);
        Tlzrw1 c(&host);
        c.UseStream = true;
        c.InputStream = &in;
        c.CompressMode = TCompressMode::Fast;
        TCompressMode answer = c.Advise();
        EXPECT_EQ(answer, size < 98304 ? TCompressMode::Good : TCompressMode::Fast);
        EXPECT_EQ(in.Position(), 1234);
        EXPECT_EQ(host.Captions().front(), "Guessing the best compression mode for the inputstream");
        if (size < 98304) {
            EXPECT_EQ(c.Caption(), SmallFile);
        }
    }
}

TEST(Advise, SampledFromTheWholeStreamNotItsPosition)
{
    // The stream sits at its end; the samples are still blocks 1 and 2 of the whole stream.
    Bytes data = RandomBytes(98304, 12);
    std::fill(data.begin() + 32768, data.end(), 0);
    TMemoryStream in(data);
    in.Seek(0, TSeekOrigin::End);
    Tlzrw1 c;
    c.UseStream = true;
    c.InputStream = &in;
    EXPECT_EQ(c.Advise(), TCompressMode::Fast);
    EXPECT_EQ(in.Position(), 98304);
}
