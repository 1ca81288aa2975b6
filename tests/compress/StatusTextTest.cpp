// What the panel shows: progress after every block, refill and flush, the completion text,
// and nothing at all while the panel is hidden.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "TestHosts.h"

namespace {

std::string Kh(int64_t in, int64_t out)
{
    return "(LZRW1/KH) Bytes in : " + std::to_string(in) + " Bytes out : " + std::to_string(out);
}
std::string Lzh(int64_t in, int64_t out)
{
    return "(LZH) Bytes in : " + std::to_string(in) + " Bytes out : " + std::to_string(out);
}
std::string Percent(int64_t out, int64_t in) { return std::to_string(out * 100 / in) + "%"; }

uint16_t BlockLength(const Bytes& data, size_t from, size_t n)
{
    TLZR lzr;
    Bytes source(data.begin() + long(from), data.begin() + long(from + n));
    source.resize(n + 2);
    Bytes dest(n + 16);
    return lzr.CompressBlock(source.data(), dest.data(), uint16_t(n));
}

struct TProgress {
    int64_t In, Out;
};

// Reads the LZH progress texts; every caption but the last must be one.
std::vector<TProgress> LzhProgress(const std::vector<std::string>& captions)
{
    static const std::regex pattern(R"(\(LZH\) Bytes in : (\d+) Bytes out : (\d+))");
    std::vector<TProgress> steps;
    for (size_t i = 0; i + 1 < captions.size(); ++i) {
        std::smatch m;
        if (!std::regex_match(captions[i], m, pattern)) {
            ADD_FAILURE() << "not a progress text: " << captions[i];
            continue;
        }
        steps.push_back({std::stoll(m[1]), std::stoll(m[2])});
    }
    return steps;
}

void ExpectSteps(const std::vector<TProgress>& steps, std::set<int64_t> ins, std::set<int64_t> outs)
{
    std::set<int64_t> seenIn, seenOut;
    for (size_t i = 0; i < steps.size(); ++i) {
        seenIn.insert(steps[i].In);
        seenOut.insert(steps[i].Out);
        if (i > 0) {
            EXPECT_GE(steps[i].In, steps[i - 1].In) << "step " << i;
            EXPECT_GE(steps[i].Out, steps[i - 1].Out) << "step " << i;
        }
    }
    EXPECT_EQ(seenIn, ins);
    EXPECT_EQ(seenOut, outs);
}

struct TFiles {
    TTempDir Dir;
    std::string In = Dir.Path("input.bin");
    std::string Out = Dir.Path("output.bin");
};

} // namespace

TEST(StatusText, Lzrw1KhCompressShowsEveryBlock)
{
    TFiles f;
    Bytes data = TextBytes(65536, 11);
    WriteBytes(f.In, data);
    const int64_t l1 = BlockLength(data, 0, 32768), l2 = BlockLength(data, 32768, 32768);
    const int64_t total = 8 + 2 + l1 + 2 + l2 + 3;

    TRecordingHost host;
    Tlzrw1 c(&host);
    c.InputFile = f.In;
    c.OutputFile = f.Out;
    c.CompressMode = TCompressMode::Fast;
    EXPECT_EQ(c.Compress(), total);
    EXPECT_EQ(host.Captions(), (std::vector<std::string>{
                                   Kh(32768, 8 + 2 + l1),
                                   Kh(65536, 8 + 2 + l1 + 2 + l2),
                                   Kh(65536, total),
                                   f.In + " : Lzrw1 : successfully compressed at " + Percent(total, 65536),
                               }));
    EXPECT_TRUE(host.EveryCaptionRepainted());
    EXPECT_GE(host.Count(TRecordingHost::TKind::Process), 3u);
    EXPECT_EQ(c.Caption(), host.Captions().back());
    EXPECT_EQ(c.BytesIn(), 65536);
    EXPECT_EQ(c.BytesOut(), total);
    EXPECT_EQ(int64_t(ReadBytes(f.Out).size()), total);

    // And back: BytesIn counts the header and every block with its length word.
    host.Clear();
    c.InputFile = f.Out;
    c.OutputFile = f.Dir.Path("back.bin");
    EXPECT_EQ(c.Decompress(), 65536);
    EXPECT_EQ(host.Captions(), (std::vector<std::string>{
                                   Kh(8 + 2 + l1, 32768),
                                   Kh(8 + 2 + l1 + 2 + l2, 65536),
                                   Kh(total, 65536),
                                   f.Out + " : Lzrw1 : successfully decompressed at " + Percent(65536, total),
                               }));
    EXPECT_TRUE(host.EveryCaptionRepainted());
    EXPECT_EQ(c.BytesIn(), total);
    EXPECT_EQ(c.BytesOut(), 65536);
    EXPECT_TRUE(ReadBytes(f.Dir.Path("back.bin")) == data);
}

TEST(StatusText, LzhThreeBytes)
{
    TFiles f;
    WriteBytes(f.In, {0x61, 0x62, 0x63});
    TRecordingHost host;
    Tlzrw1 c(&host);
    c.InputFile = f.In;
    c.OutputFile = f.Out;
    EXPECT_EQ(c.Compress(), 12);
    // The source is asked again after the end; the text does not change then.
    EXPECT_EQ(host.DistinctCaptions(), (std::vector<std::string>{
                                           Lzh(3, 8),
                                           Lzh(3, 12),
                                           f.In + " : Lzrw1 : successfully compressed at 400%",
                                       }));
    EXPECT_TRUE(host.EveryCaptionRepainted());

    host.Clear();
    c.InputFile = f.Out;
    c.OutputFile = f.Dir.Path("back.bin");
    EXPECT_EQ(c.Decompress(), 3);
    EXPECT_EQ(host.DistinctCaptions(), (std::vector<std::string>{
                                           Lzh(12, 0),
                                           Lzh(12, 3),
                                           f.Out + " : Lzrw1 : successfully decompressed at 25%",
                                       }));
    EXPECT_TRUE(host.EveryCaptionRepainted());
}

TEST(StatusText, LzhShowsEveryRefillAndFlush)
{
    TFiles f;
    const int64_t size = 70000;
    Bytes data = RandomBytes(size_t(size), 12);
    WriteBytes(f.In, data);
    TRecordingHost host;
    Tlzrw1 c(&host);
    c.InputFile = f.In;
    c.OutputFile = f.Out;
    const int64_t total = c.Compress();
    ASSERT_GT(total, 8 + 65536) << "the image should need two full flushes";
    ASSERT_LT(total, 8 + 98304);

    auto captions = host.DistinctCaptions();
    ASSERT_GE(captions.size(), 2u);
    EXPECT_EQ(captions.front(), Lzh(32768, 8));
    auto steps = LzhProgress(captions);
    ExpectSteps(steps, {32768, 65536, size}, {8, 8 + 32768, 8 + 65536, total});
    EXPECT_EQ(captions[captions.size() - 2], Lzh(size, total));
    EXPECT_EQ(captions.back(), f.In + " : Lzrw1 : successfully compressed at " + Percent(total, size));
    EXPECT_TRUE(host.EveryCaptionRepainted());

    host.Clear();
    c.InputFile = f.Out;
    c.OutputFile = f.Dir.Path("back.bin");
    EXPECT_EQ(c.Decompress(), size);
    captions = host.DistinctCaptions();
    ASSERT_GE(captions.size(), 2u);
    EXPECT_EQ(captions.front(), Lzh(8 + 32768, 0));
    steps = LzhProgress(captions);
    ExpectSteps(steps, {8 + 32768, 8 + 65536, total}, {0, 32768, 65536, size});
    EXPECT_EQ(captions[captions.size() - 2], Lzh(total, size));
    EXPECT_EQ(captions.back(), f.Out + " : Lzrw1 : successfully decompressed at " + Percent(size, total));
    EXPECT_TRUE(host.EveryCaptionRepainted());
    EXPECT_TRUE(ReadBytes(f.Dir.Path("back.bin")) == data);
}

TEST(StatusText, StreamModeCompletionTexts)
{
    Bytes data = TextBytes(50000, 13);
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast}) {
        TRecordingHost host;
        int32_t total = 0;
        Bytes image = CompressInMemory(data, mode, &host, &total);
        EXPECT_EQ(host.Captions().back(), "Lzrw1 : inputstream successfully compressed at " + Percent(total, 50000));
        EXPECT_TRUE(host.EveryCaptionRepainted());
        host.Clear();
        DecompressInMemory(image, &host);
        EXPECT_EQ(host.Captions().back(),
                  "LZrw1 : inputstream successfully decompressed at " + Percent(50000, total));
        EXPECT_TRUE(host.EveryCaptionRepainted());
    }
}

TEST(StatusText, EmptyInputCompletes)
{
    // The percentage of nothing is ours to choose; the run must simply succeed.
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast}) {
        TFiles f;
        WriteBytes(f.In, {});
        TRecordingHost host;
        Tlzrw1 c(&host);
        c.InputFile = f.In;
        c.OutputFile = f.Out;
        c.CompressMode = mode;
        EXPECT_NO_THROW(c.Compress());
        ASSERT_FALSE(host.Captions().empty());
        EXPECT_EQ(host.Captions().back().rfind(f.In + " : Lzrw1 : successfully compressed at ", 0), 0u)
            << host.Captions().back();
    }
}

TEST(StatusText, HiddenPanelShowsNothing)
{
    Bytes data = TextBytes(70000, 14);
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast}) {
        {
            TRecordingHost host(false);
            Bytes image = CompressInMemory(data, mode, &host);
            DecompressInMemory(image, &host);
            EXPECT_EQ(host.Count(TRecordingHost::TKind::Caption), 0u);
            EXPECT_EQ(host.Count(TRecordingHost::TKind::Repaint), 0u);
            EXPECT_GT(host.Count(TRecordingHost::TKind::Process), 0u) << "the window must stay responsive";
        }
        {
            TFiles f;
            WriteBytes(f.In, data);
            TRecordingHost host(false);
            Tlzrw1 c(&host);
            c.InputFile = f.In;
            c.OutputFile = f.Out;
            c.CompressMode = mode;
            c.Compress();
            c.InputFile = f.Out;
            c.OutputFile = f.Dir.Path("back.bin");
            c.Decompress();
            EXPECT_EQ(host.Count(TRecordingHost::TKind::Caption), 0u);
            EXPECT_EQ(host.Count(TRecordingHost::TKind::Repaint), 0u);
            EXPECT_TRUE(c.Caption().empty());
        }
    }
}

TEST(StatusText, CaptionAfterLoading)
{
    Tlzrw1 c;
    c.Loaded(true);
    EXPECT_EQ(c.Caption(), "LZRW1/KH Compressor / Decompressor");
    c.Loaded(false);
    EXPECT_EQ(c.Caption(), "");
}
