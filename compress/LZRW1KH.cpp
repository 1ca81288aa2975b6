#include "LZRW1KH.h"

#include <bit>
#include <cstring>
#include <new>

namespace {

constexpr int HashEntries = 4096;
constexpr uint16_t MaxRun = 4095;
constexpr uint16_t MinRun = 16;
constexpr uint16_t MaxCopy = 18;
constexpr uint16_t MinCopy = 3;
constexpr uint16_t MaxOffset = 4095;
constexpr int DestSlack = 16;

inline uint64_t Load64(const uint8_t* P)
{
    uint64_t V;
    std::memcpy(&V, P, sizeof V);
    return V;
}

[[noreturn]] void Corrupt()
{
    throw ELzrw1Exception("Lzrw1 (decompression LZRW1/KH) : corrupt block !");
}

} // namespace

TLZR::TLZR(bool FailAllocation)
{
    HashTable = FailAllocation ? nullptr : new (std::nothrow) int16_t[HashEntries];
    if (!HashTable)
        throw ELzrw1KHCompressor("LZRW1KH : no memory for HASH table");
}

TLZR::~TLZR() { delete[] HashTable; }

// Inlined into the block loop: a call per position cost more than the probe itself.
[[gnu::always_inline]] inline bool TLZR::FindMatch(const uint8_t* Source, uint16_t X, uint16_t Size,
                                                   uint16_t& P, uint16_t& M)
{
    // The two bytes after X may lie in the buffer's slack at the block's end; they cannot match.
    // Away from the end one load brings the three key bytes (first byte lowest).
    uint32_t Bytes;
    if (X + 4u <= Size) {
        std::memcpy(&Bytes, Source + X, sizeof Bytes);
        if constexpr (std::endian::native == std::endian::big)
            Bytes = __builtin_bswap32(Bytes);
    } else {
        Bytes = uint32_t(Source[X]) | uint32_t(Source[X + 1]) << 8 | uint32_t(Source[X + 2]) << 16;
    }
    const uint32_t Key = (Bytes & 0xFF) << 8 ^ (Bytes >> 8 & 0xFF) << 4 ^ (Bytes >> 16 & 0xFF);
    const uint32_t Index = ((Key * 40543u) >> 4) & 0xFFF;
    const int16_t Candidate = HashTable[Index];
    HashTable[Index] = static_cast<int16_t>(X);
    if (Candidate == -1 || X - Candidate > MaxOffset)
        return false;
    P = static_cast<uint16_t>(Candidate);
    const uint16_t Limit = Size - X < MaxCopy ? Size - X : MaxCopy;
    uint16_t Length = 0;
    if (X + 24u <= Size) {
        // Whole words while the block has room; the limit of 18 caps the result.
        for (;;) {
            const uint64_t Diff = Load64(Source + X + Length) ^ Load64(Source + P + Length);
            if (Diff) {
                Length = static_cast<uint16_t>(Length + (__builtin_ctzll(Diff) >> 3));
                break;
            }
            Length = static_cast<uint16_t>(Length + 8);
            if (Length >= MaxCopy)
                break;
        }
        if (Length > Limit)
            Length = Limit;
    } else {
        while (Length < Limit && Source[X + Length] == Source[P + Length])
            ++Length;
    }
    M = Length;
    return Length >= MinCopy;
}

uint16_t TLZR::CompressBlock(const uint8_t* Source, uint8_t* Dest, uint16_t Size)
{
    std::memset(HashTable, 0xFF, HashEntries * sizeof(int16_t));
    Dest[0] = FlagCompressed;
    uint32_t X = 0, Y = 3, Z = 1, B = 0;
    uint16_t C = 0;
    while (X < Size && Y <= Size) {
        if (B > 15) {
            Dest[Z] = static_cast<uint8_t>(C >> 8);
            Dest[Z + 1] = static_cast<uint8_t>(C);
            Z = Y;
            B = 0;
            Y += 2;
        }
        const uint8_t Byte = Source[X];
        // A run needs 16 equal bytes: most positions are refused by one word comparison.
        uint32_t Run = 1;
        if (X + MinRun <= Size && Load64(Source + X) == Byte * 0x0101010101010101ull &&
            Load64(Source + X + 8) == Byte * 0x0101010101010101ull) {
            const uint32_t RunLimit = X + MaxRun < Size ? X + MaxRun : Size;
            uint32_t RunEnd = X + 16;
            while (RunEnd < RunLimit && Source[RunEnd] == Byte)
                ++RunEnd;
            Run = RunEnd - X;
        }
        if (Run >= MinRun) {
            const uint32_t Coded = Run - MinRun;
            Dest[Y] = 0;
            Dest[Y + 1] = static_cast<uint8_t>(Coded >> 8);
            Dest[Y + 2] = static_cast<uint8_t>(Coded);
            Dest[Y + 3] = Byte;
            Y += 4;
            X += Run;
            C = static_cast<uint16_t>(C << 1 | 1);
        } else {
            uint16_t P = 0, M = 0;
            if (FindMatch(Source, static_cast<uint16_t>(X), Size, P, M)) {
                const uint32_t Value = (X - P) * 16 + (M - MinCopy);
                Dest[Y] = static_cast<uint8_t>(Value >> 8);
                Dest[Y + 1] = static_cast<uint8_t>(Value);
                Y += 2;
                X += M;
                C = static_cast<uint16_t>(C << 1 | 1);
            } else {
                Dest[Y] = Byte;
                Y += 1;
                X += 1;
                C = static_cast<uint16_t>(C << 1);
            }
        }
        ++B;
    }
    C = static_cast<uint16_t>(B >= 16 ? C : C << (16 - B));
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
        if (!(C & 0x8000)) {
            // A stretch of literals, a single one included, moves at once when the block and the
            // output have room.
            const uint32_t Literals = C ? __builtin_clz(C << 16) : 16;
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
                uint8_t* To = Dest + Y;
                const uint8_t* From = To - Offset;
                if (Offset >= Count) {
                    // No byte of the copy is its own source: whole 16-byte moves, through a
                    // buffer since a short offset's 16 bytes reach into the destination (the
                    // bytes past the copy are rewritten later; the block has 16 bytes of slack).
                    uint8_t Chunk[DestSlack];
                    std::memcpy(Chunk, From, DestSlack);
                    std::memcpy(To, Chunk, DestSlack);
                    if (Count > DestSlack)
                        std::memcpy(To + DestSlack, From + DestSlack, Count - DestSlack);
                } else {
                    // A short offset repeats the pattern, byte by byte.
                    for (uint32_t K = 0; K < Count; ++K)
                        To[K] = From[K];
                }
                Y += Count;
                X += 2;
            }
        }
        C = (C << 1) & 0xFFFF;
        --B;
    }
    return static_cast<uint16_t>(Y);
}
