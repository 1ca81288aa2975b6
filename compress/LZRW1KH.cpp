#include "LZRW1KH.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/ByteOrder.h"

namespace {

constexpr int HashEntries = 4096;
constexpr uint16_t MaxRun = 4095;
constexpr uint16_t MinRun = 16;
constexpr uint16_t MaxCopy = 18;
constexpr uint16_t MinCopy = 3;
constexpr uint16_t MaxOffset = 4095;

// Index of the table slot for the three bytes at a position (first byte lowest in Bytes).
inline uint32_t HashIndex(uint32_t Bytes)
{
    const uint32_t Key = (Bytes & 0xFF) << 8 ^ (Bytes >> 8 & 0xFF) << 4 ^ (Bytes >> 16 & 0xFF);
    return ((Key * 40543u) >> 4) & 0xFFF;
}

// An empty slot holds 0x9000: more than MaxOffset behind every position (modulo 2^16), so one
// distance comparison refuses both empty and far slots. Its low 12 bits are 0, so that the gap
// modulo 4096 never reaches back before the block's start.
constexpr int16_t EmptySlot = static_cast<int16_t>(0x9000);

// Replaces the slot's position with X and returns how far back the old one lies (modulo 2^16).
inline uint32_t ProbeAndUpdate(int16_t* Table, uint32_t Index, uint32_t X)
{
    const uint32_t Candidate = static_cast<uint16_t>(Table[Index]);
    Table[Index] = static_cast<int16_t>(X);
    return (X - Candidate) & 0xFFFF;
}

// Slot indexes of 64 positions from S; the fixed count lets the compiler vectorise it.
inline void IndexBatchOf64(const uint8_t* S, uint16_t* Indexes)
{
    for (size_t K = 0; K < 64; ++K) {
        const uint16_t Key = static_cast<uint16_t>(S[K] << 8 ^ S[K + 1] << 4 ^ S[K + 2]);
        Indexes[K] = static_cast<uint16_t>(Key * 40543u) >> 4;  // bits 4..15: same as HashIndex
    }
}

// Slot indexes of the positions From..To-1 (at least 64 of them) into Indexes[From..To-1];
// reads the bytes up to To + 1. A last batch that would pass To overlaps the one before.
inline void IndexPositions(const uint8_t* Source, uint16_t* Indexes, size_t From, size_t To)
{
    for (size_t P = From;; P += 64) {
        if (P + 64 > To)
            P = To - 64;
        IndexBatchOf64(Source + P, Indexes + P);
        if (P + 64 == To)
            return;
    }
}

// Positions indexed ahead at a time.
constexpr size_t IndexBatch = 1024;

// The encoder's look-ahead far from the block's end: a run test reads 16 bytes, a match
// compares up to 24.
constexpr uint32_t FastLookAhead = 24;
// How far 16 items other than runs can move on.
constexpr size_t GroupSpan = 16 * MaxCopy;
// A group's control word and 16 items of at most 4 bytes.
constexpr uint32_t FastGroupCoded = 2 + 16 * 4;

// Length of the run of Word's byte at X, known to be at least 16, within MaxRun and the block.
inline uint32_t RunLength(const uint8_t* Source, uint32_t X, uint32_t Size, uint64_t Word)
{
    const uint32_t Limit = X + MaxRun < Size ? X + MaxRun : Size;
    uint32_t End = X + MinRun;
    for (; End + 8 <= Limit; End += 8) {
        const uint64_t Diff = GetLE64(Source + End) ^ Word;
        if (Diff)
            return End + (std::countr_zero(Diff) >> 3) - X;
    }
    while (End < Limit && Source[End] == static_cast<uint8_t>(Word))
        ++End;
    return End - X;
}

// Length (3..18) of the match at X from P, whose first 8 bytes differ by Diff (low 3 bytes 0);
// 24 bytes readable at X.
inline uint32_t MatchLength(const uint8_t* X, const uint8_t* P, uint64_t Diff)
{
    if (Diff)
        return std::countr_zero(Diff) >> 3;
    Diff = GetLE64(X + 8) ^ GetLE64(P + 8);
    if (Diff)
        return 8 + (std::countr_zero(Diff) >> 3);
    Diff = GetLE64(X + 16) ^ GetLE64(P + 16);
    const uint32_t Length = Diff ? 16 + (std::countr_zero(Diff) >> 3) : 24;
    return Length < MaxCopy ? Length : MaxCopy;
}

// Where the position-by-position coder takes over: the next position and output byte, the
// open control word's place, its item count and bits.
struct TCoderState {
    uint32_t In, Out, Control, Items, Bits;
};

// The block from its start in whole groups while far from both ends: every look-ahead stays
// inside the block, a copy is never cut by the block's end, and a group's output cannot pass
// Size. Kept out of line so that its loop has the registers to itself.
[[gnu::noinline]] TCoderState EncodeFarFromEnds(const uint8_t* Source, uint8_t* Dest, int16_t* Table,
                                                uint16_t* Indexes, uint32_t Size)
{
    // Machine-word positions, and the control bits above a sentinel bit that reaches bit 16
    // when the group is full: fewer registers, so nothing spills.
    size_t In = 0, Out = 3, Control = 1;
    uint32_t Bits = 1;
    // A group without runs moves at most GroupSpan bytes on.
    const size_t InEnd = Size - FastLookAhead - GroupSpan, OutEnd = Size - FastGroupCoded;
    // Slot indexes are ready for the positions below Indexed: computed ahead in batches, they
    // leave the hash off the path from one item to the next.
    const size_t IndexLimit = Size - FastLookAhead;
    size_t Indexed = 0;
    while (In <= InEnd && Out <= OutEnd) {
        if (In + GroupSpan > Indexed) {
            Indexed = In + IndexBatch < IndexLimit ? In + IndexBatch : IndexLimit;
            IndexPositions(Source, Indexes, In, Indexed);
        }
        if (Bits > 0xFFFF) {
            Dest[Control] = static_cast<uint8_t>(Bits >> 8);
            Dest[Control + 1] = static_cast<uint8_t>(Bits);
            Control = Out;
            Out += 2;
            Bits = 1;
        }
        do {
            const uint64_t Word = GetLE64(Source + In);
            const uint32_t Byte = static_cast<uint32_t>(Word & 0xFF);
            // The first 8 bytes equal each other, then the next 8 equal them.
            if (((Word ^ Word >> 8) << 8) == 0 && GetLE64(Source + In + 8) == Word) {
                const uint32_t Run = RunLength(Source, static_cast<uint32_t>(In), Size, Word);
                const uint32_t Coded = Run - MinRun;
                Dest[Out] = 0;
                Dest[Out + 1] = static_cast<uint8_t>(Coded >> 8);
                Dest[Out + 2] = static_cast<uint8_t>(Coded);
                Dest[Out + 3] = static_cast<uint8_t>(Byte);
                Out += 4;
                In += Run;
                Bits = Bits << 1 | 1;
                // Near the end or past the ready indexes: the outer loop decides, mid-group.
                if (In > InEnd || In + GroupSpan > Indexed)
                    break;
                continue;
            }
            const uint32_t Gap = ProbeAndUpdate(Table, Indexes[In], static_cast<uint32_t>(In));
            // Whether the slot is near is close to a coin toss, so no branch: a far slot still
            // compares with some byte inside the block (its gap modulo 4096), and its high gap
            // bits then refuse it.
            const uint32_t Distance = Gap & MaxOffset;
            const size_t From = In - Distance;
            const uint64_t Diff = (Word ^ GetLE64(Source + From)) | Gap >> 12;
            if (Diff & 0xFFFFFF) {
                Dest[Out] = static_cast<uint8_t>(Byte);
                Out += 1;
                In += 1;
                Bits <<= 1;
            } else {
                const uint32_t Length = MatchLength(Source + In, Source + From, Diff);
                const uint32_t Value = Distance * 16 + (Length - MinCopy);
                Dest[Out] = static_cast<uint8_t>(Value >> 8);
                Dest[Out + 1] = static_cast<uint8_t>(Value);
                Out += 2;
                In += Length;
                Bits = Bits << 1 | 1;
            }
        } while (Bits <= 0xFFFF);
    }
    const uint32_t Items = std::bit_width(Bits) - 1;
    return {static_cast<uint32_t>(In), static_cast<uint32_t>(Out), static_cast<uint32_t>(Control), Items,
            Bits & 0xFFFF};
}

// Decoding a whole group at once needs this much of the block left (items of at most 4 bytes,
// a literal move reads 16) and this much room in the output (literals and copies only).
constexpr uint32_t FastGroupInput = 16 * 4 + 16;
constexpr uint32_t FastGroupOutput = 16 * MaxCopy;

// Copies Count bytes (3..18) from Offset bytes back, each byte as the pattern has it when the
// offset is shorter than the copy. Writes up to 24 bytes: the ones past the copy land in Dest's
// slack or are rewritten by later items.
inline void CopyMatch(uint8_t* To, uint32_t Offset, uint32_t Count)
{
    const uint8_t* From = To - Offset;
    if (Offset >= 8) {
        // Eight at a time: each word's source is complete before it is read. Word moves also
        // avoid reading back a wide store that was only just made.
        std::memcpy(To, From, 8);
        std::memcpy(To + 8, From + 8, 8);
        if (Count > 16)
            std::memcpy(To + 16, From + 16, 8);
    } else {
        for (uint32_t K = 0; K < Count; ++K)
            To[K] = From[K];
    }
}

[[noreturn]] void Corrupt()
{
    throw ELzrw1Exception("Lzrw1 (decompression LZRW1/KH) : corrupt block !");
}

} // namespace

// The slots, then room for the slot index of every position of a block.
TLZR::TLZR(TMemorySource& Memory) : HashTable(TakeArray<int16_t>(Memory, HashEntries + TLZR::BlockSize))
{
    if (!HashTable)
        throw ELzrw1KHCompressor("LZRW1KH : no memory for HASH table");
}

// Inlined into the block loop: a call per position cost more than the probe itself.
[[gnu::always_inline]] inline bool TLZR::FindMatch(const uint8_t* Source, uint16_t X, uint16_t Size,
                                                   uint16_t& P, uint16_t& M)
{
    // The two bytes after X may lie in the buffer's slack at the block's end; they cannot match.
    // Away from the end one load brings the three key bytes (first byte lowest).
    uint32_t Bytes;
    if (X + 8u <= Size)
        Bytes = static_cast<uint32_t>(GetLE64(Source + X));
    else
        Bytes = uint32_t(Source[X]) | uint32_t(Source[X + 1]) << 8 | uint32_t(Source[X + 2]) << 16;
    const uint32_t Distance = ProbeAndUpdate(HashTable.get(), HashIndex(Bytes), X);
    if (Distance > MaxOffset)
        return false;
    P = static_cast<uint16_t>(X - Distance);
    const uint16_t Limit = Size - X < MaxCopy ? Size - X : MaxCopy;
    uint16_t Length = 0;
    while (Length < Limit && Source[X + Length] == Source[P + Length])
        ++Length;
    M = Length;
    return Length >= MinCopy;
}

uint16_t TLZR::CompressBlock(const uint8_t* Source, uint8_t* Dest, uint16_t Size)
{
    // A local copy: stores through Dest could alias the member and force a reload per position.
    int16_t* const Table = HashTable.get();
    std::fill_n(Table, HashEntries, EmptySlot);
    Dest[0] = FlagCompressed;
    uint32_t X = 0, Y = 3, Z = 1, B = 0;
    uint32_t C = 0;
    if (FastLookAhead + GroupSpan <= Size) {
        uint16_t* const Indexes = reinterpret_cast<uint16_t*>(Table + HashEntries);
        const TCoderState State = EncodeFarFromEnds(Source, Dest, Table, Indexes, Size);
        X = State.In;
        Y = State.Out;
        Z = State.Control;
        B = State.Items;
        C = State.Bits;
    }
    // The block's last bytes, and any block whose output nears Size, position by position.
    while (X < Size && Y <= Size) {
        if (B > 15) {
            Dest[Z] = static_cast<uint8_t>(C >> 8);
            Dest[Z + 1] = static_cast<uint8_t>(C);
            Z = Y;
            B = 0;
            Y += 2;
        }
        const uint8_t Byte = Source[X];
        uint32_t Run = 1;
        while (X + Run < Size && Source[X + Run] == Byte && Run < MaxRun)
            ++Run;
        if (Run >= MinRun) {
            const uint32_t Coded = Run - MinRun;
            Dest[Y] = 0;
            Dest[Y + 1] = static_cast<uint8_t>(Coded >> 8);
            Dest[Y + 2] = static_cast<uint8_t>(Coded);
            Dest[Y + 3] = Byte;
            Y += 4;
            X += Run;
            C = C << 1 | 1;
        } else {
            uint16_t P = 0, M = 0;
            if (FindMatch(Source, static_cast<uint16_t>(X), Size, P, M)) {
                const uint32_t Value = (X - P) * 16 + (M - MinCopy);
                Dest[Y] = static_cast<uint8_t>(Value >> 8);
                Dest[Y + 1] = static_cast<uint8_t>(Value);
                Y += 2;
                X += M;
                C = C << 1 | 1;
            } else {
                Dest[Y] = Byte;
                Y += 1;
                X += 1;
                C <<= 1;
            }
        }
        ++B;
    }
    C = (B >= 16 ? C : C << (16 - B)) & 0xFFFF;
    Dest[Z] = static_cast<uint8_t>(C >> 8);
    Dest[Z + 1] = static_cast<uint8_t>(C);
    if (Y > Size) {
        Dest[0] = FlagStored;
        std::memcpy(Dest + 1, Source, Size);
        return static_cast<uint16_t>(Size + 1);
    }
    return static_cast<uint16_t>(Y);
}

uint16_t TLZR::DecompressBlock(const uint8_t* Source, uint8_t* Dest, uint16_t Length)
{
    if (Length <= 1)
        return 0;
    if (Source[0] == FlagStored) {
        if (Length - 1 > BlockSize)
            Corrupt();
        std::memcpy(Dest, Source + 1, Length - 1);
        return static_cast<uint16_t>(Length - 1);
    }
    if (Length < 3)
        Corrupt();
    uint32_t C = uint32_t(Source[1]) << 8 | Source[2];
    uint32_t B = 16, X = 3, Y = 0;
    while (X < Length) {
        if (B == 0) {
            if (X + 2 > Length)
                Corrupt();
            C = uint32_t(Source[X]) << 8 | Source[X + 1];
            B = 16;
            X += 2;
            if (X >= Length)
                Corrupt();  // a control word announces at least one item
        }
        if (B == 16 && X + FastGroupInput <= Length && Y + FastGroupOutput <= BlockSize) {
            // A whole group far from both ends: no item can read past the block, and literals
            // and copies cannot overflow the output, so only the offset is checked per item.
            // The control bits sit above a sentinel bit, so that counting leading zeros never
            // runs past the group's last item and the group ends when only the sentinel is left.
            uint32_t Bits = C << 16 | 0x8000;
            const uint8_t* In = Source + X;
            uint8_t* Out = Dest + Y;
            for (;;) {
                // The next stretch of literals, none included: one move without a branch.
                // (The sentinel keeps Bits from 0; the low bit tells the compiler so.)
                const uint32_t Literals = std::countl_zero(Bits | 1);
                std::memcpy(Out, In, 16);
                In += Literals;
                Out += Literals;
                Bits <<= Literals;
                if (Bits == 0x80000000u)
                    break;
                const uint32_t Value = uint32_t(In[0]) << 8 | In[1];
                const uint32_t Offset = Value >> 4;
                const uint32_t Produced = static_cast<uint32_t>(Out - Dest);
                if (Offset == 0) {
                    // A run may leave little room: the rest of the group goes the careful way.
                    const uint32_t Run = (Value << 8 | In[2]) + MinRun;
                    if (Produced + Run > BlockSize)
                        Corrupt();
                    std::memset(Out, In[3], Run);
                    In += 4;
                    Out += Run;
                    Bits <<= 1;
                    break;
                }
                if (Offset > Produced)
                    Corrupt();
                const uint32_t Count = (Value & 15) + MinCopy;
                CopyMatch(Out, Offset, Count);
                In += 2;
                Out += Count;
                Bits <<= 1;
            }
            X = static_cast<uint32_t>(In - Source);
            Y = static_cast<uint32_t>(Out - Dest);
            // What is left of the group (after a run): the bits above the sentinel.
            B = 31 - std::countr_zero(Bits);
            C = (Bits & (Bits - 1)) >> 16;
            continue;
        }
        if (!(C & 0x8000)) {
            // A stretch of literals, a single one included, moves at once when the block and the
            // output have room.
            const uint32_t Literals = std::countl_zero(static_cast<uint16_t>(C));
            const uint32_t Count = Literals < B ? Literals : B;
            if (X + 16 <= Length && Y + 16 <= BlockSize) {
                std::memcpy(Dest + Y, Source + X, 16);
                X += Count;
                Y += Count;
                C = (C << Count) & 0xFFFF;
                B -= Count;
                continue;
            }
            if (Y >= BlockSize)
                Corrupt();
            Dest[Y++] = Source[X++];
        } else {
            if (X + 2 > Length)
                Corrupt();
            const uint32_t Offset = uint32_t(Source[X]) << 4 | Source[X + 1] >> 4;
            if (Offset == 0) {
                if (X + 4 > Length)
                    Corrupt();
                const uint32_t Run = (uint32_t(Source[X + 1]) << 8 | Source[X + 2]) + MinRun;
                if (Y + Run > BlockSize)
                    Corrupt();
                std::memset(Dest + Y, Source[X + 3], Run);
                Y += Run;
                X += 4;
            } else {
                const uint32_t Count = (Source[X + 1] & 15u) + MinCopy;
                if (Offset > Y || Y + Count > BlockSize)
                    Corrupt();
                CopyMatch(Dest + Y, Offset, Count);
                Y += Count;
                X += 2;
            }
        }
        C = (C << 1) & 0xFFFF;
        --B;
    }
    return static_cast<uint16_t>(Y);
}
