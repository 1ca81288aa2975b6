// TLZH::Decode: the format's streams back, codes deeper than 16 bits, and where a stream ends.
#include <gtest/gtest.h>

#include "LzhTestSupport.h"

using namespace lzhtest;

TEST(LzhStream, DecodingNothingReadsNothing)
{
    for (int32_t count : {0, -1, -100000}) {
        // No symbol can be read without asking the source.
        TLZH lzh;
        TCountingSource source(LZHEncode(Str("abc")));
        TVectorByteSink sink;
        lzh.Decode(count, source, sink);
        EXPECT_EQ(source.Refills, 0) << count;
        EXPECT_TRUE(sink.Bytes().empty()) << count;
    }
}

TEST(LzhStream, DecoderFollowsTheFormatThroughRebuildsAndAllPositions)
{
    // Literals first so that every match reads bytes already written, then random symbols
    // of every kind and every position value, enough to rebuild the tree more than once.
    std::vector<TSymbol> symbols;
    uint32_t x = 5;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    for (int i = 0; i < 64; ++i)
        symbols.push_back(Lit(int(next() % 256)));
    for (int i = 0; i < 80000; ++i) {
        uint32_t v = next();
        if (v % 3 == 0)
            symbols.push_back({256 + int((v >> 8) % 58), int((v >> 16) % 4096)});
        else
            symbols.push_back(Lit(int((v >> 8) % 256)));
    }
    Bytes stream = lzhmodel::EncodeSymbols(symbols);
    // Decode exactly as many bytes as the symbols produce.
    int64_t produced = 0;
    for (const auto& s : symbols)
        produced += s.Symbol < 256 ? 1 : s.Symbol - 253;
    auto expected = lzhmodel::Decode(stream, produced);
    ASSERT_EQ(expected.Trace, symbols);
    ASSERT_GE(expected.Rebuilds, 2);

    // The decoder must read the symbols as the model does: any other reading gives other bytes.
    EXPECT_TRUE(LZHDecode(stream, int32_t(produced)) == expected.Bytes) << "bytes differ";
}

TEST(LzhStream, DecoderReadsCodesLongerThan16Bits)
{
    // Fibonacci-like frequencies push the unused leaves to the bottom of a long chain.
    std::vector<TSymbol> symbols;
    Bytes literals;
    for (long a = 1, b = 1, k = 0; k < 9; ++k) {
        long weight = long(305 * a * 1.1 + 0.5);
        for (long i = 0; i < weight; ++i)
            symbols.push_back(Lit(int('A' + k)));
        long t = a + b;
        a = b;
        b = t;
    }
    for (int rare : {200, 201, 0, 255, 17})
        symbols.push_back(Lit(rare));
    symbols.push_back(Match(60, 4095));
    symbols.push_back(Match(3, 1000));
    int deepest = 0;
    Bytes stream = lzhmodel::EncodeSymbols(symbols, &deepest);
    ASSERT_GT(deepest, 16);
    auto expected = lzhmodel::Decode(stream, int64_t(symbols.size()) - 2 + 63);
    ASSERT_EQ(expected.Trace, symbols);

    EXPECT_TRUE(LZHDecode(stream, int32_t(expected.Bytes.size())) == expected.Bytes);
}

TEST(LzhStream, DecodingStopsAtTheFirstCodePastTheEnd)
{
    for (const auto& input : {Str("abc"), TextBytes(5000, 3)}) {
        SCOPED_TRACE(input.size());
        Bytes stream = LZHEncode(input);
        const int32_t asked = int32_t(input.size()) + 700;
        Bytes output;
        ASSERT_NO_THROW(output = LZHDecode(stream, asked));
        // Only the padding of the last byte may still give a code or two; reading on in zero
        // bits would make up the whole rest.
        auto zeroBits = lzhmodel::Decode(stream, asked);
        ASSERT_GE(zeroBits.Bytes.size(), size_t(asked));
        EXPECT_GE(output.size(), input.size());
        EXPECT_LE(output.size(), input.size() + 7 * 60);
        EXPECT_TRUE(std::equal(output.begin(), output.end(), zeroBits.Bytes.begin()));
    }
    // The whole payload gone: not a byte comes out.
    TLZH lzh;
    TCountingSource source({});
    TVectorByteSink sink;
    lzh.Decode(1000000, source, sink);
    EXPECT_TRUE(sink.Bytes().empty());
}

TEST(LzhStream, DecoderGivesTheSameBytesWhateverPiecesItReadsAndWrites)
{
    // The bit reader takes 8 bytes at a time only where the source shows them; matches cross the
    // decoder's output pieces of 32 KB; the sink is filled before each drain, as by Put.
    const Bytes input = MixedBytes(150000);
    const Bytes stream = LZHEncode(input);
    for (size_t piece : {size_t(1), size_t(3), size_t(8), size_t(9), size_t(4099)}) {
        SCOPED_TRACE(piece);
        TLZH lzh;
        TCountingSource source(stream, piece);
        TPieceSink sink;
        lzh.Decode(int32_t(input.size()), source, sink);
        EXPECT_TRUE(sink.Finish() == input);
        ASSERT_GE(sink.Drains.size(), 2u);
        for (size_t i = 0; i + 1 < sink.Drains.size(); ++i)
            ASSERT_EQ(sink.Drains[i], 7u) << "drain " << i;
        // Never more than the stream, nor a refill after its end was seen.
        EXPECT_LE(source.Refills, int((stream.size() + piece - 1) / piece) + 1);
    }
}
