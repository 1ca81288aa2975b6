// An independent model of the LZH codec (match search, adaptive Huffman code, position
// code, bit packing), written plainly from the format's rules. It decodes the engine's
// streams, writes the streams the engine's encoder must write, and writes symbol streams the
// engine's decoder must read, so encoder and decoder cannot drift together unnoticed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace lzhmodel {

constexpr int Symbols = 314;
constexpr int Nodes = 2 * Symbols - 1; // 627
constexpr int Root = Nodes - 1;        // 626
constexpr uint16_t Limit = 0x8000;

class THuffman {
public:
    THuffman() { Start(); }

    void Start()
    {
        for (int c = 0; c < Symbols; ++c) {
            Freq[c] = 1;
            Child[c] = int16_t(c + Nodes);
            Parent[c + Nodes] = int16_t(c);
        }
        for (int i = 0, j = Symbols; j <= Root; ++j, i += 2) {
            Freq[j] = uint16_t(Freq[i] + Freq[i + 1]);
            Child[j] = int16_t(i);
            Parent[i] = Parent[i + 1] = int16_t(j);
        }
        Freq[Nodes] = 0xFFFF;
        Parent[Root] = 0;
    }

    void Update(int c)
    {
        if (Freq[Root] == Limit)
            Rebuild();
        int n = Parent[c + Nodes];
        do {
            uint16_t k = ++Freq[n];
            if (k > Freq[n + 1]) {
                int m = n + 1;
                while (Freq[m + 1] < k)
                    ++m;
                Freq[n] = Freq[m];
                Freq[m] = k;
                int a = Child[n];
                Parent[a] = int16_t(m);
                if (a < Nodes)
                    Parent[a + 1] = int16_t(m);
                int b = Child[m];
                Child[m] = int16_t(a);
                Parent[b] = int16_t(n);
                if (b < Nodes)
                    Parent[b + 1] = int16_t(n);
                Child[n] = int16_t(b);
                n = m;
            }
            n = Parent[n];
        } while (n != 0);
    }

    // Path bits from the root side down to the leaf of symbol c.
    std::vector<int> Code(int c) const
    {
        std::vector<int> up;
        for (int n = Parent[c + Nodes]; n != Root; n = Parent[n])
            up.push_back(n & 1);
        return std::vector<int>(up.rbegin(), up.rend());
    }
    int Depth(int c) const { return int(Code(c).size()); }
    int MaxDepth() const
    {
        int deepest = 0;
        for (int c = 0; c < Symbols; ++c)
            deepest = std::max(deepest, Depth(c));
        return deepest;
    }

    template <class TReadBit>
    int Receive(TReadBit readBit) const
    {
        int n = Child[Root];
        while (n < Nodes)
            n = Child[n + readBit()];
        return n - Nodes;
    }

    int Rebuilds = 0;

private:
    void Rebuild()
    {
        ++Rebuilds;
        int j = 0;
        for (int i = 0; i < Nodes; ++i)
            if (Child[i] >= Nodes) {
                Freq[j] = uint16_t((Freq[i] + 1) / 2);
                Child[j] = Child[i];
                ++j;
            }
        for (int i = 0, k = Symbols; k <= Root; ++k, i += 2) {
            uint16_t f = uint16_t(Freq[i] + Freq[i + 1]);
            int p = k - 1;
            while (f < Freq[p])
                --p;
            ++p;
            for (int q = k; q > p; --q) {
                Freq[q] = Freq[q - 1];
                Child[q] = Child[q - 1];
            }
            Freq[p] = f;
            Child[p] = int16_t(i);
        }
        for (int i = 0; i < Nodes; ++i) {
            int v = Child[i];
            Parent[v] = int16_t(i);
            if (v < Nodes)
                Parent[v + 1] = int16_t(i);
        }
    }

    uint16_t Freq[Nodes + 1];
    int16_t Parent[Nodes + Symbols];
    int16_t Child[Nodes];
};

// Code length of the upper 6 bits of a position.
inline int PositionLength(int upper)
{
    return upper < 1 ? 3 : upper < 4 ? 4 : upper < 12 ? 5 : upper < 24 ? 6 : upper < 48 ? 7 : 8;
}
// Canonical code of the upper 6 bits: each one more than the previous, widened with zeros.
inline int PositionCode(int upper)
{
    int code = 0;
    for (int u = 1; u <= upper; ++u)
        code = (code + 1) << (PositionLength(u) - PositionLength(u - 1));
    return code;
}

class TBitWriter {
public:
    void Put(int bit)
    {
        if (Count % 8 == 0)
            Out.push_back(0);
        if (bit)
            Out.back() |= uint8_t(0x80 >> (Count % 8));
        ++Count;
    }
    void Put(int value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i)
            Put((value >> i) & 1);
    }
    std::vector<uint8_t> Out;
    size_t Count = 0;
};

class TBitReader {
public:
    explicit TBitReader(const std::vector<uint8_t>& in) : In(in) {}
    // Zero bits past the end, as the format has no end marker.
    int Get()
    {
        size_t byte = Pos / 8;
        int bit = byte < In.size() ? (In[byte] >> (7 - Pos % 8)) & 1 : 0;
        ++Pos;
        return bit;
    }
    int Get(int bits)
    {
        int v = 0;
        for (int i = 0; i < bits; ++i)
            v = v * 2 + Get();
        return v;
    }
    const std::vector<uint8_t>& In;
    size_t Pos = 0;
};

struct TSymbol {
    int Symbol;   // 0..255 literal, 256..313 length (symbol - 253)
    int Position; // position value for a length, -1 for a literal
    bool operator==(const TSymbol&) const = default;
};

// Writes a symbol stream the way the encoder sends it, padded to a whole byte.
inline std::vector<uint8_t> EncodeSymbols(const std::vector<TSymbol>& symbols, int* maxDepth = nullptr)
{
    THuffman tree;
    TBitWriter out;
    int deepest = 0;
    for (const auto& s : symbols) {
        auto code = tree.Code(s.Symbol);
        deepest = std::max(deepest, int(code.size()));
        for (int bit : code)
            out.Put(bit);
        tree.Update(s.Symbol);
        if (s.Symbol >= 256) {
            int upper = s.Position >> 6;
            out.Put(PositionCode(upper), PositionLength(upper));
            out.Put(s.Position & 63, 6);
        }
    }
    if (maxDepth)
        *maxDepth = deepest;
    return out.Out;
}

struct TDecoded {
    std::vector<uint8_t> Bytes;
    std::vector<TSymbol> Trace;
    int Rebuilds = 0;
    int DeepestCode = 0; // longest Huffman code received
    size_t BitsUsed = 0;
};

// Decodes until at least count bytes are produced; the last match is copied completely.
inline TDecoded Decode(const std::vector<uint8_t>& stream, int64_t count)
{
    THuffman tree;
    TBitReader in(stream);
    TDecoded result;
    uint8_t ring[4096];
    for (int i = 0; i < 4096; ++i)
        ring[i] = i < 4036 ? 0x20 : 0;
    int r = 4036;
    while (int64_t(result.Bytes.size()) < count) {
        size_t before = in.Pos;
        int c = tree.Receive([&] { return in.Get(); });
        result.DeepestCode = std::max(result.DeepestCode, int(in.Pos - before));
        tree.Update(c);
        if (c < 256) {
            result.Trace.push_back({c, -1});
            result.Bytes.push_back(uint8_t(c));
            ring[r] = uint8_t(c);
            r = (r + 1) % 4096;
            continue;
        }
        int upper = 0, length = 0, code = 0;
        // Read bits until they form one of the canonical codes.
        for (;;) {
            code = code * 2 + in.Get();
            ++length;
            bool found = false;
            for (int u = 0; u < 64 && !found; ++u)
                if (PositionLength(u) == length && PositionCode(u) == code) {
                    upper = u;
                    found = true;
                }
            if (found)
                break;
        }
        int p = upper * 64 + in.Get(6);
        result.Trace.push_back({c, p});
        int i = (r - p - 1 + 4096) % 4096;
        for (int k = 0; k < c - 253; ++k) {
            uint8_t b = ring[(i + k) % 4096];
            result.Bytes.push_back(b);
            ring[r] = b;
            r = (r + 1) % 4096;
        }
    }
    result.Rebuilds = tree.Rebuilds;
    result.BitsUsed = in.Pos;
    return result;
}

// The encoder's choices, from its rules: the window starts as 4036 spaces (the part not yet
// read taken as zeros), one binary search tree of positions per first byte, longest match
// first and the nearest among equally long ones, a 60-byte match replacing the node it met.
class TEncoder {
public:
    std::vector<TSymbol> Parse(const std::vector<uint8_t>& in)
    {
        for (int i = 0; i < 4155; ++i)
            Ring[i] = i < 4036 ? 0x20 : 0;
        for (int i = 4097; i < 4353; ++i)
            RightLink[i] = Nil;
        for (int i = 0; i <= 4096; ++i)
            ParentLink[i] = Nil;
        size_t next = 0;
        auto get = [&]() -> int { return next < in.size() ? in[next++] : -1; };
        std::vector<TSymbol> out;
        int r = 4036, s = 0, n = 0;
        for (int c; n < 60 && (c = get()) >= 0; ++n)
            Ring[r + n] = uint8_t(c);
        for (int i = 1; i <= 60; ++i)
            Insert(r - i);
        Insert(r);
        do {
            if (MatchLength > n)
                MatchLength = n;
            if (MatchLength <= 2) {
                MatchLength = 1;
                out.push_back({Ring[r], -1});
            } else {
                out.push_back({253 + MatchLength, MatchPosition});
            }
            int t = MatchLength, i = 0;
            for (int c; i < t && (c = get()) >= 0; ++i) {
                Delete(s);
                Ring[s] = uint8_t(c);
                if (s < 59)
                    Ring[s + 4096] = uint8_t(c);
                s = (s + 1) % 4096;
                r = (r + 1) % 4096;
                Insert(r);
            }
            for (; i < t; ++i) {
                Delete(s);
                s = (s + 1) % 4096;
                r = (r + 1) % 4096;
                if (--n)
                    Insert(r);
            }
        } while (n > 0);
        return out;
    }

private:
    static constexpr int Nil = 4096;

    void Insert(int r)
    {
        const uint8_t* key = &Ring[r];
        int cmp = 1, p = 4097 + key[0];
        LeftLink[r] = RightLink[r] = Nil;
        MatchLength = 0;
        for (;;) {
            int16_t* side = cmp >= 0 ? RightLink : LeftLink;
            if (side[p] == Nil) {
                side[p] = int16_t(r);
                ParentLink[r] = int16_t(p);
                return;
            }
            p = side[p];
            int i = 1;
            for (; i < 60; ++i)
                if ((cmp = key[i] - Ring[p + i]) != 0)
                    break;
            if (i >= 3) {
                int position = ((r - p) & 4095) - 1;
                if (i > MatchLength) {
                    MatchPosition = position;
                    MatchLength = i;
                    if (i >= 60)
                        break;
                } else if (i == MatchLength && position < MatchPosition) {
                    MatchPosition = position;
                }
            }
        }
        ParentLink[r] = ParentLink[p];
        LeftLink[r] = LeftLink[p];
        RightLink[r] = RightLink[p];
        ParentLink[LeftLink[p]] = int16_t(r);
        ParentLink[RightLink[p]] = int16_t(r);
        if (RightLink[ParentLink[p]] == p)
            RightLink[ParentLink[p]] = int16_t(r);
        else
            LeftLink[ParentLink[p]] = int16_t(r);
        ParentLink[p] = Nil;
    }

    void Delete(int p)
    {
        if (ParentLink[p] == Nil)
            return;
        int q;
        if (RightLink[p] == Nil) {
            q = LeftLink[p];
        } else if (LeftLink[p] == Nil) {
            q = RightLink[p];
        } else {
            q = LeftLink[p];
            if (RightLink[q] != Nil) {
                do
                    q = RightLink[q];
                while (RightLink[q] != Nil);
                RightLink[ParentLink[q]] = LeftLink[q];
                ParentLink[LeftLink[q]] = ParentLink[q];
                LeftLink[q] = LeftLink[p];
                ParentLink[LeftLink[p]] = int16_t(q);
            }
            RightLink[q] = RightLink[p];
            ParentLink[RightLink[p]] = int16_t(q);
        }
        ParentLink[q] = ParentLink[p];
        if (RightLink[ParentLink[p]] == p)
            RightLink[ParentLink[p]] = int16_t(q);
        else
            LeftLink[ParentLink[p]] = int16_t(q);
        ParentLink[p] = Nil;
    }

    uint8_t Ring[4155];
    int16_t LeftLink[4353];
    int16_t ParentLink[4097];
    int16_t RightLink[4353];
    int MatchPosition = 0;
    int MatchLength = 0;
};

// The whole stream the encoder must write for the input.
inline std::vector<uint8_t> Encode(const std::vector<uint8_t>& in)
{
    auto encoder = std::make_unique<TEncoder>();
    return EncodeSymbols(encoder->Parse(in));
}

} // namespace lzhmodel
