// TLZH: exact bit streams, the symbols the encoder chooses, the adaptive tree under stress, and
// how the codec behaves when memory, its source or its sink fails.
#include <gtest/gtest.h>

#include "LzhTestSupport.h"
#include "TestMemory.h"

using namespace lzhtest;

TEST(LzhStream, ThreeLiteralsGiveTheKnownBytes)
{
    EXPECT_EQ(LZHEncode(Str("abc")), (Bytes{0xF6, 0xFB, 0xBD, 0xE0}));

    TLZH lzh;
    TCountingSource source(Str("abc"));
    TVectorByteSink sink;
    int32_t count = -1;
    lzh.Encode(count, source, sink);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(sink.Bytes(), (Bytes{0xF6, 0xFB, 0xBD, 0xE0}));
    EXPECT_EQ(LZHDecode({0xF6, 0xFB, 0xBD, 0xE0}, 3), Str("abc"));
}

TEST(LzhStream, EmptyInputSendsOnePaddedLiteral)
{
    Bytes stream = LZHEncode({});
    ASSERT_GE(stream.size(), 1u);
    ASSERT_LE(stream.size(), 2u);
    auto decoded = lzhmodel::Decode(stream, 1);
    ASSERT_EQ(decoded.Trace.size(), 1u);
    EXPECT_LT(decoded.Trace[0].Symbol, 256);
    EXPECT_EQ(stream.size(), (decoded.BitsUsed + 7) / 8) << "more than the padding of one code";
    EXPECT_EQ(stream.back() & (0xFF >> (decoded.BitsUsed % 8 ? decoded.BitsUsed % 8 : 8)), 0) << "padding not zero";

    TLZH lzh;
    TCountingSource source({});
    TVectorByteSink sink;
    int32_t count = -1;
    lzh.Encode(count, source, sink);
    EXPECT_EQ(count, 0);
}

TEST(LzhStream, EncoderChoosesTheKnownSymbols)
{
    struct TCase {
        const char* Name;
        Bytes Input;
        std::vector<TSymbol> Trace;
    };
    const TCase cases[] = {
        {"three literals", Str("abc"), {Lit('a'), Lit('b'), Lit('c')}},
        {"200 x", Bytes(200, 'x'), {Lit('x'), Match(60, 0), Match(60, 0), Match(60, 0), Match(19, 0)}},
        // The window starts as spaces; the walk stops at the first 60-byte match it meets.
        {"100 spaces", Bytes(100, ' '), {Match(60, 59), Match(40, 19)}},
        // Matches are cut to the bytes left; two or fewer go out as literals.
        {"one x", Bytes(1, 'x'), {Lit('x')}},
        {"three x", Bytes(3, 'x'), {Lit('x'), Lit('x'), Lit('x')}},
        {"four x", Bytes(4, 'x'), {Lit('x'), Match(3, 0)}},
        {"61 x", Bytes(61, 'x'), {Lit('x'), Match(60, 0)}},
        {"182 x", Bytes(182, 'x'), {Lit('x'), Match(60, 0), Match(60, 0), Match(60, 0), Lit('x')}},
        {"183 x", Bytes(183, 'x'), {Lit('x'), Match(60, 0), Match(60, 0), Match(60, 0), Lit('x'), Lit('x')}},
        {"184 x", Bytes(184, 'x'), {Lit('x'), Match(60, 0), Match(60, 0), Match(60, 0), Match(3, 0)}},
        {"abcabc", Str("abcabcabcd"), {Lit('a'), Lit('b'), Lit('c'), Match(6, 2), Lit('d')}},
    };
    for (const auto& c : cases) {
        for (const TMode& mode : Modes) {
            SCOPED_TRACE(std::string(c.Name) + ", " + mode.Name);
            Bytes stream = EncodeIn(mode, c.Input);
            EXPECT_EQ(LZHDecode(stream, int32_t(c.Input.size())), c.Input);
            // The symbols, from an independent reading of the bits.
            auto model = lzhmodel::Decode(stream, int64_t(c.Input.size()));
            EXPECT_EQ(Show(model.Trace), Show(c.Trace));
            EXPECT_EQ(model.Bytes, c.Input);
            EXPECT_EQ(stream.size(), (model.BitsUsed + 7) / 8) << "stream longer than its symbols";
        }
    }
}

TEST(LzhStream, EncoderWritesTheStreamOfTheFormat)
{
    auto periodic = [](size_t size, size_t period, uint32_t seed) {
        Bytes piece = RandomBytes(period, seed), out;
        while (out.size() < size)
            out.insert(out.end(), piece.begin(), piece.end());
        out.resize(size);
        return out;
    };
    // Spaces meet the window's first content; repeats just under, at and over the window
    // size wrap the ring and its mirror in every phase.
    Bytes spaces = TextBytes(30000, 50);
    for (size_t i = 0; i < spaces.size(); i += 97)
        std::fill(spaces.begin() + long(i), spaces.begin() + long(std::min(spaces.size(), i + 70)), ' ');
    struct TCase {
        const char* Name;
        Bytes Input;
    };
    const TCase cases[] = {
        {"59 bytes", TextBytes(59, 1)},
        {"60 bytes", TextBytes(60, 2)},
        {"61 bytes", TextBytes(61, 3)},
        {"text", TextBytes(300 * 1024, 4)},
        {"text, a diskette's worth", TextBytes(1474560, 5)},
        {"random", RandomBytes(100 * 1024, 5)},
        {"mixed", MixedBytes(200 * 1024)},
        {"zeros", Bytes(70000, 0)},
        {"spaces and text", spaces},
        {"period 7", periodic(50000, 7, 6)},
        {"period 61", periodic(50000, 61, 7)},
        {"period 4035", periodic(60000, 4035, 8)},
        {"period 4036", periodic(60000, 4036, 9)},
        {"period 4037", periodic(60000, 4037, 10)},
        {"period 4095", periodic(60000, 4095, 11)},
        {"period 4096", periodic(60000, 4096, 12)},
        {"small alphabet", [] {
             Bytes b = RandomBytes(100000, 13);
             for (auto& x : b)
                 x = uint8_t('a' + x % 3);
             return b;
         }()},
    };
    for (const auto& c : cases) {
        Bytes expected = lzhmodel::Encode(c.Input);
        ASSERT_TRUE(lzhmodel::Decode(expected, int64_t(c.Input.size())).Bytes == c.Input) << "model broken";
        for (const TMode& mode : Modes) {
            SCOPED_TRACE(std::string(c.Name) + ", " + mode.Name);
            Bytes stream = EncodeIn(mode, c.Input, 4093);
            if (stream != expected) {
                // Name the first symbol where the choices part.
                auto engine = lzhmodel::Decode(stream, int64_t(c.Input.size())).Trace;
                auto model = lzhmodel::Decode(expected, int64_t(c.Input.size())).Trace;
                long at = FirstDifference(engine, model);
                ADD_FAILURE() << "stream differs; first differing symbol " << at << " of " << model.size();
            }
        }
    }
}

TEST(LzhStream, TreeRebuildKeepsBothSidesInStep)
{
    struct TCase {
        const char* Name;
        Bytes Input;
    };
    const TCase cases[] = {
        {"random", RandomBytes(100 * 1024, 31)},
        {"text", TextBytes(300 * 1024, 32)},
        {"mixed", MixedBytes(200 * 1024)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Bytes stream = LZHEncode(c.Input);
        auto model = lzhmodel::Decode(stream, int64_t(c.Input.size()));
        ASSERT_GE(model.Rebuilds, 1) << "input too short to reach the frequency limit";
        EXPECT_TRUE(model.Bytes == c.Input) << "the bits differ from the format";
        EXPECT_TRUE(LZHDecode(stream, int32_t(c.Input.size())) == c.Input) << "round trip";
    }
}

TEST(LzhStream, EncoderSendsAllBitsOfDeepCodes)
{
    Bytes data = DeepLeafData();
    Bytes stream = LZHEncode(data);
    auto model = lzhmodel::Decode(stream, int64_t(data.size()));
    EXPECT_TRUE(model.Bytes == data) << "the bits differ from the format";
    EXPECT_GT(model.DeepestCode, 16) << "the data no longer drives a leaf below 16 levels";
    EXPECT_TRUE(LZHDecode(stream, int32_t(data.size())) == data) << "round trip";
}

TEST(LzhStream, EncoderReportsEveryByteConsumed)
{
    Bytes input = MixedBytes(70001);
    TLZH lzh;
    TCountingSource source(input, 777);
    TVectorByteSink sink;
    int32_t count = 0;
    lzh.Encode(count, source, sink);
    EXPECT_EQ(count, 70001);
    EXPECT_TRUE(LZHDecode(sink.Bytes(), 70001) == input);
}

TEST(LzhFailures, TablesThatCannotBeTakenStopBeforeAnyByte)
{
    TTestMemory memory;
    memory.FailAfter(0);
    TLZH lzh(memory);
    {
        TCountingSource source(Str("abc"));
        TVectorByteSink sink;
        int32_t count = 0;
        try {
            lzh.Encode(count, source, sink);
            ADD_FAILURE() << "Encode ran without tables";
        } catch (const ElzhException& e) {
            EXPECT_STREQ(e.what(), "LZH : Cannot get memory for dictionary tables");
        }
        EXPECT_EQ(source.Refills, 0);
        EXPECT_TRUE(sink.Bytes().empty());
    }
    {
        TCountingSource source({0xF6, 0xFB, 0xBD, 0xE0});
        TVectorByteSink sink;
        try {
            lzh.Decode(3, source, sink);
            ADD_FAILURE() << "Decode ran without tables";
        } catch (const ElzhException& e) {
            EXPECT_STREQ(e.what(), "LZH : Cannot get memory for dictionary tables");
        }
        EXPECT_EQ(source.Refills, 0);
        EXPECT_TRUE(sink.Bytes().empty());
    }
}

TEST(LzhFailures, EachRefusedTakeStopsTheRunAndGivesEverythingBack)
{
    // Refused at each of a run's takes in turn (the split search's tables and read-ahead among
    // them): the run stops with the codec's text and nothing stays taken; the next run works.
    const Bytes input = TextBytes(20000, 4);
    const Bytes stream = LZHEncode(input);
    const auto encode = [&](TLZH& lzh) {
        TCountingSource source(input);
        TVectorByteSink sink;
        int32_t count = 0;
        lzh.Encode(count, source, sink);
        return sink.Bytes();
    };
    const auto decode = [&](TLZH& lzh) {
        TCountingSource source(stream);
        TVectorByteSink sink;
        lzh.Decode(int32_t(input.size()), source, sink);
        return sink.Bytes();
    };
    for (const TMode& mode : Modes) {
        for (bool decoding : {false, true}) {
            SCOPED_TRACE(std::string(mode.Name) + (decoding ? ", decode" : ", encode"));
            TTestMemory memory;
            TLZH lzh(memory);
            lzh.SearchThread = mode.Split;
            lzh.SplitFrom = 0;
            lzh.SplitBlock = mode.Block;
            const auto run = [&] { return decoding ? decode(lzh) : encode(lzh); };
            EXPECT_TRUE(run() == (decoding ? input : stream));
            const int takes = memory.Taken;
            EXPECT_GE(takes, 2);
            EXPECT_EQ(memory.Outstanding, 0);
            for (int allowed = 0; allowed < takes; ++allowed) {
                memory.FailAfter(allowed);
                EXPECT_EQ(Thrown<ElzhException>(run), "LZH : Cannot get memory for dictionary tables") << allowed;
                EXPECT_EQ(memory.Outstanding, 0) << allowed;
            }
            memory.FailAfter(-1);
            EXPECT_TRUE(run() == (decoding ? input : stream));
        }
    }
}

TEST(LzhFailures, SourceAndSinkErrorsPassThroughAndTheCodecStaysUsable)
{
    TLZH lzh;
    Bytes input = TextBytes(20000, 9);
    for (const TMode& mode : Modes) {
        SCOPED_TRACE(mode.Name);
        lzh.SearchThread = mode.Split;
        lzh.SplitFrom = 0;
        lzh.SplitBlock = mode.Block;
        {
            // Broken while the other thread searches the blocks already read.
            TBreakingSource source(input, 1000);
            TVectorByteSink sink;
            int32_t count = 0;
            EXPECT_THROW(lzh.Encode(count, source, sink), TSourceBroke);
        }
        {
            TCountingSource source(input);
            TBreakingSink sink;
            int32_t count = 0;
            EXPECT_THROW(lzh.Encode(count, source, sink), TSinkBroke);
        }
    }
    Bytes stream = LZHEncode(input);
    {
        TBreakingSource source(stream, 100);
        TVectorByteSink sink;
        EXPECT_THROW(lzh.Decode(int32_t(input.size()), source, sink), TSourceBroke);
    }
    {
        TCountingSource source(stream);
        TBreakingSink sink;
        EXPECT_THROW(lzh.Decode(int32_t(input.size()), source, sink), TSinkBroke);
    }
    // Nothing of the broken runs may linger in the object.
    TCountingSource source(input);
    TVectorByteSink sink;
    int32_t count = 0;
    lzh.Encode(count, source, sink);
    EXPECT_TRUE(sink.Bytes() == stream);
    TCountingSource back(stream);
    TVectorByteSink out;
    lzh.Decode(int32_t(input.size()), back, out);
    EXPECT_TRUE(out.Bytes() == input);
}
