// The adaptive Huffman coder of the LZH format (both directions), and the decoder's bit reader.
// The steps the encoder and decoder take per symbol are inline here, so that their loops keep
// them; the rarer work is in LzhCoder.cpp.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "LzhFormat.h"
#include "lzh.h"
#include "core/ByteOrder.h"
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lzhcodec {

// The adaptive code.
struct TLZHTables {
    // Guards past the last node, for the look at the 8 nodes after a node.
    uint16_t Freq[TreeNodes + 9];
    int16_t HuffParent[TreeNodes + Symbols];
    // Zeros past the nodes: a leaf's grandchildren, kept without a test and never used.
    int16_t Child[TreeNodes + Symbols + 1];
    int16_t Grand[2 * TreeNodes];
};

// How many of the 8 frequencies from F on are below K, for frequencies that never decrease.
inline unsigned CountBelow(const uint16_t* F, unsigned K)
{
#if defined(__SSE2__)
    const __m128i Next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(F));
    const __m128i Below = _mm_cmpeq_epi16(_mm_subs_epu16(Next, _mm_set1_epi16(static_cast<short>(K - 1))),
                                          _mm_setzero_si128());
    // The ones below K come first: their mask bits (two each) are the low ones.
    const unsigned Mask = static_cast<unsigned>(_mm_movemask_epi8(Below)) & 0xFFFF;
    return static_cast<unsigned>(std::countr_one(Mask)) >> 1;
#else
    unsigned D = 0;
    while (D < 8 && F[D] < K)
        ++D;
    return D;
#endif
}

// The decoder's input: the stream's next bits in a register, most significant first. Bits past
// the end of the input read as zeros, and it is known when a code took one of them.
class TBitReader {
public:
    explicit TBitReader(TLZHByteSource& Source) : Source(Source) {}

    // At least 57 bits in the register.
    void Fill()
    {
        if (Count > 56)
            return;
        if (Source.Ahead() >= sizeof(uint64_t)) {
            // The bits under the whole bytes taken are the stream's next ones too: a later fill
            // writes the same bits over them.
            Bits |= GetBE64(Source.Window()) >> Count;
            const int Take = (64 - Count) >> 3;
            Source.Skip(static_cast<size_t>(Take));
            Count += Take * 8;
            return;
        }
        FillSlowly();
    }
    // The next bits, left-aligned: the first Held() of them are the stream's (or zeros past it).
    uint64_t Peek() const { return Bits; }
    int Held() const { return Count; }
    void Skip(int Len)
    {
        Bits <<= Len;
        Count -= Len;
    }
    unsigned Bit()
    {
        Fill();
        const unsigned B = static_cast<unsigned>(Bits >> 63);
        Skip(1);
        return B;
    }
    // Whether the codes taken so far reach into the zeros that stand in for a missing input.
    bool PastEnd() const { return Missing * 8 > Count; }

private:
    void FillSlowly()
    {
        while (Count <= 56) {
            // Once the end is seen the source is not asked again.
            const int B = Missing ? -1 : Source.Get();
            Bits |= uint64_t(B < 0 ? 0 : B) << (56 - Count);
            Count += 8;
            Missing += B < 0;
        }
    }

    TLZHByteSource& Source;
    uint64_t Bits = 0;
    int Count = 0;
    int Missing = 0;  // bytes the source had no more of
};

// One coding run over a set of tables.
class TCoder {
public:
    explicit TCoder(TLZHTables& T) : Freq(T.Freq), HuffParent(T.HuffParent),
        Child(T.Child), Grand(T.Grand) {}

    // KeepGrandchildren: the decoder walks two levels a step and needs Grand kept up.
    void StartHuffman(bool KeepGrandchildren = false);

    void EncodeSymbol(TLZHByteSink& Sink, int C);
    void EncodePosition(TLZHByteSink& Sink, unsigned P)
    {
        const unsigned U = P >> 6;
        const int Len = PositionCode.Length[U];
        PutBits(Sink, (unsigned(PositionCode.Code[U]) >> (8 - Len)) << 6 | (P & 63), Len + 6);
    }
    void EndBits(TLZHByteSink& Sink)
    {
        if (OutCount > 0)
            Sink.Put(static_cast<uint8_t>(OutBits << (8 - OutCount)));
    }

    int DecodeSymbol(TBitReader& In);
    int DecodePosition(TBitReader& In)
    {
        if (In.Held() < 14)
            In.Fill();
        const uint64_t Peek = In.Peek();
        const unsigned B = static_cast<unsigned>(Peek >> 56);
        const int Len = PositionCode.DecodedLength[B];
        const unsigned Low = static_cast<unsigned>(Peek >> (58 - Len)) & 63;
        In.Skip(Len + 6);
        return static_cast<int>(unsigned(PositionCode.DecodedValue[B]) << 6 | Low);
    }

private:
    // The nodes from a symbol's leaf up to the root's child, as found by the coding step.
    static constexpr int PathMax = 64;

    void Update(int C);
    void UpdateAlong(int C, const int16_t* Path, int Depth);
    void UpdateFrom(int N);
    int Promote(int N, unsigned K);
    void Rebuild();
    // Grand[2X + B] is the child value of node X's child B, for an X that is not a leaf.
    void RefreshGrand(int X)
    {
        const int C = Child[X];
        Grand[2 * X] = Child[C];
        Grand[2 * X + 1] = Child[C + 1];
    }
    void RefreshAllGrand()
    {
        for (int X = 0; X < TreeNodes; ++X)
            RefreshGrand(X);
    }

    // Bits are appended at the low end and leave most significant first.
    void PutBits(TLZHByteSink& Sink, uint32_t Value, int Len)
    {
        OutBits = OutBits << Len | Value;
        OutCount += Len;
        while (OutCount >= 8) {
            OutCount -= 8;
            Sink.Put(static_cast<uint8_t>(OutBits >> OutCount));
        }
    }

    uint16_t* Freq;
    int16_t* HuffParent;
    int16_t* Child;
    int16_t* Grand;
    bool KeepGrand = false;
    uint64_t OutBits = 0;
    int OutCount = 0;
    int16_t Path[PathMax];
};

inline void TCoder::Update(int C)
{
    if (Freq[Root] == FrequencyLimit)
        Rebuild();
    UpdateFrom(HuffParent[C + TreeNodes]);
}

inline int TCoder::DecodeSymbol(TBitReader& In)
{
    In.Fill();
    // The walk reads its bits from the register and notes its path; the bits are taken
    // afterwards.
    uint64_t Peek = In.Peek();
    int N = Child[Root];
    int16_t* Slot = Path + PathMax;  // filled downwards: the leaf ends up first
    int Used = 0;
    // Two levels a step: the grandchild is loaded together with the child, so the walk waits
    // for one load per two bits. A step takes at most two of the 57 bits held.
    while (N < TreeNodes && Used < PathMax - 8) {
        const int X = N + static_cast<int>(Peek >> 63);
        const int Second = static_cast<int>(Peek >> 62) & 1;
        const int C = Child[X];
        const int Next = Grand[2 * X + Second];
        *--Slot = static_cast<int16_t>(X);
        ++Used;
        if (C >= TreeNodes) {
            N = C;
            break;
        }
        *--Slot = static_cast<int16_t>(C + Second);
        ++Used;
        Peek <<= 2;
        N = Next;
    }
    In.Skip(Used);
    if (N >= TreeNodes) {
        N -= TreeNodes;
        UpdateAlong(N, Slot, Used);
        return N;
    }
    // Deeper than any tree under the frequency limit gets; finished the plain way.
    while (N < TreeNodes)
        N = Child[N + In.Bit()];
    N -= TreeNodes;
    Update(N);
    return N;
}

// The coder's step at one position: a literal, or the match the search found there (cut to
// the Ahead bytes left); returns the positions it covers.
inline int CodeStep(TCoder& Coder, TLZHByteSink& Sink, uint32_t Match, uint8_t Literal, int Ahead)
{
    const int MatchLength = std::min(static_cast<int>(Match >> 12), Ahead);
    if (MatchLength <= Threshold) {
        Coder.EncodeSymbol(Sink, Literal);
        return 1;
    }
    Coder.EncodeSymbol(Sink, 255 - Threshold + MatchLength);
    Coder.EncodePosition(Sink, Match & WindowMask);
    return MatchLength;
}

} // namespace lzhcodec
