// TLZH: exact bit streams, the symbols the encoder chooses, the adaptive tree under stress,
// and how the codec behaves at the edges of its input.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "LzhModel.h"
#include "TestHosts.h"
#include "TestMemory.h"
#include "compress/lzh.h"

using lzhmodel::TSymbol;

namespace {

// A source that counts its refills and hands out its data in pieces.
class TCountingSource : public TLZHByteSource {
public:
    explicit TCountingSource(Bytes data, size_t piece = 1000) : Data(std::move(data)), Piece(piece) {}
    int Refills = 0;
    size_t Delivered = 0;

protected:
    bool Refill() override
    {
        ++Refills;
        if (Delivered >= Data.size())
            return false;
        size_t n = std::min(Piece, Data.size() - Delivered);
        Next = Data.data() + Delivered;
        Limit = Next + n;
        Delivered += n;
        return true;
    }

private:
    Bytes Data;
    size_t Piece;
};

class TSourceBroke : public std::runtime_error {
public:
    TSourceBroke() : std::runtime_error("source broke") {}
};

// Fails on the refill after the first one.
class TBreakingSource : public TCountingSource {
public:
    using TCountingSource::TCountingSource;

protected:
    bool Refill() override
    {
        if (Refills == 1)
            throw TSourceBroke();
        return TCountingSource::Refill();
    }
};

class TSinkBroke : public std::runtime_error {
public:
    TSinkBroke() : std::runtime_error("sink broke") {}
};

class TBreakingSink : public TLZHByteSink {
public:
    TBreakingSink() { Next = Window, Limit = Window + sizeof(Window); }

protected:
    void Drain() override { throw TSinkBroke(); }

private:
    uint8_t Window[64];
};

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Keeps what is put, and the size of every drain.
class TPieceSink : public TLZHByteSink {
public:
    TPieceSink() { Next = Window, Limit = Window + sizeof(Window); }
    Bytes Done;
    std::vector<size_t> Drains;
    Bytes Finish()
    {
        Drain();
        return Done;
    }

protected:
    void Drain() override
    {
        Drains.push_back(size_t(Next - Window));
        Done.insert(Done.end(), Window, Next);
        Next = Window;
    }

private:
    uint8_t Window[7];
};

// Index of the first symbol that differs, -1 when the traces are equal.
long FirstDifference(const std::vector<TSymbol>& a, const std::vector<TSymbol>& b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (!(a[i] == b[i]))
            return long(i);
    return a.size() == b.size() ? -1 : long(n);
}

TSymbol Lit(int byte) { return {byte, -1}; }
TSymbol Match(int length, int position) { return {253 + length, position}; }

std::string Show(const std::vector<TSymbol>& trace)
{
    std::string s;
    for (const auto& t : trace)
        s += t.Symbol < 256 ? "lit " + std::to_string(t.Symbol) + "; "
                            : "len " + std::to_string(t.Symbol - 253) + "@" + std::to_string(t.Position) + "; ";
    return s;
}

// The encoder's ways of working, which must all give one stream: the search on one thread, and
// split over two from the first byte on, in the usual blocks and in blocks small enough to move
// trees between the threads all the time.
struct TMode {
    const char* Name;
    bool Split;
    int32_t Block;
};
const TMode Modes[] = {{"one thread", false, 32768}, {"two threads", true, 32768}, {"two threads, small blocks", true, 300}};

Bytes EncodeIn(const TMode& mode, const Bytes& input, size_t piece = 1000)
{
    TLZH lzh;
    lzh.SearchThread = mode.Split;
    lzh.SplitFrom = 0;
    lzh.SplitBlock = mode.Block;
    TCountingSource source(input, piece);
    TVectorByteSink sink;
    int32_t count = -1;
    lzh.Encode(count, source, sink);
    EXPECT_EQ(count, int32_t(input.size())) << mode.Name;
    return sink.Bytes();
}

// Copies of recent data whose lengths 3..10 come with Fibonacci-like frequencies, each copy
// chosen so that the one before it cannot grow: the encoder then sends exactly these lengths,
// and a rarely used leaf sinks far below 16 levels. A fresh byte at the end is sent from there.
Bytes DeepLeafData()
{
    auto longest = [](const Bytes& data, size_t pos) {
        int best = 0;
        size_t lo = pos > 4036 ? pos - 4036 : 0;
        for (size_t p = pos; p-- > lo && best < 60;) {
            int l = 0;
            while (l < 60 && pos + l < data.size() && data[p + l] == data[pos + l])
                ++l;
            best = std::max(best, l);
        }
        return best;
    };
    uint32_t x = 99;
    auto next = [&x] {
        x = x * 1103515245u + 12345u;
        return x >> 8;
    };
    Bytes data;
    for (int i = 0; i < 64; ++i)
        data.push_back(uint8_t('A' + (next() >> 8) % 26));
    const int kinds = 8;
    std::vector<long> left;
    for (long a = 1, b = 1, k = 0; k < kinds; ++k) {
        left.push_back(long(306 * a * 1.5 + 0.5));
        long t = a + b;
        a = b;
        b = t;
    }
    long total = 0;
    for (long w : left)
        total += w;
    size_t previousStart = 0;
    int previousLength = 0;
    for (long n = 0; n < total; ++n) {
        long pick = long(next() % uint32_t(total - n));
        int kind = 0;
        for (long acc = 0; kind < kinds; ++kind) {
            acc += left[kind];
            if (pick < acc)
                break;
        }
        --left[kind];
        int length = 3 + (kinds - 1 - kind); // the heaviest weight goes to the shortest copy
        size_t start = data.size();
        for (int tries = 0; tries < 60; ++tries) {
            data.resize(start);
            size_t lo = start > 4000 ? start - 4000 : 0;
            size_t from = lo + next() % uint32_t(start - length - lo);
            for (int q = 0; q < length; ++q)
                data.push_back(data[from + q]);
            if (previousLength == 0 || longest(data, previousStart) == previousLength)
                break;
        }
        previousStart = start;
        previousLength = length;
    }
    data.push_back(0xEE);
    return data;
}

} // namespace

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

TEST(LzhStream, SplitSearchGivesTheFormatsStream)
{
    // Lengths about the blocks the two threads hand each other, fed in odd pieces, and the
    // shortest inputs, whose strings read the ring's first contents and its cleared mirror.
    for (size_t size : {size_t(1), size_t(60), size_t(118), size_t(119), size_t(4096), size_t(32767),
                        size_t(32768), size_t(32769), size_t(32768 + 59), size_t(32768 + 60), size_t(131073), size_t(262205)}) {
        Bytes input = MixedBytes(size);
        Bytes expected = lzhmodel::Encode(input);
        for (const TMode& mode : Modes) {
            SCOPED_TRACE(std::to_string(size) + ", " + mode.Name);
            EXPECT_TRUE(EncodeIn(mode, input, 777) == expected);
        }
    }
    // Inputs ending just after a block: the matches of the block before must be cut short.
    for (size_t past : {size_t(1), size_t(30), size_t(59)}) {
        Bytes input(32768 + past, 'x');
        input[0] = 'y';
        Bytes expected = lzhmodel::Encode(input);
        for (const TMode& mode : Modes) {
            SCOPED_TRACE(std::to_string(past) + " past a block, " + mode.Name);
            EXPECT_TRUE(EncodeIn(mode, input) == expected);
        }
    }
    // Blocks of unlike bytes, so that the trees move between the threads again and again, some
    // back to where they were; the repeats make full-length matches, which drop strings from a
    // tree while it is away.
    Bytes shifting;
    const Bytes repeat = TextBytes(61, 5);
    for (int part = 0; part < 60; ++part) {
        Bytes piece = part % 3 == 0 ? TextBytes(700, uint32_t(part)) : RandomBytes(250, uint32_t(part));
        for (size_t i = 0; i < piece.size(); ++i)
            piece[i] = part % 3 == 1 ? repeat[i % repeat.size()] : part % 3 == 2 ? uint8_t(128 + piece[i] % 40) : piece[i];
        shifting.insert(shifting.end(), piece.begin(), piece.end());
    }
    Bytes expected = lzhmodel::Encode(shifting);
    for (int32_t block : {60, 97, 300, 4096}) {
        SCOPED_TRACE(block);
        EXPECT_TRUE(EncodeIn({"two threads", true, block}, shifting, 333) == expected);
    }
}

TEST(LzhStream, SplitSearchWaitsForEnoughInput)
{
    // Below SplitFrom the input is searched on one thread: the same stream, and the source read
    // to its end once.
    Bytes input = TextBytes(50000, 21);
    for (int32_t from : {0, 49999, 50000, 50001, 1 << 20}) {
        SCOPED_TRACE(from);
        TLZH lzh;
        lzh.SplitFrom = from;
        TCountingSource source(input, 4096);
        TVectorByteSink sink;
        int32_t count = 0;
        lzh.Encode(count, source, sink);
        EXPECT_EQ(count, 50000);
        EXPECT_TRUE(sink.Bytes() == LZHEncode(input));
        EXPECT_EQ(source.Delivered, input.size());
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

TEST(LzhStream, EncoderSendsAllBitsOfDeepCodes)
{
    Bytes data = DeepLeafData();
    Bytes stream = LZHEncode(data);
    auto model = lzhmodel::Decode(stream, int64_t(data.size()));
    EXPECT_TRUE(model.Bytes == data) << "the bits differ from the format";
    EXPECT_GT(model.DeepestCode, 16) << "the data no longer drives a leaf below 16 levels";
    EXPECT_TRUE(LZHDecode(stream, int32_t(data.size())) == data) << "round trip";
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
