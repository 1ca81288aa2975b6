// Shared pieces of the LZH codec's tests: sources and sinks that count, break or cut, the
// encoder's ways of working, and data that drives the adaptive tree deep.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "LzhModel.h"
#include "TestHosts.h"
#include "compress/lzh.h"

namespace lzhtest {

using lzhmodel::TSymbol;

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

inline Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

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
inline long FirstDifference(const std::vector<TSymbol>& a, const std::vector<TSymbol>& b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (!(a[i] == b[i]))
            return long(i);
    return a.size() == b.size() ? -1 : long(n);
}

inline TSymbol Lit(int byte) { return {byte, -1}; }
inline TSymbol Match(int length, int position) { return {253 + length, position}; }

inline std::string Show(const std::vector<TSymbol>& trace)
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

inline Bytes EncodeIn(const TMode& mode, const Bytes& input, size_t piece = 1000)
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
inline Bytes DeepLeafData()
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

} // namespace lzhtest
