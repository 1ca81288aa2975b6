// Fields in a fixed byte order: the little-endian ones of image headers, FAT boot sectors and
// clip files, and the 64-bit words the codecs compare. Written byte by byte, so they hold on any
// host; GCC and Clang make each a single load (with a byte swap for the big-endian word).
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

inline uint64_t GetLE64(const uint8_t* At)
{
    return uint64_t(At[0]) | uint64_t(At[1]) << 8 | uint64_t(At[2]) << 16 | uint64_t(At[3]) << 24 |
           uint64_t(At[4]) << 32 | uint64_t(At[5]) << 40 | uint64_t(At[6]) << 48 | uint64_t(At[7]) << 56;
}

// First byte highest: comparing two such words orders them as their bytes compare.
inline uint64_t GetBE64(const uint8_t* At)
{
    return uint64_t(At[0]) << 56 | uint64_t(At[1]) << 48 | uint64_t(At[2]) << 40 | uint64_t(At[3]) << 32 |
           uint64_t(At[4]) << 24 | uint64_t(At[5]) << 16 | uint64_t(At[6]) << 8 | uint64_t(At[7]);
}
