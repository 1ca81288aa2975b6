// TLZR: exact block bytes, decoding, and refusal of corrupt blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "TestHosts.h"
#include "TestMemory.h"
#include "compress/LZRW1KH.h"

namespace {

constexpr size_t DestSlack = 6;
constexpr uint8_t Sentinel = 0x5A;

// Compresses through buffers shaped as the container's: 2 readable bytes after the data
// (filled with junk that must not matter) and a guard zone after the writable Size + 6.
Bytes CompressWith(TLZR& lzr, const Bytes& input)
{
    Bytes source(input);
    source.push_back(0xA5);
    source.push_back(0x3C);
    Bytes dest(input.size() + DestSlack + 32, Sentinel);
    uint16_t length = lzr.CompressBlock(source.data(), dest.data(), static_cast<uint16_t>(input.size()));
    EXPECT_LE(length, input.size() + 1);
    EXPECT_TRUE(std::all_of(dest.begin() + static_cast<long>(input.size() + DestSlack), dest.end(),
                            [](uint8_t b) { return b == Sentinel; }))
        << "wrote past Size + 6";
    dest.resize(length);
    return dest;
}

Bytes Compress(const Bytes& input)
{
    TLZR lzr;
    return CompressWith(lzr, input);
}

Bytes DecompressWith(TLZR& lzr, const Bytes& block)
{
    // The block alone on the heap, so that a read past its end is a read past the allocation.
    Bytes source(block);
    Bytes dest(TLZR::BlockSize + 16);
    uint16_t produced = lzr.DecompressBlock(source.data(), dest.data(), static_cast<uint16_t>(block.size()));
    dest.resize(produced);
    return dest;
}

Bytes Decompress(const Bytes& block)
{
    TLZR lzr;
    return DecompressWith(lzr, block);
}

Bytes Repeat(const Bytes& piece, size_t times)
{
    Bytes out;
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), piece.begin(), piece.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// An independent model of the block compressor, written from the format's rules, to pin the
// exact output on arbitrary data (hash slots, overwrites, window limit, caps).
Bytes ModelCompress(const Bytes& in)
{
    const uint32_t size = static_cast<uint32_t>(in.size());
    auto at = [&](uint32_t i) -> uint32_t { return i < size ? in[i] : 0; };
    std::vector<int32_t> table(4096, -1);
    Bytes d(size + 8, 0);
    d[0] = 0x40;
    uint32_t x = 0, y = 3, z = 1, b = 0, c = 0;
    while (x < size && y <= size) {
        if (b > 15) {
            d[z] = uint8_t(c >> 8);
            d[z + 1] = uint8_t(c);
            z = y;
            b = 0;
            y += 2;
        }
        uint32_t run = 1;
        while (x + run < size && in[x + run] == in[x] && run < 4095)
            ++run;
        if (run >= 16) {
            d[y] = 0;
            d[y + 1] = uint8_t((run - 16) >> 8);
            d[y + 2] = uint8_t(run - 16);
            d[y + 3] = in[x];
            y += 4;
            x += run;
            c = ((c << 1) | 1) & 0xFFFF;
        } else {
            uint32_t key = ((at(x) * 16) ^ at(x + 1)) * 16 ^ at(x + 2);
            uint32_t index = ((key * 40543u) >> 4) & 0xFFF;
            int32_t p = table[index];
            table[index] = int32_t(x);
            uint32_t m = 0;
            if (p != -1 && x - uint32_t(p) < 4096)
                while (m < 18 && x + m < size && in[x + m] == in[uint32_t(p) + m])
                    ++m;
            if (m >= 3) {
                uint32_t value = (x - uint32_t(p)) * 16 + (m - 3);
                d[y] = uint8_t(value >> 8);
                d[y + 1] = uint8_t(value);
                y += 2;
                x += m;
                c = ((c << 1) | 1) & 0xFFFF;
            } else {
                d[y] = in[x];
                y += 1;
                x += 1;
                c = (c << 1) & 0xFFFF;
            }
        }
        ++b;
    }
    c = (c << (16 - b)) & 0xFFFF;
    d[z] = uint8_t(c >> 8);
    d[z + 1] = uint8_t(c);
    if (y > size) {
        Bytes stored{0x80};
        stored.insert(stored.end(), in.begin(), in.end());
        return stored;
    }
    d.resize(y);
    return d;
}

// A block of eight runs of 4096 bytes 61 (the control word given), 32768 bytes in all; the
// last run's low length byte can be changed.
Bytes EightRuns(uint8_t controlHigh, uint8_t controlLow, uint8_t lastLow = 0xF0)
{
    Bytes b{0x40, controlHigh, controlLow};
    for (int i = 0; i < 8; ++i)
        b.insert(b.end(), {0x00, 0x0F, i == 7 ? lastLow : uint8_t(0xF0), 0x61});
    return b;
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return s;
}

struct TVector {
    const char* Name;
    Bytes Input;
    Bytes Block;
};

std::vector<TVector> Vectors()
{
    Bytes abc{0x61, 0x62, 0x63};
    Bytes alphabet20;
    for (uint8_t ch = 'a'; ch < 'a' + 20; ++ch)
        alphabet20.push_back(ch);
    return {
        {"Empty", {}, {0x80}},
        {"ThreeBytesStored", abc, {0x80, 0x61, 0x62, 0x63}},
        {"TwentyEqualBytesAreOneRun", Bytes(20, 0x61), {0x40, 0x80, 0x00, 0x00, 0x00, 0x04, 0x61}},
        {"CopyCutAtBlockEnd", Repeat(abc, 6), {0x40, 0x10, 0x00, 0x61, 0x62, 0x63, 0x00, 0x3C}},
        {"SameLengthStaysCompressed", {0x62, 0x62, 0x62, 0x62, 0x62, 0x62, 0x61},
         {0x40, 0x40, 0x00, 0x62, 0x00, 0x12, 0x61}},
        {"FifteenEqualBytesAreNoRun", Bytes(15, 0x61), {0x40, 0x40, 0x00, 0x61, 0x00, 0x1B}},
        {"LongRunSplitAt4095", Bytes(5000, 0x71),
         {0x40, 0xC0, 0x00, 0x00, 0x0F, 0xEF, 0x71, 0x00, 0x03, 0x79, 0x71}},
        // The farthest copy the offset field holds; the zeros between are a run and leave the
        // hash slot of "abc" alone.
        {"CopyAtDistance4095", Cat({abc, Bytes(4092, 0), abc}),
         {0x40, 0x18, 0x00, 0x61, 0x62, 0x63, 0x00, 0x0F, 0xEC, 0x00, 0xFF, 0xF0}},
        {"NoCopyAtDistance4096", Cat({abc, Bytes(4093, 0), abc}),
         {0x40, 0x10, 0x00, 0x61, 0x62, 0x63, 0x00, 0x0F, 0xED, 0x00, 0x61, 0x62, 0x63}},
        // Copies stop at 18 bytes; the 17th item opens a second group.
        {"CopyCappedAt18SecondGroup", Cat({alphabet20, alphabet20}),
         Cat({{0x40, 0x00, 0x00},
              Bytes(alphabet20.begin(), alphabet20.begin() + 16),
              {0x08, 0x00, 'q', 'r', 's', 't', 0x01, 0x4F, 's', 't'}})},
    };
}

} // namespace

TEST(LzrBlock, CompressesToTheExactBytes)
{
    for (const auto& v : Vectors()) {
        SCOPED_TRACE(v.Name);
        EXPECT_EQ(Compress(v.Input), v.Block);
    }
}

TEST(LzrBlock, DecompressesTheVectorsBack)
{
    for (const auto& v : Vectors()) {
        SCOPED_TRACE(v.Name);
        EXPECT_EQ(Decompress(v.Block), v.Input);
    }
}

TEST(LzrBlock, IncompressibleFullBlockIsStoredWithOneByteMore)
{
    Bytes data = RandomBytes(TLZR::BlockSize, 99);
    Bytes block = Compress(data);
    ASSERT_EQ(block.size(), 32769u);
    EXPECT_EQ(block[0], 0x80);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), block.begin() + 1));
    EXPECT_EQ(Decompress(block), data);
}

TEST(LzrBlock, ShortBlocksDecodeToNothing)
{
    EXPECT_TRUE(Decompress({}).empty());
    EXPECT_TRUE(Decompress({0x80}).empty());
    EXPECT_TRUE(Decompress({0x40}).empty());
    // A lone control word announces items that are not there: nothing to produce.
    EXPECT_TRUE(Decompress({0x40, 0x00, 0x00}).empty());
}

TEST(LzrBlock, AnyFlagButStoredIsReadAsCompressed)
{
    for (uint8_t flag : {0x00, 0x41, 0xFF}) {
        SCOPED_TRACE(int(flag));
        EXPECT_EQ(Decompress({flag, 0x80, 0x00, 0x00, 0x00, 0x04, 0x61}), Bytes(20, 0x61));
    }
}

TEST(LzrBlock, OverlappingCopyRepeatsThePattern)
{
    // "ab", then a copy of 18 from 2 back.
    Bytes expected;
    for (int i = 0; i < 20; ++i)
        expected.push_back(i % 2 ? 'b' : 'a');
    EXPECT_EQ(Decompress({0x40, 0x20, 0x00, 'a', 'b', 0x00, 0x2F}), expected);
}

TEST(LzrBlock, MatchesTheFormatModelOnVariedData)
{
    struct TCase {
        const char* Name;
        Bytes Data;
    };
    std::vector<TCase> cases;
    for (size_t size : {1u, 2u, 3u, 16u, 17u, 100u, 4095u, 4096u, 4097u, 20000u, 32767u, 32768u}) {
        cases.push_back({"random", RandomBytes(size, uint32_t(size))});
        cases.push_back({"text", TextBytes(size, uint32_t(size))});
        cases.push_back({"mixed", MixedBytes(size)});
    }
    // Many short repeats far apart: hash slots get overwritten and the window limit matters.
    Bytes sparse = RandomBytes(32768, 4);
    for (size_t i = 0; i + 8 < sparse.size(); i += 4093)
        std::copy(sparse.begin(), sparse.begin() + 8, sparse.begin() + long(i));
    cases.push_back({"sparse repeats", sparse});
    // A small alphabet: few distinct keys, many collisions and copies of every length.
    Bytes small = RandomBytes(32768, 5);
    for (auto& b : small)
        b &= 3;
    cases.push_back({"four symbols", small});

    TLZR lzr; // one object for all: every block must start from an empty table
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(c.Data.size()));
        Bytes block = CompressWith(lzr, c.Data);
        EXPECT_EQ(block, ModelCompress(c.Data));
        EXPECT_EQ(DecompressWith(lzr, block), c.Data);
    }
}

TEST(LzrBlock, EachBlockStartsWithAnEmptyHashTable)
{
    TLZR shared;
    Bytes first = TextBytes(32768, 1);
    Bytes second = TextBytes(32768, 2);
    CompressWith(shared, first);
    TLZR fresh;
    EXPECT_EQ(CompressWith(shared, second), CompressWith(fresh, second));
}

TEST(LzrBlock, AcceptsBlocksAtTheLimits)
{
    // A copy reaching back exactly to the first byte.
    EXPECT_EQ(Decompress({0x40, 0x40, 0x00, 0x61, 0x00, 0x10}), Bytes(4, 0x61));
    // Eight runs of 4096 fill the block exactly.
    EXPECT_EQ(Decompress(EightRuns(0xFF, 0x00)), Bytes(32768, 0x61));
    // A stored full block.
    Bytes stored{0x80};
    Bytes data = RandomBytes(32768, 8);
    stored.insert(stored.end(), data.begin(), data.end());
    EXPECT_EQ(Decompress(stored), data);
}

TEST(LzrBlock, RefusesCorruptBlocks)
{
    Bytes sixteenLiterals = Cat({{0x40, 0x00, 0x00}, Bytes(16, 0x61)});
    struct TCase {
        const char* Name;
        Bytes Block;
    };
    const TCase cases[] = {
        {"control word cut after its first byte", {0x40, 0x00}},
        {"copy from before the first byte", {0x40, 0x80, 0x00, 0x00, 0x13}},
        {"copy farther back than produced", {0x40, 0x40, 0x00, 0x61, 0x00, 0x23}},
        {"copy item cut short", {0x40, 0x80, 0x00, 0x01}},
        {"run item cut short", {0x40, 0x80, 0x00, 0x00, 0x00, 0x05}},
        {"run item with only its marker", {0x40, 0x80, 0x00, 0x00}},
        {"second control word cut short", Cat({sixteenLiterals, {0x00}})},
        {"control word without its item", Cat({sixteenLiterals, {0x00, 0x00}})},
        {"a run beyond 32768 bytes", Cat({EightRuns(0xFF, 0x80), {0x00, 0x00, 0x00, 0x62}})},
        {"a run one byte beyond 32768 bytes", EightRuns(0xFF, 0x00, 0xF1)},
        {"a literal beyond 32768 bytes", Cat({EightRuns(0xFF, 0x00), {0x62}})},
        {"a copy beyond 32768 bytes", Cat({EightRuns(0xFF, 0x80), {0x00, 0x10}})},
        {"stored block beyond 32768 bytes", Cat({{0x80}, Bytes(32769, 0x33)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            Decompress(c.Block);
            ADD_FAILURE() << "accepted";
        } catch (const ELzrw1Exception& e) {
            EXPECT_NE(Lower(e.what()).find("corrupt"), std::string::npos) << e.what();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "wrong exception class: " << e.what();
        }
    }
}

TEST(LzrBlock, HashTableFailureIsReported)
{
    TTestMemory memory;
    memory.FailAfter(0);
    try {
        TLZR lzr(memory);
        FAIL() << "constructed without its table";
    } catch (const ELzrw1KHCompressor& e) {
        EXPECT_STREQ(e.what(), "LZRW1KH : no memory for HASH table");
    }
}

namespace {

// Items of every kind in random order: literals, copies from up to 4200 back (past the window,
// and short periods that copy from themselves), runs of many lengths, text and random stretches.
Bytes ItemSoup(size_t size, uint32_t seed)
{
    Bytes data;
    uint32_t x = seed;
    auto next = [&](uint32_t bound) {
        x = x * 1103515245u + 12345u;
        return (x >> 8) % bound;
    };
    while (data.size() < size) {
        const uint32_t kind = next(8);
        if (kind < 3 && !data.empty()) {
            const size_t distance = 1 + next(static_cast<uint32_t>(std::min<size_t>(data.size(), 4200)));
            const size_t length = 1 + next(kind == 0 ? 6 : 24);
            for (size_t i = 0; i < length; ++i)
                data.push_back(data[data.size() - distance]);
        } else if (kind == 3) {
            data.insert(data.end(), next(8) == 0 ? 4000 + next(1000) : 10 + next(30), uint8_t(next(256)));
        } else if (kind == 4) {
            Bytes text = TextBytes(1 + next(60), x);
            data.insert(data.end(), text.begin(), text.end());
        } else {
            Bytes noise = RandomBytes(1 + next(kind == 5 ? 300 : 8), x);
            data.insert(data.end(), noise.begin(), noise.end());
        }
    }
    data.resize(size);
    return data;
}

void ExpectModelAndRoundTrip(TLZR& lzr, const Bytes& data)
{
    Bytes block = CompressWith(lzr, data);
    EXPECT_EQ(block, ModelCompress(data));
    EXPECT_EQ(DecompressWith(lzr, block), data);
}

} // namespace

TEST(LzrBlock, MatchesTheFormatModelOnItemSoup)
{
    TLZR lzr;
    // Sizes around the least that is coded in whole groups, and up to a full block.
    for (size_t size : {311u, 312u, 313u, 500u, 1100u, 4200u, 32768u})
        for (uint32_t seed = 1; seed <= 12; ++seed) {
            SCOPED_TRACE("size " + std::to_string(size) + " seed " + std::to_string(seed));
            ExpectModelAndRoundTrip(lzr, ItemSoup(size, seed));
        }
}

TEST(LzrBlock, MatchesTheFormatModelWhereRunsEndNearBoundaries)
{
    // A run that jumps close to the block's end, or across a stretch the coder prepares ahead,
    // and the items right after it.
    TLZR lzr;
    const Bytes text = TextBytes(32768, 3);
    for (size_t runEnd : {1024u, 2048u, 32768u - 312u, 32768u - 24u})
        for (int shift = -20; shift <= 20; shift += 3) {
            SCOPED_TRACE("run end " + std::to_string(runEnd + shift));
            Bytes data = text;
            std::fill(data.begin() + long(runEnd + shift) - 600, data.begin() + long(runEnd + shift), 0xF6);
            ExpectModelAndRoundTrip(lzr, data);
        }
}

TEST(LzrBlock, MatchesTheFormatModelOnLongCopiesUpToTheBlockEnd)
{
    // A repeated pattern: every item is a copy of 18, so a group covers the most bytes it can,
    // right up to where the block's last bytes are coded one by one.
    TLZR lzr;
    for (size_t size = 32768; size > 32768 - 300; size -= 5) {
        SCOPED_TRACE("size " + std::to_string(size));
        const Bytes piece = RandomBytes(100 + size % 50, uint32_t(size));
        Bytes data = Repeat(piece, size / piece.size() + 1);
        data.resize(size);
        ExpectModelAndRoundTrip(lzr, data);
    }
}

TEST(LzrBlock, MatchesTheFormatModelWhenTheOutputNearsTheBlockSize)
{
    // Compressible bytes, then incompressible ones: the output grows past the point where a
    // whole group still fits, and ends either just compressed or stored.
    TLZR lzr;
    bool compressed = false, stored = false;
    for (size_t split = 5300; split <= 5800; split += 20) {
        SCOPED_TRACE("split " + std::to_string(split));
        Bytes data = Cat({TextBytes(split, 9), RandomBytes(32768 - split, uint32_t(split))});
        Bytes block = CompressWith(lzr, data);
        (block[0] == 0x80 ? stored : compressed) = true;
        EXPECT_EQ(block, ModelCompress(data));
        EXPECT_EQ(DecompressWith(lzr, block), data);
    }
    EXPECT_TRUE(compressed && stored);
}

TEST(LzrBlock, RefusesCorruptItemsInLongBlocks)
{
    // Long enough that whole groups are decoded at once; the faults must still be found there.
    const Bytes filler = Cat({{0x00, 0x00}, Bytes(16, 0x62), {0x00, 0x00}, Bytes(16, 0x63),
                              {0x00, 0x00}, Bytes(16, 0x64), {0x00, 0x00}, Bytes(16, 0x65)});
    Bytes runs{0x40, 0xFE, 0x00};
    for (int i = 0; i < 7; ++i)
        runs.insert(runs.end(), {0x00, 0x0F, 0xF0, 0x61});
    runs.insert(runs.end(), 9, 0x61);
    struct TCase {
        const char* Name;
        Bytes Block;
    };
    const TCase cases[] = {
        {"first item copies from before the start", Cat({{0x40, 0x80, 0x00, 0x00, 0x10}, Bytes(15, 0x61), filler})},
        {"copy one byte farther back than produced",
         Cat({{0x40, 0x00, 0x00}, Bytes(16, 0x61), {0x80, 0x00, 0x01, 0x10}, Bytes(15, 0x61), filler})},
        {"run past 32768 bytes in a group with room for copies",
         Cat({runs, {0x80, 0x00, 0x00, 0x0F, 0xFF, 0x61}, Bytes(15, 0x61), filler})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_THROW(Decompress(c.Block), ELzrw1Exception);
    }
    // The same shapes with the fault removed decode.
    EXPECT_EQ(Decompress(Cat({{0x40, 0x00, 0x00}, Bytes(16, 0x61), {0x80, 0x00, 0x01, 0x00}, Bytes(15, 0x61), filler}))
                  .size(),
              16u + 3 + 15 + 64);
    EXPECT_EQ(Decompress(Cat({runs, {0x80, 0x00, 0x00, 0x0F, 0x98, 0x61}, Bytes(15, 0x61), filler})).size(),
              32768u);
}
