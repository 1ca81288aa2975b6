// Little-endian fields, as image headers, FAT boot sectors and clip files store them.
#pragma once

#include <cstdint>

inline uint16_t GetLE16(const uint8_t* At)
{
    return static_cast<uint16_t>(At[0] | At[1] << 8);
}

inline uint32_t GetLE32(const uint8_t* At)
{
    return uint32_t(At[0]) | uint32_t(At[1]) << 8 | uint32_t(At[2]) << 16 | uint32_t(At[3]) << 24;
}

inline void PutLE16(uint8_t* At, uint32_t Value)
{
    At[0] = static_cast<uint8_t>(Value);
    At[1] = static_cast<uint8_t>(Value >> 8);
}

inline void PutLE32(uint8_t* At, uint32_t Value)
{
    for (int I = 0; I < 4; ++I)
        At[I] = static_cast<uint8_t>(Value >> (8 * I));
}
