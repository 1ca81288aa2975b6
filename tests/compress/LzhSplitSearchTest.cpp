// The encoder's search split over two threads: the one-thread stream, whatever the blocks and
// the trees that move between the threads.
#include <gtest/gtest.h>

#include "LzhTestSupport.h"

using namespace lzhtest;

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
