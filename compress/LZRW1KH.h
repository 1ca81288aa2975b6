// TLZR: the LZRW1/KH block codec. Each block of at most 32768 bytes is coded on its own with a
// single-probe hash table; a block that does not shrink is stored.
#pragma once

#include <cstdint>

#include "EngineErrors.h"
#include "Memory.h"

class TLZR {
public:
    static constexpr uint16_t BlockSize = 32768;
    static constexpr uint8_t FlagCompressed = 0x40;
    static constexpr uint8_t FlagStored = 0x80;

    // Takes its table from Memory for its whole life; refuses to be made (ELzrw1KHCompressor)
    // when the source has none.
    explicit TLZR(TMemorySource& Memory = HeapMemory());
    TLZR(const TLZR&) = delete;
    TLZR& operator=(const TLZR&) = delete;

    // Source readable for Size + 2 bytes, Dest writable for Size + 6; returns the block length
    // (at most Size + 1).
    uint16_t CompressBlock(const uint8_t* Source, uint8_t* Dest, uint16_t Size);
    // Dest writable for 32768 + 16 bytes. Refuses (ELzrw1Exception) a block that reads past its
    // length, copies from before its start or would produce more than 32768 bytes.
    uint16_t DecompressBlock(const uint8_t* Source, uint8_t* Dest, uint16_t Length);

private:
    bool FindMatch(const uint8_t* Source, uint16_t X, uint16_t Size, uint16_t& P, uint16_t& M);
    TTaken<int16_t> HashTable;
};
