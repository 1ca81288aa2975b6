// Deterministic diskette dumps for tests, benchmarks, fuzz seeds and the demo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Filled: a FAT12 diskette with text, program and already-compressed files and free space.
// Zero: all bytes 0. Random: incompressible bytes.
enum class TSampleKind { Filled, Zero, Random };

// Exactly Size bytes, the same on every platform for the same arguments. A Filled dump of one
// of the five diskette sizes carries the usual parameter block of that format; other sizes get
// one that fits (the file system covers the whole 512-byte sectors; a dump too small to hold
// one is the start of the smallest one).
std::vector<uint8_t> MakeSampleDisk(size_t Size, TSampleKind Kind = TSampleKind::Filled,
                                    uint32_t Seed = 1);

// The generator behind the dumps: splitmix64, chosen because its output is fixed by its
// definition (std:: distributions differ between standard libraries).
class TSampleRandom {
public:
    explicit TSampleRandom(uint64_t Seed) : State(Seed) {}
    uint64_t Next()
    {
        uint64_t z = (State += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in 0..Bound-1 (Bound > 0).
    uint32_t Below(uint32_t Bound)
    {
        return static_cast<uint32_t>(((Next() >> 32) * Bound) >> 32);
    }
    // Uniform in Low..High.
    uint32_t Between(uint32_t Low, uint32_t High) { return Low + Below(High - Low + 1); }
    bool Percent(uint32_t Chance) { return Below(100) < Chance; }

private:
    uint64_t State;
};
